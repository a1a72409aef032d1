// The buffers of one open file, which the parts of the file layer share: its read blocks, its
// writes on their way into the file, and the line the text reader puts together. Only the file
// layer includes it; the converter sees a FileSlot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/file_layer/background_writer.h"
#include "platform/file_layer/file_access.h"

// 64 KiB = one read call for about 3400 vertex records of a face file.
inline constexpr std::uint64_t block_size = 64 * 1024;
// 8 blocks = 512 KiB per reading slot: the record sequence, the vertex rows that the facets go
// back to, and room for a mesh whose faces jump about.
inline constexpr int block_count = 8;
// A caller may look at the 64 bytes after a line (TextLine), and a line may end at the end of
// the last block, so the blocks keep 64 bytes of room beyond it.
inline constexpr std::size_t block_room = 64;
// The bytes that end a text line (CR, LF) and the text (26).
inline constexpr int end_of_text = 26;
inline constexpr int carriage_return = 13;
inline constexpr int line_feed = 10;

// One block of the file as it was read, kept for the reads after it.
struct CacheBlock {
    std::uint64_t start = 0;    // 0-based offset of its first byte, a multiple of block_size
    std::uint64_t length = 0;   // bytes the file held there; fewer than block_size at its end
    std::uint64_t last_use = 0; // 0: the block holds nothing
    std::uint8_t* bytes = nullptr;
};

struct FileBuffers {
    // Read blocks, allocated on the first read of the slot.
    std::unique_ptr<std::uint8_t[]> block_memory;
    CacheBlock blocks[block_count];
    std::uint64_t use_clock = 0;
    int recent_block = 0; // the block of the last read, tried first

    // Bytes written but not yet in the file, in write_buffer (allocated on the first write of
    // the slot); the slot points at pending.
    std::unique_ptr<std::uint8_t[]> write_buffer;
    PendingWrites pending;

    // The full buffer before them, handed to the background writer (flight_started), or what
    // that write left of it when it stopped short: flight.size bytes at flight.offset, which
    // reach the file before the pending ones. The two buffers change places at each hand-over.
    std::unique_ptr<std::uint8_t[]> flight_buffer;
    BackgroundWrite flight;
    bool flight_started = false;

    // The size of the file as the system last gave it; forgotten whenever bytes reach the file.
    bool size_known = false;
    std::uint64_t known_size = 0;

    // A line that the blocks do not hold whole is put together here, a segment of at most
    // longest_line_segment bytes at a time, with room beyond it; the line read before is set
    // aside in the other, so that it stays while a read fails.
    std::vector<char> line;
    std::vector<char> line_before;
};
