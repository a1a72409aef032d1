// What the run calls of the console: rows, answers, the end of the run and the step check.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/console/end_request.h"
#include "platform/file_layer/failure.h"

// Prints the texts on the current row, each by the fit rule, then ends the row. With no texts
// it only ends the row.
void print_row(std::initializer_list<std::string_view> texts);

// Prints "? " at the cursor, reads one typed line into field with the line editor and the
// answer rule, and ends the row. During an end request it does not return.
void input_answer(std::string& field);

// Closes every file, shows "Press any key to continue" alone on row 25, waits for a key and
// ends the run. It does not return. step is the run's step that ends it (186 at the early end,
// 684 at the normal end): bytes that cannot reach their file as the files close are reported
// under it before the prompt, never lost in silence.
[[noreturn]] void end_run(int step);

// What the step check does when there is something to do: ends the run on an end request,
// else reports the pending failure.
void act_on_step_check(int step);

// After every step: ends the run on an end request, else reports a pending failure. Inline:
// a conversion makes hundreds of millions of checks, and nearly all find nothing to do.
inline void check_step(int step) {
    if (end_requested() || failure_pending())
        act_on_step_check(step);
}

// Shows the failure box for the pending code under the step's number. Yes clears the code and
// returns; No closes every file and ends the run.
void report_failure(int step);
