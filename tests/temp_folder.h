// A test's own temporary folder, and the files in it. Header only, so that the file layer's tests
// have it without linking the console.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

// Writes bytes as the whole file name, made or emptied first.
inline void make_file(const std::string& name, const std::string& bytes) {
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        std::perror(name.c_str());
        return;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            std::perror(name.c_str());
            break;
        }
        done += static_cast<std::size_t>(written);
    }
    ::close(fd);
}

// Every byte fd gives until its end or a failure.
inline std::string read_to_end(int fd) {
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

// The whole file; an empty text when it cannot be read.
inline std::string file_bytes(const std::string& name) {
    int fd = ::open(name.c_str(), O_RDONLY);
    if (fd < 0)
        return std::string();
    std::string bytes = read_to_end(fd);
    ::close(fd);
    return bytes;
}

// True when the name leads to something; a link is followed.
inline bool file_exists(const std::string& name) {
    struct stat info;
    return ::stat(name.c_str(), &info) == 0;
}

// A fresh folder of its own, removed with everything in it when the object goes. The working
// folder stays where it is: names of files in it are made with name().
class TempFolder {
public:
    TempFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/plyconv-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort(); // no test may fall back to the working tree
        }
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored; // a destructor must not throw; the next test has its own folder
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder's full path, without a trailing "/".
    const std::string& path() const { return path_; }
    // The full name of a file in the folder (an absolute name stands as it is).
    std::string name(const std::string& file) const {
        return !file.empty() && file[0] == '/' ? file : path_ + "/" + file;
    }

    // Names are relative to the folder, as for name().
    void write_file(const std::string& file, const std::string& bytes) const {
        make_file(name(file), bytes);
    }
    std::string read_file(const std::string& file) const { return file_bytes(name(file)); }
    bool file_exists(const std::string& file) const { return ::file_exists(name(file)); }

private:
    std::string path_;
};

// A TempFolder that is also the working folder while the object lives, for whole runs that name
// their files relative to it. On destruction the old working folder comes back before the
// folder is removed.
class TempWorkingFolder : public TempFolder {
public:
    TempWorkingFolder() {
        char buffer[4096];
        if (::getcwd(buffer, sizeof buffer) != nullptr)
            previous_folder_ = buffer;
        if (::chdir(path().c_str()) != 0) {
            std::perror("chdir");
            std::abort();
        }
    }
    ~TempWorkingFolder() {
        if (!previous_folder_.empty() && ::chdir(previous_folder_.c_str()) != 0)
            std::perror("chdir");
    }

private:
    std::string previous_folder_;
};
