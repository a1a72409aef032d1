// The keyboard thread and its queue of keys, which the run's thread waits on.
#include "platform/console/keyboard.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/console/end_request.h"

namespace {

// A cursor key's bytes arrive together; an ESC with nothing after it for this long was typed alone.
constexpr int lone_escape_milliseconds = 50;

// The keys read and not yet taken. The run takes none while it converts, and stdin may be
// yes(1) or a file of any size, so the queue is bounded: 4096 keys (8 KiB) is as much as a
// terminal's own input buffer holds, and far more than the 255 characters of an answer.
constexpr std::size_t queue_bound = 4096;
constexpr std::size_t read_size = 256; // bytes per read, so at most 256 keys come at once
// A reader waiting for room is woken when the queue is down to half, not at every key taken.
constexpr std::size_t room_mark = queue_bound / 2;
static_assert(read_size <= room_mark, "a woken reader has room for a whole read");

struct KeyQueue {
    std::mutex mutex;
    std::condition_variable changed;
    std::condition_variable room; // the queue is down to room_mark, or the reader is to stop
    std::deque<Key> keys;
    bool ended = false;              // key_fd has ended; the keys before the end stay to be taken
    bool reader_waiting = false;     // the reader waits on room
    bool reader_holds_bytes = false; // read from key_fd and not queued yet
    bool stopping = false;           // stop_keyboard wants the reader gone
};

KeyQueue g_queue;
std::thread g_reader;
int g_wake_pipe[2] = {-1, -1}; // a byte on it tells the reader to stop
int g_key_fd = -1;

// Queues the keys of one read; false when the reader is to stop instead.
//
// In pipe mode the keys are a script: none may be lost, so the reader waits until they fit,
// and the writer of stdin waits in turn. At the terminal the reader never waits: it must go on
// reading to see Ctrl+C and the terminal going away while the run converts, so keys past the
// bound are dropped, as a terminal drops what is typed into a full buffer.
bool queue_keys(const std::vector<Key>& keys, FrontEndMode mode) {
    {
        std::unique_lock<std::mutex> lock(g_queue.mutex);
        g_queue.reader_holds_bytes = false;
        if (keys.empty())
            return !g_queue.stopping;
        if (mode == FrontEndMode::Pipe) {
            while (g_queue.keys.size() + keys.size() > queue_bound && !g_queue.stopping) {
                g_queue.reader_waiting = true;
                g_queue.room.wait(lock);
            }
            g_queue.reader_waiting = false;
        }
        if (g_queue.stopping)
            return false;
        for (const Key& key : keys) {
            if (key.kind == KeyKind::Break)
                raise_end_request(); // decided: the break key ends the run as closing the window
                                     // does
            else if (g_queue.keys.size() < queue_bound)
                g_queue.keys.push_back(key);
        }
    }
    g_queue.changed.notify_all();
    return true;
}

// After a key is taken or the queue dropped, with the lock held: true when the reader waits and
// now has room.
bool reader_has_room() {
    if (!g_queue.reader_waiting || g_queue.keys.size() > room_mark)
        return false;
    g_queue.reader_waiting = false;
    return true;
}

bool byte_waiting(int fd) {
    pollfd waiting = {fd, POLLIN, 0};
    return ::poll(&waiting, 1, 0) > 0 && (waiting.revents & POLLIN) != 0;
}

void hold_bytes(bool held) {
    std::lock_guard<std::mutex> lock(g_queue.mutex);
    g_queue.reader_holds_bytes = held;
}

void end_keys() {
    {
        std::lock_guard<std::mutex> lock(g_queue.mutex);
        g_queue.ended = true;
    }
    g_queue.changed.notify_all();
}

void read_keys(int key_fd, FrontEndMode mode, int wake_fd) {
    KeyDecoder decoder;
    decoder.mode = mode;
    std::vector<Key> keys;
    std::uint8_t buffer[read_size];
    for (;;) {
        pollfd fds[2] = {{key_fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
        int timeout = escape_pending(decoder) ? lone_escape_milliseconds : -1;
        int ready = ::poll(fds, 2, timeout);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            break;
        if (fds[1].revents != 0)
            return; // the session is over
        keys.clear();
        if (ready == 0) {
            finish_escape(decoder, keys);
            if (!queue_keys(keys, mode))
                return;
            continue;
        }
        // Held from before the bytes leave key_fd, so that key_waiting sees them in one place
        // or the other.
        hold_bytes(true);
        ssize_t count = ::read(key_fd, buffer, sizeof buffer);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
            hold_bytes(false);
            continue;
        }
        if (count <= 0)
            break;
        for (ssize_t i = 0; i < count; ++i)
            decode_key_byte(decoder, buffer[i], keys);
        // A read that ends in CR, with nothing more to read: a LF typed after it is an Enter.
        if (decoder.last_was_cr && !byte_waiting(key_fd))
            no_byte_waiting(decoder);
        if (!queue_keys(keys, mode))
            return; // the session is over
    }
    // The keys have ended, or reading them failed: both are the end of the keys.
    keys.clear();
    finish_escape(decoder, keys);
    if (!queue_keys(keys, mode))
        return;
    if (mode == FrontEndMode::Terminal)
        raise_end_request(); // the terminal is gone
    end_keys();
}

} // namespace

bool start_keyboard(int key_fd, FrontEndMode mode) {
    g_key_fd = key_fd;
    {
        std::lock_guard<std::mutex> lock(g_queue.mutex);
        g_queue.keys.clear();
        g_queue.ended = false;
    }
    if (::pipe(g_wake_pipe) != 0) {
        // Without the wake-up pipe the reader could not be stopped: there is no run then.
        end_keys();
        return false;
    }
    try {
        g_reader = std::thread(read_keys, key_fd, mode, g_wake_pipe[0]);
    } catch (const std::system_error&) {
        // Nothing would read the keys; stop_keyboard still closes the wake-up pipe.
        end_keys();
        return false;
    }
    return true;
}

void stop_keyboard() {
    if (g_reader.joinable()) {
        // The reader waits either in poll, for a key or the wake-up byte, or for room.
        {
            std::lock_guard<std::mutex> lock(g_queue.mutex);
            g_queue.stopping = true;
        }
        g_queue.room.notify_all();
        std::uint8_t stop = 0;
        while (::write(g_wake_pipe[1], &stop, 1) < 0 && errno == EINTR) {
        }
        g_reader.join();
    }
    for (int& fd : g_wake_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    std::lock_guard<std::mutex> lock(g_queue.mutex);
    g_queue.keys.clear();
    g_queue.reader_holds_bytes = false;
    g_queue.stopping = false; // ready for the next session's reader
}

KeyWait wait_for_key(int timeout_milliseconds, Key& key) {
    std::unique_lock<std::mutex> lock(g_queue.mutex);
    g_queue.changed.wait_for(lock, std::chrono::milliseconds(timeout_milliseconds),
                             [] { return !g_queue.keys.empty() || g_queue.ended; });
    if (!g_queue.keys.empty()) {
        key = g_queue.keys.front();
        g_queue.keys.pop_front();
        if (reader_has_room()) {
            lock.unlock();
            g_queue.room.notify_one();
        }
        return KeyWait::Key;
    }
    return g_queue.ended ? KeyWait::EndOfKeys : KeyWait::Timeout;
}

bool key_waiting() {
    // key_fd first: bytes that the reader takes from it after this look are marked held before
    // they leave it.
    bool unread = byte_waiting(g_key_fd);
    std::lock_guard<std::mutex> lock(g_queue.mutex);
    return unread || g_queue.reader_holds_bytes || !g_queue.keys.empty();
}

void drop_waiting_keys() {
    // Bytes typed but not read yet go too (nothing happens when key_fd is not a terminal).
    ::tcflush(g_key_fd, TCIFLUSH);
    std::unique_lock<std::mutex> lock(g_queue.mutex);
    g_queue.keys.clear();
    if (reader_has_room()) {
        lock.unlock();
        g_queue.room.notify_one();
    }
}
