#include "os/riff_file.h"

#include "os/fault.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct riff_file {
    int fd = -1;
    std::int64_t size = 0;
    std::vector<std::uint8_t> buffer;
    std::int64_t buffer_offset = 0; // file offset of buffer[0]
    std::uint32_t buffer_len = 0;   // valid bytes in the buffer
    std::uint32_t next = 0;         // index of the next byte; position = buffer_offset + next

    std::int64_t position() const { return buffer_offset + next; }

    void move_to(std::int64_t pos) {
        if (pos >= buffer_offset && pos <= buffer_offset + buffer_len) {
            next = static_cast<std::uint32_t>(pos - buffer_offset);
            return;
        }
        buffer_offset = pos;
        buffer_len = 0;
        next = 0;
    }

    // Refills the buffer from the current position. False on a read error.
    bool refill() {
        const std::int64_t pos = position();
        buffer_offset = pos;
        buffer_len = 0;
        next = 0;
        if (pos >= size)
            return true;
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()), size - pos));
        std::size_t got = 0;
        while (got < want) {
            const ssize_t n = pread(fd, buffer.data() + got, want - got, pos + got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return false;
            if (n == 0)
                break; // the file shrank under us: what we have is all there is
            got += static_cast<std::size_t>(n);
        }
        buffer_len = static_cast<std::uint32_t>(got);
        return true;
    }

    // Copies up to `count` bytes from the position on; the number copied, -1 on a read error.
    std::int64_t read(std::uint8_t* dest, std::int64_t count) {
        std::int64_t done = 0;
        while (done < count) {
            if (next == buffer_len) {
                if (!refill())
                    return -1;
                if (buffer_len == 0)
                    break;
            }
            const std::int64_t take = std::min<std::int64_t>(count - done, buffer_len - next);
            std::memcpy(dest + done, buffer.data() + next, static_cast<std::size_t>(take));
            next += static_cast<std::uint32_t>(take);
            done += take;
        }
        return done;
    }
};

std::mutex files_lock;
std::map<os::hmmio, std::unique_ptr<riff_file>> files;
os::hmmio last_handle = 0;

// The file behind a handle. A handle is used by one thread at a time; only the table is shared.
riff_file* find_file(os::hmmio handle) {
    std::lock_guard guard(files_lock);
    const auto found = files.find(handle);
    return found == files.end() ? nullptr : found->second.get();
}

std::uint32_t little_u32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void describe_buffer(riff_file& file, os::mmioinfo& info) {
    info.buffer = file.buffer.data();
    info.next = info.buffer + file.next;
    info.end_read = info.buffer + file.buffer_len;
    info.buffer_size = static_cast<std::uint32_t>(file.buffer.size());
    info.buffer_offset = file.buffer_offset;
}

bool injected(const char* call, int& result) {
    int code = 0;
    if (!os::detail::injected_fault(call, &code))
        return false;
    result = code;
    return true;
}

} // namespace

namespace os {

hmmio mmio_open(const char* filename, unsigned flags) {
    if (detail::injected_fault("mmio_open") || !filename)
        return 0;
    const int fd = ::open(filename, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return 0;
    }
    auto file = std::make_unique<riff_file>();
    file->fd = fd;
    file->size = info.st_size;
    // Without MMIO_ALLOCBUF reads still go through a small buffer: direct access needs one.
    file->buffer.resize((flags & MMIO_ALLOCBUF) ? MMIO_DEFAULTBUFFER : 512);
    std::lock_guard guard(files_lock);
    do
        ++last_handle;
    while (last_handle == 0 || files.count(last_handle));
    files[last_handle] = std::move(file);
    return last_handle;
}

int mmio_close(hmmio handle, unsigned) {
    int result = 0;
    if (injected("mmio_close", result))
        return result ? result : MMIOERR_CANNOTCLOSE;
    std::unique_ptr<riff_file> file;
    {
        std::lock_guard guard(files_lock);
        const auto found = files.find(handle);
        if (found == files.end())
            return MMSYSERR_INVALHANDLE;
        file = std::move(found->second);
        files.erase(found);
    }
    return ::close(file->fd) == 0 ? MMSYSERR_NOERROR : MMIOERR_CANNOTCLOSE;
}

std::int32_t mmio_read(hmmio handle, void* dest, std::int32_t size) {
    riff_file* file = find_file(handle);
    if (detail::injected_fault("mmio_read") || !file || size < 0 || (!dest && size > 0))
        return -1;
    return static_cast<std::int32_t>(file->read(static_cast<std::uint8_t*>(dest), size));
}

std::int32_t mmio_seek(hmmio handle, std::int32_t offset, int origin) {
    riff_file* file = find_file(handle);
    if (detail::injected_fault("mmio_seek") || !file)
        return -1;
    std::int64_t base = 0;
    switch (origin) {
    case SEEK_FROM_START:
        base = 0;
        break;
    case SEEK_FROM_CURRENT:
        base = file->position();
        break;
    case SEEK_FROM_END:
        base = file->size;
        break;
    default:
        return -1;
    }
    const std::int64_t target = base + offset;
    if (target < 0 || target > std::numeric_limits<std::int32_t>::max())
        return -1;
    file->move_to(target);
    return static_cast<std::int32_t>(target);
}

int mmio_descend(hmmio handle, mmckinfo& chunk, const mmckinfo* parent, unsigned flags) {
    int result = 0;
    if (injected("mmio_descend", result))
        return result ? result : MMIOERR_CHUNKNOTFOUND;
    riff_file* file = find_file(handle);
    if (!file)
        return MMSYSERR_INVALHANDLE;
    // 64-bit arithmetic throughout: sizes from the file may add up past 4 GB.
    std::int64_t limit = file->size;
    if (parent)
        limit = std::min<std::int64_t>(limit, std::int64_t{parent->data_offset} + parent->cksize);
    std::int64_t pos = file->position();
    // Every step moves on by at least 8 bytes, so a hostile file cannot make this loop forever.
    while (pos + 8 <= limit) {
        std::uint8_t header[12];
        file->move_to(pos);
        if (file->read(header, 8) != 8)
            return MMIOERR_CANNOTREAD;
        const fourcc id = little_u32(header);
        const std::uint32_t size = little_u32(header + 4);
        const std::int64_t data = pos + 8;
        const bool has_type = id == FOURCC_RIFF || id == FOURCC_LIST;
        fourcc type = 0;
        if (has_type) {
            if (size < 4 || data + 4 > limit)
                return MMIOERR_CHUNKNOTFOUND;
            if (file->read(header + 8, 4) != 4)
                return MMIOERR_CANNOTREAD;
            type = little_u32(header + 8);
        }
        bool match = true;
        if (flags & MMIO_FINDCHUNK)
            match = id == chunk.ckid;
        else if (flags & MMIO_FINDRIFF)
            match = id == FOURCC_RIFF && type == chunk.fcc_type;
        else if (flags & MMIO_FINDLIST)
            match = id == FOURCC_LIST && type == chunk.fcc_type;
        if (match) {
            if (data > std::numeric_limits<std::uint32_t>::max())
                return MMIOERR_CHUNKNOTFOUND;
            chunk.ckid = id;
            chunk.cksize = size;
            if (has_type)
                chunk.fcc_type = type;
            chunk.data_offset = static_cast<std::uint32_t>(data);
            chunk.flags = 0;
            file->move_to(data + (has_type ? 4 : 0));
            return MMSYSERR_NOERROR;
        }
        pos = data + size + (size & 1);
    }
    return MMIOERR_CHUNKNOTFOUND;
}

int mmio_ascend(hmmio handle, mmckinfo& chunk, unsigned) {
    int result = 0;
    if (injected("mmio_ascend", result))
        return result ? result : MMIOERR_CANNOTSEEK;
    riff_file* file = find_file(handle);
    if (!file)
        return MMSYSERR_INVALHANDLE;
    file->move_to(std::int64_t{chunk.data_offset} + chunk.cksize + (chunk.cksize & 1));
    return MMSYSERR_NOERROR;
}

int mmio_get_info(hmmio handle, mmioinfo& info, unsigned) {
    int result = 0;
    if (injected("mmio_get_info", result))
        return result ? result : MMSYSERR_INVALHANDLE;
    riff_file* file = find_file(handle);
    if (!file)
        return MMSYSERR_INVALHANDLE;
    describe_buffer(*file, info);
    return MMSYSERR_NOERROR;
}

namespace {

// The position that `info.next` stands for, or -1 when it does not point into the buffer.
std::int64_t position_of(const riff_file& file, const mmioinfo& info) {
    if (info.buffer != file.buffer.data() || info.next < info.buffer ||
        info.next > info.buffer + file.buffer_len)
        return -1;
    return file.buffer_offset + (info.next - info.buffer);
}

} // namespace

int mmio_set_info(hmmio handle, const mmioinfo& info, unsigned) {
    int result = 0;
    if (injected("mmio_set_info", result))
        return result ? result : MMSYSERR_INVALHANDLE;
    riff_file* file = find_file(handle);
    if (!file)
        return MMSYSERR_INVALHANDLE;
    const std::int64_t pos = position_of(*file, info);
    if (pos < 0)
        return MMSYSERR_INVALHANDLE;
    file->move_to(pos);
    return MMSYSERR_NOERROR;
}

int mmio_advance(hmmio handle, mmioinfo& info, unsigned) {
    int result = 0;
    if (injected("mmio_advance", result))
        return result ? result : MMIOERR_CANNOTREAD;
    riff_file* file = find_file(handle);
    if (!file)
        return MMSYSERR_INVALHANDLE;
    const std::int64_t pos = position_of(*file, info);
    if (pos < 0)
        return MMSYSERR_INVALHANDLE;
    file->move_to(pos);
    if (!file->refill())
        return MMIOERR_CANNOTREAD;
    describe_buffer(*file, info);
    return MMSYSERR_NOERROR;
}

} // namespace os
