// The scan of the PLY header: one byte at a time up to the line "end_header", the counts and
// the strip marker taken from it, and the messages that say what it found.
#include <cstdint>
#include <string>

#include "converter/blanks.h"
#include "converter/count_rounding.h"
#include "converter/number_parse.h"
#include "converter/stages.h"
#include "platform/console/console.h"
#include "platform/file_layer/file_access.h"

namespace {

// Columns first to last (1-based) of line: fewer where the line ends before last.
std::string columns(const std::string& line, std::size_t first, std::size_t last) {
    if (line.size() < first)
        return {};
    return line.substr(first - 1, last - first + 1);
}

// Column first to the end of line.
std::string columns_from(const std::string& line, std::size_t first) {
    if (line.size() < first)
        return {};
    return line.substr(first - 1);
}

// A header longer than this is no header: the scan gives up rather than grow without end.
constexpr std::size_t header_line_limit = 65536;

// True when no line can end any more: the next byte lies past the end of the input (a closed
// input has no bytes), or the line has grown to the limit. The first byte is always read, so
// that an input that could not be opened shows its failure under the scan's read step.
bool header_cannot_end(RunState& run) {
    const double size = static_cast<double>(file_size(run.input_file));
    return run.read_pos > size || run.header_line.size() >= header_line_limit;
}

// The value of a count text. A based count wider than 64 bits is 0, and its step reports 6.
long double count_text_value(const std::string& text) {
    const ParsedNumber parsed = parse_number(text);
    if (parsed.overflowed)
        raise_failure(Failure::Overflow);
    return parsed.value;
}

} // namespace

void scan_header(RunState& run) {
    std::uint8_t byte = 0; // a failed read leaves the byte of the read before
    for (bool first_byte = true;; first_byte = false) {
        if (!first_byte && header_cannot_end(run)) {
            print_row({" end_header not found!"});
            print_row({"CAN NOT PROCESS FILE"});
            end_run(186); // the early end, as after the checks
        }
        read_byte_at(run.input_file, run.read_pos, byte);
        check_step(118);
        run.read_pos += 1;
        check_step(119);
        const char character = static_cast<char>(byte);
        check_step(120);
        const float code = byte;
        check_step(121);

        if (code != 10) { // 125
            run.header_line += character;
            check_step(174);
            continue;
        }

        // The line is complete: the line-end tests, in this order.
        trim_blanks(run.header_line);
        check_step(126);
        if (run.header_line == "element tristrips 1")
            run.is_strip_file = 1;
        check_step(127);
        const bool header_ends = run.header_line == "end_header";
        check_step(128);
        if (header_ends)
            break;

        if (run.header_line_no == 1 && run.header_line != "ply") { // 130
            print_row({"Can not read this type of file"});
            check_step(132);
            print_row({"Header does not have 'ply' as 1st line"});
            check_step(133);
        }

        if (run.header_line_no == 2) { // 136
            // Columns 1 to 7 hold "format " in a PLY header and are not looked at.
            const std::string format = columns(run.header_line, 8, 27);
            check_step(137);
            if (format != "binary_little_endian") { // 138
                print_row({"This program only reads little endian binary 'ply' files"});
                check_step(139);
                print_row({"This file is of type:"});
                check_step(140);
                print_row({run.header_line});
                check_step(141);
                break;
            }
        }

        // A line of 13 characters or fewer is never a vertex or face line.
        if (run.header_line.size() > 13 && run.header_line_no >= 3) { // 146
            const std::string word = columns(run.header_line, 1, 7);
            check_step(148);
            const std::string long_name = columns(run.header_line, 9, 14);
            check_step(149);
            const std::string short_name = columns(run.header_line, 9, 12);
            check_step(150);
            if (word == "element") {         // 156
                if (long_name == "vertex") { // 157
                    // After "element vertex ", 7 + 1 + 6 + 1 = 15 characters.
                    const std::string count_text = columns_from(run.header_line, 16);
                    check_step(158);
                    run.vertex_count = vertex_count_from(count_text_value(count_text));
                    check_step(159);
                }
                if (short_name == "face") { // 163
                    // After "element face ", 7 + 1 + 4 + 1 = 13 characters.
                    const std::string count_text = columns_from(run.header_line, 14);
                    check_step(164);
                    run.face_count = face_count_from(count_text_value(count_text));
                    check_step(165);
                }
            }
        }

        run.header_line.clear();
        check_step(171);
        run.header_line_no += 1;
        check_step(172);
    }

    // The checks after the loop.
    if (run.vertex_count == 0)
        print_row({" VERTEX not found!"});
    check_step(177);
    if (run.face_count == 0)
        print_row({" FACE not found!"});
    check_step(178);
    if (run.is_strip_file == 1) { // 179
        print_row({" Found tristrips FACE not needed!"});
        check_step(180);
    } else {
        print_row({" NO tristrips found!"});
        check_step(182);
    }
    if ((run.vertex_count == 0 || run.face_count == 0) && run.is_strip_file == 0) { // 184
        print_row({"CAN NOT PROCESS FILE"});
        check_step(185);
        end_run(186);
    }
}
