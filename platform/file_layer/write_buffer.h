// The writes of an open file on their way into it: the write buffer, its hand-over to the
// background writer and the flushes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file_layer/failure.h"
#include "platform/file_layer/file_access.h"
#include "platform/file_layer/file_buffers.h"

// Bytes that are not in the file yet: pending, or handed to the background writer.
inline bool has_unwritten(const FileBuffers& file) {
    return file.pending.size != 0 || file.flight.size != 0;
}

// Puts the pending bytes into the file. What does not reach it stays pending, its code raised,
// so that a refusal loses no byte of the earlier steps that wrote it: the next flush, or the
// close, tries those bytes again.
bool flush_writes(FileSlot& slot);

// Writes size bytes at offset: into the write buffer when they continue the pending bytes,
// else after those are flushed, so the writes land in the order made. False when a write
// failed (its code raised).
bool write_at(FileSlot& slot, std::uint64_t offset, const std::uint8_t* data, std::size_t size);
