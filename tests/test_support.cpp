// The scripted run in pipe mode.
#include "tests/test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

void write_everything(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // the session ended before it took every key
        done += static_cast<std::size_t>(written);
    }
}

} // namespace

ScriptedRun run_scripted(const std::string& keys, void (*run)()) {
    // A run that ends before it took every key leaves the key writer facing a closed pipe: that
    // must be a failed write, not the end of the test program.
    ::signal(SIGPIPE, SIG_IGN);
    int key_pipe[2];
    int output_pipe[2];
    if (::pipe(key_pipe) != 0 || ::pipe(output_pipe) != 0) {
        std::perror("pipe");
        std::abort();
    }
    // Both on threads, so that neither many keys nor a long transcript can fill a pipe and stall.
    std::thread key_writer([&keys, fd = key_pipe[1]] {
        write_everything(fd, keys);
        ::close(fd); // the end of the keys
    });
    ScriptedRun result;
    std::thread output_reader(
        [&result, fd = output_pipe[0]] { result.transcript = read_to_end(fd); });

    SessionOptions options;
    options.mode = FrontEndMode::Pipe;
    options.key_fd = key_pipe[0];
    options.output_fd = output_pipe[1];
    result.end = run_session(options, run);

    ::close(key_pipe[0]);
    ::close(output_pipe[1]);
    key_writer.join();
    output_reader.join();
    ::close(output_pipe[0]);
    for (int row = 1; row <= 25; ++row)
        result.screen.push_back(screen_row(row));
    return result;
}
