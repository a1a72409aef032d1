// What the whole-process tests share: the built program, a fresh folder holding a copy of it,
// and the program or another command run as a child process.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

// File names and their bytes.
using FileBytes = std::map<std::string, std::string>;

// The built program that e2e_test was given on its command line.
const std::string& plyconv_path();
void set_plyconv_path(const std::string& path);

// A fresh temporary folder, removed with everything in it when the object goes:
//   program/    a copy of plyconv, the input beside it and whatever the run writes there;
//   elsewhere/  an empty folder, the working folder in which a pipe run is started;
//   pane/       the tmux socket and the files of the shell in the pane.
// The program resolves relative names in its own folder, so program/ is where its files land.
class ProgramFolder {
public:
    ProgramFolder();
    ~ProgramFolder();
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    std::string program_folder() const { return root_ + "/program"; }
    std::string elsewhere_folder() const { return root_ + "/elsewhere"; }
    std::string pane_folder() const { return root_ + "/pane"; }

    // Names are relative to program/.
    void write_file(const std::string& name, const std::string& bytes) const;
    std::string read_file(const std::string& name) const;
    bool file_exists(const std::string& name) const;
    // Every file in program/ but the program itself, with its bytes.
    FileBytes files_beside_the_program() const;

private:
    std::string root_;
};

// The names in a folder, "." and ".." left out.
std::set<std::string> names_in_folder(const std::string& path);

// Reads a whole file; an empty text when it cannot be read.
std::string read_whole_file(const std::string& path);

struct ProcessResult {
    int exit_code = -1; // 128 + the signal when a signal ended it; -1 when it hung
    std::string output; // every byte written to stdout
    std::string errors; // every byte written to stderr
    bool timed_out = false;
};

// Runs argv (its first item looked up in PATH) as a child in working_folder, with keys on a
// pipe as its stdin; the pipe is closed after the last key. A child that has not ended after
// 60 seconds is killed.
ProcessResult run_process(const std::vector<std::string>& argv, const std::string& keys,
                          const std::string& working_folder,
                          const std::vector<std::string>& extra_environment = {});

// `printf KEYS | plyconv` from elsewhere/: pipe mode, stdout and stderr not a terminal.
ProcessResult run_in_pipe(const ProgramFolder& folder, const std::string& keys);
