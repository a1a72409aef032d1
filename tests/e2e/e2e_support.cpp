// The folder of a whole-process test and the child processes it runs.
#include "tests/e2e/e2e_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace {

std::string g_plyconv_path;
std::string g_make_mesh_path;

// Generous: a run of a tiny mesh takes milliseconds; this only stops a hang.
constexpr auto process_time_limit = std::chrono::seconds(60);

void make_folder(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

// The environment of this process, without a TMUX of an outer session (it would point the
// tmux client elsewhere) and with extra entries of the form NAME=value put over it.
std::vector<std::string> child_environment(const std::vector<std::string>& extra) {
    std::vector<std::string> entries;
    auto overridden = [&extra](const std::string& entry) {
        std::string name = entry.substr(0, entry.find('=') + 1);
        if (name == "TMUX=")
            return true;
        for (const std::string& e : extra)
            if (e.compare(0, name.size(), name) == 0)
                return true;
        return false;
    };
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (!overridden(*entry))
            entries.emplace_back(*entry);
    entries.insert(entries.end(), extra.begin(), extra.end());
    return entries;
}

std::vector<char*> c_strings(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

const std::string& plyconv_path() {
    if (g_plyconv_path.empty()) {
        std::fprintf(stderr, "usage: e2e_test [gtest options] PATH_OF_PLYCONV\n");
        std::abort();
    }
    return g_plyconv_path;
}

void set_plyconv_path(const std::string& path) {
    g_plyconv_path = path;
}

const std::string& make_mesh_path() {
    return g_make_mesh_path;
}

void set_make_mesh_path(const std::string& path) {
    g_make_mesh_path = path;
}

ProgramFolder::ProgramFolder() {
    make_folder(program_folder());
    make_folder(elsewhere_folder());
    make_folder(pane_folder());
    // A child without privileges (ProcessOptions::unprivileged) reaches the folders and writes
    // its files beside the program, as its user could in a folder of its own.
    ::chmod(root_.path().c_str(), 0755);
    ::chmod(program_folder().c_str(), 0777);
    ::chmod(elsewhere_folder().c_str(), 0777);

    // A copy, so that the run's folder is this test's own.
    std::string program = file_bytes(plyconv_path());
    if (program.empty()) {
        std::fprintf(stderr, "cannot read %s\n", plyconv_path().c_str());
        std::abort();
    }
    write_file("plyconv", program);
    ::chmod((program_folder() + "/plyconv").c_str(), 0755);
}

void ProgramFolder::write_file(const std::string& name, const std::string& bytes) const {
    make_file(program_folder() + "/" + name, bytes);
}

std::string ProgramFolder::read_file(const std::string& name) const {
    return file_bytes(program_folder() + "/" + name);
}

bool ProgramFolder::file_exists(const std::string& name) const {
    struct stat info;
    return ::lstat((program_folder() + "/" + name).c_str(), &info) == 0;
}

FileBytes ProgramFolder::files_beside_the_program() const {
    FileBytes files;
    for (const std::string& name : names_in_folder(program_folder()))
        if (name != "plyconv")
            files[name] = read_file(name);
    return files;
}

void expect_same_files(const FileBytes& actual, const FileBytes& expected) {
    for (const auto& [name, bytes] : expected) {
        SCOPED_TRACE(name);
        auto found = actual.find(name);
        if (found == actual.end()) {
            ADD_FAILURE() << "missing";
            continue;
        }
        const std::string& got = found->second;
        std::size_t offset = 0;
        while (offset < got.size() && offset < bytes.size() && got[offset] == bytes[offset])
            ++offset;
        EXPECT_TRUE(got == bytes) << got.size() << " bytes where " << bytes.size()
                                  << " were expected; the first difference is at " << offset;
    }
    for (const auto& entry : actual)
        EXPECT_EQ(expected.count(entry.first), 1u) << entry.first << " was not expected";
}

std::string repeated_text(const std::string& text, std::size_t count) {
    std::string all;
    all.reserve(text.size() * count);
    for (std::size_t i = 0; i < count; ++i)
        all += text;
    return all;
}

std::set<std::string> names_in_folder(const std::string& path) {
    std::set<std::string> names;
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr)
        return names;
    while (dirent* entry = ::readdir(folder)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.insert(name);
    }
    ::closedir(folder);
    return names;
}

namespace {

// In the child, before exec: the signals, limits and user that options ask for. Gives false
// when one of them cannot be had.
bool set_up_child(const ProcessOptions& options) {
    // Only stdin, stdout and stderr: whatever else this process holds open (ctest's own files,
    // the other children's pipes) would count against the child's limit of open files.
    ::close_range(3, ~0U, 0);
    reset_signals_as_from_a_shell();
    for (int signal_number : options.ignored_signals)
        ::signal(signal_number, SIG_IGN);
    for (const ResourceLimit& limit : options.limits) {
        const rlimit value = {static_cast<rlim_t>(limit.value), static_cast<rlim_t>(limit.value)};
        if (::setrlimit(limit.resource, &value) != 0)
            return false;
    }
    if (options.unprivileged && ::geteuid() == 0) {
        const uid_t user = options.unprivileged_user;
        if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0)
            return false;
    }
    return true;
}

} // namespace

void reset_signals_as_from_a_shell() {
    for (int signal_number = 1; signal_number < NSIG; ++signal_number)
        if (signal_number != SIGKILL && signal_number != SIGSTOP)
            ::signal(signal_number, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

void exec_program_as_from_a_shell(const std::string& program, const std::string& working_folder) {
    reset_signals_as_from_a_shell();
    if (::chdir(working_folder.c_str()) == 0)
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
}

ProcessResult run_process(const std::vector<std::string>& argv, const std::string& working_folder,
                          const ProcessOptions& options) {
    ProcessResult result;
    int key_pipe[2], output_pipe[2], error_pipe[2];
    if (::pipe(key_pipe) != 0 || ::pipe(output_pipe) != 0 || ::pipe(error_pipe) != 0) {
        std::perror("pipe");
        return result;
    }
    std::vector<std::string> arguments = argv;
    std::vector<std::string> environment = child_environment(options.extra_environment);
    std::vector<char*> argument_pointers = c_strings(arguments);
    std::vector<char*> environment_pointers = c_strings(environment);
    const std::string exec_failed = "cannot run " + argv[0] + "\n";
    const std::string setup_failed = "cannot set up the child of " + argv[0] + "\n";

    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(key_pipe[0], STDIN_FILENO);
        ::dup2(output_pipe[1], STDOUT_FILENO);
        ::dup2(error_pipe[1], STDERR_FILENO);
        for (int fd : {key_pipe[0], key_pipe[1], output_pipe[0], output_pipe[1], error_pipe[0],
                       error_pipe[1]})
            ::close(fd);
        if (!options.output_path.empty()) {
            const int output =
                ::open(options.output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (output < 0 || ::dup2(output, STDOUT_FILENO) < 0)
                ::_exit(126);
            ::close(output);
        }
        for (int fd : options.closed_descriptors)
            ::close(fd);
        if (::chdir(working_folder.c_str()) != 0)
            ::_exit(126);
        if (!set_up_child(options)) {
            (void)!::write(STDERR_FILENO, setup_failed.data(), setup_failed.size());
            ::_exit(125);
        }
        ::execvpe(argument_pointers[0], argument_pointers.data(), environment_pointers.data());
        (void)!::write(STDERR_FILENO, exec_failed.data(), exec_failed.size());
        ::_exit(127);
    }
    ::close(key_pipe[0]);
    ::close(output_pipe[1]);
    ::close(error_pipe[1]);

    // The keys go in while the output comes out, so that neither side can block the other.
    int key_fd = key_pipe[1];
    ::fcntl(key_fd, F_SETFL, O_NONBLOCK);
    std::string unwritten; // keys of the steps reached, not yet taken by the pipe
    std::size_t next_step = 0;
    int output_fd = output_pipe[0];
    int error_fd = error_pipe[0];
    const auto deadline = std::chrono::steady_clock::now() + process_time_limit;
    while (output_fd >= 0 || error_fd >= 0) {
        // Every step whose output has come is taken, in order.
        while (next_step < options.feed.size() &&
               result.output.find(options.feed[next_step].wait_for_output) != std::string::npos) {
            const FeedStep& step = options.feed[next_step++];
            if (step.signal != 0)
                ::kill(child, step.signal);
            unwritten += step.keys;
        }
        const bool fed = next_step == options.feed.size();
        if (key_fd >= 0 && fed && unwritten.empty()) {
            if (options.endless_keys.empty()) {
                ::close(key_fd); // the end of the keys
                key_fd = -1;
            } else {
                unwritten = options.endless_keys;
            }
        }

        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            ::kill(child, SIGKILL);
            break;
        }
        const int write_fd = key_fd >= 0 && !unwritten.empty() ? key_fd : -1;
        pollfd fds[3] = {{output_fd, POLLIN, 0}, {error_fd, POLLIN, 0}, {write_fd, POLLOUT, 0}};
        if (::poll(fds, 3, static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
        if (fds[2].revents != 0) {
            ssize_t written = ::write(key_fd, unwritten.data(), unwritten.size());
            if (written > 0)
                unwritten.erase(0, static_cast<std::size_t>(written));
            if (written < 0 && errno != EAGAIN && errno != EINTR) {
                ::close(key_fd); // the program has stopped reading its keys
                key_fd = -1;
            }
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0)
                continue;
            int& fd = i == 0 ? output_fd : error_fd;
            std::string& text = i == 0 ? result.output : result.errors;
            char buffer[4096];
            ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count > 0) {
                text.append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                ::close(fd);
                fd = -1;
            }
        }
    }
    for (int fd : {key_fd, output_fd, error_fd})
        if (fd >= 0)
            ::close(fd);

    // A child may close its stdout and stderr and still go on: the time limit holds until it
    // has ended.
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t ended = ::wait4(child, &status, result.timed_out ? 0 : WNOHANG, &usage);
        if (ended == child || (ended < 0 && errno != EINTR))
            break;
        if (ended != 0)
            continue;
        if (std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else {
            result.timed_out = true;
            ::kill(child, SIGKILL);
        }
    }
    result.peak_memory_kib = usage.ru_maxrss;
    if (result.timed_out)
        result.exit_code = -1;
    else if (WIFEXITED(status))
        result.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.exit_code = 128 + WTERMSIG(status);
    return result;
}

ProcessResult run_process(const std::vector<std::string>& argv, const std::string& keys,
                          const std::string& working_folder,
                          const std::vector<std::string>& extra_environment) {
    ProcessOptions options;
    options.feed = {{"", 0, keys}};
    options.extra_environment = extra_environment;
    return run_process(argv, working_folder, options);
}

ProcessResult run_in_pipe(const ProgramFolder& folder, const std::string& keys) {
    return run_process({folder.program_folder() + "/plyconv"}, keys, folder.elsewhere_folder());
}

ProcessResult run_in_pipe(const ProgramFolder& folder, const ProcessOptions& options) {
    return run_process({folder.program_folder() + "/plyconv"}, folder.elsewhere_folder(), options);
}
