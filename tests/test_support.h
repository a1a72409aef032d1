// What tests share: a fresh temporary working folder, and one whole run driven in pipe mode.
#pragma once

#include <string>
#include <vector>

#include "platform/console/session.h"

// A fresh folder that is the working folder while the object lives. On destruction the old
// working folder comes back and the folder is removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder's full path, without a trailing "/".
    const std::string& path() const { return path_; }

    // Names are relative to the folder (an absolute name stands as it is).
    void write_file(const std::string& name, const std::string& bytes) const;
    std::string read_file(const std::string& name) const;
    bool file_exists(const std::string& name) const;

private:
    std::string full_name(const std::string& name) const;

    std::string path_;
    std::string previous_folder_;
};

struct ScriptedRun {
    RunEnd end = RunEnd::EndRequest;
    std::string transcript;          // every byte the run wrote to its output
    std::vector<std::string> screen; // rows 1 to 25 as screen_row gives them
};

// Runs one whole session in pipe mode in this process: keys are the key bytes (the end of the
// keys follows the last one), and the output is captured.
ScriptedRun run_scripted(const std::string& keys, void (*run)());
