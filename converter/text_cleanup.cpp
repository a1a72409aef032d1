// The clean-up pass: a temporary text copied line by line into its final file, every line
// trimmed, its runs of blanks made single and the blanks before commas removed.
//
// Twelve million lines pass here for a mesh of two million triangles, so each step looks at
// its line 64 characters at a time, as a mask with one bit per character, and moves the kept
// characters as whole runs; a step that went character by character, with a branch each,
// would cost more than writing the line.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Every x86-64 processor has SSE2, and the run needs the x87 unit of one already.
#include <emmintrin.h>

#include "converter/stages.h"
#include "platform/console.h"
#include "platform/failure.h"
#include "platform/file_access.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the first character of a line is the low byte of its first word");

namespace {

// A run of kept characters is moved 16 at a time, so the buffers keep 16 bytes beyond the line.
constexpr std::size_t run_step = 16;

// The line a step works on: its characters are bytes[first, first + length). A trim only moves
// first and length; the steps that drop characters write the line anew into a spare buffer.
struct WorkLine {
    std::vector<char> bytes; // grows to the longest line plus run_step, and never shrinks
    std::size_t first = 0;
    std::size_t length = 0;

    const char* begin() const { return bytes.data() + first; }
};

void make_room(WorkLine& line, std::size_t length) {
    if (line.bytes.size() < length + run_step)
        line.bytes.resize(length + run_step);
}

void set_line(WorkLine& line, const std::string& text) {
    make_room(line, text.size());
    // Most lines come padded to 80 characters: a copy of a fixed size takes no library call.
    if (text.size() == 80)
        std::memcpy(line.bytes.data(), text.data(), 80);
    else
        std::memcpy(line.bytes.data(), text.data(), text.size());
    line.first = 0;
    line.length = text.size();
}

std::string_view line_text(const WorkLine& line) { return {line.begin(), line.length}; }

// Bit i of the two masks is set when character i of the count (at most 64) at data is blank,
// or a comma; the bits from count on are clear. Sixteen characters at a time: one compare and
// one gather of the top bits per kind.
void blank_and_comma_bits(const char* data, std::size_t count, std::uint64_t& blanks,
                          std::uint64_t& commas) {
    const __m128i blank = _mm_set1_epi8(' ');
    const __m128i comma = _mm_set1_epi8(',');
    blanks = 0;
    commas = 0;
    for (std::size_t i = 0; i < count; i += 16) {
        // The bytes past count are in the buffer's spare room.
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        blanks |= std::uint64_t{static_cast<std::uint16_t>(
                      _mm_movemask_epi8(_mm_cmpeq_epi8(chars, blank)))}
                  << i;
        commas |= std::uint64_t{static_cast<std::uint16_t>(
                      _mm_movemask_epi8(_mm_cmpeq_epi8(chars, comma)))}
                  << i;
    }
    if (count < 64) {
        blanks &= (std::uint64_t{1} << count) - 1;
        commas &= (std::uint64_t{1} << count) - 1;
    }
}

// Bit i is set when character i of the 16 at data is no blank.
unsigned other_than_blank_bits(const char* data) {
    const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
    return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chars, _mm_set1_epi8(' ')))) &
           0xFFFF;
}

std::uint64_t all_of(std::size_t count) {
    return count < 64 ? (std::uint64_t{1} << count) - 1 : ~std::uint64_t{0};
}

// Appends the characters of the count at data whose bits are set in keep to out at length,
// run by run; a move of a run may write up to 15 bytes past it, which the next run or the
// spare room takes. Gives the new length.
std::size_t append_kept(const char* data, std::uint64_t keep, char* out, std::size_t length) {
    while (keep != 0) {
        const int start = __builtin_ctzll(keep);
        const std::uint64_t from_start = keep >> start;
        const int run = ~from_start == 0 ? 64 - start : __builtin_ctzll(~from_start);
        for (int i = 0; i < run; i += static_cast<int>(run_step))
            std::memcpy(out + length + i, data + start + i, run_step);
        length += static_cast<std::size_t>(run);
        keep = start + run >= 64 ? 0 : keep & ~((std::uint64_t{2} << (start + run - 1)) - 1);
    }
    return length;
}

// Removes the blanks at both ends, as trim_blanks does: 16 characters at a time from the
// front, then from the back, where every line comes padded with blanks to 80 characters.
void trim_line(WorkLine& line) {
    const char* data = line.begin();
    std::size_t start = 0;
    std::size_t end = line.length;
    for (; start < end; start += 16) {
        const std::size_t count = std::min<std::size_t>(16, end - start);
        const unsigned other = other_than_blank_bits(data + start) & ((1u << count) - 1);
        if (other != 0) {
            start += static_cast<std::size_t>(__builtin_ctz(other));
            break;
        }
    }
    if (start >= end) {
        line.length = 0;
        return;
    }
    for (;;) {
        // The characters from chunk on, up to end; never before start, which is no blank.
        const std::size_t chunk = end - start > 16 ? end - 16 : start;
        const std::size_t count = end - chunk;
        const unsigned other = other_than_blank_bits(data + chunk) & ((1u << count) - 1);
        if (other != 0) {
            end = chunk + 32 - static_cast<std::size_t>(__builtin_clz(other));
            break;
        }
        end = chunk;
    }
    line.first += start;
    line.length = end - start;
}

// A step that drops characters writes the line anew into spare from its first chunk that
// drops one; until then the line stays where it is. Colour lines drop none, and coordinate
// lines have no blank before a comma.
struct Rewrite {
    WorkLine& line;
    WorkLine& spare;
    bool started = false;
};

// Takes the characters of the chunk at i (count of them) that keep selects.
void keep_chunk(Rewrite& rewrite, std::size_t i, std::size_t count, std::uint64_t keep) {
    WorkLine& spare = rewrite.spare;
    if (!rewrite.started) {
        if (keep == all_of(count))
            return;
        make_room(spare, rewrite.line.length);
        std::memcpy(spare.bytes.data(), rewrite.line.begin(), i);
        spare.first = 0;
        spare.length = i;
        rewrite.started = true;
    }
    spare.length = append_kept(rewrite.line.begin() + i, keep, spare.bytes.data(), spare.length);
}

// The line written anew, if it was, becomes the line.
void finish(Rewrite& rewrite) {
    if (rewrite.started)
        std::swap(rewrite.line, rewrite.spare);
}

// Makes every run of blanks a single blank, keeping the run's first: a blank after a blank
// is dropped.
void collapse_blank_runs(WorkLine& line, WorkLine& spare) {
    Rewrite rewrite{line, spare};
    const char* data = line.begin();
    std::uint64_t blank_before = 0; // 1 when the character before the chunk is a blank
    for (std::size_t i = 0; i < line.length; i += 64) {
        const std::size_t count = std::min<std::size_t>(64, line.length - i);
        std::uint64_t blank;
        std::uint64_t comma;
        blank_and_comma_bits(data + i, count, blank, comma);
        const std::uint64_t drop = blank & ((blank << 1) | blank_before);
        keep_chunk(rewrite, i, count, ~drop & all_of(count));
        blank_before = (blank >> (count - 1)) & 1;
    }
    finish(rewrite);
}

// Removes the blank that stands directly before a comma. After the collapse each blank
// stands alone, so one look ahead finds them all.
void remove_blanks_before_commas(WorkLine& line, WorkLine& spare) {
    Rewrite rewrite{line, spare};
    const char* data = line.begin();
    for (std::size_t i = 0; i < line.length; i += 64) {
        const std::size_t count = std::min<std::size_t>(64, line.length - i);
        std::uint64_t blank;
        std::uint64_t comma;
        blank_and_comma_bits(data + i, count, blank, comma);
        const std::uint64_t comma_after_chunk = i + count < line.length && data[i + count] == ',';
        const std::uint64_t comma_next = (comma >> 1) | (comma_after_chunk << (count - 1));
        keep_chunk(rewrite, i, count, ~(blank & comma_next) & all_of(count));
    }
    finish(rewrite);
}

} // namespace

// The steps of the second call carry the numbers of the first plus 29: first_step is 623 for
// the VRML text and 652 for the Inventor text.
void clean_up_text_file(RunState& run, const std::string& temp_name, const std::string& final_name,
                        int first_step) {
    FileSlot reader;
    FileSlot writer;
    open_text_reader(reader, temp_name);
    check_step(first_step); // 623
    open_text_writer(writer, final_name);
    check_step(first_step + 1); // 624

    WorkLine work;
    WorkLine spare; // where the collapse and the removal write the line anew
    for (;;) {
        check_step(first_step + 3); // 626: a cycle begins
        read_text_line(reader, run.line_buffer);
        check_step(first_step + 4); // 627
        set_line(work, run.line_buffer);
        check_step(first_step + 5);
        trim_line(work);
        check_step(first_step + 6);
        collapse_blank_runs(work, spare);
        check_step(first_step + 11); // 631-634
        trim_line(work);
        check_step(first_step + 15); // 638
        remove_blanks_before_commas(work, spare);
        check_step(first_step + 20); // 640-643
        write_text_items(writer, {line_text(work)}, EndLine::Yes);
        check_step(first_step + 24); // 647
        // Only an end test that answers no starts another cycle; a failed one ends them.
        const bool another_cycle = !at_end_of_file(reader) && !failure_pending();
        check_step(first_step + 25); // 648
        if (!another_cycle)
            break;
    }
    close_file(reader);
    check_step(first_step + 26); // 649
    close_file(writer);
    check_step(first_step + 27); // 650
}
