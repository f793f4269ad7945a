#include "sound/wavefile.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr os::fourcc wave_type = os::make_fourcc('W', 'A', 'V', 'E');
constexpr os::fourcc fmt_id = os::make_fourcc('f', 'm', 't', ' ');
constexpr os::fourcc data_id = os::make_fourcc('d', 'a', 't', 'a');
// A PCM format without its extra-size field; anything shorter cannot describe a sound.
constexpr std::uint32_t pcm_format_bytes = 16;
// The largest format there can be: the 18-byte header and an extra size at its limit. A bigger
// "fmt " chunk is a broken file, and allocating for it would only let it ask for gigabytes.
constexpr std::uint32_t largest_format_bytes = sizeof(os::waveformatex) + 0xFFFF;

} // namespace

int cwavefile::open(const char* filename) {
    close(); // whatever an earlier open left
    if (open_wave(filename))
        return 1;
    close(); // a refused file is not held, nor its format
    return 0;
}

int cwavefile::open_wave(const char* filename) {
    hmmio = os::mmio_open(filename, os::MMIO_READ | os::MMIO_ALLOCBUF);
    if (!hmmio)
        return 0;
    riff.fcc_type = wave_type;
    if (os::mmio_descend(hmmio, riff, nullptr, os::MMIO_FINDRIFF) != os::MMSYSERR_NOERROR)
        return 0;
    os::mmckinfo fmt{};
    fmt.ckid = fmt_id;
    if (os::mmio_descend(hmmio, fmt, &riff, os::MMIO_FINDCHUNK) != os::MMSYSERR_NOERROR)
        return 0;
    if (fmt.cksize < pcm_format_bytes || fmt.cksize > largest_format_bytes)
        return 0;
    const std::uint32_t bytes = std::max<std::uint32_t>(sizeof(os::waveformatex), fmt.cksize);
    format_block.reset(new (std::nothrow) std::uint8_t[bytes]());
    if (!format_block)
        return 0;
    if (os::mmio_read(hmmio, format_block.get(), static_cast<std::int32_t>(fmt.cksize)) !=
        static_cast<std::int32_t>(fmt.cksize))
        return 0;
    os::mmio_ascend(hmmio, fmt, 0);
    data.ckid = data_id;
    if (os::mmio_descend(hmmio, data, &riff, os::MMIO_FINDCHUNK) != os::MMSYSERR_NOERROR)
        return 0;
    return format()->format_tag == os::WAVE_FORMAT_PCM;
}

int cwavefile::reset() {
    // Straight back to the "data" chunk that open() found: another may come before "fmt ".
    const std::int64_t header = std::int64_t{data.data_offset} - 8;
    if (header < 0 ||
        os::mmio_seek(hmmio, static_cast<std::int32_t>(header), os::SEEK_FROM_START) != header)
        return 0;
    return os::mmio_descend(hmmio, data, &riff, os::MMIO_FINDCHUNK) == os::MMSYSERR_NOERROR;
}

int cwavefile::read(std::uint32_t size, std::uint8_t* dest, std::uint32_t& got) {
    got = 0;
    os::mmioinfo info{};
    if (os::mmio_get_info(hmmio, info, 0) != os::MMSYSERR_NOERROR)
        return 0;
    const std::uint32_t n = std::min(size, data.cksize);
    data.cksize -= n;
    std::uint32_t copied = 0;
    while (copied < n) {
        if (info.next == info.end_read) {
            if (os::mmio_advance(hmmio, info, os::MMIO_READ) != os::MMSYSERR_NOERROR)
                return 0;
            if (info.next == info.end_read)
                break; // the file ends before its "data" chunk does
        }
        // Whole runs of the read buffer at a time rather than byte by byte: the same bytes.
        const std::uint32_t run = std::min<std::uint32_t>(
            n - copied, static_cast<std::uint32_t>(info.end_read - info.next));
        std::memcpy(dest + copied, info.next, run);
        info.next += run;
        copied += run;
    }
    if (os::mmio_set_info(hmmio, info, 0) != os::MMSYSERR_NOERROR)
        return 0;
    got = copied;
    return 1;
}

int cwavefile::close() {
    format_block.reset();
    if (!hmmio)
        return 0;
    const int result = os::mmio_close(hmmio, 0);
    hmmio = 0;
    return result == os::MMSYSERR_NOERROR;
}
