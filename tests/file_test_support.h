// What the file layer's tests share: a fresh temporary folder, the bytes of files and values, and
// a fixture that closes every file after each test.
#pragma once

#include "platform/file_layer/failure.h"
#include "platform/file_layer/file_access.h"
#include "tests/byte_values.h"
#include "tests/temp_folder.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

// Bytes 0, 1, 2, ... 250, 0, 1, ...: a byte's value tells its offset, and no block repeats the
// one before it at the same place.
inline std::string pattern_bytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

inline int open_fd_count() {
    int count = 0;
    DIR* folder = opendir("/proc/self/fd");
    while (dirent* entry = readdir(folder))
        count += entry->d_name[0] != '.';
    closedir(folder);
    return count;
}

// The pending code, cleared as the answer Yes does.
inline int take_code() {
    int code = pending_failure_code();
    clear_failure();
    return code;
}

inline std::string text_of(const TextLine& line) {
    return line.length == 0 ? std::string() : std::string(line.chars, line.length);
}

class FileLayerTest : public ::testing::Test {
protected:
    void SetUp() override { clear_failure(); }
    void TearDown() override {
        close_all_files();
        clear_failure();
    }
    TempFolder folder;
};
