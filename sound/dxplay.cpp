#include "sound/dxplay.h"

#include "os/threads.h"

#include <algorithm>
#include <cstring>
#include <new>

dxplay_state dxplay{};

namespace {

// The sound thread's other messages; lParam is always 0.
constexpr std::uint32_t dxplay_msg_end = os::WM_USER + 1;   // the thread ends
constexpr std::uint32_t dxplay_msg_count = os::WM_USER + 2; // wParam: the state; take its count
// Has the thread ignore a slot (wParam, or dxplay_no_slot for none); lParam is 0.
constexpr std::uint32_t dxplay_msg_ignore = os::WM_USER + 3;
constexpr os::wparam dxplay_no_slot = 0xFFFFFFFF;

// A registration fills at most this many slots: the thread waits on two events per sample, and
// one wait takes at most 63 objects besides its queue.
constexpr std::int32_t dxplay_max_samples = 31;

// The sound thread's body; `record` is the player's state.
std::uint32_t dxplay_thread(void* record);

constexpr std::uint32_t buffer_flags = os::DSBCAPS_GETCURRENTPOSITION2 | os::DSBCAPS_GLOBALFOCUS |
                                       os::DSBCAPS_STICKYFOCUS | os::DSBCAPS_CTRLPOSITIONNOTIFY;
// Rounds of Restore before play() gives up on a lost buffer.
constexpr int restore_rounds = 8;
constexpr std::uint32_t restore_pause_ms = 10;

// Frees a sample that the sound thread can no longer reach.
void free_sample(csample* sample) {
    if (sample->position_event)
        os::close_handle(sample->position_event);
    if (sample->stop_event)
        os::close_handle(sample->stop_event);
    sample->release();
    delete sample;
}

// Waits for the thread's acknowledgement; false when the thread has ended instead.
bool thread_acknowledged() {
    const os::handle handles[2] = {dxplay.ack_event, dxplay.thread};
    return os::msg_wait_for_multiple_objects(2, handles, false, os::INFINITE, 0) ==
           os::WAIT_OBJECT_0;
}

void drop_arrays() {
    delete[] dxplay.events;
    delete[] dxplay.samples;
    dxplay.events = nullptr;
    dxplay.samples = nullptr;
    dxplay.count = 0;
    dxplay.capacity = 0;
}

// Undoes a partly done dxplay_open.
int open_failed() {
    if (dxplay.ack_event)
        os::close_handle(dxplay.ack_event);
    dxplay.ack_event = 0;
    drop_arrays();
    if (dxplay.dsound)
        os::sound_release(dxplay.dsound);
    dxplay.dsound = 0;
    return 0;
}

// With dxplay.lock held: a free slot is always left after a registration.
bool grow_arrays() {
    const std::int32_t capacity = dxplay.capacity + 2;
    auto* events = new (std::nothrow) os::handle[2 * capacity]();
    auto* samples = new (std::nothrow) csample*[capacity]();
    if (!events || !samples) {
        delete[] events;
        delete[] samples;
        return false;
    }
    std::copy_n(dxplay.events, 2 * dxplay.count, events);
    std::copy_n(dxplay.samples, dxplay.count, samples);
    delete[] dxplay.events;
    delete[] dxplay.samples;
    dxplay.events = events;
    dxplay.samples = samples;
    dxplay.capacity = capacity;
    return true;
}

bool post_to_thread(std::uint32_t message, os::wparam w) {
    return os::post_thread_message(dxplay.thread_id, message, w, 0);
}

} // namespace

csample::csample()
    : buffer_size(0), block(0), write_pos(0), played(0), sound_bytes(0), last_play_pos(0),
      in_silence(0), buffer(0), notify(0), positions{}, position_event(0), stop_event(0) {}

int csample::create_buffer(os::hsound dsound) {
    const os::waveformatex* format = this->format();
    if (!format || format->block_align == 0)
        return 0;
    // 64 bits: a hostile header could ask for more than 32 bits hold.
    std::uint64_t unit = (std::uint64_t{format->samples_per_sec} * format->block_align) >> 4;
    unit -= unit % format->block_align;
    if (unit == 0 || unit * dxplay_blocks > os::DSBSIZE_MAX)
        return 0;
    block = static_cast<std::uint32_t>(unit);
    buffer_size = dxplay_blocks * block;
    in_silence = 0;
    played = 0;
    last_play_pos = 0;
    const os::sound_buffer_desc desc{buffer_flags, buffer_size, format};
    if (!os::succeeded(os::sound_create_buffer(dsound, desc, buffer)))
        return 0;
    if (!os::succeeded(os::sound_buffer_get_notify(buffer, notify)))
        return 0;
    for (int k = 1; k <= dxplay_blocks; ++k)
        positions[k - 1] = {k * block - 1, position_event};
    positions[dxplay_blocks] = {os::DSBPN_OFFSETSTOP, stop_event};
    return os::succeeded(os::sound_notify_set_positions(notify, dxplay_blocks + 1, positions));
}

int csample::play() {
    std::lock_guard guard(busy);
    if (!buffer)
        return 0;
    if (!restore())
        return 0;
    if (!prime())
        return 0;
    return os::succeeded(os::sound_buffer_play(buffer, 0, 0, os::DSBPLAY_LOOPING));
}

int csample::restore() {
    if (!buffer)
        return 0;
    std::uint32_t status = 0;
    if (!os::succeeded(os::sound_buffer_get_status(buffer, status)))
        return 0;
    if (!(status & os::DSBSTATUS_BUFFERLOST))
        return 1;
    for (int round = 0; round < restore_rounds; ++round) {
        if (os::sound_buffer_restore(buffer) == os::DSERR_BUFFERLOST)
            os::sleep_ms(restore_pause_ms);
        if (os::succeeded(os::sound_buffer_restore(buffer)))
            return prime();
    }
    return 0;
}

int csample::prime() {
    if (!buffer)
        return 0;
    in_silence = 0;
    write_pos = 0;
    played = 0;
    sound_bytes = 0;
    last_play_pos = 0;
    if (!reset())
        return 0;
    void* region = nullptr;
    std::uint32_t length = 0;
    if (!os::succeeded(
            os::sound_buffer_lock(buffer, 0, buffer_size, &region, &length, nullptr, nullptr, 0)))
        return 0;
    if (!fill(static_cast<std::uint8_t*>(region), length)) {
        os::sound_buffer_unlock(buffer, region, 0, nullptr, 0);
        return 0;
    }
    os::sound_buffer_unlock(buffer, region, length, nullptr, 0);
    // Only now: a device that mixes meanwhile would otherwise play the old sound from the start.
    os::sound_buffer_set_current_position(buffer, 0);
    write_pos = length % buffer_size;
    return 1;
}

int csample::fill(std::uint8_t* dest, std::uint32_t size) {
    const std::uint8_t silence = format()->bits_per_sample == 8 ? 0x80 : 0x00;
    if (in_silence) {
        std::memset(dest, silence, size);
        return 1;
    }
    std::uint32_t got = 0;
    if (!read(size, dest, got))
        return 0;
    sound_bytes += got;
    if (got < size) {
        in_silence = 1;
        std::memset(dest + got, silence, size - got);
    }
    return 1;
}

int csample::refill() {
    std::lock_guard guard(busy);
    if (!buffer)
        return 0;
    // A position event from before a play() that jumped back may arrive late: the block under
    // the play cursor is never the one to overwrite.
    if (count_played() && last_play_pos / block == write_pos / block)
        return 1;
    void* region = nullptr;
    std::uint32_t length = 0;
    if (!os::succeeded(
            os::sound_buffer_lock(buffer, write_pos, block, &region, &length, nullptr, nullptr, 0)))
        return 0;
    if (!fill(static_cast<std::uint8_t*>(region), length)) {
        os::sound_buffer_unlock(buffer, region, 0, nullptr, 0);
        return 0;
    }
    os::sound_buffer_unlock(buffer, region, length, nullptr, 0);
    // Once every byte of the sound has played: at most one block of silence follows it.
    if (in_silence && played >= sound_bytes)
        stop();
    write_pos = (write_pos + length) % buffer_size;
    return 1;
}

int csample::count_played() {
    std::uint32_t cursor = 0;
    if (!os::succeeded(os::sound_buffer_get_current_position(buffer, &cursor, nullptr)))
        return 0;
    const std::uint32_t advance =
        cursor < last_play_pos ? buffer_size - last_play_pos + cursor : cursor - last_play_pos;
    last_play_pos = cursor;
    played += advance;
    return 1;
}

int csample::stop() {
    if (!buffer)
        return 0;
    os::sound_buffer_stop(buffer);
    return 1;
}

void csample::release() {
    if (notify)
        os::sound_notify_release(notify);
    notify = 0;
    if (buffer)
        os::sound_buffer_release(buffer);
    buffer = 0;
}

int dxplay_open(os::hwnd window) {
    if (dxplay.dsound || dxplay.thread)
        return 0;
    if (!os::succeeded(os::direct_sound_create(dxplay.dsound)))
        return open_failed();
    // Window 0 stands for the desktop: the device follows no window's focus.
    if (!os::succeeded(os::sound_set_cooperative_level(dxplay.dsound, window, os::DSSCL_PRIORITY)))
        return open_failed();
    os::hsoundbuffer primary = 0;
    const os::sound_buffer_desc desc{os::DSBCAPS_PRIMARYBUFFER | os::DSBCAPS_STICKYFOCUS, 0,
                                     nullptr};
    if (!os::succeeded(os::sound_create_buffer(dxplay.dsound, desc, primary)))
        return open_failed();
    const os::waveformatex output{os::WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    const bool format_set = os::succeeded(os::sound_buffer_set_format(primary, output));
    os::sound_buffer_release(primary);
    if (!format_set)
        return open_failed();

    dxplay.capacity = 4;
    dxplay.count = 0;
    dxplay.samples = new (std::nothrow) csample*[dxplay.capacity]();
    dxplay.events = new (std::nothrow) os::handle[2 * dxplay.capacity]();
    if (!dxplay.samples || !dxplay.events)
        return open_failed();
    dxplay.ack_event = os::create_event(false, false);
    if (!dxplay.ack_event)
        return open_failed();
    dxplay.thread = os::create_thread(dxplay_thread, &dxplay, &dxplay.thread_id);
    if (!dxplay.thread)
        return open_failed();
    os::set_thread_priority(dxplay.thread, os::THREAD_PRIORITY_HIGHEST);
    // The first load posts to the thread: its queue must exist before we return.
    if (!thread_acknowledged()) {
        os::close_handle(dxplay.thread);
        dxplay.thread = 0;
        return open_failed();
    }
    return 1;
}

csample* dxplay_load(const char* filename) {
    if (!dxplay.dsound || !dxplay.thread)
        return nullptr;
    {
        std::lock_guard guard(dxplay.lock);
        if (dxplay.count >= dxplay_max_samples)
            return nullptr;
    }
    csample* sample = new (std::nothrow) csample;
    if (!sample)
        return nullptr;
    if (!sample->open(filename)) {
        free_sample(sample);
        return nullptr;
    }
    sample->position_event = os::create_event(false, false);
    sample->stop_event = os::create_event(false, false);
    if (!sample->position_event || !sample->stop_event || !sample->create_buffer(dxplay.dsound)) {
        free_sample(sample);
        return nullptr;
    }
    std::lock_guard guard(dxplay.lock);
    const std::int32_t slot = dxplay.count;
    dxplay.events[2 * slot] = sample->position_event;
    dxplay.events[2 * slot + 1] = sample->stop_event;
    dxplay.samples[slot] = sample;
    dxplay.count += 1;
    // Posted under the lock: the thread cannot see the new count before the message.
    if ((dxplay.count == dxplay.capacity && !grow_arrays()) ||
        !post_to_thread(dxplay_msg_count, reinterpret_cast<os::wparam>(&dxplay))) {
        dxplay.count -= 1;
        dxplay.events[2 * slot] = 0;
        dxplay.events[2 * slot + 1] = 0;
        dxplay.samples[slot] = nullptr;
        // The thread never saw this sample: its copies stop at the count it was told.
        free_sample(sample);
        return nullptr;
    }
    return sample;
}

int dxplay_unload(csample* sample) {
    if (!dxplay.thread || !sample)
        return 0;
    std::int32_t slot = -1;
    {
        std::lock_guard guard(dxplay.lock);
        for (std::int32_t i = 0; i < dxplay.count; ++i)
            if (dxplay.samples[i] == sample)
                slot = i;
    }
    if (slot < 0)
        return 0;
    // A thread that cannot be told to let the slot go might still refill it: keep the sample.
    if (!post_to_thread(dxplay_msg_ignore, static_cast<os::wparam>(slot)))
        return 0;
    sample->stop();
    // Instead of sleeping and hoping: the thread has taken the message, is not in refill(), and
    // leaves the slot alone from now on.
    thread_acknowledged();

    std::lock_guard guard(dxplay.lock);
    free_sample(sample);
    for (std::int32_t i = slot; i + 1 < dxplay.count; ++i) {
        dxplay.samples[i] = dxplay.samples[i + 1];
        dxplay.events[2 * i] = dxplay.events[2 * i + 2];
        dxplay.events[2 * i + 1] = dxplay.events[2 * i + 3];
    }
    dxplay.count -= 1;
    dxplay.samples[dxplay.count] = nullptr;
    dxplay.events[2 * dxplay.count] = 0;
    dxplay.events[2 * dxplay.count + 1] = 0;
    post_to_thread(dxplay_msg_count, reinterpret_cast<os::wparam>(&dxplay));
    post_to_thread(dxplay_msg_ignore, dxplay_no_slot);
    return 1;
}

int dxplay_close() {
    if (dxplay.thread) {
        // The thread ends before anything it may touch is freed.
        if (!post_to_thread(dxplay_msg_end, 0))
            return 0;
        os::wait_for_single_object(dxplay.thread, os::INFINITE);
        os::close_handle(dxplay.thread);
        dxplay.thread = 0;
        dxplay.thread_id = 0;
    }
    for (std::int32_t i = 0; i < dxplay.count; ++i) {
        free_sample(dxplay.samples[i]);
        dxplay.samples[i] = nullptr;
    }
    drop_arrays();
    if (dxplay.ack_event)
        os::close_handle(dxplay.ack_event);
    dxplay.ack_event = 0;
    if (dxplay.dsound)
        os::sound_release(dxplay.dsound);
    dxplay.dsound = 0;
    return 1;
}

namespace {

std::uint32_t dxplay_thread(void* record) {
    auto* state = static_cast<dxplay_state*>(record);
    os::ensure_message_queue();
    os::set_event(state->ack_event);
    std::int32_t count = 0;
    os::wparam ignored = dxplay_no_slot;
    os::handle events[2 * dxplay_max_samples];
    csample* samples[dxplay_max_samples];
    for (;;) {
        std::int32_t n;
        {
            // A copy, so that the main thread may replace or compact the arrays meanwhile; the
            // count is the one we were told, and never more than the record holds now.
            std::lock_guard guard(state->lock);
            n = std::min({count, state->count, dxplay_max_samples});
            std::copy_n(state->events, 2 * n, events);
            std::copy_n(state->samples, n, samples);
        }
        const auto handles = static_cast<std::uint32_t>(2 * n);
        const std::uint32_t r = os::msg_wait_for_multiple_objects(handles, events, false,
                                                                  os::INFINITE, os::QS_ALLINPUT);
        if (r < handles) {
            if (r / 2 != ignored && r % 2 == 0)
                samples[r / 2]->refill();
            continue;
        }
        if (r != handles)
            continue;
        os::msg m{};
        while (os::peek_message(m, 0, 0, 0, os::PM_REMOVE)) {
            if (m.message == dxplay_msg_end)
                return 0;
            if (m.message == dxplay_msg_count && m.w != 0) {
                state = reinterpret_cast<dxplay_state*>(m.w);
                std::lock_guard guard(state->lock);
                count = state->count;
            } else if (m.message == dxplay_msg_ignore) {
                ignored = m.w;
                if (ignored != dxplay_no_slot)
                    os::set_event(state->ack_event);
            }
        }
    }
}

} // namespace
