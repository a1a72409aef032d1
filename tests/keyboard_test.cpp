// Tests of the keyboard thread on a pipe: what its queue keeps when the run takes no keys.
#include "platform/console/end_request.h"
#include "platform/console/keyboard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

// Waits for the end request, as a run's step checks would; false after a few seconds.
bool end_request_comes() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!end_requested()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace

TEST(Keyboard, CtrlCTypedAfterAFullQueueStillEndsTheRun) {
    // A user hammering keys during a conversion, then Ctrl+C: the reader at the terminal must go
    // on reading past the keys it has no room for, or the break would wait behind them.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    g_end_request = false;
    start_keyboard(fds[0], FrontEndMode::Terminal);
    const std::string typed = std::string(20000, 'a') + "\x03";
    ASSERT_EQ(::write(fds[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));

    EXPECT_TRUE(end_request_comes());

    stop_keyboard();
    ::close(fds[0]);
    ::close(fds[1]);
    g_end_request = false;
}

TEST(Keyboard, APipeOfMoreKeysThanTheQueueHoldsLosesNoneAndKeepsTheirOrder) {
    // 20,000 keys, five times the queue: the reader waits for room as the run takes them, and
    // the ring goes round many times.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    g_end_request = false;
    start_keyboard(fds[0], FrontEndMode::Pipe);
    std::string typed;
    for (int i = 0; i < 20000; ++i)
        typed += static_cast<char>('a' + i % 26);
    std::thread writer([&] {
        std::size_t written = 0;
        while (written < typed.size()) {
            ssize_t count = ::write(fds[1], typed.data() + written, typed.size() - written);
            if (count <= 0)
                break;
            written += static_cast<std::size_t>(count);
        }
        ::close(fds[1]);
    });

    // The reader fills the queue and waits before the first key is taken.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::string taken;
    Key key;
    KeyWait wait;
    while ((wait = wait_for_key(10000, key)) == KeyWait::Key)
        taken += static_cast<char>(key.code);
    writer.join();

    EXPECT_EQ(wait, KeyWait::EndOfKeys);
    EXPECT_EQ(taken, typed);
    stop_keyboard();
    ::close(fds[0]);
}
