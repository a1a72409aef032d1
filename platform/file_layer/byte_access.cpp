// Values at 1-based positions of a byte-access file: the rounding of a position and the checks of
// the failure table, the reads that the window does not answer, through the read blocks, and the
// writes that do not take the inline short path, through the write buffer.
#include "platform/file_layer/file_access.h"

#include "platform/file_layer/block_cache.h"
#include "platform/file_layer/failure.h"
#include "platform/file_layer/write_buffer.h"

#include <cassert>
#include <cmath>
#include <cstring>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "file values are little-endian and are copied as they stand");

namespace {

// Gives the 0-based offset of a 1-based position rounded to the nearest whole number, ties to
// even (std::nearbyint in the default rounding mode); false when that is below 1.
bool offset_of(double position, std::uint64_t& offset) {
    if (whole_offset(position, offset)) // the usual position
        return true;
    // NaN, the infinities and magnitudes of 2^63 or more are no 64-bit integer: below 1.
    if (!(std::fabs(position) < 0x1p63))
        return false;
    double whole = std::nearbyint(position);
    if (whole < 1.0)
        return false;
    offset = static_cast<std::uint64_t>(whole) - 1;
    return true;
}

// The checks of a byte-position read or write, in the order of the failure table.
bool may_access_at(FileSlot& slot, double position, bool may, std::uint64_t& offset) {
    if (failure_pending())
        return false; // the step already failed; its check reports the first code
    Failure refusal = Failure::None;
    if (!slot.is_open)
        refusal = Failure::BadFileNameOrNumber;
    else if (slot.mode != FileMode::ByteAccess)
        refusal = Failure::BadFileMode;
    else if (!may)
        refusal = Failure::PathFileAccessError;
    else if (!offset_of(position, offset))
        refusal = Failure::BadRecordNumber;
    if (refusal != Failure::None)
        raise_failure(refusal);
    return refusal == Failure::None;
}

bool read_bytes_at(FileSlot& slot, double position, std::uint8_t* out, std::size_t size) {
    std::uint64_t offset = 0;
    if (!may_access_at(slot, position, slot.may_read, offset))
        return false;
    // A read sees the slot's own writes.
    if (has_unwritten(*slot.file) && !flush_writes(slot))
        return false;
    if (!read_cached(slot, offset, out, size))
        return false;
    slot.position = offset + size;
    return true;
}

void write_bytes_at(FileSlot& slot, double position, const std::uint8_t* data, std::size_t size) {
    std::uint64_t offset = 0;
    if (!may_access_at(slot, position, slot.may_write, offset))
        return;
    if (write_at(slot, offset, data, size))
        slot.position = offset + size;
}

// The short path of a read of one value (1 or 4 bytes) that the window did not answer: a slot
// that may be read, a whole position, nothing pending to write and a block that holds the whole
// value. Every other read takes read_bytes_at, whose checks then find what this one found.
bool read_value(FileSlot& slot, double position, std::uint8_t* out, std::size_t size) {
    std::uint64_t offset = 0;
    if (failure_pending() || !slot.is_open || slot.mode != FileMode::ByteAccess || !slot.may_read ||
        !whole_offset(position, offset) || has_unwritten(*slot.file))
        return read_bytes_at(slot, position, out, size);
    const CacheBlock* block = block_holding(*slot.file, offset, size);
    if (!block)
        return read_bytes_at(slot, position, out, size);
    std::memcpy(out, block->bytes + (offset - block->start), size);
    slot.position = offset + size;
    return true;
}

} // namespace

void write_value_at(FileSlot& slot, double position, const void* value, std::size_t size) {
    write_bytes_at(slot, position, static_cast<const std::uint8_t*>(value), size);
}

void read_value_at(FileSlot& slot, double position, void* value, std::size_t size) {
    // A read that fails keeps the value as it was, even when it got part of the bytes.
    std::uint8_t bytes[8];
    assert(size <= sizeof bytes);
    if (!read_value(slot, position, bytes, size))
        return;
    std::memcpy(value, bytes, size);
    // The block of this read becomes the window, while nothing waits to be written.
    const FileBuffers& file = *slot.file;
    const CacheBlock& block = file.blocks[file.recent_block];
    if (!has_unwritten(file) && block.last_use != 0) {
        slot.window = block.bytes;
        slot.window_start = block.start;
        slot.window_length = block.length;
    }
}
