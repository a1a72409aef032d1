// The table of open files: the three opens and their shared helper, the closes, deletion, the
// size of an open file, and the errno of a refused open or deletion turned into its failure code.
#include "platform/file_table.h"

#include "platform/block_cache.h"
#include "platform/failure.h"
#include "platform/file_access.h"
#include "platform/file_buffers.h"
#include "platform/syscalls.h"
#include "platform/write_buffer.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <memory>
#include <vector>

int fstat_retrying(int fd, struct stat* info) {
    int result;
    do
        result = g_syscalls.fstat(fd, info);
    while (result != 0 && errno == EINTR);
    return result;
}

namespace {

// The table of open files. A slot is open exactly while it has an entry here, and the entry
// holds its buffers: so close_all_files reaches every open slot, whoever owns it.
class OpenFileTable {
public:
    void enter(FileSlot& slot, int fd, FileMode mode, bool may_read, bool may_write) {
        assert(!slot.is_open);
        entries_.push_back({&slot, std::make_unique<OpenFile>()});
        slot.is_open = true;
        slot.mode = mode;
        slot.may_read = may_read;
        slot.may_write = may_write;
        slot.position = 0;
        slot.end_mark = false;
        slot.fd = fd;
        slot.file = entries_.back().file.get();
        slot.pending = &slot.file->pending;
        slot.window_length = 0;
    }

    void release(FileSlot& slot) {
        auto entry = std::find_if(entries_.begin(), entries_.end(),
                                  [&slot](const Entry& e) { return e.slot == &slot; });
        assert(entry != entries_.end());
        entries_.erase(entry);
        slot.is_open = false;
        slot.may_read = false;
        slot.may_write = false;
        slot.fd = -1;
        slot.file = nullptr;
        slot.pending = nullptr;
        slot.window_length = 0;
    }

    FileSlot* any_open_slot() const { return entries_.empty() ? nullptr : entries_.back().slot; }

private:
    struct Entry {
        FileSlot* slot;
        std::unique_ptr<OpenFile> file;
    };
    std::vector<Entry> entries_;
};

OpenFileTable& open_files() {
    // Never destroyed, so that a slot of static lifetime can still close through it at exit.
    static OpenFileTable* table = new OpenFileTable;
    return *table;
}

int stat_retrying(const char* path, struct stat* info) {
    int result;
    do
        result = g_syscalls.stat(path, info);
    while (result != 0 && errno == EINTR);
    return result;
}

bool is_folder(const std::string& name) {
    struct stat info;
    return stat_retrying(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Whether the folder part of name is missing. A missing folder and a missing file both give
// ENOENT, so only a look at the folder tells them apart.
bool folder_missing(const std::string& name) {
    std::size_t slash = name.rfind('/');
    if (slash == std::string::npos)
        return false; // the working folder
    std::string folder = slash == 0 ? std::string("/") : name.substr(0, slash);
    struct stat info;
    if (stat_retrying(folder.c_str(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR;
    return !S_ISDIR(info.st_mode);
}

// How an open's refusal reaches the user, read top to bottom.
Failure open_refusal(int error, const std::string& name) {
    if ((error == ENOENT || error == ENOTDIR) && folder_missing(name))
        return Failure::PathNotFound;
    if (error == EACCES || error == EPERM || error == EROFS)
        return Failure::PermissionDenied;
    if (error == ETXTBSY || error == EBUSY) // in use by a running program or held exclusively
        return Failure::PermissionDenied;
    if (error == ENXIO || error == ENODEV)
        return Failure::DeviceUnavailable;
    // A missing file, a folder, too many open files, EIO, ENAMETOOLONG, ELOOP, ENOSPC, ...
    return Failure::FileNotFound;
}

// How a refused deletion reaches the user, read top to bottom.
Failure delete_refusal(int error, const std::string& name) {
    if (error == ENOENT || error == ENOTDIR)
        return Failure::FileNotFound;
    if (error == EISDIR || (error == EPERM && is_folder(name))) // Linux says EISDIR, POSIX EPERM
        return Failure::FileNotFound;
    if (error == EACCES || error == EPERM || error == EROFS || error == EBUSY)
        return Failure::FileAlreadyOpen;
    return Failure::FileNotFound;
}

// An empty name names no file, and the system would cut a name at a zero byte and so reach
// another file.
bool name_can_exist(const std::string& name) {
    return !name.empty() && name.find('\0') == std::string::npos;
}

// Opens name; a folder is refused as a file would be (EISDIR). Gives the fd, or -1 with the
// errno of the refusal in error.
int open_named(const std::string& name, int flags, int& error) {
    int fd;
    do
        fd = g_syscalls.open(name.c_str(), flags | O_CLOEXEC | O_NOCTTY, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    // Only a read-only open reaches a folder; its reads would all fail.
    struct stat info;
    int looked = fstat_retrying(fd, &info);
    if (looked != 0 || S_ISDIR(info.st_mode)) {
        error = looked != 0 ? errno : EISDIR;
        g_syscalls.close(fd);
        return -1;
    }
    return fd;
}

// The checks that every open makes first, in the order of the failure table.
bool may_open(const FileSlot& slot, const std::string& name) {
    if (failure_pending())
        return false; // the step already failed; its check reports the first code
    if (slot.is_open) {
        raise_failure(Failure::FileAlreadyOpen);
        return false;
    }
    if (!name_can_exist(name)) {
        raise_failure(Failure::FileNotFound);
        return false;
    }
    return true;
}

// Flushes and releases an open slot, whatever is pending.
void release_slot(FileSlot& slot) {
    // A refused flush is tried once more before the bytes are let go with the file.
    if (!flush_writes(slot))
        flush_writes(slot);
    // Some file systems (NFS) report a lost write only here. EINTR is not retried: Linux has
    // released the fd already.
    if (g_syscalls.close(slot.fd) != 0 && errno != EINTR)
        raise_failure(write_refusal(errno));
    open_files().release(slot);
}

} // namespace

FileSlot::~FileSlot() {
    // The table must not keep a slot that is gone.
    if (is_open)
        release_slot(*this);
}

void open_byte_file(FileSlot& slot, const std::string& name, EmptyFirst empty_first) {
    if (!may_open(slot, name))
        return;
    int error = 0;
    if (empty_first == EmptyFirst::Yes) {
        int fd = open_named(name, O_WRONLY | O_CREAT | O_TRUNC, error);
        if (fd < 0)
            raise_failure(open_refusal(error, name));
        else
            open_files().enter(slot, fd, FileMode::ByteAccess, false, true);
        return;
    }
    // Reading and writing where allowed, else reading only, else writing only; a missing file
    // is created and an existing one never emptied.
    struct Attempt {
        int flags;
        bool may_read;
        bool may_write;
    };
    const Attempt attempts[] = {
        {O_RDWR | O_CREAT, true, true}, {O_RDONLY, true, false}, {O_WRONLY | O_CREAT, false, true}};
    for (const Attempt& attempt : attempts) {
        int fd = open_named(name, attempt.flags, error);
        if (fd >= 0) {
            open_files().enter(slot, fd, FileMode::ByteAccess, attempt.may_read, attempt.may_write);
            return;
        }
    }
    raise_failure(open_refusal(error, name)); // the code of the last refusal
}

void open_text_writer(FileSlot& slot, const std::string& name) {
    if (!may_open(slot, name))
        return;
    int error = 0;
    int fd = open_named(name, O_WRONLY | O_CREAT | O_TRUNC, error);
    if (fd < 0)
        raise_failure(open_refusal(error, name));
    else
        open_files().enter(slot, fd, FileMode::TextWriter, false, true);
}

void open_text_reader(FileSlot& slot, const std::string& name) {
    if (!may_open(slot, name))
        return;
    int error = 0;
    int fd = open_named(name, O_RDONLY, error);
    if (fd < 0) {
        raise_failure(open_refusal(error, name));
        return;
    }
    open_files().enter(slot, fd, FileMode::TextReader, true, false);
    // A failed look raises 70 or 75 and leaves the slot open all the same.
    int first = 0;
    if (look_at(slot, 0, first))
        slot.end_mark = first == end_of_text;
}

void close_file(FileSlot& slot) {
    if (failure_pending())
        return; // the step already failed; its check reports the first code
    if (slot.is_open)
        release_slot(slot);
}

void close_all_files() {
    // Even while a failure is pending: this is the buffered bytes' last way into their files.
    while (FileSlot* slot = open_files().any_open_slot())
        release_slot(*slot);
}

void delete_file(const std::string& name) {
    if (failure_pending())
        return; // the step already failed; its check reports the first code
    if (!name_can_exist(name)) {
        raise_failure(Failure::FileNotFound);
        return;
    }
    int result;
    do
        result = g_syscalls.unlink(name.c_str());
    while (result != 0 && errno == EINTR);
    if (result != 0)
        raise_failure(delete_refusal(errno, name));
}

std::uint64_t file_size(FileSlot& slot) {
    if (!slot.is_open)
        return 0;
    OpenFile& file = *slot.file;
    if (!file.size_known) {
        struct stat info;
        if (fstat_retrying(slot.fd, &info) == 0) {
            file.size_known = true;
            file.known_size = static_cast<std::uint64_t>(info.st_size);
        }
    }
    // When the system cannot tell, the buffered writes still bound what the slot has written.
    std::uint64_t size = file.size_known ? file.known_size : 0;
    if (file.flight.size != 0)
        size = std::max<std::uint64_t>(size, file.flight.offset + file.flight.size);
    if (file.pending.size != 0)
        size = std::max<std::uint64_t>(size, file.pending.start + file.pending.size);
    return size;
}
