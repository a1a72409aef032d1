// The program: the run on the front end that fits where it was started.
#include <unistd.h>

#include "converter/stages.h"
#include "platform/console/session.h"
#include "platform/console/standard_descriptors.h"

int main() {
    open_missing_standard_descriptors();
    SessionOptions options;
    options.mode =
        isatty(STDIN_FILENO) && isatty(STDOUT_FILENO) ? FrontEndMode::Terminal : FrontEndMode::Pipe;
    options.key_fd = STDIN_FILENO;
    options.output_fd = STDOUT_FILENO;
    enter_program_folder();
    // Every end of a run is a normal end of the program, but for a run the system gave no
    // memory to finish or whose output it could not write.
    const RunEnd end = run_session(options, run_converter);
    return end == RunEnd::OutOfMemory || end == RunEnd::OutputFailed ? 1 : 0;
}
