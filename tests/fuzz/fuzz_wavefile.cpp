// libFuzzer target for the WAV reader: open, then twice reset and read everything in uneven
// pieces. Any crash, overread, hang or huge allocation is a finding.
#include "sound/wavefile.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // In memory-backed /dev/shm: the reader works on files, and disk writes would slow every run.
    static const std::string path = "/dev/shm/brevox-fuzz-" + std::to_string(getpid()) + ".wav";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    cwavefile reader;
    if (reader.open(path.c_str())) {
        std::uint8_t buffer[3000];
        std::uint32_t piece = 1 + (size % 2999), got = 0;
        // At most a few megabytes per input: bytes left never grow, so this ends.
        for (int round = 0; round < 2 && reader.reset(); ++round)
            for (int i = 0; i < 4096 && reader.read(piece, buffer, got) && got == piece; ++i)
                piece = 1 + (piece * 7) % 2999;
    }
    return 0;
}
