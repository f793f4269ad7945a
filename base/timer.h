// The frame timer: how long each pass of the main loop takes, in whole milliseconds, and the
// frame rate that follows. It uses the high-resolution counter when the system has one and the
// millisecond tick count otherwise, decided once at construction.
#pragma once

#include <cstdint>

class ctimer {
public:
    // Chooses the clock, logs the choice and takes a first reading, so the first frame is
    // measured from here and not from the clock's origin.
    ctimer();
    // Marks the start of a frame: the last reading becomes the frame's start, without reading
    // the clock, so the time between frames counts towards the next one.
    int begin_frame();
    // Reads the clock and sets frame_ms (never 0) and fps.
    int update();

    std::uint8_t has_perf_counter;
    std::int64_t frequency;
    std::uint32_t frame_ms;
    std::uint32_t fps;
};

// The main loop's timer, owned by the main loop; null while it does not exist. The main loop
// hands its frame length to the game; the scene reads its length and rate for the frame rate.
extern ctimer* main_timer;
