// The file layer as the converter sees it: files by name, values at byte positions, text lines
// written and read back, deletion, and the failure code of every refusal.
//
// Where each job lives: file_table.cpp holds the table of open files, the opens, the closes,
// deletion and the size; byte_access.cpp the values at positions; block_cache.cpp the read
// blocks under the reads; write_buffer.cpp the write buffer and its hand-over to the background
// writer; text_lines.cpp the text lines; refusals.cpp the code of each refusal of the system,
// and syscalls.cpp the system calls with their retries after EINTR. The inline short paths
// below are theirs.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/file_layer/failure.h"

enum class FileMode { ByteAccess, TextWriter, TextReader };
enum class EmptyFirst { No, Yes };
enum class EndLine { No, Yes };

// The buffers of one open file (file_buffers.h), owned by the table of open files.
struct FileBuffers;

// 256 KiB of text lines or STL facets per write call.
inline constexpr std::size_t write_buffer_size = 256 * 1024;

// The bytes written to an open slot and not yet in its file: size of them, which belong at
// offset start, in a buffer of write_buffer_size. Part of the slot's buffers; the slot points
// at it so that the short path of the writes can be inline.
struct PendingWrites {
    std::uint8_t* bytes = nullptr; // null until the first write
    std::size_t size = 0;
    std::uint64_t start = 0;
    bool after_reads = false; // the slot has read blocks, which a write may have to drop
};

// One file while it is in use. The caller owns the slot; the table of open files knows every
// open slot so that close_all_files can reach it. A slot is not copied while it is open.
struct FileSlot {
    bool is_open = false;
    FileMode mode = FileMode::ByteAccess;
    bool may_read = false;
    bool may_write = false;
    std::uint64_t position = 0; // 0-based offset of the next text read or write
    bool end_mark = false;      // text reader: the byte at position was missing or 26
    int fd = -1;
    FileBuffers* file = nullptr;
    PendingWrites* pending = nullptr;

    // The read block of the last value read from a byte-access slot: window_length bytes of the
    // file from offset window_start on, which the inline short path of the value reads takes.
    // Empty while the slot has bytes not yet in the file, and whenever the block may change.
    const std::uint8_t* window = nullptr;
    std::uint64_t window_start = 0;
    std::uint64_t window_length = 0;

    FileSlot() = default;
    FileSlot(const FileSlot&) = delete;
    FileSlot& operator=(const FileSlot&) = delete;
    ~FileSlot(); // closes the slot when it is still open, so the table never keeps a lost slot
};

// Every open takes a regular file only: a FIFO, a socket or a device fails with 68 at once,
// never waiting for another process. The first open_byte_file without emptying of a run opens
// the file the run reads; until close_all_files ends the run, an open that could write that
// file, under any name, fails with 55 and leaves it as it is, and so does its deletion.
// Every open locks its file for as long as the slot holds it, never waiting: shared for the
// run's input and a text reader, exclusive for a file emptied first and a text writer. A file
// that another process holds against that lock fails with 55, neither emptied nor written, and
// so does one under another program's lease; a file that another slot of the run holds open
// keeps that slot's lock.
void open_byte_file(FileSlot& slot, const std::string& name, EmptyFirst empty_first);
void open_text_writer(FileSlot& slot, const std::string& name);
void open_text_reader(FileSlot& slot, const std::string& name);

// The last part of open_text_reader, the text reader's own: a look at the first byte of the file
// just opened, so that an empty file, or one that starts with 26, is at its end at once. A failed
// look raises 70 or 75 and leaves the slot open all the same.
void look_at_first_text_byte(FileSlot& slot);

// Every byte written before is in the file afterwards. Writes are buffered, so a write that
// the system refuses only now raises its code here (70, or 75 for a full medium); the slot is
// closed all the same. close_file on a closed slot does nothing. close_all_files acts even while
// a failure is pending: the end of a run calls it with the failure box's code still set.
void close_file(FileSlot& slot);
void close_all_files();

// Makes the table of open files, which close_all_files looks through. Called before a run, so
// that the run's way out after the system gave no more memory allocates nothing. May throw
// std::bad_alloc.
void make_open_file_table();

// The usual position: a whole number from 1 on, which rounds to itself; gives its 0-based offset.
// False for any other, which the file layer rounds or refuses.
inline bool whole_offset(double position, std::uint64_t& offset) {
    if (!(position >= 1.0 && position < 0x1p63))
        return false;
    offset = static_cast<std::uint64_t>(position) - 1;
    return static_cast<double>(offset + 1) == position;
}

// Positions are 1-based and held as 64-bit floats; each is rounded to the nearest whole
// number, ties to even. Bytes at or past the end of the file read as 0. A write is buffered
// when it continues the one before; a refusal of buffered bytes is raised by the operation
// that flushes them (a write elsewhere, a read of the same slot, a close). A full buffer goes
// to the background writer, and a refusal of it is raised when the slot next waits for that
// write: at the next full buffer or the next flush.
//
// The value reads and writes follow, and write_text_items, which appends the texts one after
// another, then CR LF when end_line is Yes: each a short path inline, then the way of the rest.

// The way of every read that the window does not answer.
void read_value_at(FileSlot& slot, double position, void* value, std::size_t size);

// The short path of a value read: no failure pending, a whole position and a value that lies
// in the window. Gives false, with nothing done, otherwise. Inline, since the face passes make
// some 17 value reads a face.
inline bool read_in_window(FileSlot& slot, double position, void* value, std::size_t size) {
    std::uint64_t offset = 0;
    if (failure_pending() || !whole_offset(position, offset))
        return false;
    const std::uint64_t inside = offset - slot.window_start; // wraps round when before it
    if (inside >= slot.window_length || slot.window_length - inside < size)
        return false;
    std::memcpy(value, slot.window + inside, size);
    slot.position = offset + size;
    return true;
}

inline void read_byte_at(FileSlot& slot, double position, std::uint8_t& value) {
    if (!read_in_window(slot, position, &value, sizeof value))
        read_value_at(slot, position, &value, sizeof value);
}

inline void read_float_at(FileSlot& slot, double position, float& value) {
    if (!read_in_window(slot, position, &value, sizeof value))
        read_value_at(slot, position, &value, sizeof value);
}

inline void read_int_at(FileSlot& slot, double position, std::int32_t& value) {
    if (!read_in_window(slot, position, &value, sizeof value))
        read_value_at(slot, position, &value, sizeof value);
}

// The ways of every write that the short path below does not take.
void write_value_at(FileSlot& slot, double position, const void* value, std::size_t size);
void append_text_items(FileSlot& slot, std::initializer_list<std::string_view> texts,
                       EndLine end_line);

// The short path of every write, the inline ones below and write_at's: size bytes at offset go
// right after the pending bytes when they continue them and fit beside them, so that no system
// call is made and nothing can fail. Null otherwise.
inline std::uint8_t* room_after_pending(const PendingWrites& pending, std::uint64_t offset,
                                        std::size_t size) {
    if (pending.size == 0 || offset != pending.start + pending.size ||
        size > write_buffer_size - pending.size)
        return nullptr;
    return pending.bytes + pending.size;
}

// Where an inline write puts size bytes at offset: the room after the pending bytes, on a slot
// that has no read blocks. A write must drop the blocks it reaches, which only write_at does, so
// on a slot that has read, every write takes it. The slot is open for writing.
inline std::uint8_t* room_for_inline_write(const FileSlot& slot, std::uint64_t offset,
                                           std::size_t size) {
    if (slot.pending->after_reads)
        return nullptr;
    return room_after_pending(*slot.pending, offset, size);
}

// The short path of a value write: no failure pending, a slot open for byte writes, a whole
// position and room after the pending bytes. Gives false, with nothing done, otherwise. Inline,
// since every STL facet makes 13 writes.
inline bool write_in_buffer(FileSlot& slot, double position, const void* value, std::size_t size) {
    std::uint64_t offset = 0;
    if (failure_pending() || !slot.is_open || slot.mode != FileMode::ByteAccess ||
        !slot.may_write || !whole_offset(position, offset))
        return false;
    std::uint8_t* out = room_for_inline_write(slot, offset, size);
    if (out == nullptr || size == 0) // an empty text may have no characters at all
        return false;
    std::memcpy(out, value, size);
    slot.pending->size += size;
    slot.position = offset + size;
    return true;
}

inline void write_text_at(FileSlot& slot, double position, std::string_view text) {
    if (!write_in_buffer(slot, position, text.data(), text.size()))
        write_value_at(slot, position, text.data(), text.size());
}

inline void write_float_at(FileSlot& slot, double position, float value) {
    if (!write_in_buffer(slot, position, &value, sizeof value))
        write_value_at(slot, position, &value, sizeof value);
}

inline void write_int_at(FileSlot& slot, double position, std::int32_t value) {
    if (!write_in_buffer(slot, position, &value, sizeof value))
        write_value_at(slot, position, &value, sizeof value);
}

// The short path of write_text_items: the whole line goes after the pending bytes, so no text
// of it can fail. Inline, since a face file makes some 16 of these writes a face.
inline void write_text_items(FileSlot& slot, std::initializer_list<std::string_view> texts,
                             EndLine end_line) {
    std::size_t total = end_line == EndLine::Yes ? 2 : 0;
    for (std::string_view text : texts)
        total += text.size();
    std::uint8_t* out = !failure_pending() && slot.is_open && slot.mode == FileMode::TextWriter
                            ? room_for_inline_write(slot, slot.position, total)
                            : nullptr;
    if (out == nullptr) {
        append_text_items(slot, texts, end_line);
        return;
    }
    for (std::string_view text : texts) {
        if (!text.empty()) // an empty view may have no characters at all
            std::memcpy(out, text.data(), text.size());
        out += text.size();
    }
    if (end_line == EndLine::Yes) {
        out[0] = '\r';
        out[1] = '\n';
    }
    slot.pending->size += total;
    slot.position += total;
}

// A line longer than this is given in segments, so that no line, however long, takes more memory.
inline constexpr std::size_t longest_line_segment = 64 * 1024;

// A line as the text reader holds it: its characters, where the reader keeps them until the
// next read or the close of the slot. The 64 bytes after them may be looked at, though they are
// no part of the line, so a caller can take the line 64 characters at a time.
struct TextLine {
    const char* chars = nullptr;
    std::size_t length = 0;
    // The line goes on after these characters (longest_line_segment of them): the next read
    // gives its next segment, at least one character long.
    bool continues = false;
};

// Takes the next line (it ends at CR, LF, CR LF or LF CR; the byte 26 ends the file) without
// its line end: the whole line, or its next segment when line is a segment that continues. A read
// past the end gives an empty line. Any other failure leaves line as it was, but in the middle
// of a line: the line then ends, empty, where the read failed.
void read_text_line(FileSlot& slot, TextLine& line);
bool at_end_of_file(FileSlot& slot);

// A file that another process holds locked fails with 55 and stays.
void delete_file(const std::string& name);

// The size in bytes of the file open in slot, its buffered writes included; 0 for a closed
// slot. Never fails: the header scan and the vertex passes use it as their bound.
std::uint64_t file_size(FileSlot& slot);
