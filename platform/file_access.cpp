// Files by name on POSIX: the table of open files, the three opens, byte-position reads through
// a block cache, buffered writes (full buffers through the background writer), text lines
// written and read back in place, deletion, and the errno of every refusal turned into its
// failure code.
#include "platform/file_access.h"

#include "platform/background_writer.h"
#include "platform/failure.h"
#include "platform/syscalls.h"

#include <fcntl.h>
#include <sys/stat.h>

// Every x86-64 processor has SSE2.
#include <emmintrin.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "file values are little-endian and are copied as they stand");

namespace {

// 64 KiB = one read call for about 3400 vertex records of a face file.
constexpr std::uint64_t block_size = 64 * 1024;
// 8 blocks = 512 KiB per reading slot: the record sequence, the vertex rows that the facets go
// back to, and room for a mesh whose faces jump about.
constexpr int block_count = 8;
// A caller may look at the 64 bytes after a line (TextLine), and a line may end at the end of
// the last block, so the blocks keep 64 bytes of room beyond it.
constexpr std::size_t block_room = 64;
constexpr int end_of_text = 26;
constexpr int carriage_return = 13;
constexpr int line_feed = 10;

} // namespace

// One block of the file as it was read, kept for the reads after it.
struct CacheBlock {
    std::uint64_t start = 0;    // 0-based offset of its first byte, a multiple of block_size
    std::uint64_t length = 0;   // bytes the file held there; fewer than block_size at its end
    std::uint64_t last_use = 0; // 0: the block holds nothing
    std::uint8_t* bytes = nullptr;
};

struct OpenFile {
    // Read blocks, allocated on the first read of the slot.
    std::unique_ptr<std::uint8_t[]> block_memory;
    CacheBlock blocks[block_count];
    std::uint64_t use_clock = 0;
    int recent_block = 0; // the block of the last read, tried first

    // Bytes written but not yet in the file, in write_buffer (allocated on the first write of
    // the slot); the slot points at pending.
    std::unique_ptr<std::uint8_t[]> write_buffer;
    PendingWrites pending;

    // The full buffer before them, handed to the background writer (flight_started), or what
    // that write left of it when it stopped short: flight.size bytes at flight.offset, which
    // reach the file before the pending ones. The two buffers change places at each hand-over.
    std::unique_ptr<std::uint8_t[]> flight_buffer;
    BackgroundWrite flight;
    bool flight_started = false;

    // The size of the file as the system last gave it; forgotten whenever bytes reach the file.
    bool size_known = false;
    std::uint64_t known_size = 0;

    // A line that the blocks do not hold whole is put together here, with room beyond it; the
    // line read before is set aside in the other, so that it stays while a read fails.
    std::vector<char> line;
    std::vector<char> line_before;
};

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

int fstat_retrying(int fd, struct stat* info) {
    int result;
    do
        result = g_syscalls.fstat(fd, info);
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

// How a refused or failed read reaches the user.
Failure read_refusal(int error) {
    if (error == EACCES || error == EPERM)
        return Failure::PermissionDenied;
    return Failure::PathFileAccessError;
}

// How a refused, failed or incomplete write reaches the user; error 0 is a write call that
// wrote nothing.
Failure write_refusal(int error) {
    if (error == EACCES || error == EPERM || error == EROFS)
        return Failure::PermissionDenied;
    return Failure::PathFileAccessError; // ENOSPC, EDQUOT, EFBIG, EIO, a write that stopped short
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

// Gives the 0-based offset of a 1-based position rounded to the nearest whole number, ties to
// even (std::nearbyint in the default rounding mode); false when that is below 1.
bool offset_of(double position, std::uint64_t& offset);

bool offset_of(double position, std::uint64_t& offset) {
    if (whole_offset(position, offset)) // the usual position
        return true;
    // NaN, the infinities and magnitudes of 2^63 or more are no 64-bit integer: below 1.
    if (!(std::fabs(position) < 0x1p63))
        return false;
    double whole = std::nearbyint(position);
    if (whole < 1.0)
        return false;
    offset = static_cast<std::uint64_t>(whole) - 1;
    return true;
}

// Bytes that are not in the file yet: pending, or handed to the background writer.
bool has_unwritten(const OpenFile& file) {
    return file.pending.size != 0 || file.flight.size != 0;
}

// Takes the outcome of the buffer handed to the background writer, waiting for it; bytes that
// an earlier write left of it are tried again. What does not reach the file stays, its code
// raised, as for a flush. True when no byte of it is left.
bool finish_flight(FileSlot& slot) {
    OpenFile& file = *slot.file;
    BackgroundWrite& flight = file.flight;
    if (flight.size == 0)
        return true;
    if (file.flight_started) {
        wait_for_background_write(flight);
        file.flight_started = false;
    } else {
        flight.error = 0;
        flight.written = write_fully(slot.fd, flight.offset, flight.data, flight.size, flight.error);
    }
    file.size_known = false;
    if (flight.written == flight.size) {
        flight.size = 0;
        return true;
    }
    std::memmove(file.flight_buffer.get(), file.flight_buffer.get() + flight.written,
                 flight.size - flight.written);
    flight.data = file.flight_buffer.get();
    flight.offset += flight.written;
    flight.size -= flight.written;
    raise_failure(write_refusal(flight.error));
    return false;
}

// The pending bytes fill the buffer: they go to the background writer once its write before
// is done, and the buffer it gave back takes the bytes after them. False, with the pending bytes
// kept, when bytes of the write before are left (the code raised).
bool hand_to_writer(FileSlot& slot) {
    OpenFile& file = *slot.file;
    if (!finish_flight(slot))
        return false;
    if (!file.flight_buffer)
        file.flight_buffer.reset(new std::uint8_t[write_buffer_size]);
    std::swap(file.write_buffer, file.flight_buffer);
    file.pending.bytes = file.write_buffer.get();
    file.flight.fd = slot.fd;
    file.flight.data = file.flight_buffer.get();
    file.flight.size = file.pending.size;
    file.flight.offset = file.pending.start;
    file.flight_started = true;
    start_background_write(file.flight);
    file.pending.start += file.pending.size;
    file.pending.size = 0;
    return true;
}

// Puts the pending bytes into the file. What does not reach it stays pending, its code raised,
// so that a refusal loses no byte of the earlier steps that wrote it: the next flush, or the
// close, tries those bytes again.
bool flush_writes(FileSlot& slot) {
    OpenFile& file = *slot.file;
    if (!finish_flight(slot))
        return false;
    if (file.pending.size == 0)
        return true;
    int error = 0;
    std::size_t written =
        write_fully(slot.fd, file.pending.start, file.write_buffer.get(), file.pending.size, error);
    file.size_known = false;
    if (written == file.pending.size) {
        file.pending.size = 0;
        return true;
    }
    std::memmove(file.write_buffer.get(), file.write_buffer.get() + written,
                 file.pending.size - written);
    file.pending.start += written;
    file.pending.size -= written;
    raise_failure(write_refusal(error));
    return false;
}

// Drops the read blocks that a write over [offset, offset + size) reaches.
void drop_blocks(OpenFile& file, std::uint64_t offset, std::size_t size) {
    for (CacheBlock& block : file.blocks)
        if (block.last_use != 0 && block.start < offset + size && offset < block.start + block_size)
            block.last_use = 0;
}

// Writes size bytes at offset: into the write buffer when they continue the pending bytes,
// else after those are flushed, so the writes land in the order made. False when a write
// failed (its code raised).
bool write_at(FileSlot& slot, std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    OpenFile& file = *slot.file;
    slot.window_length = 0; // a read must see this write
    if (size == 0)
        return true;
    if (file.block_memory)
        drop_blocks(file, offset, size);
    // The short path: the bytes continue the pending ones and fit beside them.
    if (file.pending.size != 0 && offset == file.pending.start + file.pending.size &&
        size <= write_buffer_size - file.pending.size) {
        std::memcpy(file.write_buffer.get() + file.pending.size, data, size);
        file.pending.size += size;
        return true;
    }
    const bool continues = offset == file.pending.start + file.pending.size;
    if (file.pending.size != 0 && continues && size < write_buffer_size) {
        // The bytes continue a full buffer.
        if (!hand_to_writer(slot))
            return false;
    } else if (!flush_writes(slot)) {
        return false;
    }
    if (size >= write_buffer_size) {
        int error = 0;
        std::size_t written = write_fully(slot.fd, offset, data, size, error);
        file.size_known = false;
        if (written == size)
            return true;
        if (slot.mode == FileMode::TextWriter)
            slot.position = offset + written;
        raise_failure(write_refusal(error));
        return false;
    }
    if (!file.write_buffer) {
        file.write_buffer.reset(new std::uint8_t[write_buffer_size]);
        file.pending.bytes = file.write_buffer.get();
    }
    if (file.pending.size == 0)
        file.pending.start = offset;
    std::memcpy(file.write_buffer.get() + file.pending.size, data, size);
    file.pending.size += size;
    return true;
}

// Reads the block that starts at start: block_size bytes, fewer where the file ends. On a
// failure raises its code and leaves the block empty.
bool fill_block(const FileSlot& slot, CacheBlock& block, std::uint64_t start) {
    block.last_use = 0;
    // The system refuses a read that would end past the largest offset; no file reaches there,
    // so those bytes are past its end.
    const std::uint64_t largest_end = std::numeric_limits<off_t>::max();
    const std::uint64_t wanted = std::min(block_size, largest_end - start);
    std::uint64_t length = 0;
    while (length < wanted) {
        ssize_t count = g_syscalls.pread(slot.fd, block.bytes + length, wanted - length,
                                         static_cast<off_t>(start + length));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            raise_failure(read_refusal(errno));
            return false;
        }
        if (count == 0)
            break; // the end of the file
        length += static_cast<std::uint64_t>(count);
    }
    block.start = start;
    block.length = length;
    return true;
}

// The read block that holds offset, read in over the least recently used one when no block
// holds it. Null when the read failed (its code raised).
CacheBlock* block_at(FileSlot& slot, std::uint64_t offset) {
    OpenFile& file = *slot.file;
    slot.window_length = 0; // the block read in may be the window's
    if (!file.block_memory) {
        file.block_memory.reset(new std::uint8_t[block_size * block_count + block_room]());
        file.pending.after_reads = true;
        for (int i = 0; i < block_count; ++i)
            file.blocks[i].bytes = file.block_memory.get() + i * block_size;
    }
    std::uint64_t start = offset - offset % block_size;
    int chosen = 0; // the block that holds start, else the least recently used one
    bool held = false;
    for (int i = 0; i < block_count && !held; ++i) {
        const CacheBlock& block = file.blocks[i];
        held = block.last_use != 0 && block.start == start;
        if (held || block.last_use < file.blocks[chosen].last_use)
            chosen = i;
    }
    CacheBlock& block = file.blocks[chosen];
    if (!held && !fill_block(slot, block, start))
        return nullptr;
    block.last_use = ++file.use_clock;
    file.recent_block = chosen;
    return &block;
}

bool holds_bytes(const CacheBlock& block, std::uint64_t offset, std::size_t size) {
    return block.last_use != 0 && offset >= block.start && offset - block.start + size <= block.length;
}

// The block that holds all size bytes at offset, taken as block_at takes it; null when no
// block holds them all. The block of the last read is tried first: the vertex passes and the
// text reader stay in one block for thousands of reads.
CacheBlock* block_holding(OpenFile& file, std::uint64_t offset, std::size_t size) {
    CacheBlock* block = &file.blocks[file.recent_block];
    if (!holds_bytes(*block, offset, size)) {
        // The facets go back to vertex rows in other blocks than the face records.
        int i = 0;
        while (i < block_count && !holds_bytes(file.blocks[i], offset, size))
            ++i;
        if (i == block_count)
            return nullptr;
        file.recent_block = i;
        block = &file.blocks[i];
    }
    block->last_use = ++file.use_clock;
    return block;
}

// Copies the size bytes at offset into out; those at or past the end of the file are 0.
bool read_cached(FileSlot& slot, std::uint64_t offset, std::uint8_t* out, std::size_t size) {
    if (const CacheBlock* block = block_holding(*slot.file, offset, size)) {
        std::memcpy(out, block->bytes + (offset - block->start), size);
        return true;
    }
    while (size > 0) {
        CacheBlock* block = block_at(slot, offset);
        if (!block)
            return false;
        std::uint64_t inside = offset - block->start;
        std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, block_size - inside));
        std::size_t present =
            inside < block->length
                ? static_cast<std::size_t>(std::min<std::uint64_t>(count, block->length - inside))
                : 0;
        std::memcpy(out, block->bytes + inside, present);
        std::memset(out + present, 0, count - present);
        out += count;
        offset += count;
        size -= count;
    }
    return true;
}

// The bytes of the file from offset on, as far as one read block holds them; count 0 where the
// file ends. False when the read failed (its code raised).
bool bytes_from(FileSlot& slot, std::uint64_t offset, const std::uint8_t*& data,
                std::size_t& count) {
    CacheBlock* block = block_at(slot, offset);
    if (!block)
        return false;
    std::uint64_t inside = offset - block->start;
    data = block->bytes + inside;
    count = inside < block->length ? static_cast<std::size_t>(block->length - inside) : 0;
    return true;
}

// Looks at the byte at offset without taking it: -1 where the file ends. False when the look
// failed (its code raised).
bool look_at(FileSlot& slot, std::uint64_t offset, int& byte) {
    const std::uint8_t* data = nullptr;
    std::size_t count = 0;
    if (!bytes_from(slot, offset, data, count))
        return false;
    byte = count > 0 ? data[0] : -1;
    return true;
}

// The bits of the 16 bytes at data that are CR, LF or 26.
unsigned line_end_bits(const std::uint8_t* data) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
    const __m128i ends = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(carriage_return)),
                     _mm_cmpeq_epi8(bytes, _mm_set1_epi8(line_feed))),
        _mm_cmpeq_epi8(bytes, _mm_set1_epi8(end_of_text)));
    return static_cast<unsigned>(_mm_movemask_epi8(ends));
}

// The short path of read_text_line: the line, its line end and the byte after them all lie in
// the block of the last read, so no read can fail and the file's end is not near. Takes the
// line as read_text_line does and gives true; false, with nothing changed, otherwise.
bool take_line_in_recent_block(FileSlot& slot, TextLine& line) {
    OpenFile& file = *slot.file;
    CacheBlock& block = file.blocks[file.recent_block];
    if (!holds_bytes(block, slot.position, 1))
        return false;
    const std::uint8_t* data = block.bytes + (slot.position - block.start);
    const std::size_t count = static_cast<std::size_t>(block.length - (slot.position - block.start));
    // The bytes past count are the block's room or the next block's: looked at, never taken.
    std::size_t taken = 0;
    for (;; taken += 16) {
        if (taken >= count)
            return false; // the line runs on into the next block
        if (const unsigned ends = line_end_bits(data + taken)) {
            taken += static_cast<std::size_t>(__builtin_ctz(ends));
            break;
        }
    }
    // A byte 26, or a line end past the block: the long path.
    if (taken >= count || data[taken] == end_of_text)
        return false;
    std::size_t next = taken + 1; // the byte after the line end
    if (next < count && data[next] == (data[taken] == carriage_return ? line_feed : carriage_return))
        ++next; // CR LF and LF CR are one line end
    if (next >= count)
        return false;
    line.chars = reinterpret_cast<const char*>(data);
    line.length = taken;
    slot.position += next;
    slot.end_mark = data[next] == end_of_text;
    block.last_use = ++file.use_clock;
    return true;
}

// Sets the line aside in line_before, unless it is there already: the long path may read
// other blocks over it, and a read that fails leaves the line as it was.
void set_line_aside(OpenFile& file, TextLine& line) {
    if (line.length == 0 || line.chars == file.line_before.data())
        return;
    file.line_before.resize(line.length + block_room);
    std::memcpy(file.line_before.data(), line.chars, line.length);
    line.chars = file.line_before.data();
}

bool holds_cached_byte(const OpenFile& file, std::uint64_t offset) {
    const CacheBlock& recent = file.blocks[file.recent_block];
    if (recent.last_use != 0 && offset >= recent.start && offset - recent.start < recent.length)
        return true;
    for (const CacheBlock& block : file.blocks)
        if (block.last_use != 0 && offset >= block.start && offset - block.start < block.length)
            return true;
    return false;
}

// The checks of a byte-position read or write, in the order of the failure table.
bool may_access_at(FileSlot& slot, double position, bool may, std::uint64_t& offset) {
    if (failure_pending())
        return false; // the step already failed; its check reports the first code
    Failure refusal = Failure::None;
    if (!slot.is_open)
        refusal = Failure::BadFileNameOrNumber;
    else if (slot.mode != FileMode::ByteAccess)
        refusal = Failure::BadFileMode;
    else if (!may)
        refusal = Failure::PathFileAccessError;
    else if (!offset_of(position, offset))
        refusal = Failure::BadRecordNumber;
    if (refusal != Failure::None)
        raise_failure(refusal);
    return refusal == Failure::None;
}

bool read_bytes_at(FileSlot& slot, double position, std::uint8_t* out, std::size_t size) {
    std::uint64_t offset = 0;
    if (!may_access_at(slot, position, slot.may_read, offset))
        return false;
    // A read sees the slot's own writes.
    if (has_unwritten(*slot.file) && !flush_writes(slot))
        return false;
    if (!read_cached(slot, offset, out, size))
        return false;
    slot.position = offset + size;
    return true;
}

void write_bytes_at(FileSlot& slot, double position, const std::uint8_t* data, std::size_t size) {
    std::uint64_t offset = 0;
    if (!may_access_at(slot, position, slot.may_write, offset))
        return;
    if (write_at(slot, offset, data, size))
        slot.position = offset + size;
}

// The short path of a read of one value (1 or 4 bytes) that the window did not answer: a slot
// that may be read, a whole position, nothing pending to write and a block that holds the whole
// value. Every other read takes read_bytes_at, whose checks then find what this one found.
bool read_value(FileSlot& slot, double position, std::uint8_t* out, std::size_t size) {
    std::uint64_t offset = 0;
    if (failure_pending() || !slot.is_open || slot.mode != FileMode::ByteAccess ||
        !slot.may_read || !whole_offset(position, offset) || has_unwritten(*slot.file))
        return read_bytes_at(slot, position, out, size);
    const CacheBlock* block = block_holding(*slot.file, offset, size);
    if (!block)
        return read_bytes_at(slot, position, out, size);
    std::memcpy(out, block->bytes + (offset - block->start), size);
    slot.position = offset + size;
    return true;
}

// A text writer appends at its position, which is the size of what it has written.
bool append_text(FileSlot& slot, std::string_view text) {
    if (!write_at(slot, slot.position, reinterpret_cast<const std::uint8_t*>(text.data()),
                  text.size()))
        return false;
    slot.position += text.size();
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

void write_value_at(FileSlot& slot, double position, const void* value, std::size_t size) {
    write_bytes_at(slot, position, static_cast<const std::uint8_t*>(value), size);
}

void read_value_at(FileSlot& slot, double position, void* value, std::size_t size) {
    // A read that fails keeps the value as it was, even when it got part of the bytes.
    std::uint8_t bytes[8];
    assert(size <= sizeof bytes);
    if (!read_value(slot, position, bytes, size))
        return;
    std::memcpy(value, bytes, size);
    // The block of this read becomes the window, while nothing waits to be written.
    const OpenFile& file = *slot.file;
    const CacheBlock& block = file.blocks[file.recent_block];
    if (!has_unwritten(file) && block.last_use != 0) {
        slot.window = block.bytes;
        slot.window_start = block.start;
        slot.window_length = block.length;
    }
}

void append_text_items(FileSlot& slot, std::initializer_list<std::string_view> texts,
                       EndLine end_line) {
    if (failure_pending())
        return; // the step already failed; its check reports the first code
    if (!slot.is_open) {
        raise_failure(Failure::BadFileNameOrNumber);
        return;
    }
    if (slot.mode != FileMode::TextWriter) {
        raise_failure(Failure::BadFileMode);
        return;
    }
    for (std::string_view text : texts)
        if (!append_text(slot, text))
            return; // nothing after the failing text is written, the line end included
    if (end_line == EndLine::Yes)
        append_text(slot, "\r\n");
}

void read_text_line(FileSlot& slot, TextLine& line) {
    if (failure_pending())
        return; // the step already failed; its check reports the first code
    if (!slot.is_open) {
        raise_failure(Failure::BadFileNameOrNumber);
        return;
    }
    if (slot.mode != FileMode::TextReader) {
        raise_failure(Failure::BadFileMode);
        return;
    }

    if (take_line_in_recent_block(slot, line))
        return;
    OpenFile& file = *slot.file;
    set_line_aside(file, line);

    // Step 1: nothing left to read. A byte 26 stays where it is.
    int byte = 0;
    if (!look_at(slot, slot.position, byte))
        return;
    if (byte < 0 || byte == end_of_text) {
        slot.end_mark = true;
        line = TextLine{};
        raise_failure(Failure::InputPastEndOfFile);
        return;
    }

    // Step 2: take bytes up to CR or LF (taken), a byte 26 (left) or the end of the file. A read
    // that fails here loses the bytes taken so far; the next line starts at the failing byte.
    std::size_t length = 0;
    int line_end = -1;
    for (;;) {
        const std::uint8_t* data = nullptr;
        std::size_t count = 0;
        if (!bytes_from(slot, slot.position, data, count))
            return;
        if (count == 0) {
            slot.end_mark = true; // a last line without a line end
            break;
        }
        std::size_t taken = 0;
        while (taken < count && data[taken] != carriage_return && data[taken] != line_feed &&
               data[taken] != end_of_text)
            ++taken;
        if (file.line.size() < length + taken + block_room)
            file.line.resize(length + taken + block_room);
        std::memcpy(file.line.data() + length, data, taken);
        length += taken;
        slot.position += taken;
        if (taken == count)
            continue; // the line goes on in the next block
        if (data[taken] == end_of_text) {
            slot.end_mark = true;
            break;
        }
        line_end = data[taken];
        slot.position += 1;
        break;
    }

    // Step 3: CR LF and LF CR are one line end; then a look at the byte after it. The line is
    // complete, so a look that fails still leaves it in the buffer.
    if (line_end >= 0) {
        int next = 0;
        bool looked = look_at(slot, slot.position, next);
        if (looked && next == (line_end == carriage_return ? line_feed : carriage_return)) {
            slot.position += 1;
            looked = look_at(slot, slot.position, next);
        }
        if (looked)
            slot.end_mark = next < 0 || next == end_of_text;
    }

    // Step 4: the whole line.
    line.chars = file.line.data();
    line.length = length;
}

bool at_end_of_file(FileSlot& slot) {
    if (failure_pending())
        return false; // the step already failed; its check reports the first code
    if (!slot.is_open) {
        raise_failure(Failure::BadFileNameOrNumber);
        return false;
    }
    if (slot.mode != FileMode::TextReader) {
        raise_failure(Failure::BadFileMode);
        return false;
    }
    if (slot.end_mark)
        return true;
    // A read block that holds the byte at position answers without asking the system.
    if (holds_cached_byte(*slot.file, slot.position))
        return false;
    struct stat info;
    if (fstat_retrying(slot.fd, &info) != 0) {
        raise_failure(read_refusal(errno));
        return false;
    }
    return slot.position >= static_cast<std::uint64_t>(info.st_size);
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
