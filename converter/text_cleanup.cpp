// The clean-up pass: a temporary text copied line by line into its final file, every line
// trimmed, its runs of blanks made single and the blanks before commas removed.
//
// A line of any length reaches the final file whole, yet only a segment of it is held at a time
// (longest_line_segment characters): each segment is cleaned as a line of its own, and the blank
// that stood between two segments is put back where the whole line would keep it.
//
// Twelve million lines pass here for a mesh of two million triangles, so the steps that trim
// and drop blanks move no characters: each clears bits in a mask of the characters the line
// keeps, one bit per character and 64 to a word, and the kept characters are gathered once,
// run by run, for the write. A step that went character by character, with a branch each,
// would cost more than writing the line.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

// Every x86-64 processor has SSE2, and the run needs the x87 unit of one already.
#include <emmintrin.h>

#include "converter/stages.h"
#include "platform/console/console.h"
#include "platform/file_layer/failure.h"
#include "platform/file_layer/file_access.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the first character of a line is the low byte of its first word");

namespace {

constexpr std::size_t word_bits = 64;
// The gather moves runs of kept characters 16 at a time, within the room beyond the line.
constexpr std::size_t move_size = 16;

// The line the steps work on, where the reader holds it. Bit i of mask word w stands for
// character 64 w + i; the bits from the line's length on are clear in every mask. The masks
// grow to the longest line and never shrink.
struct WorkLine {
    const char* chars = nullptr;
    std::size_t length = 0;
    std::size_t word_count = 0;
    std::vector<std::uint64_t> blank;
    std::vector<std::uint64_t> comma;
    std::vector<std::uint64_t> keep; // the character is still in the line
    // The kept characters, gathered for the write after one byte of room for the blank that
    // joins them to the segment before.
    std::vector<char> kept;
};

std::uint64_t bits_below(std::size_t count) {
    return count < word_bits ? (std::uint64_t{1} << count) - 1 : ~std::uint64_t{0};
}

// The blank and comma bits of the 64 characters at data, 16 at a time.
void blank_and_comma_bits(const char* data, std::uint64_t& blanks, std::uint64_t& commas) {
    const __m128i blank = _mm_set1_epi8(' ');
    const __m128i comma = _mm_set1_epi8(',');
    blanks = 0;
    commas = 0;
    for (std::size_t i = 0; i < word_bits; i += 16) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        blanks |= std::uint64_t{static_cast<std::uint16_t>(
                      _mm_movemask_epi8(_mm_cmpeq_epi8(chars, blank)))}
                  << i;
        commas |= std::uint64_t{static_cast<std::uint16_t>(
                      _mm_movemask_epi8(_mm_cmpeq_epi8(chars, comma)))}
                  << i;
    }
}

// Takes the line as read, every character kept. The reader gives it without the blanks that
// would pad it to 80 characters; the trim after would drop them.
void set_line(WorkLine& line, const TextLine& text) {
    line.chars = text.chars;
    line.length = text.length;
    line.word_count = (text.length + word_bits - 1) / word_bits;
    if (line.keep.size() < line.word_count) {
        line.blank.resize(line.word_count);
        line.comma.resize(line.word_count);
        line.keep.resize(line.word_count);
        line.kept.resize(1 + line.word_count * word_bits + move_size);
    }
    // The reader lets whole words be looked at; what lies past the line is masked off.
    for (std::size_t w = 0; w < line.word_count; ++w) {
        const std::uint64_t inside = bits_below(line.length - w * word_bits);
        blank_and_comma_bits(line.chars + w * word_bits, line.blank[w], line.comma[w]);
        line.blank[w] &= inside;
        line.comma[w] &= inside;
        line.keep[w] = inside;
    }
}

// Drops the kept blanks before the first kept character that is no blank and after the last,
// as trim_blanks does; a line of blanks keeps nothing.
void trim_line(WorkLine& line) {
    std::size_t first = 0;
    while (first < line.word_count && (line.keep[first] & ~line.blank[first]) == 0)
        line.keep[first++] = 0;
    if (first == line.word_count)
        return;
    const std::uint64_t first_word = line.keep[first] & ~line.blank[first];
    // The bits from the lowest one of first_word up.
    line.keep[first] &= ~((first_word & (0 - first_word)) - 1);

    std::size_t last = line.word_count - 1;
    while ((line.keep[last] & ~line.blank[last]) == 0)
        line.keep[last--] = 0;
    const std::uint64_t last_word = line.keep[last] & ~line.blank[last];
    // The bits up to the highest one of last_word.
    line.keep[last] &= ~std::uint64_t{0} >> __builtin_clzll(last_word);
}

// Makes every run of blanks a single blank, keeping the run's first: a blank after a blank
// is dropped. The line kept here is one run of characters, the trimmed line as read, so the
// character before a kept one is kept too.
void collapse_blank_runs(WorkLine& line) {
    std::uint64_t blank_before = 0; // the last character of the word before is a kept blank
    for (std::size_t w = 0; w < line.word_count; ++w) {
        const std::uint64_t kept_blanks = line.keep[w] & line.blank[w];
        line.keep[w] &= ~(kept_blanks & ((kept_blanks << 1) | blank_before));
        blank_before = kept_blanks >> (word_bits - 1);
    }
}

// Whether the first kept character after bit of word w is a comma; false when none is kept.
bool comma_follows(const WorkLine& line, std::size_t w, int bit) {
    std::uint64_t after = line.keep[w] & (~std::uint64_t{1} << bit); // the bits above bit
    while (after == 0) {
        if (++w == line.word_count)
            return false;
        after = line.keep[w];
    }
    return (line.comma[w] >> __builtin_ctzll(after)) & 1;
}

// Removes the blank that stands directly before a comma. After the collapse a line keeps a
// few single blanks, so each kept blank looks at the kept character after it.
void remove_blanks_before_commas(WorkLine& line) {
    for (std::size_t w = 0; w < line.word_count; ++w) {
        for (std::uint64_t blanks = line.keep[w] & line.blank[w]; blanks != 0;
             blanks &= blanks - 1) {
            const int bit = __builtin_ctzll(blanks);
            if (comma_follows(line, w, bit))
                line.keep[w] &= ~(std::uint64_t{1} << bit);
        }
    }
}

// The kept characters, gathered run by run; a move of a run may read and write up to 15 bytes
// past it, which the room beyond the line and the next run take.
std::string_view kept_text(WorkLine& line) {
    if (line.word_count == 0)
        return {}; // the gather has no room yet before the first line of a character
    char* out = line.kept.data() + 1;
    std::size_t length = 0;
    for (std::size_t w = 0; w < line.word_count; ++w) {
        const char* data = line.chars + w * word_bits;
        std::uint64_t keep = line.keep[w];
        while (keep != 0) {
            // Adding the lowest bit carries through the lowest run of ones and clears it.
            const std::uint64_t after_run = keep & (keep + (keep & (0 - keep)));
            const int start = __builtin_ctzll(keep);
            const int end = static_cast<int>(word_bits) - __builtin_clzll(keep ^ after_run);
            for (int i = start; i < end; i += static_cast<int>(move_size))
                std::memcpy(out + length + (i - start), data + i, move_size);
            length += static_cast<std::size_t>(end - start);
            keep = after_run;
        }
    }
    return {out, length};
}

// What the segments of a line cleaned so far leave for the next one.
struct LineSoFar {
    bool in_segments = false; // a segment came before, or this one continues: the line is long
    bool has_kept = false;    // a character of the line is kept
    bool blank_after = false; // blanks follow the last kept character
};

// The segment's kept text, joined to the kept characters before it by the one blank that the
// whole line keeps between them where blanks stood, unless a comma follows. The segment's
// characters as read tell where its blanks stood before the trims.
std::string_view join_segment(LineSoFar& so_far, WorkLine& segment, std::string_view kept) {
    if (kept.empty()) {
        so_far.blank_after = so_far.blank_after || segment.length != 0; // a segment of blanks
        return kept;
    }
    const bool starts_blank = segment.chars[0] == ' ';
    const bool blank =
        so_far.has_kept && (so_far.blank_after || starts_blank) && kept.front() != ',';
    so_far.has_kept = true;
    so_far.blank_after = segment.chars[segment.length - 1] == ' ';
    if (!blank)
        return kept;
    segment.kept[0] = ' '; // the room before the kept characters
    return {segment.kept.data(), kept.size() + 1};
}

// The reader keeps the line only while it is open, and the next pass starts with this pass's
// last line in the buffer: a failed first read leaves it there. So the line moves to the run's
// own copy before the close, with the room a reader gives beyond it.
void keep_line_buffer(RunState& run) {
    const TextLine line = run.line_buffer;
    if (line.chars == run.line_buffer_copy.data())
        return; // no line was read since the last pass
    run.line_buffer_copy.resize(line.length + word_bits);
    if (line.length != 0)
        std::memcpy(run.line_buffer_copy.data(), line.chars, line.length);
    run.line_buffer = {run.line_buffer_copy.data(), line.length, false};
}

} // namespace

// The steps are those of the call: the VRML text's or the Inventor text's.
void clean_up_text_file(RunState& run, const std::string& temp_name, const std::string& final_name,
                        const CleanUpSteps& call_steps) {
    // A copy of the call's table in this frame: the checks of every line, which rarely need
    // their numbers, cost fewer instructions than through the caller's reference.
    const CleanUpSteps steps = call_steps;
    FileSlot reader;
    FileSlot writer;
    open_text_reader(reader, temp_name);
    check_step(steps.open_reader);
    open_text_writer(writer, final_name);
    check_step(steps.open_writer);

    WorkLine work;
    for (;;) {
        check_step(steps.begin_cycle);
        // Steps 627 to 647 take one segment of the line at a time; nearly every line is one
        // segment.
        LineSoFar so_far;
        do {
            read_text_line(reader, run.line_buffer);
            check_step(steps.read_line);
            set_line(work, run.line_buffer);
            check_step(steps.take_line);
            trim_line(work);
            check_step(steps.trim);
            collapse_blank_runs(work);
            check_step(steps.collapse_blanks);
            trim_line(work);
            check_step(steps.trim_again);
            remove_blanks_before_commas(work);
            std::string_view text = kept_text(work);
            // Nearly every line is one segment, which needs no joining.
            so_far.in_segments = so_far.in_segments || run.line_buffer.continues;
            if (so_far.in_segments)
                text = join_segment(so_far, work, text);
            check_step(steps.drop_blanks_before_commas);
            // The line end comes after the last segment; a failed read leaves no segment to follow.
            write_text_items(writer, {text},
                             run.line_buffer.continues ? EndLine::No : EndLine::Yes);
            check_step(steps.write_line);
        } while (run.line_buffer.continues);
        // Only an end test that answers no starts another cycle; a failed one ends them.
        const bool another_cycle = !at_end_of_file(reader) && !failure_pending();
        check_step(steps.test_end);
        if (!another_cycle)
            break;
    }
    keep_line_buffer(run);
    close_file(reader);
    check_step(steps.close_reader);
    close_file(writer);
    check_step(steps.close_writer);
}
