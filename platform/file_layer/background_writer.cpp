// The background writer's thread and its queue.
#include "platform/file_layer/background_writer.h"

#include "platform/file_layer/syscalls.h"

#include <pthread.h>
#include <signal.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

struct Writer {
    std::mutex lock;
    std::condition_variable queued;
    std::condition_variable done;
    std::deque<BackgroundWrite*> queue;
    bool started = false;
    bool has_thread = false; // false when the system would give no thread: writes are made at once
};

// Never destroyed: the thread waits on it until the process ends.
Writer& writer() {
    static Writer* the_writer = new Writer;
    return *the_writer;
}

void write_loop() {
    Writer& w = writer();
    for (;;) {
        BackgroundWrite* write = nullptr;
        {
            std::unique_lock<std::mutex> hold(w.lock);
            w.queued.wait(hold, [&w] { return !w.queue.empty(); });
            write = w.queue.front();
            w.queue.pop_front();
        }
        int error = 0;
        const std::size_t written =
            pwrite_fully(write->fd, write->offset, write->data, write->size, error);
        {
            std::lock_guard<std::mutex> hold(w.lock);
            write->written = written;
            write->error = error;
            write->busy = false;
        }
        w.done.notify_all();
    }
}

// The end request and the fatal signals belong to the run and the terminal: the writer's
// thread starts with every signal blocked, so none is delivered to it. False when the system
// gives no thread.
bool start_thread() {
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    bool started = true;
    try {
        std::thread(write_loop).detach();
    } catch (const std::system_error&) {
        started = false;
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return started;
}

} // namespace

void start_background_write(BackgroundWrite& write) {
    Writer& w = writer();
    {
        std::lock_guard<std::mutex> hold(w.lock);
        if (!w.started) {
            w.has_thread = start_thread();
            w.started = true;
        }
        if (!w.has_thread) {
            write.error = 0;
            write.written =
                pwrite_fully(write.fd, write.offset, write.data, write.size, write.error);
            return;
        }
        write.busy = true;
        write.written = 0;
        write.error = 0;
        w.queue.push_back(&write);
    }
    w.queued.notify_one();
}

void wait_for_background_write(BackgroundWrite& write) {
    Writer& w = writer();
    std::unique_lock<std::mutex> hold(w.lock);
    w.done.wait(hold, [&write] { return !write.busy; });
}
