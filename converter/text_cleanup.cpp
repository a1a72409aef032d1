// The clean-up pass: a temporary text copied line by line into its final file, every line
// trimmed, its runs of blanks made single and the blanks before commas removed.
#include <string>

#include "converter/blanks.h"
#include "converter/stages.h"
#include "platform/console.h"
#include "platform/failure.h"
#include "platform/file_access.h"

namespace {

// Makes every run of blanks a single blank, keeping the run's first.
void collapse_blank_runs(std::string& text) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ' && kept > 0 && text[kept - 1] == ' ')
            continue;
        text[kept++] = text[i];
    }
    text.resize(kept);
}

// Removes the blank that stands directly before a comma. After the collapse each blank
// stands alone, so one look ahead finds them all.
void remove_blanks_before_commas(std::string& text) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ' && i + 1 < text.size() && text[i + 1] == ',')
            continue;
        text[kept++] = text[i];
    }
    text.resize(kept);
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

    std::string work;
    for (;;) {
        check_step(first_step + 3); // 626: a cycle begins
        read_text_line(reader, run.line_buffer);
        check_step(first_step + 4); // 627
        work = run.line_buffer;
        check_step(first_step + 5);
        trim_blanks(work);
        check_step(first_step + 6);
        collapse_blank_runs(work);
        check_step(first_step + 11); // 631-634
        trim_blanks(work);
        check_step(first_step + 15); // 638
        remove_blanks_before_commas(work);
        check_step(first_step + 20); // 640-643
        write_text_items(writer, {work}, EndLine::Yes);
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
