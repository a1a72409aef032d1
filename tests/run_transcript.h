// What a whole run in pipe mode shows: the banner, the dialogue and the names row.
#pragma once

#include <string>
#include <vector>

#include "converter/stages.h"
#include "tests/test_support.h"

inline const std::vector<std::string> banner_rows = {
    "Software by Morvantellis morvantellis.example",
    "Input files and output files must be 8 characters prefix",
    "and 3 character suffix (DOS standard).",
    " Beta software use at your own risk.",
    "",
    " This program will only read BINARY ply files",
    " it will NOT read ASCII ply files. The output will",
    " be 3 files: one VRML, one Inventor and one STL",
    " ENTER BINARY PLY (.PLY) file:",
};

// The rows as pipe mode writes them: one line each, without trailing blanks.
inline std::string lines_of(const std::vector<std::string>& rows) {
    std::string text;
    for (std::string row : rows) {
        row.erase(row.find_last_not_of(' ') + 1);
        text += row + "\n";
    }
    return text;
}

// The transcript of a dialogue with the answers given, up to the empty row before the names.
inline std::string answers(const std::string& input_name, const std::string& base_name) {
    std::vector<std::string> rows = banner_rows;
    rows.push_back("? " + input_name);
    rows.push_back(" Enter name of ouput 3D file (Do not put extension)");
    rows.push_back("? " + base_name);
    rows.push_back("");
    return lines_of(rows);
}

// The same, with the row of the names after it.
inline std::string dialogue(const std::string& input_name, const std::string& base_name,
                            const std::string& names_row) {
    return answers(input_name, base_name) + names_row + "\n";
}

inline ScriptedRun convert(const std::string& keys) {
    return run_scripted(keys, run_converter);
}

// The transcript of a run of in.ply into out up to the names row.
inline std::string standard_dialogue() {
    return dialogue("in.ply", "out", " in.ply > out.wrl & out.iv & out.stl");
}
