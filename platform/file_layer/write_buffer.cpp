// The writes of an open file: bytes that continue the ones before gather in a buffer of 256 KiB,
// a full buffer goes to the background writer while the next one fills, any other write flushes
// them first; a refused write keeps its bytes for the next flush, its errno turned into its code.
#include "platform/file_layer/write_buffer.h"

#include "platform/file_layer/background_writer.h"
#include "platform/file_layer/block_cache.h"
#include "platform/file_layer/refusals.h"
#include "platform/file_layer/syscalls.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// Takes the outcome of the buffer handed to the background writer, waiting for it; bytes that
// an earlier write left of it are tried again. What does not reach the file stays, its code
// raised, as for a flush. True when no byte of it is left.
bool finish_flight(FileSlot& slot) {
    FileBuffers& file = *slot.file;
    BackgroundWrite& flight = file.flight;
    if (flight.size == 0)
        return true;
    if (file.flight_started) {
        wait_for_background_write(flight);
        file.flight_started = false;
    } else {
        flight.error = 0;
        flight.written =
            pwrite_fully(slot.fd, flight.offset, flight.data, flight.size, flight.error);
    }
    file.size_known = false;
    if (flight.written == flight.size) {
        flight.size = 0;
        return true;
    }
    std::memmove(file.flight_buffer.get(), file.flight_buffer.get() + flight.written,
                 flight.size - flight.written);
    flight.data = file.flight_buffer.get();
    flight.offset += flight.written;
    flight.size -= flight.written;
    raise_failure(write_refusal(flight.error));
    return false;
}

// The pending bytes fill the buffer: they go to the background writer once its write before
// is done, and the buffer it gave back takes the bytes after them. False, with the pending bytes
// kept, when bytes of the write before are left (the code raised).
bool hand_to_writer(FileSlot& slot) {
    FileBuffers& file = *slot.file;
    if (!finish_flight(slot))
        return false;
    if (!file.flight_buffer)
        file.flight_buffer.reset(new std::uint8_t[write_buffer_size]);
    std::swap(file.write_buffer, file.flight_buffer);
    file.pending.bytes = file.write_buffer.get();
    file.flight.fd = slot.fd;
    file.flight.data = file.flight_buffer.get();
    file.flight.size = file.pending.size;
    file.flight.offset = file.pending.start;
    file.flight_started = true;
    start_background_write(file.flight);
    file.pending.start += file.pending.size;
    file.pending.size = 0;
    return true;
}

} // namespace

bool flush_writes(FileSlot& slot) {
    FileBuffers& file = *slot.file;
    if (!finish_flight(slot))
        return false;
    if (file.pending.size == 0)
        return true;
    int error = 0;
    std::size_t written = pwrite_fully(slot.fd, file.pending.start, file.write_buffer.get(),
                                       file.pending.size, error);
    file.size_known = false;
    if (written == file.pending.size) {
        file.pending.size = 0;
        return true;
    }
    std::memmove(file.write_buffer.get(), file.write_buffer.get() + written,
                 file.pending.size - written);
    file.pending.start += written;
    file.pending.size -= written;
    raise_failure(write_refusal(error));
    return false;
}

bool write_at(FileSlot& slot, std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    FileBuffers& file = *slot.file;
    slot.window_length = 0; // a read must see this write
    if (size == 0)
        return true;
    if (file.block_memory)
        drop_blocks(file, offset, size);
    // The short path, as the inline writes take it; the blocks it reaches are dropped above.
    if (std::uint8_t* out = room_after_pending(file.pending, offset, size)) {
        std::memcpy(out, data, size);
        file.pending.size += size;
        return true;
    }
    const bool continues = offset == file.pending.start + file.pending.size;
    if (file.pending.size != 0 && continues && size < write_buffer_size) {
        // The bytes continue a full buffer.
        if (!hand_to_writer(slot))
            return false;
    } else if (!flush_writes(slot)) {
        return false;
    }
    if (size >= write_buffer_size) {
        int error = 0;
        std::size_t written = pwrite_fully(slot.fd, offset, data, size, error);
        file.size_known = false;
        if (written == size)
            return true;
        if (slot.mode == FileMode::TextWriter)
            slot.position = offset + written;
        raise_failure(write_refusal(error));
        return false;
    }
    if (!file.write_buffer) {
        file.write_buffer.reset(new std::uint8_t[write_buffer_size]);
        file.pending.bytes = file.write_buffer.get();
    }
    if (file.pending.size == 0)
        file.pending.start = offset;
    std::memcpy(file.write_buffer.get() + file.pending.size, data, size);
    file.pending.size += size;
    return true;
}
