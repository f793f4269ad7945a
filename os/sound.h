// The sound device: the default output, a primary format of 44100 Hz 16-bit stereo, and
// secondary buffers in each sample's own PCM format. A secondary buffer is a ring that plays
// looping from its play cursor; position notifications signal events as the cursor passes
// chosen offsets, and one when the buffer stops.
//
// The device mixes every playing buffer into its output: 8-bit samples become 16-bit
// ((s - 128) << 8), mono goes to both channels, and other rates are resampled by holding each
// sample frame for as long as it lasts at its own rate (frame j of the output takes the source
// frame floor(j * rate / 44100) after the start). The sum saturates at the 16-bit limits.
//
// Locking a region hands out a copy of it; unlock writes the copy back under the device's lock,
// so the mixer never reads bytes that are being written.
//
// Two ways to run it: the real device on SDL's audio (any driver SDL finds; "dummy" and "disk"
// for runs without speakers), or a pulled device (os::seam) that mixes only when a test asks,
// with no real-time thread at all. The real device's callback allocates nothing and takes no
// lock but the device's own: a thread of the device signals the notifications it finds due, a
// moment later. The pulled device signals them before pull_sound returns.
#pragma once

#include "os/types.h"

#include <cstdint>

namespace os {

using hresult = std::int32_t;
using hsound = handle;
using hsoundbuffer = handle;
using hsoundnotify = handle;

constexpr hresult hr(std::uint32_t code) { return static_cast<hresult>(code); }

constexpr hresult DS_OK = 0;
constexpr hresult DSERR_GENERIC = hr(0x80004005);
constexpr hresult DSERR_INVALIDPARAM = hr(0x80070057);
constexpr hresult DSERR_OUTOFMEMORY = hr(0x8007000E);
constexpr hresult DSERR_NOINTERFACE = hr(0x80004002);
constexpr hresult DSERR_INVALIDCALL = hr(0x88780032);
constexpr hresult DSERR_PRIOLEVELNEEDED = hr(0x88780046);
constexpr hresult DSERR_BADFORMAT = hr(0x88780064);
constexpr hresult DSERR_NODRIVER = hr(0x88780078);
constexpr hresult DSERR_BUFFERLOST = hr(0x88780096);
constexpr bool succeeded(hresult result) { return result >= 0; }

// Cooperative levels.
constexpr std::uint32_t DSSCL_NORMAL = 1;
constexpr std::uint32_t DSSCL_PRIORITY = 2;

// Buffer description flags.
constexpr std::uint32_t DSBCAPS_PRIMARYBUFFER = 0x00000001;
constexpr std::uint32_t DSBCAPS_CTRLPOSITIONNOTIFY = 0x00000100;
constexpr std::uint32_t DSBCAPS_STICKYFOCUS = 0x00004000;
constexpr std::uint32_t DSBCAPS_GLOBALFOCUS = 0x00008000;
constexpr std::uint32_t DSBCAPS_GETCURRENTPOSITION2 = 0x00010000;

constexpr std::uint32_t DSBPLAY_LOOPING = 0x00000001;
constexpr std::uint32_t DSBSTATUS_PLAYING = 0x00000001;
constexpr std::uint32_t DSBSTATUS_BUFFERLOST = 0x00000002;
constexpr std::uint32_t DSBSTATUS_LOOPING = 0x00000004;
constexpr std::uint32_t DSBPN_OFFSETSTOP = 0xFFFFFFFF;

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

// Limits of a secondary buffer.
constexpr std::uint32_t DSBSIZE_MIN = 4;
constexpr std::uint32_t DSBSIZE_MAX = 0x0FFFFFFF;
constexpr std::uint32_t DSBFREQUENCY_MIN = 100;
constexpr std::uint32_t DSBFREQUENCY_MAX = 200000;
constexpr std::uint32_t DSBNOTIFICATIONS_MAX = 100000;

// The output: what the primary buffer is set to and what the device mixes to.
constexpr std::uint32_t output_rate = 44100;
constexpr std::uint32_t output_channels = 2;

#pragma pack(push, 1)
// A sound format as a WAV file's "fmt " chunk holds it, byte for byte (little-endian, 18 bytes).
struct waveformatex {
    std::uint16_t format_tag;
    std::uint16_t channels;
    std::uint32_t samples_per_sec;
    std::uint32_t avg_bytes_per_sec;
    std::uint16_t block_align;
    std::uint16_t bits_per_sample;
    std::uint16_t extra_size;
};
#pragma pack(pop)
static_assert(sizeof(waveformatex) == 18);

struct sound_buffer_desc {
    std::uint32_t flags;
    std::uint32_t buffer_bytes; // 0 for the primary buffer
    const waveformatex* format; // null for the primary buffer
};

struct position_notify {
    std::uint32_t offset; // a byte offset in the buffer, or DSBPN_OFFSETSTOP
    handle event;
};

// Opens the default output device; DSERR_NODRIVER when there is none.
hresult direct_sound_create(hsound& device);
hresult sound_release(hsound device);
hresult sound_set_cooperative_level(hsound device, hwnd window, std::uint32_t level);
hresult sound_create_buffer(hsound device, const sound_buffer_desc& desc, hsoundbuffer& buffer);

hresult sound_buffer_release(hsoundbuffer buffer);
// Primary buffer only: the device mixes at 44100 Hz, 16-bit stereo and accepts no other format.
hresult sound_buffer_set_format(hsoundbuffer buffer, const waveformatex& format);
hresult sound_buffer_get_current_position(hsoundbuffer buffer, std::uint32_t* play,
                                          std::uint32_t* write);
hresult sound_buffer_set_current_position(hsoundbuffer buffer, std::uint32_t position);
hresult sound_buffer_get_status(hsoundbuffer buffer, std::uint32_t& status);
// One lock at a time per buffer; a region that runs past the end continues at the start in
// the second part.
hresult sound_buffer_lock(hsoundbuffer buffer, std::uint32_t offset, std::uint32_t bytes,
                          void** part1, std::uint32_t* bytes1, void** part2, std::uint32_t* bytes2,
                          std::uint32_t flags);
hresult sound_buffer_unlock(hsoundbuffer buffer, void* part1, std::uint32_t bytes1, void* part2,
                            std::uint32_t bytes2);
hresult sound_buffer_play(hsoundbuffer buffer, std::uint32_t reserved, std::uint32_t priority,
                          std::uint32_t flags);
hresult sound_buffer_stop(hsoundbuffer buffer);
// Gives a lost buffer back its memory (silence); the caller writes it again.
hresult sound_buffer_restore(hsoundbuffer buffer);
// The buffer's notification interface; needs DSBCAPS_CTRLPOSITIONNOTIFY.
hresult sound_buffer_get_notify(hsoundbuffer buffer, hsoundnotify& notify);
hresult sound_notify_release(hsoundnotify notify);
// Only while the buffer is stopped.
hresult sound_notify_set_positions(hsoundnotify notify, std::uint32_t count,
                                   const position_notify* positions);

} // namespace os

namespace os::seam {

// From now on direct_sound_create makes a pulled device (true) or the real one (false).
void use_pulled_sound_device(bool pulled);
// Mixes `frames` stereo frames of the pulled device into `out` (2 × frames values) and signals
// the notifications that the play cursors pass. False when no pulled device is open.
bool pull_sound(std::int16_t* out, std::uint32_t frames);
// Every buffer of every device is lost and stops, as when another program takes the device.
void lose_sound_buffers();
// Called by the real device on its audio thread after each period it mixed, with the mixed
// stereo output and how many buffers played in it; for measuring latency and dropouts. Null
// (the default) turns it off.
using output_observer = void (*)(const std::int16_t* out, std::uint32_t frames,
                                 std::uint32_t playing);
void observe_output(output_observer observer);
// How many times a secondary buffer was started (sound_buffer_play) since the program began: the
// game's sounds, counted whatever device plays them.
std::uint64_t buffers_started();
// Whether the calling thread holds the device's lock, under which nothing may be allocated.
bool holding_sound_device_lock();

} // namespace os::seam
