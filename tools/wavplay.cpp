// Plays a WAV file through the game's sound system, to hear (or, with SDL's disk driver, to
// record) what the player makes of it:
//
//   brevox_wavplay FILE [SECONDS]
//
// Plays for the sample's length plus half a second, or for SECONDS. Exit status 0 when the file
// played, 1 when the sound system or the file failed, 2 for a usage error.
#include "os/process.h"
#include "os/threads.h"
#include "sound/dxplay.h"

#include <cstdio>
#include <cstdlib>

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
    double seconds = 0.5;
    if (argc == 3) {
        seconds = std::atof(argv[2]);
    } else {
        const os::waveformatex& f = *sample->format;
        seconds += static_cast<double>(sample->riff.cksize) / (f.samples_per_sec * f.block_align);
    }
    os::sleep_ms(static_cast<std::uint32_t>(seconds * 1000));
    dxplay_unload(sample);
    dxplay_close();
    os::shutdown();
    return 0;
}
