// What the whole-process tests share: the built program, a fresh folder holding a copy of it,
// and the program or another command run as a child process.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/temp_folder.h"

// The sanitizers keep memory of their own (shadow, quarantine) that varies by more than a
// few MiB, and refuse to start under a limit of the address space: the tests of peak memory and
// of such limits hold only without them.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool built_with_sanitizers = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool built_with_sanitizers = true;
#else
inline constexpr bool built_with_sanitizers = false;
#endif
#else
inline constexpr bool built_with_sanitizers = false;
#endif

// File names and their bytes.
using FileBytes = std::map<std::string, std::string>;

// The built program that e2e_test was given on its command line.
const std::string& plyconv_path();
void set_plyconv_path(const std::string& path);

// The mesh generator (tools/make_mesh) given after it; empty when the build has no tools.
const std::string& make_mesh_path();
void set_make_mesh_path(const std::string& path);

// A fresh temporary folder, removed with everything in it when the object goes:
//   program/    a copy of plyconv, the input beside it and whatever the run writes there;
//   elsewhere/  an empty folder, the working folder in which a pipe run is started;
//   pane/       the tmux socket and the files of the shell in the pane.
// The program resolves relative names in its own folder, so program/ is where its files land.
class ProgramFolder {
public:
    ProgramFolder();
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    std::string program_folder() const { return root_.path() + "/program"; }
    std::string elsewhere_folder() const { return root_.path() + "/elsewhere"; }
    std::string pane_folder() const { return root_.path() + "/pane"; }

    // Names are relative to program/.
    void write_file(const std::string& name, const std::string& bytes) const;
    std::string read_file(const std::string& name) const;
    bool file_exists(const std::string& name) const;
    // Every file in program/ but the program itself, with its bytes.
    FileBytes files_beside_the_program() const;

private:
    TempFolder root_;
};

// Every file of expected in actual with the same bytes, and no other file there. Files of many
// megabytes: a difference is told by its name, sizes and first offset, not by printing them.
void expect_same_files(const FileBytes& actual, const FileBytes& expected);

// text, count times over.
std::string repeated_text(const std::string& text, std::size_t count);

// The names in a folder, "." and ".." left out.
std::set<std::string> names_in_folder(const std::string& path);

struct ProcessResult {
    int exit_code = -1; // 128 + the signal when a signal ended it; -1 when it hung
    std::string output; // every byte written to stdout
    std::string errors; // every byte written to stderr
    bool timed_out = false;
    // The child's largest resident set, as the system counted it. The count starts at the fork,
    // with this process's own resident memory then: a test that compares peaks holds no big
    // buffer while the child runs.
    long peak_memory_kib = 0;
};

// One step of what a child is fed: once its stdout holds wait_for_output (at once when empty),
// the signal is sent (none when 0), then the keys are written to its stdin.
struct FeedStep {
    std::string wait_for_output;
    int signal = 0;
    std::string keys;
};

// A limit that the child starts under, soft and hard alike, as `ulimit` sets it.
struct ResourceLimit {
    int resource = 0; // RLIMIT_FSIZE, RLIMIT_AS, ...
    unsigned long long value = 0;
};

// How a child is started and fed, beyond its program and its working folder.
struct ProcessOptions {
    // Fed in order; stdin is closed after the last step, unless endless_keys follow it.
    std::vector<FeedStep> feed;
    // Written again and again after the last step, as `yes` would, until the child ends.
    std::string endless_keys;
    std::vector<ResourceLimit> limits;
    // The child starts with these ignored, as under nohup; every other signal is at its default.
    std::vector<int> ignored_signals;
    // When this process is root: the child runs as user and group unprivileged_user, so that
    // file permissions refuse it what they would refuse a user.
    bool unprivileged = false;
    // RLIMIT_NPROC counts every process and thread of the user: a child limited so runs as a
    // user of its own, which no other test's child shares.
    unsigned unprivileged_user = 65534;
    // Entries of the form NAME=value put over this process's environment.
    std::vector<std::string> extra_environment;
    // When not empty: the child's stdout is this file, emptied or made, as `>path` makes it;
    // the output then stays empty.
    std::string output_path;
    // Standard descriptors the child starts with closed, as `<&-`, `>&-` and `2>&-` close them.
    std::vector<int> closed_descriptors;
};

// In a child, before exec: every signal at its default and none blocked, as a shell starts a
// command (this process ignores SIGPIPE, and gtest may change others). Only calls that are safe
// after a fork.
void reset_signals_as_from_a_shell();

// In a child: the program started in working_folder, as from a shell; exit code 127 when it
// cannot be. Only calls that are safe after a fork.
[[noreturn]] void exec_program_as_from_a_shell(const std::string& program,
                                               const std::string& working_folder);

// Runs argv (its first item looked up in PATH) as a child in working_folder, with a pipe as its
// stdin fed as options say. A child that has not ended after 60 seconds is killed.
ProcessResult run_process(const std::vector<std::string>& argv, const std::string& working_folder,
                          const ProcessOptions& options);

// The same with keys written at once and stdin closed after them.
ProcessResult run_process(const std::vector<std::string>& argv, const std::string& keys,
                          const std::string& working_folder,
                          const std::vector<std::string>& extra_environment = {});

// `printf KEYS | plyconv` from elsewhere/: pipe mode, stdout and stderr not a terminal.
ProcessResult run_in_pipe(const ProgramFolder& folder, const std::string& keys);
// The same, started and fed as options say.
ProcessResult run_in_pipe(const ProgramFolder& folder, const ProcessOptions& options);
