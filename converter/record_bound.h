// The bound of the record loops: how far a count from the header may read past the file.
#pragma once

#include <cstdint>

#include "converter/run_state.h"
#include "platform/file_layer/file_access.h"

// A count up to this many records reads the records missing from the file as zeros; a larger
// one comes from a damaged header as often as not and could make a pass write without end, so
// its loop stops at the first record that starts at or past the end of the file.
constexpr double zero_fill_record_limit = 16777216; // 2^24

inline bool past_the_records(RunState& run, double record_count) {
    return record_count > zero_fill_record_limit &&
           run.read_pos > static_cast<double>(file_size(run.input_file));
}
