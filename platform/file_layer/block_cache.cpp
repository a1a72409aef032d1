// The read blocks of an open file: 8 blocks of 64 KiB, each read whole through the seam, the one
// of the last read tried first, the least recently used one read over.
#include "platform/file_layer/block_cache.h"

#include "platform/file_layer/refusals.h"
#include "platform/file_layer/syscalls.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace {

// Reads the block that starts at start: block_size bytes, fewer where the file ends. On a
// failure raises its code and leaves the block empty.
bool fill_block(const FileSlot& slot, CacheBlock& block, std::uint64_t start) {
    block.last_use = 0;
    // The system refuses a read that would end past the largest offset; no file reaches there,
    // so those bytes are past its end.
    const std::uint64_t largest_end = std::numeric_limits<off_t>::max();
    const std::uint64_t wanted = std::min(block_size, largest_end - start);
    std::uint64_t length = 0;
    while (length < wanted) {
        ssize_t count = pread_retrying(slot.fd, block.bytes + length, wanted - length,
                                       static_cast<off_t>(start + length));
        if (count < 0) {
            raise_failure(read_refusal(errno));
            return false;
        }
        if (count == 0)
            break; // the end of the file
        length += static_cast<std::uint64_t>(count);
    }
    block.start = start;
    block.length = length;
    return true;
}

} // namespace

CacheBlock* block_at(FileSlot& slot, std::uint64_t offset) {
    FileBuffers& file = *slot.file;
    slot.window_length = 0; // the block read in may be the window's
    if (!file.block_memory) {
        file.block_memory.reset(new std::uint8_t[block_size * block_count + block_room]());
        file.pending.after_reads = true;
        for (int i = 0; i < block_count; ++i)
            file.blocks[i].bytes = file.block_memory.get() + i * block_size;
    }
    std::uint64_t start = offset - offset % block_size;
    int chosen = 0; // the block that holds start, else the least recently used one
    bool held = false;
    for (int i = 0; i < block_count && !held; ++i) {
        const CacheBlock& block = file.blocks[i];
        held = block.last_use != 0 && block.start == start;
        if (held || block.last_use < file.blocks[chosen].last_use)
            chosen = i;
    }
    CacheBlock& block = file.blocks[chosen];
    if (!held && !fill_block(slot, block, start))
        return nullptr;
    block.last_use = ++file.use_clock;
    file.recent_block = chosen;
    return &block;
}

bool read_cached(FileSlot& slot, std::uint64_t offset, std::uint8_t* out, std::size_t size) {
    if (const CacheBlock* block = block_holding(*slot.file, offset, size)) {
        std::memcpy(out, block->bytes + (offset - block->start), size);
        return true;
    }
    while (size > 0) {
        CacheBlock* block = block_at(slot, offset);
        if (!block)
            return false;
        std::uint64_t inside = offset - block->start;
        std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, block_size - inside));
        std::size_t present =
            inside < block->length
                ? static_cast<std::size_t>(std::min<std::uint64_t>(count, block->length - inside))
                : 0;
        std::memcpy(out, block->bytes + inside, present);
        std::memset(out + present, 0, count - present);
        out += count;
        offset += count;
        size -= count;
    }
    return true;
}

bool bytes_from(FileSlot& slot, std::uint64_t offset, const std::uint8_t*& data,
                std::size_t& count) {
    CacheBlock* block = block_at(slot, offset);
    if (!block)
        return false;
    std::uint64_t inside = offset - block->start;
    data = block->bytes + inside;
    count = inside < block->length ? static_cast<std::size_t>(block->length - inside) : 0;
    return true;
}

bool look_at(FileSlot& slot, std::uint64_t offset, int& byte) {
    const std::uint8_t* data = nullptr;
    std::size_t count = 0;
    if (!bytes_from(slot, offset, data, count))
        return false;
    byte = count > 0 ? data[0] : -1;
    return true;
}

void drop_blocks(FileBuffers& file, std::uint64_t offset, std::size_t size) {
    for (CacheBlock& block : file.blocks)
        if (block.last_use != 0 && block.start < offset + size && offset < block.start + block_size)
            block.last_use = 0;
}
