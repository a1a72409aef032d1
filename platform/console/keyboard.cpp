// The keyboard thread and its queue of keys, which the run's thread waits on.
#include "platform/console/keyboard.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
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
// Bytes per read. A byte completes at most two keys at the terminal and one in pipe mode.
constexpr std::size_t read_size = 256;
constexpr std::size_t most_keys_per_read = 2 * read_size;
// A reader waiting for room is woken when the queue is down to half, not at every key taken.
constexpr std::size_t room_mark = queue_bound / 2;
static_assert(read_size <= room_mark, "a woken reader has room for a whole read of a pipe");

// A ring of fixed size, like every buffer of the keys' thread: once it runs it allocates nothing,
// so that a limit of memory cannot end it (and the program) with an exception.
struct KeyQueue {
    std::mutex mutex;
    std::condition_variable changed;
    std::condition_variable room; // the queue is down to room_mark, or the reader is to stop
    Key ring[queue_bound];
    std::size_t first = 0; // the oldest key's place in the ring
    std::size_t count = 0;
    bool ended = false;              // key_fd has ended; the keys before the end stay to be taken
    bool reader_waiting = false;     // the reader waits on room
    bool reader_holds_bytes = false; // read from key_fd and not queued yet
    bool stopping = false;           // stop_keyboard wants the reader gone
};

KeyQueue g_queue;

// The ring's own calls, with the lock held.
void push_key(const Key& key) {
    g_queue.ring[(g_queue.first + g_queue.count) % queue_bound] = key;
    ++g_queue.count;
}

Key take_key() {
    Key key = g_queue.ring[g_queue.first];
    g_queue.first = (g_queue.first + 1) % queue_bound;
    --g_queue.count;
    return key;
}

void drop_keys() {
    g_queue.first = 0;
    g_queue.count = 0;
}

std::thread g_reader;
int g_wake_pipe[2] = {-1, -1}; // a byte on it tells the reader to stop
int g_key_fd = -1;

// Queues the keys of one read; false when the reader is to stop instead.
//
// In pipe mode the keys are a script: none may be lost, so the reader waits until they fit,
// and the writer of stdin waits in turn. At the terminal the reader never waits: it must go on
// reading to see Ctrl+C and the terminal going away while the run converts, so keys past the
// bound are dropped, as a terminal drops what is typed into a full buffer.
bool queue_keys(const Key* keys, std::size_t key_count, FrontEndMode mode) {
    {
        std::unique_lock<std::mutex> lock(g_queue.mutex);
        g_queue.reader_holds_bytes = false;
        if (key_count == 0)
            return !g_queue.stopping;
        if (mode == FrontEndMode::Pipe) {
            while (g_queue.count + key_count > queue_bound && !g_queue.stopping) {
                g_queue.reader_waiting = true;
                g_queue.room.wait(lock);
            }
            g_queue.reader_waiting = false;
        }
        if (g_queue.stopping)
            return false;
        for (std::size_t i = 0; i < key_count; ++i) {
            if (keys[i].kind == KeyKind::Break)
                raise_end_request(); // decided: the break key ends the run as closing the window
                                     // does
            else if (g_queue.count < queue_bound)
                push_key(keys[i]);
        }
    }
    g_queue.changed.notify_all();
    return true;
}

// After a key is taken or the queue dropped, with the lock held: true when the reader waits and
// now has room.
bool reader_has_room() {
    if (!g_queue.reader_waiting || g_queue.count > room_mark)
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

// Queues the keys that finish_escape gives; false when the reader is to stop instead.
bool queue_finished_escape(KeyDecoder& decoder, FrontEndMode mode) {
    DecodedKeys finished = finish_escape(decoder);
    return queue_keys(finished.keys, static_cast<std::size_t>(finished.count), mode);
}

void read_keys(int key_fd, FrontEndMode mode, int wake_fd) {
    KeyDecoder decoder;
    decoder.mode = mode;
    std::uint8_t buffer[read_size];
    Key keys[most_keys_per_read];
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
        if (ready == 0) {
            if (!queue_finished_escape(decoder, mode))
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
        std::size_t key_count = 0;
        for (ssize_t i = 0; i < count; ++i) {
            DecodedKeys decoded = decode_key_byte(decoder, buffer[i]);
            for (int k = 0; k < decoded.count; ++k)
                keys[key_count++] = decoded.keys[k];
        }
        // A read that ends in CR, with nothing more to read: a LF typed after it is an Enter.
        if (decoder.last_was_cr && !byte_waiting(key_fd))
            no_byte_waiting(decoder);
        if (!queue_keys(keys, key_count, mode))
            return; // the session is over
    }
    // The keys have ended, or reading them failed: both are the end of the keys.
    if (!queue_finished_escape(decoder, mode))
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
        drop_keys();
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
    } catch (const std::bad_alloc&) {
        end_keys(); // the thread's own record could not be had
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
    drop_keys();
    g_queue.reader_holds_bytes = false;
    g_queue.stopping = false; // ready for the next session's reader
}

KeyWait wait_for_key(int timeout_milliseconds, Key& key) {
    std::unique_lock<std::mutex> lock(g_queue.mutex);
    g_queue.changed.wait_for(lock, std::chrono::milliseconds(timeout_milliseconds),
                             [] { return g_queue.count != 0 || g_queue.ended; });
    if (g_queue.count != 0) {
        key = take_key();
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
    return unread || g_queue.reader_holds_bytes || g_queue.count != 0;
}

void drop_waiting_keys() {
    // Bytes typed but not read yet go too (nothing happens when key_fd is not a terminal).
    ::tcflush(g_key_fd, TCIFLUSH);
    std::unique_lock<std::mutex> lock(g_queue.mutex);
    drop_keys();
    if (reader_has_room()) {
        lock.unlock();
        g_queue.room.notify_one();
    }
}
