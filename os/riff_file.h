// Buffered RIFF file I/O, read only: a file opened with a read buffer, chunk navigation
// (descend into a RIFF form or a chunk, ascend out of it), seek, read, and direct access to the
// read buffer so that a reader can copy bytes without a call per byte.
//
// Chunk sizes come from the file and are not trusted: navigation never reads outside the file or
// the parent chunk. A chunk found is handed out with its size as the file writes it, even one
// that runs past the end of the file: reads stop at the end of the file all the same, and the
// WAV reader plays the sound there is. The size of a chunk passed over only ends the search
// when it runs past the end: the chunks it would hide are not found.
#pragma once

#include "os/types.h"

#include <cstdint>

namespace os {

using hmmio = handle;
using fourcc = std::uint32_t;

constexpr fourcc make_fourcc(char a, char b, char c, char d) {
    return static_cast<std::uint8_t>(a) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(b)) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(d)) << 24;
}

constexpr fourcc FOURCC_RIFF = make_fourcc('R', 'I', 'F', 'F');
constexpr fourcc FOURCC_LIST = make_fourcc('L', 'I', 'S', 'T');

// Open flags (only reading exists).
constexpr unsigned MMIO_READ = 0x00000000;
constexpr unsigned MMIO_ALLOCBUF = 0x00010000;
// Descend flags.
constexpr unsigned MMIO_FINDCHUNK = 0x0010;
constexpr unsigned MMIO_FINDRIFF = 0x0020;
constexpr unsigned MMIO_FINDLIST = 0x0040;
// Size of the read buffer that MMIO_ALLOCBUF gives.
constexpr std::uint32_t MMIO_DEFAULTBUFFER = 8192;

// Results.
constexpr int MMSYSERR_NOERROR = 0;
constexpr int MMSYSERR_INVALHANDLE = 5;
constexpr int MMIOERR_CHUNKNOTFOUND = 265;
constexpr int MMIOERR_CANNOTREAD = 259;
constexpr int MMIOERR_CANNOTSEEK = 261;
constexpr int MMIOERR_CANNOTCLOSE = 260;

// Seek origins.
constexpr int SEEK_FROM_START = 0;
constexpr int SEEK_FROM_CURRENT = 1;
constexpr int SEEK_FROM_END = 2;

// A chunk as found by mmio_descend.
struct mmckinfo {
    fourcc ckid;
    std::uint32_t cksize;      // bytes of data (for RIFF and LIST, the form type included)
    fourcc fcc_type;           // form type of a RIFF or LIST chunk
    std::uint32_t data_offset; // file offset of the data (of the form type for RIFF and LIST)
    std::uint32_t flags;
};

// The state of the read buffer, for direct access: bytes are taken at `next` until it reaches
// `end_read`, then mmio_advance refills the buffer. Hand it back with mmio_set_info.
struct mmioinfo {
    std::uint8_t* buffer;
    std::uint8_t* next;
    std::uint8_t* end_read;
    std::uint32_t buffer_size;
    std::int64_t buffer_offset; // file offset of buffer[0]
};

// Opens `filename` for buffered reading; 0 on failure.
hmmio mmio_open(const char* filename, unsigned flags);
int mmio_close(hmmio file, unsigned flags);
// Bytes copied (fewer at the end of the file), -1 on error.
std::int32_t mmio_read(hmmio file, void* dest, std::int32_t size);
// The new file offset, -1 on error.
std::int32_t mmio_seek(hmmio file, std::int32_t offset, int origin);
// Searches from the current position (within `parent` when given) for the chunk that `chunk`
// names by id (MMIO_FINDCHUNK) or by form type (MMIO_FINDRIFF, MMIO_FINDLIST); without a find
// flag it takes the chunk at the current position. On success the position is its data (after
// the form type for RIFF and LIST).
int mmio_descend(hmmio file, mmckinfo& chunk, const mmckinfo* parent, unsigned flags);
// Moves to the end of the chunk, past its pad byte.
int mmio_ascend(hmmio file, mmckinfo& chunk, unsigned flags);
int mmio_get_info(hmmio file, mmioinfo& info, unsigned flags);
int mmio_set_info(hmmio file, const mmioinfo& info, unsigned flags);
// Takes `info.next` as the position, refills the buffer from there and updates `info`; at the
// end of the file the buffer comes back empty (next == end_read).
int mmio_advance(hmmio file, mmioinfo& info, unsigned flags);

} // namespace os
