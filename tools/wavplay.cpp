// Plays a WAV file through the game's sound system, to hear (or, with SDL's disk driver, to
// record) what the player makes of it:
//
//   brevox_wavplay FILE [SECONDS]
//
// Plays until the player stops the sample by itself, or for SECONDS. Exit status 0 when the file
// played, 1 when the sound system or the file failed, 2 for a usage error.
#include "os/process.h"
#include "os/threads.h"
#include "sound/dxplay.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::uint32_t poll_ms = 10;

bool playing(const csample& sample) {
    std::uint32_t status = 0;
    return os::succeeded(os::sound_buffer_get_status(sample.buffer, status)) &&
           (status & os::DSBSTATUS_PLAYING);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FILE.wav [SECONDS]\n", argv[0]);
        return 2;
    }
    os::startup();
    if (!dxplay_open(0)) {
        std::fprintf(stderr, "wavplay: no sound device\n");
        os::shutdown();
        return 1;
    }
    csample* sample = dxplay_load(argv[1]);
    if (!sample || !sample->play()) {
        std::fprintf(stderr, "wavplay: cannot %s %s\n", sample ? "play" : "load", argv[1]);
        dxplay_close();
        os::shutdown();
        return 1;
    }
    if (argc == 3)
        os::sleep_ms(static_cast<std::uint32_t>(std::atof(argv[2]) * 1000));
    else
        while (playing(*sample))
            os::sleep_ms(poll_ms);
    dxplay_unload(sample);
    dxplay_close();
    os::shutdown();
    return 0;
}
