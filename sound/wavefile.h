// The WAV reader: opens a RIFF WAVE file, reads its format, and hands out the raw PCM bytes of
// the "data" chunk in pieces of any size, from the start as often as asked. The sample stays in
// its file: the sound player streams it while it plays, so a reader stays open as long as its
// sample is loaded.
#pragma once

#include "os/riff_file.h"
#include "os/sound.h"

#include <cstdint>
#include <memory>

class cwavefile {
public:
    cwavefile() : hmmio(0), riff{}, data{} {}
    // Closes the file and frees the format.
    ~cwavefile() { close(); }
    cwavefile(const cwavefile&) = delete;
    cwavefile& operator=(const cwavefile&) = delete;

    // 1 when the file is a PCM WAVE file with "fmt " before "data". On 0 the reader holds
    // neither the file nor a format.
    int open(const char* filename);
    // Back to the first sample byte, with the whole "data" chunk left to read.
    int reset();
    // Copies up to `size` sample bytes; `got` is the number copied, fewer than `size` at the end
    // of the sample (or of a file that ends before its "data" chunk does).
    int read(std::uint32_t size, std::uint8_t* dest, std::uint32_t& got);

    // The "fmt " chunk as open() read it, owned by the reader; null when it holds none.
    os::waveformatex* format() const {
        return reinterpret_cast<os::waveformatex*>(format_block.get());
    }
    bool is_open() const { return hmmio != 0; }

private:
    // Closes the file, if one is open, and frees the format. 0 when no file was open or its
    // close failed.
    int close();
    // open()'s reading; on 0 open() lets go of what it got.
    int open_wave(const char* filename);

    os::hmmio hmmio;
    os::mmckinfo riff; // as open() found it
    os::mmckinfo data; // as open() found it; its size counts the bytes not yet handed out
    std::unique_ptr<std::uint8_t[]> format_block; // the "fmt " chunk, at least a waveformatex
};
