// The names a run's files can stand under, as the built program meets them: a FIFO or a device
// where a file is expected, which no open may wait on; the input under the name of an output,
// which no open may empty or write; a file that another run holds, which no open may empty or
// write either; and the end request while the run waits, at a box or on an output pipe that
// nothing reads.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/examples.h"
#include "tests/example_steps.h"
#include "tests/failure_box_lines.h"
#include "tests/mesh_builder.h"
#include "tests/run_transcript.h"

namespace {

// What stands beside the program before a run.
enum class Kind {
    Example,  // a file holding the example
    Fifo,     // a FIFO that nothing reads
    ReadFifo, // a FIFO that the test holds open for reading during the run
    Symlink,  // a symbolic link to target
    HardLink, // another name of the file target
    // Held by another run, which this test stands for: a file of other_run_text that it writes,
    // locked exclusively, or the example that it reads, locked shared.
    HeldByAWriter,
    ExampleHeldByAReader,
    // A file of other_run_text under a write lease of this test, as a file server takes one.
    LeasedByAnotherProgram,
};

const std::string other_run_text = "another run's text\r\n";

struct Entry {
    Kind kind;
    std::string name;
    std::string target = {};
};

const Entry example_in_ply = {Kind::Example, "in.ply"};

// The folder of one run: the program and the entries, in order. FIFOs read by the test are held
// open until the folder goes.
class RunFolder {
public:
    explicit RunFolder(const std::vector<Entry>& entries) {
        for (const Entry& entry : entries) {
            const std::string path = folder.program_folder() + "/" + entry.name;
            const std::string target = folder.program_folder() + "/" + entry.target;
            switch (entry.kind) {
            case Kind::Example:
                folder.write_file(entry.name, example_face_file());
                break;
            case Kind::Fifo:
            case Kind::ReadFifo:
                EXPECT_EQ(::mkfifo(path.c_str(), 0666), 0) << entry.name;
                break;
            case Kind::Symlink:
                EXPECT_EQ(::symlink(entry.target.c_str(), path.c_str()), 0) << entry.name;
                break;
            case Kind::HardLink:
                EXPECT_EQ(::link(target.c_str(), path.c_str()), 0) << entry.name;
                break;
            case Kind::HeldByAWriter:
                folder.write_file(entry.name, other_run_text);
                hold(path, LOCK_EX);
                break;
            case Kind::ExampleHeldByAReader:
                folder.write_file(entry.name, example_face_file());
                hold(path, LOCK_SH);
                break;
            case Kind::LeasedByAnotherProgram: {
                folder.write_file(entry.name, other_run_text);
                const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
                EXPECT_EQ(::fcntl(fd, F_SETLEASE, F_WRLCK), 0) << entry.name;
                held_fds_.push_back(fd);
                break;
            }
            }
            if (entry.kind == Kind::ReadFifo) {
                const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                EXPECT_GE(fd, 0) << entry.name;
                held_fds_.push_back(fd);
            }
        }
    }
    ~RunFolder() { let_go(); }
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    // Closes the FIFOs and files held: a file under a lease could not be read before.
    void let_go() {
        for (int fd : held_fds_)
            ::close(fd);
        held_fds_.clear();
    }

    ProgramFolder folder;

private:
    // The lock of another process for as long as the folder lives.
    void hold(const std::string& path, int operation) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_EQ(::flock(fd, operation | LOCK_NB), 0) << path;
        held_fds_.push_back(fd);
    }

    std::vector<int> held_fds_;
};

// Every name beside the program with what it holds: a regular file its bytes, a FIFO "(FIFO)",
// a symbolic link "(link to TARGET)". A FIFO is never opened, so looking cannot wait for a writer.
FileBytes names_beside_the_program(const ProgramFolder& folder) {
    FileBytes files;
    for (const std::string& name : names_in_folder(folder.program_folder())) {
        const std::string path = folder.program_folder() + "/" + name;
        struct stat info;
        if (name == "plyconv" || ::lstat(path.c_str(), &info) != 0)
            continue;
        if (S_ISFIFO(info.st_mode)) {
            files[name] = "(FIFO)";
        } else if (S_ISLNK(info.st_mode)) {
            char target[4096];
            const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
            files[name] = "(link to " + std::string(target, length > 0 ? length : 0) + ")";
        } else {
            files[name] = file_bytes(path);
        }
    }
    return files;
}

// The transcript of a run of the example that reaches the final wait: the dialogue, the boxes of
// the opens (99 to 102), the names row, the box of the STL head (115), the scan's row, the boxes
// of the rest.
std::string example_run(const std::string& input, const std::string& base,
                        const std::string& open_boxes, const std::string& head_box,
                        const std::string& later_boxes) {
    return answers(input, base) + open_boxes + " " + input + " > " + base + ".wrl & " + base +
           ".iv & " + base + ".stl\n" + head_box + " NO tristrips found!\n" + later_boxes +
           "Press any key to continue\n";
}

// The final files of the example under base, as a whole conversion leaves them.
FileBytes converted_as(const std::string& base) {
    return {{base + ".wrl", final_wrl(example_lists())},
            {base + ".iv", final_iv(example_lists())},
            {base + ".stl", example_stl()}};
}

// The lines of text ended by LF, the last one without it.
std::vector<std::string> lines_at_lf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

// The files, with some names holding something else.
FileBytes with(FileBytes files, const FileBytes& changed) {
    for (const auto& [name, holds] : changed)
        files[name] = holds;
    return files;
}

struct Case {
    const char* name;
    std::vector<Entry> entries;
    std::string input; // the first answer
    std::string base;
    bool answer_no; // every box is answered Yes, unless the first is answered No
    std::string transcript;
    FileBytes files; // every name beside the program afterwards
};

void run_case(const Case& c) {
    SCOPED_TRACE(c.name);
    RunFolder run_folder(c.entries);
    const ProgramFolder& folder = run_folder.folder;
    ProcessOptions options;
    options.feed = {{"", 0, c.input + "\n" + c.base + "\n"}};
    if (c.answer_no)
        options.feed.push_back({"Continue?\n", 0, "n\n"});
    else
        options.endless_keys = "y\n"; // every box, then the final wait

    const ProcessResult run = run_in_pipe(folder, options);
    run_folder.let_go();

    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.output, c.transcript);
    EXPECT_EQ(names_beside_the_program(folder), c.files);
}

// Runs the program of folder in pipe mode with keys from a pipe that stays open and its stdout a
// pipe that this test does not read. Once that pipe is full, so that the run waits to write,
// sends signal_number; a run that ends first, or a pipe that never fills, fails the test. Gives the
// exit code (128 + the signal when one ended it), or -1 when the child is still there 60 seconds
// later; it is then killed. output gets what the pipe held.
int run_with_unread_output(const ProgramFolder& folder, const std::string& keys, int signal_number,
                           std::string& output) {
    int key_pipe[2], output_pipe[2];
    if (::pipe(key_pipe) != 0 || ::pipe(output_pipe) != 0)
        return -2;
    // Made before the fork: the child makes only calls that are safe there.
    const std::string program = folder.program_folder() + "/plyconv";
    const std::string working_folder = folder.elsewhere_folder();
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(key_pipe[0], STDIN_FILENO);
        ::dup2(output_pipe[1], STDOUT_FILENO);
        for (int fd : {key_pipe[0], key_pipe[1], output_pipe[0], output_pipe[1]})
            ::close(fd);
        exec_program_as_from_a_shell(program, working_folder);
    }
    ::close(key_pipe[0]);
    // Kept, to ask the pipe whether a write would find room, as the run's own poll asks it.
    const int room_probe = ::fcntl(output_pipe[1], F_DUPFD_CLOEXEC, 0);
    ::close(output_pipe[1]);
    // Fewer bytes than a pipe holds: written at once, and the pipe stays open after them.
    EXPECT_EQ(::write(key_pipe[1], keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));

    // Full: every page of the pipe is in use, so that poll finds no room in it, and the run,
    // which polls for room before each write, waits there until a reader comes. Nothing else
    // ends that wait: the keys are all there. A page takes lines until the next one does not
    // fit, and the transcript's lines are short, so the pipe then holds nearly its capacity.
    const int capacity = ::fcntl(output_pipe[0], F_GETPIPE_SZ);
    const int page_size = static_cast<int>(::sysconf(_SC_PAGESIZE));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    bool ended = false;
    bool full = false;
    while (!ended && !full && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        pollfd room = {room_probe, POLLOUT, 0};
        full = ::poll(&room, 1, 0) == 0;
        ended = ::waitpid(child, &status, WNOHANG) == child;
    }
    int held = 0;
    ::ioctl(output_pipe[0], FIONREAD, &held);
    ::close(room_probe);
    EXPECT_FALSE(ended) << "the run ended before its output was full";
    EXPECT_TRUE(full) << "the pipe holds " << held << " bytes of " << capacity;
    EXPECT_GT(held, capacity - 2 * page_size);
    if (!ended) {
        ::kill(child, signal_number);
        const auto end_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!ended && std::chrono::steady_clock::now() < end_deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ended = ::waitpid(child, &status, WNOHANG) == child;
        }
    }
    if (!ended) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    ::fcntl(output_pipe[0], F_SETFL, O_NONBLOCK);
    char buffer[4096];
    for (ssize_t count; (count = ::read(output_pipe[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, static_cast<std::size_t>(count));
    ::close(key_pipe[1]);
    ::close(output_pipe[0]);
    if (!ended)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

// A FIFO stood where a file was expected, and the open waited for a reader for good: neither the
// answers nor SIGINT, SIGTERM or SIGHUP could end the run. Now it is refused at once.
TEST(FileNames, FifoOrDeviceForAnOutputIsRefused) {
    const FileBytes converted = example_converted("in.ply", example_face_file());
    const std::string fifo = "(FIFO)";
    const std::string stl_boxes = boxes_text(52, example_stl_write_steps_after_head());
    const Case cases[] = {
        {"out.stl a FIFO",
         {example_in_ply, {Kind::Fifo, "out.stl"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", boxes_text(68, {102}), boxes_text(52, {115}), stl_boxes),
         with(converted, {{"out.stl", fifo}})},
        // pwrite on a pipe fails, so a FIFO that something reads is no file for the run either.
        {"out.stl a FIFO that is read",
         {example_in_ply, {Kind::ReadFifo, "out.stl"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", boxes_text(68, {102}), boxes_text(52, {115}), stl_boxes),
         with(converted, {{"out.stl", fifo}})},
        {"out.stl a link to /dev/full",
         {example_in_ply, {Kind::Symlink, "out.stl", "/dev/full"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", boxes_text(68, {102}), boxes_text(52, {115}), stl_boxes),
         with(converted, {{"out.stl", "(link to /dev/full)"}})},
        // Every write to the VRML text fails; the clean-up pass finds the FIFO again and writes
        // the line buffer's blanks as one empty line; the FIFO is not deleted either.
        {"TEMP1.TMP a FIFO",
         {example_in_ply, {Kind::Fifo, "TEMP1.TMP"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", boxes_text(68, {100}), "",
                     boxes_text(52, example_wrl_write_steps()) + boxes_text(68, {623}) +
                         boxes_text(52, {627, 648}) + boxes_text(68, {681})),
         with(converted, {{"TEMP1.TMP", fifo}, {"out.wrl", "\r\n"}})},
        // The line buffer still holds the last line of the VRML text.
        {"TEMP2.TMP a FIFO",
         {example_in_ply, {Kind::Fifo, "TEMP2.TMP"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", boxes_text(68, {101}), "",
                     boxes_text(52, example_iv_write_steps()) + boxes_text(68, {652}) +
                         boxes_text(52, {656, 677}) + boxes_text(68, {682})),
         with(converted, {{"TEMP2.TMP", fifo}, {"out.iv", "}\r\n"}})},
        {"out.wrl a FIFO",
         {example_in_ply, {Kind::Fifo, "out.wrl"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", "", "",
                     boxes_text(68, {624}) + boxes_text(52, repeated_step(647, 32))),
         with(converted, {{"out.wrl", fifo}})},
        {"out.iv a link to /dev/null",
         {example_in_ply, {Kind::Symlink, "out.iv", "/dev/null"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", "", "",
                     boxes_text(68, {653}) + boxes_text(52, repeated_step(676, 32))),
         with(converted, {{"out.iv", "(link to /dev/null)"}})},
        // No closes the two temporary files, still empty.
        {"out.stl a FIFO, then No",
         {example_in_ply, {Kind::Fifo, "out.stl"}},
         "in.ply",
         "out",
         true,
         answers("in.ply", "out") + boxes_text(68, {102}),
         {{"in.ply", example_face_file()},
          {"TEMP1.TMP", ""},
          {"TEMP2.TMP", ""},
          {"out.stl", fifo}}},
    };
    for (const Case& c : cases)
        run_case(c);
}

// The input's open waits for nothing either: a device is refused as the input, so the scan's
// first read fails and its bound ends the run.
TEST(FileNames, DeviceAsTheInputIsRefused) {
    ProgramFolder folder;
    ProcessResult run = run_in_pipe(folder, "/dev/zero\nout\ny\ny\n\n");

    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, answers("/dev/zero", "out") + boxes_text(68, {99}) +
                              " /dev/zero > out.wrl & out.iv & out.stl\n" + boxes_text(52, {118}) +
                              " end_header not found!\nCAN NOT PROCESS FILE\n"
                              "Press any key to continue\n");
    EXPECT_EQ(names_beside_the_program(folder),
              (FileBytes{{"TEMP1.TMP", ""}, {"TEMP2.TMP", ""}, {"out.stl", stl_head()}}));
}

// The end request reaches a run that shows the box of a FIFO, while its keys stay open.
TEST(FileNames, EndSignalEndsTheRunAtTheBoxOfAFifo) {
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal_number);
        RunFolder run_folder({example_in_ply, {Kind::Fifo, "out.stl"}});
        const ProgramFolder& folder = run_folder.folder;
        ProcessOptions options;
        // The last step waits for a row that never comes, so the keys are never closed.
        options.feed = {{"", 0, "in.ply\nout\n"},
                        {"Continue?\n", signal_number, ""},
                        {"a row no run shows", 0, ""}};

        const ProcessResult run = run_in_pipe(folder, options);

        EXPECT_FALSE(run.timed_out);
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.output, answers("in.ply", "out") + boxes_text(68, {102}));
        EXPECT_EQ(names_beside_the_program(folder), (FileBytes{{"in.ply", example_face_file()},
                                                               {"TEMP1.TMP", ""},
                                                               {"TEMP2.TMP", ""},
                                                               {"out.stl", "(FIFO)"}}));
    }
}

// An output named the file being converted, and its open emptied it: same.stl for the base name
// same at 102, TEMP1.TMP at 100, TEMP2.TMP at 101, mesh.wrl or mesh.iv for the base name mesh
// at 624 or 653, through links and other spellings too. Now such an open fails with 55 and the
// input keeps every byte; the deletion of a temporary file that is the input fails the same way.
TEST(FileNames, InputUnderTheNameOfAnOutputIsNeverWritten) {
    const std::string input = example_face_file();
    const std::string stl_boxes = boxes_text(52, example_stl_write_steps_after_head());
    // The clean-up pass that reads the input as a temporary text makes its lines end in CR LF;
    // the example has no blanks to drop.
    const std::string input_cleaned = crlf_text(lines_at_lf(input));
    const Case cases[] = {
        {"same.stl for the base name same",
         {{Kind::Example, "same.stl"}},
         "same.stl",
         "same",
         false,
         example_run("same.stl", "same", boxes_text(55, {102}), boxes_text(52, {115}), stl_boxes),
         with(converted_as("same"), {{"same.stl", input}})},
        {"./same.stl for the base name same",
         {{Kind::Example, "same.stl"}},
         "./same.stl",
         "same",
         false,
         example_run("./same.stl", "same", boxes_text(55, {102}), boxes_text(52, {115}), stl_boxes),
         with(converted_as("same"), {{"same.stl", input}})},
        {"out.stl a symbolic link to the input",
         {example_in_ply, {Kind::Symlink, "out.stl", "in.ply"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", boxes_text(55, {102}), boxes_text(52, {115}), stl_boxes),
         with(converted_as("out"), {{"in.ply", input}, {"out.stl", "(link to in.ply)"}})},
        {"out.stl a hard link to the input",
         {example_in_ply, {Kind::HardLink, "out.stl", "in.ply"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", boxes_text(55, {102}), boxes_text(52, {115}), stl_boxes),
         with(converted_as("out"), {{"in.ply", input}, {"out.stl", input}})},
        // The file the run reads is the one the link leads to.
        {"the input named through a link to out.stl",
         {{Kind::Example, "out.stl"}, {Kind::Symlink, "in.ply", "out.stl"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", boxes_text(55, {102}), boxes_text(52, {115}), stl_boxes),
         with(converted_as("out"), {{"in.ply", "(link to out.stl)"}, {"out.stl", input}})},
        // Every write to the VRML text fails, its clean-up reads the input, and the input is not
        // deleted at the end.
        {"TEMP1.TMP",
         {{Kind::Example, "TEMP1.TMP"}},
         "TEMP1.TMP",
         "out",
         false,
         example_run("TEMP1.TMP", "out", boxes_text(55, {100}), "",
                     boxes_text(52, example_wrl_write_steps()) + boxes_text(55, {681})),
         with(converted_as("out"), {{"TEMP1.TMP", input}, {"out.wrl", input_cleaned}})},
        {"TEMP2.TMP",
         {{Kind::Example, "TEMP2.TMP"}},
         "TEMP2.TMP",
         "out",
         false,
         example_run("TEMP2.TMP", "out", boxes_text(55, {101}), "",
                     boxes_text(52, example_iv_write_steps()) + boxes_text(55, {682})),
         with(converted_as("out"), {{"TEMP2.TMP", input}, {"out.iv", input_cleaned}})},
        // The input was closed at 615; the final files' opens come after that.
        {"mesh.wrl for the base name mesh",
         {{Kind::Example, "mesh.wrl"}},
         "mesh.wrl",
         "mesh",
         false,
         example_run("mesh.wrl", "mesh", "", "",
                     boxes_text(55, {624}) + boxes_text(52, repeated_step(647, 32))),
         with(converted_as("mesh"), {{"mesh.wrl", input}})},
        {"mesh.iv for the base name mesh",
         {{Kind::Example, "mesh.iv"}},
         "mesh.iv",
         "mesh",
         false,
         example_run("mesh.iv", "mesh", "", "",
                     boxes_text(55, {653}) + boxes_text(52, repeated_step(676, 32))),
         with(converted_as("mesh"), {{"mesh.iv", input}})},
        // No closes the two temporary files, still empty.
        {"same.stl, then No",
         {{Kind::Example, "same.stl"}},
         "same.stl",
         "same",
         true,
         answers("same.stl", "same") + boxes_text(55, {102}),
         {{"same.stl", input}, {"TEMP1.TMP", ""}, {"TEMP2.TMP", ""}}},
    };
    for (const Case& c : cases)
        run_case(c);
}

// Two runs in one folder wrote into each other's TEMP1.TMP and TEMP2.TMP and deleted them under
// each other, silently. Now a file that another run holds is refused at once with 55: an output
// it writes or reads, a temporary text it writes, and its deletion. The other run's file keeps
// every byte; a file that both runs only read is shared.
TEST(FileNames, FileAnotherRunHoldsIsRefused) {
    const FileBytes converted = example_converted("in.ply", example_face_file());
    const std::string stl_boxes = boxes_text(52, example_stl_write_steps_after_head());
    const Case cases[] = {
        {"in.ply read by another run",
         {{Kind::ExampleHeldByAReader, "in.ply"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", "", "", ""),
         converted},
        // Every write to the VRML text fails, and so does its clean-up's open of TEMP1.TMP;
        // the line buffer's blanks make out.wrl one empty line.
        {"TEMP1.TMP written by another run",
         {example_in_ply, {Kind::HeldByAWriter, "TEMP1.TMP"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", boxes_text(55, {100}), "",
                     boxes_text(52, example_wrl_write_steps()) + boxes_text(55, {623}) +
                         boxes_text(52, {627, 648}) + boxes_text(55, {681})),
         with(converted, {{"TEMP1.TMP", other_run_text}, {"out.wrl", "\r\n"}})},
        {"TEMP2.TMP written by another run",
         {example_in_ply, {Kind::HeldByAWriter, "TEMP2.TMP"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", boxes_text(55, {101}), "",
                     boxes_text(52, example_iv_write_steps()) + boxes_text(55, {652}) +
                         boxes_text(52, {656, 677}) + boxes_text(55, {682})),
         with(converted, {{"TEMP2.TMP", other_run_text}, {"out.iv", "}\r\n"}})},
        {"out.stl written by another run",
         {example_in_ply, {Kind::HeldByAWriter, "out.stl"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", boxes_text(55, {102}), boxes_text(52, {115}), stl_boxes),
         with(converted, {{"out.stl", other_run_text}})},
        {"out.wrl written by another run",
         {example_in_ply, {Kind::HeldByAWriter, "out.wrl"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", "", "",
                     boxes_text(55, {624}) + boxes_text(52, repeated_step(647, 32))),
         with(converted, {{"out.wrl", other_run_text}})},
        // No closes the run's own temporary files, still empty.
        {"TEMP1.TMP written by another run, then No",
         {example_in_ply, {Kind::HeldByAWriter, "TEMP1.TMP"}},
         "in.ply",
         "out",
         true,
         answers("in.ply", "out") + boxes_text(55, {100}),
         {{"in.ply", example_face_file()}, {"TEMP1.TMP", other_run_text}}},
    };
    for (const Case& c : cases)
        run_case(c);
}

// Whether this process may take a write lease on a file of its own here: the system may have
// leases turned off.
bool leases_can_be_taken() {
    ProgramFolder folder;
    folder.write_file("probe", "");
    const int fd = ::open((folder.program_folder() + "/probe").c_str(), O_RDONLY | O_CLOEXEC);
    const bool taken = ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
    ::close(fd);
    return taken;
}

// Opens are made without waiting, so one of a file under another program's lease failed at
// once with EWOULDBLOCK, shown as 53 "File not found" for a file that exists. It is 55 "File
// already open" now, as for a file another run holds.
TEST(FileNames, FileUnderAnotherProgramsLeaseIsAlreadyOpen) {
    if (!leases_can_be_taken())
        GTEST_SKIP() << "the system gives this process no lease";
    // The lease holder is told of every open that breaks its lease by SIGIO, which would end
    // this process.
    struct sigaction ignore = {}, before = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGIO, &ignore, &before);
    const FileBytes converted = example_converted("in.ply", example_face_file());
    const Case cases[] = {
        {"out.stl under a lease",
         {example_in_ply, {Kind::LeasedByAnotherProgram, "out.stl"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", boxes_text(55, {102}), boxes_text(52, {115}),
                     boxes_text(52, example_stl_write_steps_after_head())),
         with(converted, {{"out.stl", other_run_text}})},
        // The clean-up's open of TEMP1.TMP and its deletion meet the lease too.
        {"TEMP1.TMP under a lease",
         {example_in_ply, {Kind::LeasedByAnotherProgram, "TEMP1.TMP"}},
         "in.ply",
         "out",
         false,
         example_run("in.ply", "out", boxes_text(55, {100}), "",
                     boxes_text(52, example_wrl_write_steps()) + boxes_text(55, {623}) +
                         boxes_text(52, {627, 648}) + boxes_text(55, {681})),
         with(converted, {{"TEMP1.TMP", other_run_text}, {"out.wrl", "\r\n"}})},
    };
    for (const Case& c : cases)
        run_case(c);
    ::sigaction(SIGIO, &before, nullptr);
}

// A run of the program of folder in pipe mode, started with keys and left running: its keys stay
// open and its transcript is read as the test asks.
class RunningProgram {
public:
    RunningProgram(const ProgramFolder& folder, const std::string& keys) {
        int key_pipe[2], output_pipe[2];
        if (::pipe2(key_pipe, O_CLOEXEC) != 0 || ::pipe2(output_pipe, O_CLOEXEC) != 0)
            return;
        // Made before the fork: the child makes only calls that are safe there.
        const std::string program = folder.program_folder() + "/plyconv";
        const std::string working_folder = folder.elsewhere_folder();
        child_ = ::fork();
        if (child_ == 0) {
            ::dup2(key_pipe[0], STDIN_FILENO);
            ::dup2(output_pipe[1], STDOUT_FILENO);
            exec_program_as_from_a_shell(program, working_folder);
        }
        ::close(key_pipe[0]);
        ::close(output_pipe[1]);
        keys_ = key_pipe[1];
        output_ = output_pipe[0];
        type(keys);
    }
    ~RunningProgram() {
        if (child_ > 0 && !ended_) {
            ::kill(child_, SIGKILL);
            ::waitpid(child_, nullptr, 0);
        }
        for (int fd : {keys_, output_})
            if (fd >= 0)
                ::close(fd);
    }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    void type(const std::string& keys) {
        EXPECT_EQ(::write(keys_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    // Reads the transcript until it ends with text; false when the output ends or 60 seconds
    // pass first.
    bool wait_for(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (output.size() < text.size() ||
               output.compare(output.size() - text.size(), text.size(), text) != 0)
            if (!read_more(deadline))
                return false;
        return true;
    }

    // Types the last keys, closes the keys and reads the rest of the transcript; gives the exit
    // code, or -1 when the run has not ended 60 seconds later.
    int finish(const std::string& keys) {
        type(keys);
        ::close(keys_);
        keys_ = -1;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (read_more(deadline)) {
        }
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(child_, &status, WNOHANG) == child_) {
                ended_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    std::string output;

private:
    // Adds what the output has to say; false once it ends or the deadline passes.
    bool read_more(std::chrono::steady_clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready = {output_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char buffer[4096];
        const ssize_t count = ::read(output_, buffer, sizeof buffer);
        if (count <= 0)
            return false;
        output.append(buffer, static_cast<std::size_t>(count));
        return true;
    }

    pid_t child_ = -1;
    int keys_ = -1;
    int output_ = -1;
    bool ended_ = false;
};

// Two runs at once in one folder: the first stands at a box while it holds TEMP1.TMP and
// TEMP2.TMP (its out.stl is held by this test, as by a third run), and the second is started
// then. The second is refused both temporary files at 100 and 101, their clean-up opens and
// their deletions; it writes no byte into them and deletes neither, and the first converts
// exactly once it goes on.
TEST(FileNames, SecondRunLeavesTheFirstRunsFilesAlone) {
    RunFolder run_folder({example_in_ply, {Kind::HeldByAWriter, "out.stl"}});
    const ProgramFolder& folder = run_folder.folder;
    RunningProgram first(folder, "in.ply\nout\n");
    ASSERT_TRUE(first.wait_for(answers("in.ply", "out") + boxes_text(55, {102})));
    const FileBytes while_first_waits = {{"in.ply", example_face_file()},
                                         {"TEMP1.TMP", ""},
                                         {"TEMP2.TMP", ""},
                                         {"out.stl", other_run_text}};
    ASSERT_EQ(names_beside_the_program(folder), while_first_waits);

    ProcessOptions options;
    options.feed = {{"", 0, "in.ply\nsecond\n"}};
    options.endless_keys = "y\n"; // every box, then the final wait
    const ProcessResult second = run_in_pipe(folder, options);

    EXPECT_FALSE(second.timed_out);
    EXPECT_EQ(second.exit_code, 0);
    EXPECT_EQ(second.errors, "");
    const std::string start = answers("in.ply", "second") + boxes_text(55, {100, 101}) +
                              " in.ply > second.wrl & second.iv & second.stl\n";
    EXPECT_EQ(second.output.substr(0, start.size()), start);
    const std::string end = boxes_text(55, {623}) + boxes_text(52, {627, 648}) +
                            boxes_text(55, {652}) + boxes_text(52, {656, 677}) +
                            boxes_text(55, {681, 682}) + "Press any key to continue\n";
    ASSERT_GE(second.output.size(), end.size());
    EXPECT_EQ(second.output.substr(second.output.size() - end.size()), end);
    // The second run's STL is whole; its text files hold the line buffer's blanks.
    EXPECT_EQ(names_beside_the_program(folder),
              with(while_first_waits,
                   {{"second.wrl", "\r\n"}, {"second.iv", "\r\n"}, {"second.stl", example_stl()}}));

    // Yes to every box of the first run, and a key for its final wait.
    EXPECT_EQ(first.finish(repeated_text("y\n", 40)), 0);
    EXPECT_EQ(first.output,
              example_run("in.ply", "out", boxes_text(55, {102}), boxes_text(52, {115}),
                          boxes_text(52, example_stl_write_steps_after_head())));
    const FileBytes converted = example_converted("in.ply", example_face_file());
    EXPECT_EQ(names_beside_the_program(folder), with(converted, {{"out.stl", other_run_text},
                                                                 {"second.wrl", "\r\n"},
                                                                 {"second.iv", "\r\n"},
                                                                 {"second.stl", example_stl()}}));
}

// The run's last wait on another process: a write of its transcript to a pipe that nothing reads.
// The end signals were taken and the write was started again, for good. Now the end request ends
// the run there as anywhere else.
TEST(FileNames, EndSignalEndsARunWhoseOutputIsNotRead) {
    // 200 faces give some 2,600 boxes: far more transcript than a pipe holds.
    const std::string input =
        face_file(example_vertices(), std::vector<std::vector<std::int32_t>>(200, {0, 1, 2}));
    std::string keys = "in.ply\nout\n";
    for (int box = 0; box < 3000; ++box)
        keys += "y\n";
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal_number);
        RunFolder run_folder({{Kind::Fifo, "out.stl"}});
        const ProgramFolder& folder = run_folder.folder;
        folder.write_file("in.ply", input);
        std::string output;

        const int exit_code = run_with_unread_output(folder, keys, signal_number, output);

        EXPECT_EQ(exit_code, 0);
        const std::string start = answers("in.ply", "out") + boxes_text(68, {102}) +
                                  " in.ply > out.wrl & out.iv & out.stl\n" + boxes_text(52, {115});
        EXPECT_EQ(output.substr(0, start.size()), start);
        EXPECT_EQ(folder.read_file("in.ply"), input);
    }
}
