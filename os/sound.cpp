#include "os/sound.h"

#include "os/fault.h"
#include "os/threads.h"

#include <SDL.h>
#include <semaphore.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

void signal_due_notes();

// Signals, on a thread of its own, the notifications that the real device's callback found due:
// a real-time callback must not wait for the lock of the events and message queues. Waking it
// takes a semaphore post, which never blocks or allocates.
class notifier {
public:
    notifier() {
        sem_init(&wake, 0, 0);
        try {
            worker = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            sem_destroy(&wake);
            throw;
        }
    }
    ~notifier() {
        stopping.store(true, std::memory_order_release);
        sem_post(&wake);
        worker.join();
        sem_destroy(&wake);
    }
    notifier(const notifier&) = delete;
    notifier& operator=(const notifier&) = delete;

    void poke() { sem_post(&wake); }

private:
    void run() {
        while (!stopping.load(std::memory_order_acquire)) {
            while (sem_wait(&wake) != 0 && errno == EINTR) {
            }
            signal_due_notes();
        }
    }

    sem_t wake;
    std::atomic<bool> stopping{false};
    std::thread worker;
};

// The mixer's sums of so many output frames at a time, made when the device opens.
constexpr std::uint32_t mix_chunk_frames = 1024;

struct sound_device {
    bool pulled = false;
    SDL_AudioDeviceID sdl = 0;
    std::uint32_t level = 0;
    std::vector<std::int32_t> sums = std::vector<std::int32_t>(2 * mix_chunk_frames);
    std::unique_ptr<notifier> signaller; // the real device's
};

struct sound_buffer {
    os::hsound device = 0;
    bool primary = false;
    std::uint32_t flags = 0;
    os::waveformatex format{};
    std::vector<std::uint8_t> data;
    std::uint32_t play_cursor = 0;
    std::uint32_t rate_phase = 0; // output frames' worth of the source rate not yet consumed
    bool playing = false;
    bool looping = false;
    bool lost = false;
    // The copy handed out by lock.
    bool locked = false;
    std::vector<std::uint8_t> staging;
    std::uint32_t lock_offset = 0;
    std::uint32_t lock_first = 0;
    std::uint32_t lock_second = 0;
    std::vector<os::position_notify> notes;
    std::vector<std::uint8_t> due; // beside each note: passed or stopped, its event not yet set
};

// One lock for devices, buffers and the mixer. Events are signalled after it is let go, so it
// is never held together with the queue lock. Nothing is allocated or freed under it: the
// real-time callback takes it, and must not wait behind the heap.
std::mutex device_lock;
std::map<os::hsound, std::unique_ptr<sound_device>> devices;
std::map<os::hsoundbuffer, std::unique_ptr<sound_buffer>> buffers;
std::map<os::hsoundnotify, os::hsoundbuffer> notifies;
os::handle last_handle = 0;
bool pulled_mode = false;
thread_local bool holding_device_lock = false;

// device_lock held, and marked so for the tests, which count the heap's calls made under it.
class device_guard {
public:
    device_guard() : guard(device_lock) { holding_device_lock = true; }
    ~device_guard() { holding_device_lock = false; }
    device_guard(const device_guard&) = delete;
    device_guard& operator=(const device_guard&) = delete;

private:
    std::lock_guard<std::mutex> guard;
};

// An entry of one of the maps, made outside device_lock and put in under it with its handle as
// the key: inserting a node allocates nothing. Throws std::bad_alloc.
template <typename map> typename map::node_type new_entry(typename map::mapped_type value) {
    map one;
    one.emplace(0, std::move(value));
    return one.extract(one.begin());
}

// Moves the matching entries into `out`, to be freed once device_lock is let go.
template <typename map, typename test> void move_out_if(map& from, map& out, test matches) {
    for (auto it = from.begin(); it != from.end();) {
        const auto next = std::next(it);
        if (matches(*it))
            out.insert(from.extract(it));
        it = next;
    }
}

os::handle new_handle_locked() {
    do
        ++last_handle;
    while (last_handle == 0 || devices.count(last_handle) || buffers.count(last_handle) ||
           notifies.count(last_handle));
    return last_handle;
}

sound_buffer* find_buffer(os::hsoundbuffer handle) {
    const auto found = buffers.find(handle);
    return found == buffers.end() ? nullptr : found->second.get();
}

// True when the named call must fail; its result code (or `fallback`) goes to `result`.
bool injected(const char* call, os::hresult fallback, os::hresult& result) {
    int code = 0;
    if (!os::detail::injected_fault(call, &code))
        return false;
    result = code < 0 ? code : fallback;
    return true;
}

std::uint8_t silence_of(const sound_buffer& buffer) {
    return buffer.format.bits_per_sample == 8 ? 0x80 : 0x00;
}

bool playable(const os::waveformatex& f) {
    return f.format_tag == os::WAVE_FORMAT_PCM && (f.channels == 1 || f.channels == 2) &&
           (f.bits_per_sample == 8 || f.bits_per_sample == 16) &&
           f.block_align == f.channels * f.bits_per_sample / 8 &&
           f.samples_per_sec >= os::DSBFREQUENCY_MIN && f.samples_per_sec <= os::DSBFREQUENCY_MAX;
}

// Marks the buffer's stop notifications due; false when it has none.
bool stop_notes_due(sound_buffer& buffer) {
    bool marked = false;
    for (std::size_t i = 0; i < buffer.notes.size(); ++i) {
        if (buffer.notes[i].offset == os::DSBPN_OFFSETSTOP) {
            buffer.due[i] = 1;
            marked = true;
        }
    }
    return marked;
}

// Adds one stereo frame of the buffer at its play cursor.
void add_frame(const sound_buffer& buffer, std::int32_t* out) {
    const std::uint8_t* frame = buffer.data.data() + buffer.play_cursor;
    std::int32_t left, right;
    if (buffer.format.bits_per_sample == 8) {
        left = (frame[0] - 128) * 256;
        right = buffer.format.channels == 2 ? (frame[1] - 128) * 256 : left;
    } else {
        left = static_cast<std::int16_t>(frame[0] | frame[1] << 8);
        right = buffer.format.channels == 2 ? static_cast<std::int16_t>(frame[2] | frame[3] << 8)
                                            : left;
    }
    out[0] += left;
    out[1] += right;
}

// Mixes one playing buffer into `sum` and moves its cursor, marking the notifications it passes
// due. True when it marked any.
bool mix_buffer(sound_buffer& buffer, std::int32_t* sum, std::uint32_t frames) {
    const std::uint32_t size = static_cast<std::uint32_t>(buffer.data.size());
    const std::uint32_t start = buffer.play_cursor;
    std::uint64_t advanced = 0;
    bool stopped = false;
    for (std::uint32_t j = 0; j < frames && !stopped; ++j) {
        add_frame(buffer, sum + 2 * j);
        buffer.rate_phase += buffer.format.samples_per_sec;
        while (buffer.rate_phase >= os::output_rate) {
            buffer.rate_phase -= os::output_rate;
            buffer.play_cursor += buffer.format.block_align;
            advanced += buffer.format.block_align;
            if (buffer.play_cursor >= size) {
                buffer.play_cursor = 0;
                if (!buffer.looping) {
                    stopped = true;
                    break;
                }
            }
        }
    }
    bool marked = false;
    for (std::size_t i = 0; i < buffer.notes.size(); ++i) {
        const std::uint32_t offset = buffer.notes[i].offset;
        if (offset != os::DSBPN_OFFSETSTOP && (offset + size - start) % size < advanced) {
            buffer.due[i] = 1;
            marked = true;
        }
    }
    if (stopped) {
        buffer.playing = false;
        buffer.rate_phase = 0;
        marked = stop_notes_due(buffer) || marked;
    }
    return marked;
}

struct mix_result {
    std::uint32_t playing = 0; // buffers that played at the start
    bool notes_due = false;
};

// The mixer: every playing buffer of `device`, summed and saturated into `out`, a chunk of the
// device's sums at a time.
mix_result mix(sound_device& device, os::hsound handle, std::int16_t* out, std::uint32_t frames) {
    mix_result result;
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t chunk = std::min<std::uint32_t>(
            frames - done, static_cast<std::uint32_t>(device.sums.size() / 2));
        std::int32_t* const sum = device.sums.data();
        std::fill_n(sum, 2 * chunk, 0);
        std::uint32_t playing = 0;
        for (auto& [buffer_handle, buffer] : buffers) {
            if (buffer->device == handle && buffer->playing && !buffer->lost && !buffer->primary) {
                result.notes_due = mix_buffer(*buffer, sum, chunk) || result.notes_due;
                ++playing;
            }
        }
        if (done == 0)
            result.playing = playing;
        for (std::uint32_t i = 0; i < 2 * chunk; ++i)
            out[2 * done + i] = static_cast<std::int16_t>(std::clamp(sum[i], -32768, 32767));
        done += chunk;
    }
    return result;
}

// Notifications that could be due now, all buffers' together.
std::size_t note_count_locked() {
    std::size_t count = 0;
    for (const auto& [handle, buffer] : buffers)
        count += buffer->notes.size();
    return count;
}

// Takes the events of every due notification, in the order of each buffer's notes, into room
// made beforehand; they are due no more.
void take_due_events_locked(std::vector<os::handle>& events) {
    for (auto& [handle, buffer] : buffers) {
        for (std::size_t i = 0; i < buffer->notes.size(); ++i) {
            if (buffer->due[i]) {
                buffer->due[i] = 0;
                events.push_back(buffer->notes[i].event);
            }
        }
    }
}

// Sets the events of every due notification. Their list grows outside device_lock, and they
// are set after it is let go.
void signal_due_notes() {
    thread_local std::vector<os::handle> events;
    events.clear();
    for (bool taken = false; !taken;) {
        std::size_t room = 0;
        {
            device_guard guard; // the mixer marks them due under it
            room = note_count_locked();
            taken = room <= events.capacity();
            if (taken)
                take_due_events_locked(events);
        }
        if (!taken)
            events.reserve(room);
    }
    for (const os::handle event : events)
        os::set_event(event);
}

std::atomic<os::seam::output_observer> installed_observer{nullptr};
std::atomic<std::uint64_t> started_buffers{0};

// Real time: takes only the device's own lock, allocates nothing, and leaves the notifications
// it finds due to the device's notifier.
void SDLCALL audio_callback(void* userdata, Uint8* stream, int len) {
    const auto device = static_cast<os::hsound>(reinterpret_cast<std::uintptr_t>(userdata));
    const std::uint32_t frames = static_cast<std::uint32_t>(len) / 4;
    std::uint32_t playing = 0;
    {
        device_guard guard;
        const auto found = devices.find(device);
        if (found != devices.end()) {
            sound_device& record = *found->second;
            const mix_result mixed =
                mix(record, device, reinterpret_cast<std::int16_t*>(stream), frames);
            playing = mixed.playing;
            if (mixed.notes_due && record.signaller)
                record.signaller->poke();
        } else {
            std::memset(stream, 0, static_cast<std::size_t>(len));
        }
    }
    if (const auto observer = installed_observer.load(std::memory_order_acquire))
        observer(reinterpret_cast<const std::int16_t*>(stream), frames, playing);
}

// A buffer as the description asks, with its memory: made before it joins the device's.
os::hresult make_buffer(os::hsound device, const os::sound_buffer_desc& desc,
                        std::unique_ptr<sound_buffer>& out) {
    auto record = std::unique_ptr<sound_buffer>(new (std::nothrow) sound_buffer);
    if (!record)
        return os::DSERR_OUTOFMEMORY;
    record->device = device;
    record->flags = desc.flags;
    if (desc.flags & os::DSBCAPS_PRIMARYBUFFER) {
        if (desc.buffer_bytes != 0 || desc.format)
            return os::DSERR_INVALIDPARAM;
        record->primary = true;
        record->format = {os::WAVE_FORMAT_PCM, 2, os::output_rate, os::output_rate * 4, 4, 16, 0};
    } else {
        if (!desc.format)
            return os::DSERR_INVALIDPARAM;
        if (!playable(*desc.format))
            return os::DSERR_BADFORMAT;
        if (desc.buffer_bytes < os::DSBSIZE_MIN || desc.buffer_bytes > os::DSBSIZE_MAX ||
            desc.buffer_bytes % desc.format->block_align != 0)
            return os::DSERR_INVALIDPARAM;
        record->format = *desc.format;
        record->format.extra_size = 0;
        try {
            record->data.assign(desc.buffer_bytes, silence_of(*record));
            record->staging.reserve(desc.buffer_bytes); // what lock copies: never more
        } catch (const std::bad_alloc&) {
            return os::DSERR_OUTOFMEMORY;
        }
    }
    out = std::move(record);
    return os::DS_OK;
}

// ALSA, the library beneath SDL's audio on Linux, prints its errors on standard error: a machine
// without a sound card would see a dozen "ALSA lib ... Unknown PCM default" lines at every start.
// Its error handler becomes one that says nothing; the device's failure is the program's to
// report (its log says the sound system failed), and standard error stays the program's own.
// The library is the one SDL loads, reached through SDL's loader, so neither ALSA's headers nor
// a link to it are needed; it stays loaded so that the handler stays. Without ALSA there is
// nothing to quiet.
void say_nothing(const char*, int, const char*, int, const char*, ...) {}

void quiet_alsa() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (void* alsa = SDL_LoadObject("libasound.so.2")) {
            using error_handler = void (*)(const char*, int, const char*, int, const char*, ...);
            using set_error_handler = int (*)(error_handler);
            if (const auto set = reinterpret_cast<set_error_handler>(
                    SDL_LoadFunction(alsa, "snd_lib_error_set_handler")))
                set(say_nothing);
        }
        SDL_ClearError();
    });
}

} // namespace

namespace os {

hresult direct_sound_create(hsound& device) {
    device = 0;
    hresult result = DS_OK;
    if (injected("direct_sound_create", DSERR_NODRIVER, result))
        return result;
    auto record = std::make_unique<sound_device>();
    {
        device_guard guard;
        record->pulled = pulled_mode;
    }
    const bool pulled = record->pulled;
    if (!pulled) {
        try {
            record->signaller = std::make_unique<notifier>();
        } catch (const std::system_error&) {
            return DSERR_OUTOFMEMORY;
        }
    }
    auto entry = new_entry<decltype(devices)>(std::move(record));
    hsound handle;
    {
        device_guard guard;
        handle = entry.key() = new_handle_locked();
        devices.insert(std::move(entry));
    }
    if (pulled) {
        device = handle;
        return DS_OK;
    }
    // Its notifier ends outside device_lock, which its last round takes.
    auto forget = [&] {
        decltype(devices)::node_type gone;
        device_guard guard;
        gone = devices.extract(handle);
    };
    quiet_alsa();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        forget();
        return DSERR_NODRIVER;
    }
    SDL_AudioSpec want{};
    SDL_AudioSpec have{};
    want.freq = static_cast<int>(output_rate);
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(output_channels);
    want.samples = 1024;
    want.callback = audio_callback;
    want.userdata = reinterpret_cast<void*>(static_cast<std::uintptr_t>(handle));
    // No changes allowed: SDL converts to whatever the hardware takes.
    const SDL_AudioDeviceID sdl = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (sdl == 0) {
        forget();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return DSERR_NODRIVER;
    }
    {
        device_guard guard;
        devices.at(handle)->sdl = sdl;
    }
    SDL_PauseAudioDevice(sdl, 0);
    device = handle;
    return DS_OK;
}

hresult sound_release(hsound device) {
    decltype(devices)::node_type gone;
    decltype(buffers) gone_buffers;
    decltype(notifies) gone_notifies;
    {
        device_guard guard;
        const auto found = devices.find(device);
        if (found == devices.end())
            return DSERR_INVALIDPARAM;
        gone = devices.extract(found);
        move_out_if(notifies, gone_notifies, [&](const auto& entry) {
            const sound_buffer* buffer = find_buffer(entry.second);
            return !buffer || buffer->device == device;
        });
        move_out_if(buffers, gone_buffers,
                    [&](const auto& entry) { return entry.second->device == device; });
    }
    // Closing waits for a running callback, which takes device_lock: so not under it. The
    // notifier ends after the callback's last call, outside the lock too.
    if (gone.mapped()->sdl != 0) {
        SDL_CloseAudioDevice(gone.mapped()->sdl);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    gone.mapped().reset();
    return DS_OK;
}

hresult sound_set_cooperative_level(hsound device, hwnd, std::uint32_t level) {
    hresult result = DS_OK;
    if (injected("sound_set_cooperative_level", DSERR_INVALIDPARAM, result))
        return result;
    device_guard guard;
    const auto found = devices.find(device);
    if (found == devices.end() || level < DSSCL_NORMAL || level > 4)
        return DSERR_INVALIDPARAM;
    // Any window will do, 0 standing for the desktop: the device follows no window's focus.
    found->second->level = level;
    return DS_OK;
}

hresult sound_create_buffer(hsound device, const sound_buffer_desc& desc, hsoundbuffer& buffer) {
    buffer = 0;
    hresult result = DS_OK;
    if (injected("sound_create_buffer", DSERR_OUTOFMEMORY, result))
        return result;
    {
        device_guard guard;
        const auto found = devices.find(device);
        if (found == devices.end() || found->second->level == 0)
            return found == devices.end() ? DSERR_INVALIDPARAM : DSERR_PRIOLEVELNEEDED;
    }
    std::unique_ptr<sound_buffer> record;
    if (const hresult made = make_buffer(device, desc, record); made != DS_OK)
        return made;
    decltype(buffers)::node_type entry;
    try {
        entry = new_entry<decltype(buffers)>(std::move(record));
    } catch (const std::bad_alloc&) {
        return DSERR_OUTOFMEMORY;
    }
    device_guard guard;
    if (devices.count(device) == 0) // released meanwhile
        return DSERR_INVALIDPARAM;
    buffer = entry.key() = new_handle_locked();
    buffers.insert(std::move(entry));
    return DS_OK;
}

hresult sound_buffer_release(hsoundbuffer buffer) {
    decltype(buffers)::node_type gone; // freed after the guard lets go
    decltype(notifies) gone_notifies;
    device_guard guard;
    gone = buffers.extract(buffer);
    if (!gone)
        return DSERR_INVALIDPARAM;
    move_out_if(notifies, gone_notifies, [&](const auto& entry) { return entry.second == buffer; });
    return DS_OK;
}

hresult sound_buffer_set_format(hsoundbuffer buffer, const waveformatex& format) {
    hresult result = DS_OK;
    if (injected("sound_buffer_set_format", DSERR_BADFORMAT, result))
        return result;
    device_guard guard;
    sound_buffer* record = find_buffer(buffer);
    if (!record)
        return DSERR_INVALIDPARAM;
    if (!record->primary)
        return DSERR_INVALIDCALL;
    if (devices.at(record->device)->level < DSSCL_PRIORITY)
        return DSERR_PRIOLEVELNEEDED;
    if (format.format_tag != WAVE_FORMAT_PCM || format.channels != output_channels ||
        format.samples_per_sec != output_rate || format.bits_per_sample != 16 ||
        format.block_align != 4)
        return DSERR_BADFORMAT;
    return DS_OK;
}

hresult sound_buffer_get_current_position(hsoundbuffer buffer, std::uint32_t* play,
                                          std::uint32_t* write) {
    hresult result = DS_OK;
    if (injected("sound_buffer_get_current_position", DSERR_GENERIC, result))
        return result;
    device_guard guard;
    const sound_buffer* record = find_buffer(buffer);
    if (!record || record->primary)
        return DSERR_INVALIDPARAM;
    if (record->lost)
        return DSERR_BUFFERLOST;
    // The mixer copies at the cursor as it goes: the write cursor is the play cursor.
    if (play)
        *play = record->play_cursor;
    if (write)
        *write = record->play_cursor;
    return DS_OK;
}

hresult sound_buffer_set_current_position(hsoundbuffer buffer, std::uint32_t position) {
    hresult result = DS_OK;
    if (injected("sound_buffer_set_current_position", DSERR_GENERIC, result))
        return result;
    device_guard guard;
    sound_buffer* record = find_buffer(buffer);
    if (!record || record->primary || position >= record->data.size())
        return DSERR_INVALIDPARAM;
    if (record->lost)
        return DSERR_BUFFERLOST;
    record->play_cursor = position - position % record->format.block_align;
    record->rate_phase = 0;
    return DS_OK;
}

hresult sound_buffer_get_status(hsoundbuffer buffer, std::uint32_t& status) {
    status = 0;
    hresult result = DS_OK;
    if (injected("sound_buffer_get_status", DSERR_GENERIC, result))
        return result;
    device_guard guard;
    const sound_buffer* record = find_buffer(buffer);
    if (!record)
        return DSERR_INVALIDPARAM;
    if (record->lost)
        status = DSBSTATUS_BUFFERLOST;
    else if (record->playing)
        status = DSBSTATUS_PLAYING | (record->looping ? DSBSTATUS_LOOPING : 0);
    return DS_OK;
}

hresult sound_buffer_lock(hsoundbuffer buffer, std::uint32_t offset, std::uint32_t bytes,
                          void** part1, std::uint32_t* bytes1, void** part2, std::uint32_t* bytes2,
                          std::uint32_t flags) {
    hresult result = DS_OK;
    if (injected("sound_buffer_lock", DSERR_INVALIDCALL, result))
        return result;
    device_guard guard;
    sound_buffer* record = find_buffer(buffer);
    if (!record || record->primary || !part1 || !bytes1 || flags != 0)
        return DSERR_INVALIDPARAM;
    const std::uint32_t size = static_cast<std::uint32_t>(record->data.size());
    if (offset >= size || bytes == 0 || bytes > size)
        return DSERR_INVALIDPARAM;
    if (record->lost)
        return DSERR_BUFFERLOST;
    if (record->locked)
        return DSERR_INVALIDCALL;
    const std::uint32_t first = std::min(bytes, size - offset);
    const std::uint32_t second = part2 ? bytes - first : 0;
    record->staging.assign(record->data.begin() + offset, record->data.begin() + offset + first);
    record->staging.insert(record->staging.end(), record->data.begin(),
                           record->data.begin() + second);
    record->locked = true;
    record->lock_offset = offset;
    record->lock_first = first;
    record->lock_second = second;
    *part1 = record->staging.data();
    *bytes1 = first;
    if (part2)
        *part2 = second ? record->staging.data() + first : nullptr;
    if (bytes2)
        *bytes2 = second;
    return DS_OK;
}

hresult sound_buffer_unlock(hsoundbuffer buffer, void* part1, std::uint32_t bytes1, void* part2,
                            std::uint32_t bytes2) {
    hresult result = DS_OK;
    if (injected("sound_buffer_unlock", DSERR_INVALIDCALL, result))
        return result;
    device_guard guard;
    sound_buffer* record = find_buffer(buffer);
    if (!record)
        return DSERR_INVALIDPARAM;
    if (!record->locked)
        return DSERR_INVALIDCALL;
    std::uint8_t* const copy = record->staging.data();
    if (part1 != copy || bytes1 > record->lock_first ||
        (part2 && (part2 != copy + record->lock_first || bytes2 > record->lock_second)))
        return DSERR_INVALIDPARAM;
    std::memcpy(record->data.data() + record->lock_offset, copy, bytes1);
    if (part2)
        std::memcpy(record->data.data(), copy + record->lock_first, bytes2);
    record->locked = false;
    return DS_OK;
}

hresult sound_buffer_play(hsoundbuffer buffer, std::uint32_t, std::uint32_t, std::uint32_t flags) {
    hresult result = DS_OK;
    if (injected("sound_buffer_play", DSERR_GENERIC, result))
        return result;
    device_guard guard;
    sound_buffer* record = find_buffer(buffer);
    if (!record)
        return DSERR_INVALIDPARAM;
    if (record->lost)
        return DSERR_BUFFERLOST;
    if (!record->primary) {
        record->playing = true;
        record->looping = (flags & DSBPLAY_LOOPING) != 0;
        started_buffers.fetch_add(1, std::memory_order_relaxed);
    }
    return DS_OK;
}

hresult sound_buffer_stop(hsoundbuffer buffer) {
    hresult result = DS_OK;
    if (injected("sound_buffer_stop", DSERR_GENERIC, result))
        return result;
    {
        device_guard guard;
        sound_buffer* record = find_buffer(buffer);
        if (!record)
            return DSERR_INVALIDPARAM;
        if (record->playing) {
            record->playing = false;
            stop_notes_due(*record);
        }
    }
    signal_due_notes();
    return DS_OK;
}

hresult sound_buffer_restore(hsoundbuffer buffer) {
    hresult result = DS_OK;
    if (injected("sound_buffer_restore", DSERR_BUFFERLOST, result))
        return result;
    device_guard guard;
    sound_buffer* record = find_buffer(buffer);
    if (!record)
        return DSERR_INVALIDPARAM;
    if (record->lost) {
        record->lost = false;
        std::fill(record->data.begin(), record->data.end(), silence_of(*record));
    }
    return DS_OK;
}

hresult sound_buffer_get_notify(hsoundbuffer buffer, hsoundnotify& notify) {
    notify = 0;
    hresult result = DS_OK;
    if (injected("sound_buffer_get_notify", DSERR_NOINTERFACE, result))
        return result;
    auto entry = new_entry<decltype(notifies)>(buffer);
    device_guard guard;
    const sound_buffer* record = find_buffer(buffer);
    if (!record)
        return DSERR_INVALIDPARAM;
    if (record->primary || !(record->flags & DSBCAPS_CTRLPOSITIONNOTIFY))
        return DSERR_NOINTERFACE;
    notify = entry.key() = new_handle_locked();
    notifies.insert(std::move(entry));
    return DS_OK;
}

hresult sound_notify_release(hsoundnotify notify) {
    decltype(notifies)::node_type gone;
    device_guard guard;
    gone = notifies.extract(notify);
    return gone ? DS_OK : DSERR_INVALIDPARAM;
}

hresult sound_notify_set_positions(hsoundnotify notify, std::uint32_t count,
                                   const position_notify* positions) {
    hresult result = DS_OK;
    if (injected("sound_notify_set_positions", DSERR_INVALIDPARAM, result))
        return result;
    if (count > DSBNOTIFICATIONS_MAX || (count > 0 && !positions))
        return DSERR_INVALIDPARAM;
    // Made here, swapped in under the lock; the old ones are freed after it.
    std::vector<position_notify> notes(positions, positions + count);
    std::vector<std::uint8_t> due(count, 0);
    device_guard guard;
    const auto found = notifies.find(notify);
    sound_buffer* record = found == notifies.end() ? nullptr : find_buffer(found->second);
    if (!record)
        return DSERR_INVALIDPARAM;
    if (record->playing)
        return DSERR_INVALIDCALL;
    for (std::uint32_t i = 0; i < count; ++i)
        if (positions[i].offset != DSBPN_OFFSETSTOP && positions[i].offset >= record->data.size())
            return DSERR_INVALIDPARAM;
    record->notes.swap(notes);
    record->due.swap(due);
    return DS_OK;
}

} // namespace os

namespace os::seam {

std::uint64_t buffers_started() { return started_buffers.load(std::memory_order_relaxed); }

void observe_output(output_observer observer) {
    installed_observer.store(observer, std::memory_order_release);
}

bool holding_sound_device_lock() { return holding_device_lock; }

void use_pulled_sound_device(bool pulled) {
    device_guard guard;
    pulled_mode = pulled;
}

bool pull_sound(std::int16_t* out, std::uint32_t frames) {
    {
        device_guard guard;
        const auto found = std::find_if(devices.begin(), devices.end(),
                                        [](const auto& entry) { return entry.second->pulled; });
        if (found == devices.end())
            return false;
        mix(*found->second, found->first, out, frames);
    }
    // No real time here: the test's thread signals what came due at once.
    signal_due_notes();
    return true;
}

void lose_sound_buffers() {
    {
        device_guard guard;
        for (auto& [handle, buffer] : buffers) {
            if (buffer->playing)
                stop_notes_due(*buffer);
            buffer->playing = false;
            buffer->lost = !buffer->primary;
        }
    }
    signal_due_notes();
}

} // namespace os::seam
