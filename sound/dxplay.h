// DXPLAY, the game's sound system: every loaded sample gets a looping sound buffer of about one
// second in its own format, sixteen blocks long, and the sound thread refills each block from the
// sample's WAV file as soon as the play cursor has left it. The device wakes the thread through
// position events; the main thread talks to it only through three thread messages.
//
// All calls come from the main thread; only refill() runs on the sound thread. Each sample's
// lock keeps play() and refill() apart, the state's lock keeps the arrays whole while the thread
// copies them, and the thread acknowledges the messages after which the main thread frees things.
#pragma once

#include "os/messages.h"
#include "os/sound.h"
#include "os/types.h"
#include "sound/wavefile.h"

#include <cstdint>
#include <mutex>

constexpr int dxplay_blocks = 16;

class csample : public cwavefile {
public:
    csample();
    csample(const csample&) = delete;
    csample& operator=(const csample&) = delete;

    // Starts the sample from its first byte, also when it is playing already. 1 if it started.
    int play();
    // Sound thread: refills the block that the play cursor has just left.
    int refill();

    int prime();
    int fill(std::uint8_t* dest, std::uint32_t size);
    int restore();
    int stop();
    int count_played();
    int create_buffer(os::hsound dsound);
    // Releases the sound buffer and its notification; the file and its format go with the
    // sample.
    void release();

    std::uint32_t buffer_size;
    std::uint32_t block;
    std::uint32_t write_pos;
    std::uint32_t played;
    std::uint32_t sound_bytes; // of the sample written to the buffer since it was last started
    std::uint32_t last_play_pos;
    std::uint32_t in_silence;
    os::hsoundbuffer buffer;
    os::hsoundnotify notify;
    os::position_notify positions[dxplay_blocks + 1];
    os::handle position_event;
    os::handle stop_event;

private:
    std::mutex busy; // play() on the main thread, refill() on the sound thread
};

struct dxplay_state {
    os::hsound dsound;
    os::handle thread;
    os::thread_id thread_id;
    std::int32_t count;
    std::int32_t capacity;
    os::handle* events; // 2 per slot: position event, stop event
    csample** samples;
    // The thread copies count, events and samples under this lock before every wait.
    std::mutex lock;
    // Signalled by the thread once its queue exists, and whenever it has taken a slot to ignore.
    os::handle ack_event;
};

extern dxplay_state dxplay;

int dxplay_open(os::hwnd window);
csample* dxplay_load(const char* filename);
int dxplay_unload(csample* sample);
int dxplay_close();
