// Text lines, written and read back: the text writer's items and line ends, and the text reader's
// lines, each taken in place in the block of the last read when it lies there whole (the short
// path), else put together across blocks in segments of a bounded length (the long path); the
// reader's look at the first byte when it opens, and its end of the file.
#include "platform/file_layer/file_access.h"

#include "platform/file_layer/block_cache.h"
#include "platform/file_layer/failure.h"
#include "platform/file_layer/refusals.h"
#include "platform/file_layer/syscalls.h"
#include "platform/file_layer/write_buffer.h"

#include <sys/stat.h>

// Every x86-64 processor has SSE2.
#include <emmintrin.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// The checks of a text write or read, in the order of the failure table: a slot open in mode.
bool may_use_text_slot(const FileSlot& slot, FileMode mode) {
    if (failure_pending())
        return false; // the step already failed; its check reports the first code
    if (!slot.is_open) {
        raise_failure(Failure::BadFileNameOrNumber);
        return false;
    }
    if (slot.mode != mode) {
        raise_failure(Failure::BadFileMode);
        return false;
    }
    return true;
}

// A text writer appends at its position, which is the size of what it has written.
bool append_text(FileSlot& slot, std::string_view text) {
    if (!write_at(slot, slot.position, reinterpret_cast<const std::uint8_t*>(text.data()),
                  text.size()))
        return false;
    slot.position += text.size();
    return true;
}

// The bits of the 16 bytes at data that are CR, LF or 26.
unsigned line_end_bits(const std::uint8_t* data) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
    const __m128i ends =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(carriage_return)),
                                  _mm_cmpeq_epi8(bytes, _mm_set1_epi8(line_feed))),
                     _mm_cmpeq_epi8(bytes, _mm_set1_epi8(end_of_text)));
    return static_cast<unsigned>(_mm_movemask_epi8(ends));
}

// The short path of read_text_line: the line, its line end and the byte after them all lie in
// the block of the last read, so no read can fail and the file's end is not near. Takes the
// line as read_text_line does and gives true; false, with nothing changed, otherwise.
bool take_line_in_recent_block(FileSlot& slot, TextLine& line) {
    FileBuffers& file = *slot.file;
    CacheBlock& block = file.blocks[file.recent_block];
    if (!holds_bytes(block, slot.position, 1))
        return false;
    const std::uint8_t* data = block.bytes + (slot.position - block.start);
    const std::size_t count =
        static_cast<std::size_t>(block.length - (slot.position - block.start));
    // The bytes past count are the block's room or the next block's: looked at, never taken.
    std::size_t taken = 0;
    for (;; taken += 16) {
        if (taken >= count)
            return false; // the line runs on into the next block
        if (const unsigned ends = line_end_bits(data + taken)) {
            taken += static_cast<std::size_t>(__builtin_ctz(ends));
            break;
        }
    }
    // A byte 26, or a line end past the block: the long path.
    if (taken >= count || data[taken] == end_of_text)
        return false;
    std::size_t next = taken + 1; // the byte after the line end
    if (next < count &&
        data[next] == (data[taken] == carriage_return ? line_feed : carriage_return))
        ++next; // CR LF and LF CR are one line end
    if (next >= count)
        return false;
    line.chars = reinterpret_cast<const char*>(data);
    line.length = taken;
    line.continues = false;
    slot.position += next;
    slot.end_mark = data[next] == end_of_text;
    block.last_use = ++file.use_clock;
    return true;
}

bool ends_line(int byte) {
    return byte == carriage_return || byte == line_feed || byte == end_of_text;
}

// Sets the line aside in line_before, unless it is there already: the long path may read
// other blocks over it, and a read that fails leaves the line as it was.
void set_line_aside(FileBuffers& file, TextLine& line) {
    if (line.length == 0 || line.chars == file.line_before.data())
        return;
    file.line_before.resize(line.length + block_room);
    std::memcpy(file.line_before.data(), line.chars, line.length);
    line.chars = file.line_before.data();
}

} // namespace

void append_text_items(FileSlot& slot, std::initializer_list<std::string_view> texts,
                       EndLine end_line) {
    if (!may_use_text_slot(slot, FileMode::TextWriter))
        return;
    for (std::string_view text : texts)
        if (!append_text(slot, text))
            return; // nothing after the failing text is written, the line end included
    if (end_line == EndLine::Yes)
        append_text(slot, "\r\n");
}

void look_at_first_text_byte(FileSlot& slot) {
    int first = 0;
    if (look_at(slot, 0, first))
        slot.end_mark = first == end_of_text;
}

void read_text_line(FileSlot& slot, TextLine& line) {
    if (!may_use_text_slot(slot, FileMode::TextReader))
        return;

    if (take_line_in_recent_block(slot, line))
        return;
    FileBuffers& file = *slot.file;
    // A read that fails in the middle of a line ends it there: the segments before are taken,
    // and the one before is no line of its own to be given again, so it need not be set aside.
    const bool mid_line = line.continues;
    if (!mid_line)
        set_line_aside(file, line);
    auto fail = [&line, mid_line] {
        if (mid_line)
            line = TextLine{};
    };

    // Step 1: nothing left to read. A byte 26 stays where it is.
    int byte = 0;
    if (!look_at(slot, slot.position, byte)) {
        fail();
        return;
    }
    if (byte < 0 || byte == end_of_text) {
        slot.end_mark = true;
        line = TextLine{};
        raise_failure(Failure::InputPastEndOfFile);
        return;
    }

    // Step 2: take bytes up to CR or LF (taken), a byte 26 (left) or the end of the file, or a
    // segment of longest_line_segment bytes that more bytes of the line follow. A read that fails
    // here loses the bytes taken so far; the next line starts at the failing byte.
    std::size_t length = 0;
    int line_end = -1;
    bool continues = false;
    for (;;) {
        const std::uint8_t* data = nullptr;
        std::size_t count = 0;
        if (!bytes_from(slot, slot.position, data, count)) {
            fail();
            return;
        }
        if (count == 0) {
            slot.end_mark = true; // a last line without a line end
            break;
        }
        const std::size_t limit = std::min(count, longest_line_segment - length);
        std::size_t taken = 0;
        while (taken < limit && !ends_line(data[taken]))
            ++taken;
        if (file.line.size() < length + taken + block_room)
            file.line.resize(length + taken + block_room);
        std::memcpy(file.line.data() + length, data, taken);
        length += taken;
        slot.position += taken;
        if (taken < count && data[taken] == end_of_text) {
            slot.end_mark = true;
            break;
        }
        if (taken < count && ends_line(data[taken])) {
            line_end = data[taken];
            slot.position += 1;
            break;
        }
        if (length < longest_line_segment)
            continue; // the line goes on in the next block
        // A full segment: it continues only where a byte of the line follows, so that the next
        // read never starts at the end of a line or of the file.
        int next = taken < count ? data[taken] : 0;
        if (taken == count && !look_at(slot, slot.position, next)) {
            fail();
            return;
        }
        if (next >= 0 && !ends_line(next)) {
            continues = true;
            break;
        }
    }

    // Step 3: CR LF and LF CR are one line end; then a look at the byte after it. The line is
    // complete, so a look that fails still leaves it in the buffer.
    if (line_end >= 0) {
        int next = 0;
        bool looked = look_at(slot, slot.position, next);
        if (looked && next == (line_end == carriage_return ? line_feed : carriage_return)) {
            slot.position += 1;
            looked = look_at(slot, slot.position, next);
        }
        if (looked)
            slot.end_mark = next < 0 || next == end_of_text;
    }

    // Step 4: the line, or its segment.
    line.chars = file.line.data();
    line.length = length;
    line.continues = continues;
}

bool at_end_of_file(FileSlot& slot) {
    if (!may_use_text_slot(slot, FileMode::TextReader))
        return false;
    if (slot.end_mark)
        return true;
    // A read block that holds the byte at position answers without asking the system.
    if (holds_cached_byte(*slot.file, slot.position))
        return false;
    struct stat info;
    if (fstat_retrying(slot.fd, &info) != 0) {
        raise_failure(read_refusal(errno));
        return false;
    }
    return slot.position >= static_cast<std::uint64_t>(info.st_size);
}
