// The WAV reader: opens a RIFF WAVE file, reads its format, and hands out the raw PCM bytes of
// the "data" chunk in pieces of any size, from the start as often as asked. The sample stays in
// its file: the sound player streams it while it plays, so a reader stays open as long as its
// sample is loaded.
#pragma once

#include "os/riff_file.h"
#include "os/sound.h"

#include <cstdint>

class cwavefile {
public:
    cwavefile() : hmmio(0), riff{}, data{}, format(nullptr) {}

    // 1 when the file is a PCM WAVE file with "fmt " before "data".
    int open(const char* filename);
    // Back to the first sample byte, with the whole "data" chunk left to read.
    int reset();
    // Copies up to `size` sample bytes; `got` is the number copied, fewer than `size` at the end
    // of the sample (or of a file that ends before its "data" chunk does).
    int read(std::uint32_t size, std::uint8_t* dest, std::uint32_t& got);
    int close();

    os::hmmio hmmio;
    os::mmckinfo riff;        // as open() found it
    os::mmckinfo data;        // as open() found it; its size counts the bytes not yet handed out
    os::waveformatex* format; // the "fmt " chunk, owned; freed by the player's release
};
