// The read blocks under the value reads and the text reader: which block holds a byte, the block
// read in over the least recently used one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file_layer/failure.h"
#include "platform/file_layer/file_access.h"
#include "platform/file_layer/file_buffers.h"

// The read block that holds offset, read in over the least recently used one when no block
// holds it. Null when the read failed (its code raised).
CacheBlock* block_at(FileSlot& slot, std::uint64_t offset);

// Whether the block holds all size bytes at offset.
inline bool holds_bytes(const CacheBlock& block, std::uint64_t offset, std::size_t size) {
    return block.last_use != 0 && offset >= block.start &&
           offset - block.start + size <= block.length;
}

// The block that holds all size bytes at offset, taken as block_at takes it; null when no
// block holds them all. The block of the last read is tried first: the vertex passes and the
// text reader stay in one block for thousands of reads. Inline, since every value read that
// the window does not answer takes it: some two a face.
inline CacheBlock* block_holding(FileBuffers& file, std::uint64_t offset, std::size_t size) {
    CacheBlock* block = &file.blocks[file.recent_block];
    if (!holds_bytes(*block, offset, size)) {
        // The facets go back to vertex rows in other blocks than the face records.
        int i = 0;
        while (i < block_count && !holds_bytes(file.blocks[i], offset, size))
            ++i;
        if (i == block_count)
            return nullptr;
        file.recent_block = i;
        block = &file.blocks[i];
    }
    block->last_use = ++file.use_clock;
    return block;
}

// Copies the size bytes at offset into out; those at or past the end of the file are 0.
bool read_cached(FileSlot& slot, std::uint64_t offset, std::uint8_t* out, std::size_t size);

// The bytes of the file from offset on, as far as one read block holds them; count 0 where the
// file ends. False when the read failed (its code raised).
bool bytes_from(FileSlot& slot, std::uint64_t offset, const std::uint8_t*& data,
                std::size_t& count);

// Looks at the byte at offset without taking it: -1 where the file ends. False when the look
// failed (its code raised).
bool look_at(FileSlot& slot, std::uint64_t offset, int& byte);

// Whether a read block holds the byte at offset; reads nothing. Inline, since the clean-up pass
// asks at_end_of_file after every line.
inline bool holds_cached_byte(const FileBuffers& file, std::uint64_t offset) {
    if (holds_bytes(file.blocks[file.recent_block], offset, 1))
        return true;
    for (const CacheBlock& block : file.blocks)
        if (holds_bytes(block, offset, 1))
            return true;
    return false;
}

// Drops the read blocks that a write over [offset, offset + size) reaches.
void drop_blocks(FileBuffers& file, std::uint64_t offset, std::size_t size);
