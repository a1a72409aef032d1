// The four refusal tables of the file layer, each read top to bottom.
#include "platform/file_layer/refusals.h"

#include "platform/file_layer/syscalls.h"

#include <sys/stat.h>

#include <cerrno>

namespace {

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

} // namespace

Failure open_refusal(int error, const std::string& name) {
    if ((error == ENOENT || error == ENOTDIR) && folder_missing(name))
        return Failure::PathNotFound;
    if (error == EACCES || error == EPERM || error == EROFS)
        return Failure::PermissionDenied;
    if (error == ETXTBSY || error == EBUSY) // in use by a running program or held exclusively
        return Failure::PermissionDenied;
    if (error == ENXIO || error == ENODEV) // ENXIO: a FIFO that nothing reads, among others
        return Failure::DeviceUnavailable;
    if (error == EWOULDBLOCK) // under another program's lease, which an open never waits for
        return Failure::FileAlreadyOpen;
    // A missing file, a folder, too many open files, EIO, ENAMETOOLONG, ELOOP, ENOSPC, ...
    return Failure::FileNotFound;
}

// A folder is refused before the unlink; one that took the name's place in between gives
// EISDIR.
Failure delete_refusal(int error) {
    if (error == ENOENT || error == ENOTDIR || error == EISDIR)
        return Failure::FileNotFound;
    if (error == EACCES || error == EPERM || error == EROFS || error == EBUSY)
        return Failure::FileAlreadyOpen;
    return Failure::FileNotFound;
}

Failure read_refusal(int error) {
    if (error == EACCES || error == EPERM)
        return Failure::PermissionDenied;
    return Failure::PathFileAccessError;
}

Failure write_refusal(int error) {
    if (error == EACCES || error == EPERM || error == EROFS)
        return Failure::PermissionDenied;
    return Failure::PathFileAccessError; // ENOSPC, EDQUOT, EFBIG, EIO, a write that stopped short
}
