// What whole-run tests share: a temporary working folder (tests/temp_folder.h), and one whole run
// driven in pipe mode.
#pragma once

#include <string>
#include <vector>

#include "platform/console/session.h"
#include "tests/temp_folder.h"

struct ScriptedRun {
    RunEnd end = RunEnd::EndRequest;
    std::string transcript;          // every byte the run wrote to its output
    std::vector<std::string> screen; // rows 1 to 25 as screen_row gives them
};

// Runs one whole session in pipe mode in this process: keys are the key bytes (the end of the
// keys follows the last one), and the output is captured.
ScriptedRun run_scripted(const std::string& keys, void (*run)());
