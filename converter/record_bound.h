// The bound of the record loops: how far a count from the header may read past the file.
#pragma once

#include <cstdint>

#include "converter/run_state.h"
#include "platform/file_access.h"

// Up to this many records a loop reads missing ones as zeros; beyond it a damaged header could
// make it write without end, so it stops at the first record that starts past the file's end.
constexpr std::uint64_t zero_fill_record_limit = 16777216; // 2^24

inline bool past_the_records(RunState& run, std::uint64_t record_no) {
    return record_no > zero_fill_record_limit &&
           run.read_pos > static_cast<double>(file_size(run.input_file));
}
