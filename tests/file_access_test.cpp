// Tests of the file layer as a whole, through what the converter includes: interrupted and short
// calls of every kind, a pending failure that silences every operation, and a sweep of faults
// through the converter's use of the layer.
#include "platform/file_layer/failure.h"
#include "platform/file_layer/file_access.h"
#include "tests/fault_injection.h"
#include "tests/file_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using FileAccess = FileLayerTest;

TEST_F(FileAccess, InterruptedAndShortCallsAreFinished) {
    const std::string original = pattern_bytes(150000);
    make_file(folder.name("in"), original);
    struct Case {
        const char* name;
        FaultPlan plan;
    };
    FaultPlan short_reads = failing_from(SystemCall::Pread, 1, 0);
    short_reads.kind = FaultKind::Short;
    short_reads.short_size = 1000;
    FaultPlan short_writes = failing_from(SystemCall::Pwrite, 1, 0);
    short_writes.kind = FaultKind::Short;
    short_writes.short_size = 777;
    const Case cases[] = {
        {"interrupted open", failing(SystemCall::Open, 1, EINTR)},
        {"interrupted fstat", failing(SystemCall::Fstat, 1, EINTR)},
        {"interrupted read", failing(SystemCall::Pread, 1, EINTR)},
        {"interrupted write", failing(SystemCall::Pwrite, 1, EINTR)},
        {"interrupted unlink", failing(SystemCall::Unlink, 1, EINTR)},
        {"interrupted close", failing(SystemCall::Close, 1, EINTR)},
        {"short reads", short_reads},
        {"short writes", short_writes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FaultGuard guard(c.plan);
        FileSlot input, output;
        open_byte_file(input, folder.name("in"), EmptyFirst::No);
        open_text_writer(output, folder.name("out"));
        std::string copied;
        for (double position = 1; position <= 150000; position += 4) {
            std::int32_t value = 0;
            read_int_at(input, position, value);
            copied += int_bytes(value);
        }
        copied.resize(150000);
        write_text_items(output, {copied}, EndLine::No);
        close_file(input);
        close_file(output);
        close_all_files(); // the end of a run: the next one opens its input anew
        make_file(folder.name("gone"), "");
        delete_file(folder.name("gone"));
        EXPECT_EQ(take_code(), 0);
        EXPECT_TRUE(guard.reached());
        EXPECT_TRUE(file_bytes(folder.name("out")) == original);
        EXPECT_FALSE(file_exists(folder.name("gone")));
    }
}

TEST_F(FileAccess, PendingFailureSilencesEveryOperation) {
    make_file(folder.name("in"), "0123456789");
    make_file(folder.name("text"), "line\r\n");
    make_file(folder.name("old"), "old");
    FileSlot bytes, writer, reader, unopened;
    open_byte_file(bytes, folder.name("in"), EmptyFirst::No);
    open_text_writer(writer, folder.name("out"));
    open_text_reader(reader, folder.name("text"));
    write_text_items(writer, {"before"}, EndLine::Yes);
    ASSERT_EQ(take_code(), 0);

    raise_failure(Failure::Overflow);
    open_byte_file(unopened, folder.name("new"), EmptyFirst::No);
    open_text_writer(unopened, folder.name("old"));
    open_text_reader(unopened, folder.name("text"));
    EXPECT_FALSE(unopened.is_open);
    std::uint8_t byte = 7;
    float real = 7;
    std::int32_t whole = 7;
    read_byte_at(bytes, 1, byte);
    read_float_at(bytes, 1, real);
    read_int_at(bytes, 1, whole);
    EXPECT_EQ(byte, 7);
    EXPECT_EQ(real, 7.0f);
    EXPECT_EQ(whole, 7);
    write_int_at(bytes, 1, 0);
    write_float_at(bytes, 1, 0);
    write_text_at(bytes, 1, "zz");
    write_text_items(writer, {"after"}, EndLine::Yes);
    const std::string kept = "kept";
    TextLine buffer{kept.data(), kept.size()};
    read_text_line(reader, buffer);
    EXPECT_EQ(text_of(buffer), "kept");
    EXPECT_EQ(reader.position, 0u);
    EXPECT_EQ(bytes.position, 0u);
    read_text_line(unopened, buffer); // not even 52
    EXPECT_FALSE(at_end_of_file(unopened));
    delete_file(folder.name("old"));
    close_file(bytes);
    EXPECT_TRUE(bytes.is_open);
    EXPECT_EQ(pending_failure_code(), 6);

    // The end of a run closes every file with the code still pending: nothing is lost.
    close_all_files();
    EXPECT_EQ(take_code(), 6);
    EXPECT_FALSE(bytes.is_open || writer.is_open || reader.is_open);
    EXPECT_FALSE(file_exists(folder.name("new")));
    EXPECT_EQ(file_bytes(folder.name("old")), "old");
    EXPECT_EQ(file_bytes(folder.name("in")), "0123456789");
    EXPECT_EQ(file_bytes(folder.name("out")), "before\r\n");

    // A reader at its end says no while a failure is pending.
    open_text_reader(reader, folder.name("old"));
    read_text_line(reader, buffer);
    ASSERT_TRUE(at_end_of_file(reader));
    raise_failure(Failure::Overflow);
    EXPECT_FALSE(at_end_of_file(reader));
}

// The converter's use of the layer, with the fault at call 1, 2, 3, ... of one system call
// until a run no longer reaches it. From the fault on, every call of that kind fails, as on a
// failing disk, or only that one call fails (a plan without persist), as on a medium that
// takes the bytes when they are tried again. Each operation is a step: its code is taken as the
// answer Yes would.
struct SweepCase {
    const char* name;
    FaultPlan plan;
    int open_code;  // the code when the first failing operation is an open
    int other_code; // the code when it is any other operation
};

struct SweepRun {
    std::vector<int> codes;
    std::vector<bool> code_from_open;
    int read_mismatches = 0;
    int line_mismatches = 0;
    // The bytes of the STL writes that gave a code: [offset, offset + size).
    std::vector<std::pair<std::uint64_t, std::size_t>> refused_stl_writes;
    int harmless_faults = 0; // faults that the scenario need not see
};

void check_operation(SweepRun& run, bool is_open) {
    if (!failure_pending())
        return;
    run.codes.push_back(take_code());
    run.code_from_open.push_back(is_open);
}

// An STL write at the 1-based position, of size bytes, as a step.
void check_stl_write(SweepRun& run, double position, std::size_t size) {
    if (failure_pending())
        run.refused_stl_writes.push_back({static_cast<std::uint64_t>(position) - 1, size});
    check_operation(run, false);
}

constexpr int sweep_facets = 6000;
constexpr std::size_t sweep_input_size = 150000;

std::string sweep_line(int facet) {
    return " " + std::to_string(facet) + " ,  " + std::to_string(facet * 7) + " , -1,";
}

float sweep_float(int facet, int i) {
    return static_cast<float>(facet) * 0.5f + i;
}

std::string sweep_stl(std::int32_t count) {
    std::string bytes = std::string(80, 'S') + int_bytes(count);
    for (int facet = 0; facet < sweep_facets; ++facet) {
        for (int i = 0; i < 12; ++i)
            bytes += float_bytes(sweep_float(facet, i));
        bytes += std::string("\0\0", 2);
    }
    return bytes;
}

// The last line of a file cut short may be the start of its line.
bool is_line_read(const TextLine& buffer, const std::string& line, bool last) {
    if (text_of(buffer) == line)
        return true;
    for (std::size_t size = 0; last && size < line.size(); ++size)
        if (text_of(buffer) == line.substr(0, size))
            return true;
    return false;
}

void run_sweep_scenario(const TempFolder& folder, const std::string& input, SweepRun& run) {
    FileSlot in, temp, stl, reader;
    open_byte_file(in, folder.name("in.ply"), EmptyFirst::No);
    check_operation(run, true);
    open_text_writer(temp, folder.name("TEMP1.TMP"));
    check_operation(run, true);
    open_byte_file(stl, folder.name("out.stl"), EmptyFirst::Yes);
    check_operation(run, true);
    write_text_at(stl, 1, std::string(80, 'S'));
    check_stl_write(run, 1, 80);
    write_int_at(stl, 81, 0);
    check_stl_write(run, 81, 4);
    double write_pos = 85;
    for (int facet = 0; facet < sweep_facets; ++facet) {
        // Three vertices elsewhere in the file, one of them across a block boundary at times.
        const std::uint64_t offsets[] = {facet * 19u % (sweep_input_size - 3),
                                         (facet * 7919u + 65530) % sweep_input_size,
                                         65533u + facet % 6};
        for (std::uint64_t offset : offsets) {
            const std::int32_t sentinel = -12345;
            std::int32_t value = sentinel;
            read_int_at(in, static_cast<double>(offset) + 1, value);
            bool failed = failure_pending();
            check_operation(run, false);
            std::string expected = input.substr(offset, 4);
            expected.resize(4, '\0');
            run.read_mismatches += failed ? value != sentinel : int_bytes(value) != expected;
        }
        write_text_items(temp, {sweep_line(facet)}, EndLine::Yes);
        check_operation(run, false);
        for (int i = 0; i < 12; ++i) {
            write_float_at(stl, write_pos, sweep_float(facet, i));
            check_stl_write(run, write_pos, 4);
            write_pos += 4;
        }
        write_text_at(stl, write_pos, std::string("\0\0", 2));
        check_stl_write(run, write_pos, 2);
        write_pos += 2;
    }
    write_int_at(stl, 81, sweep_facets);
    check_stl_write(run, 81, 4);
    close_file(in);
    check_operation(run, false);
    close_file(temp);
    check_operation(run, false);
    close_file(stl);
    check_operation(run, false);

    open_text_reader(reader, folder.name("TEMP1.TMP"));
    check_operation(run, true);
    TextLine buffer;
    bool reads_good = true;
    for (int line = 0; line < sweep_facets + 10; ++line) {
        read_text_line(reader, buffer);
        reads_good = reads_good && !failure_pending();
        check_operation(run, false);
        bool end = at_end_of_file(reader);
        check_operation(run, false);
        if (reads_good && line < sweep_facets)
            run.line_mismatches += !is_line_read(buffer, sweep_line(line), end);
        if (end)
            break;
    }
    close_file(reader);
    check_operation(run, false);
    const int faults_before_deletion = g_fault_state.faults;
    delete_file(folder.name("TEMP1.TMP"));
    // The deletion closes the descriptor that held its lock once the file is gone: a refused
    // close of it loses nothing and is no failure.
    if (g_fault_state.plan.call == SystemCall::Close && !failure_pending())
        run.harmless_faults = g_fault_state.faults - faults_before_deletion;
    // The deletion opens the file to lock it first: a fault of an open there is an open's.
    check_operation(run, g_fault_state.plan.call == SystemCall::Open);
    close_all_files();
    check_operation(run, false);
}

bool is_prefix(const std::string& bytes, const std::string& whole) {
    return bytes.size() <= whole.size() && whole.compare(0, bytes.size(), bytes) == 0;
}

TEST_F(FileAccess, FaultSweepKeepsEveryByteBeforeTheFault) {
    const std::string input = pattern_bytes(sweep_input_size);
    std::string text;
    for (int facet = 0; facet < sweep_facets; ++facet)
        text += sweep_line(facet) + "\r\n";
    const std::string stl = sweep_stl(sweep_facets);
    const std::string stl_first_count = sweep_stl(0);

    FaultPlan full_medium = failing_from(SystemCall::Pwrite, 1, ENOSPC);
    full_medium.kind = FaultKind::FullMedium;
    full_medium.short_size = 1000;
    const SweepCase cases[] = {
        {"open fault", failing_from(SystemCall::Open, 1, EIO), 53, 52},
        {"open refused", failing_from(SystemCall::Open, 1, EACCES), 70, 52},
        {"read fault", failing_from(SystemCall::Pread, 1, EIO), 75, 75},
        {"read refused", failing_from(SystemCall::Pread, 1, EACCES), 70, 70},
        {"write fault", failing_from(SystemCall::Pwrite, 1, EIO), 0, 75},
        {"write refused", failing_from(SystemCall::Pwrite, 1, EROFS), 0, 70},
        {"write fault once", failing(SystemCall::Pwrite, 1, EIO), 0, 75},
        {"write refused once", failing(SystemCall::Pwrite, 1, EACCES), 0, 70},
        {"full medium", full_medium, 0, 75},
        {"fstat fault", failing_from(SystemCall::Fstat, 1, EIO), 53, 75},
        {"close fault", failing_from(SystemCall::Close, 1, EIO), 0, 75},
        {"unlink refused", failing_from(SystemCall::Unlink, 1, EACCES), 0, 55},
    };
    for (const SweepCase& c : cases) {
        int fail_at = 1;
        for (;; ++fail_at) {
            SCOPED_TRACE(std::string(c.name) + " at call " + std::to_string(fail_at));
            ASSERT_LT(fail_at, 200);
            TempFolder run_folder;
            make_file(run_folder.name("in.ply"), input);
            int fds = open_fd_count();
            SweepRun run;
            bool reached = false;
            {
                FaultPlan plan = c.plan;
                plan.fail_at = fail_at;
                FaultGuard guard(plan);
                run_sweep_scenario(run_folder, input, run);
                reached = guard.fault_count() > run.harmless_faults;
            }
            EXPECT_EQ(open_fd_count(), fds);
            EXPECT_EQ(file_bytes(run_folder.name("in.ply")), input);
            EXPECT_EQ(run.read_mismatches, 0);
            EXPECT_EQ(run.line_mismatches, 0);
            if (!reached) {
                EXPECT_TRUE(run.codes.empty());
                EXPECT_TRUE(file_bytes(run_folder.name("out.stl")) == stl);
                EXPECT_FALSE(file_exists(run_folder.name("TEMP1.TMP")));
                break;
            }
            ASSERT_FALSE(run.codes.empty()) << "a fault reported as success";
            EXPECT_EQ(run.codes[0], run.code_from_open[0] ? c.open_code : c.other_code);
            for (int code : run.codes)
                EXPECT_TRUE(code == c.open_code || code == c.other_code || code == 52 ||
                            code == 53 || code == 62)
                    << code;
            std::string stl_bytes = file_bytes(run_folder.name("out.stl"));
            if (!c.plan.persist) {
                // The refused bytes were tried again: the STL is whole, but for the bytes of
                // the operation that met the refusal, which the answer Yes gave up.
                ASSERT_EQ(stl_bytes.size(), stl.size());
                for (const auto& [offset, size] : run.refused_stl_writes)
                    stl_bytes.replace(offset, size, stl, offset, size);
                EXPECT_TRUE(stl_bytes == stl) << "the STL lost bytes beside the refused write";
                EXPECT_LE(run.refused_stl_writes.size(), 1u);
            } else {
                // What reached each file is exactly what was written before the fault.
                EXPECT_TRUE(stl_bytes == stl || is_prefix(stl_bytes, stl_first_count))
                    << stl_bytes.size();
            }
            if (file_exists(run_folder.name("TEMP1.TMP"))) {
                EXPECT_TRUE(is_prefix(file_bytes(run_folder.name("TEMP1.TMP")), text));
            }
        }
        EXPECT_GT(fail_at, 1) << c.name << ": the scenario never made this call";
    }
}

} // namespace
