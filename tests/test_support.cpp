// The temporary folder of a test and the scripted run in pipe mode.
#include "tests/test_support.h"

#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
    return std::remove(path);
}

std::string current_folder() {
    char buffer[4096];
    return ::getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

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

std::string read_everything(int fd) {
    std::string bytes;
    char buffer[4096];
    for (;;) {
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return bytes;
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

} // namespace

TempFolder::TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/plyconv-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort(); // no test may fall back to the working tree
    }
    path_ = pattern;
    previous_folder_ = current_folder();
    if (::chdir(path_.c_str()) != 0) {
        std::perror("chdir");
        std::abort();
    }
}

TempFolder::~TempFolder() {
    if (!previous_folder_.empty() && ::chdir(previous_folder_.c_str()) != 0)
        std::perror("chdir");
    ::nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TempFolder::full_name(const std::string& name) const {
    return !name.empty() && name[0] == '/' ? name : path_ + "/" + name;
}

void TempFolder::write_file(const std::string& name, const std::string& bytes) const {
    int fd = ::open(full_name(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        std::perror(name.c_str());
        return;
    }
    write_everything(fd, bytes);
    ::close(fd);
}

std::string TempFolder::read_file(const std::string& name) const {
    int fd = ::open(full_name(name).c_str(), O_RDONLY);
    if (fd < 0)
        return std::string();
    std::string bytes = read_everything(fd);
    ::close(fd);
    return bytes;
}

bool TempFolder::file_exists(const std::string& name) const {
    struct stat info;
    return ::stat(full_name(name).c_str(), &info) == 0;
}

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
        [&result, fd = output_pipe[0]] { result.transcript = read_everything(fd); });

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
