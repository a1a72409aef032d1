// The fuzz target of the whole conversion: arbitrary bytes as the PLY input of one scripted run
// in pipe mode, every failure box answered Yes, and what the run leaves checked.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "converter/stages.h"
#include "platform/console/console.h"
#include "platform/file_layer/file_access.h"
#include "tests/byte_values.h"
#include "tests/test_support.h"

namespace {

// The run itself has no bound below these: a header count may make the passes read up to 2^24
// missing records as zeros, or walk 2^31 faces, from a file of a few bytes. Those runs are
// correct but long, so the target skips inputs whose counts, as the scan takes them, pass these.
constexpr double largest_vertex_count = 512;
constexpr std::int32_t largest_face_count = 512; // at most 255 indices each
constexpr std::int32_t largest_strip_index_count = 2048;

// Boxes up to this many are answered Yes; the one after them meets the end of the keys, which
// answers No. A NaN coordinate alone gives two boxes per record.
constexpr int yes_answer_count = 300;

// What the scan found, as a run that does nothing but the scan leaves it.
struct ScanFindings {
    bool conversion_goes_on = false;
    double vertex_count = 0;
    std::int32_t face_count = 0;
    bool strip_file = false;
    std::uint64_t vertex_record_count = 0; // the records the vertex passes handle
    std::int32_t strip_index_count = 0;
};

ScanFindings g_findings;

// The records a vertex pass handles for a count: its whole part, none below 1.
std::uint64_t record_count_of(double vertex_count) {
    return vertex_count >= 1 ? static_cast<std::uint64_t>(std::floor(vertex_count)) : 0;
}

// The opening of the input and the converter's own header scan, then the count of the strip
// record where the strip walk would read it. The scan ends this run itself when the conversion
// cannot go on.
void scan_only() {
    g_findings = ScanFindings{};
    RunState run;
    open_byte_file(run.input_file, "in.ply", EmptyFirst::No);
    check_step(99);
    run.read_pos = 1;
    run.header_line_no = 1;
    scan_header(run);

    ScanFindings& found = g_findings;
    found.conversion_goes_on = true;
    found.vertex_count = run.vertex_count;
    found.face_count = run.face_count;
    found.strip_file = run.is_strip_file == 1;
    if (run.vertex_count <= largest_vertex_count) {
        found.vertex_record_count = record_count_of(run.vertex_count);
        if (found.strip_file) {
            // 15 bytes per strip-file vertex record.
            const double strip_start =
                run.read_pos + 15 * static_cast<double>(found.vertex_record_count);
            read_int_at(run.input_file, strip_start, found.strip_index_count);
            check_step(305);
        }
    }
    end_run(684);
}

bool too_much_work(const ScanFindings& found) {
    // The early end reads nothing more.
    if (!found.conversion_goes_on)
        return false;
    // Written so that an infinite count is too much as well.
    if (!(found.vertex_count <= largest_vertex_count))
        return true;
    return found.strip_file ? found.strip_index_count > largest_strip_index_count
                            : found.face_count > largest_face_count;
}

// A row that the run prints with a byte 7 in it pauses the run for 250 ms, and the scan prints
// the second line of a header whose format it refuses: inputs with bells there would slow the
// fuzzer to four runs a second.
bool rings_in_the_type_line(const std::string& input) {
    const std::size_t first_line_end = input.find('\n');
    if (first_line_end == std::string::npos)
        return false;
    const std::size_t second_line_end = input.find('\n', first_line_end + 1);
    return input.find('\7', first_line_end) < second_line_end;
}

std::size_t crlf_line_count(const std::string& text) {
    std::size_t count = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at + 2))
        ++count;
    return count;
}

// Null when what the run left is what a run without failures leaves; else the broken promise.
const char* broken_promise(const TempWorkingFolder& folder, const ScriptedRun& result,
                           const ScanFindings& found) {
    if (result.end == RunEnd::EndRequest)
        return "the run ended by an end request: a box or the final key found no key";
    if (result.end != RunEnd::KeyAfterPrompt ||
        result.transcript.find("Unhandled Error #") != std::string::npos)
        return nullptr; // a failure box changes what the files hold
    const std::string stl = folder.read_file("out.stl");
    // The rows of the transcript can be overwritten by the bytes that act in a printed header
    // line, so the early end is told by the scan alone.
    if (!found.conversion_goes_on) {
        if (stl.size() != 80)
            return "the early end left an STL file other than its 80-byte head";
        if (!folder.file_exists("TEMP1.TMP") || !folder.read_file("TEMP1.TMP").empty() ||
            !folder.file_exists("TEMP2.TMP") || !folder.read_file("TEMP2.TMP").empty())
            return "the early end left a temporary file missing or not empty";
        if (folder.file_exists("out.wrl") || folder.file_exists("out.iv"))
            return "the early end wrote a final text file";
        return nullptr;
    }
    if (stl.size() < 84)
        return "the STL file lacks its head or its count";
    const std::int32_t count = int_at(stl, 80);
    if (count < 0 || stl.size() != 84 + 50 * static_cast<std::size_t>(count))
        return "the STL count does not match the facets that follow it";
    if (folder.file_exists("TEMP1.TMP") || folder.file_exists("TEMP2.TMP"))
        return "a normal end left a temporary file";
    const std::string wrl = folder.read_file("out.wrl");
    const std::string iv = folder.read_file("out.iv");
    // 24 fixed lines, one coordinate and one colour line per record, each index line twice.
    const std::size_t index_line_count =
        found.strip_file ? static_cast<std::size_t>(count)
                         : static_cast<std::size_t>(found.face_count > 0 ? found.face_count : 0);
    const std::size_t line_count = 24 + 2 * found.vertex_record_count + 2 * index_line_count;
    if (crlf_line_count(wrl) != line_count || crlf_line_count(iv) != line_count)
        return "a final text file does not hold its 24 + 2V + 2L lines";
    if (wrl.size() < 2 || wrl.compare(wrl.size() - 2, 2, "\r\n") != 0 || iv.size() < 2 ||
        iv.compare(iv.size() - 2, 2, "\r\n") != 0)
        return "a final text file does not end with its line end";
    return nullptr;
}

// The answers y to the boxes; the conversion's own run has the two names before them.
std::string yes_answers() {
    std::string keys;
    for (int i = 0; i < yes_answer_count; ++i)
        keys += "y\n";
    return keys + "\n"; // the key after "Press any key to continue"
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (rings_in_the_type_line(input))
        return -1; // not worth keeping in the corpus
    static const std::string scan_keys = yes_answers();
    static const std::string keys = "in.ply\nout\n" + yes_answers();

    TempWorkingFolder folder;
    folder.write_file("in.ply", input);
    run_scripted(scan_keys, scan_only);
    const ScanFindings found = g_findings;
    if (too_much_work(found))
        return -1;

    const ScriptedRun result = run_scripted(keys, run_converter);

    const char* broken = folder.read_file("in.ply") == input ? broken_promise(folder, result, found)
                                                             : "the input file was changed";
    if (broken != nullptr) {
        std::fprintf(stderr, "fuzz_run: %s\n--- transcript ---\n%s", broken,
                     result.transcript.c_str());
        std::abort();
    }
    return 0;
}
