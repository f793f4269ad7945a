// Sound: the WAV reader, which files it takes and the bytes it hands out; the OS layer's sound
// device where the player does not show it (saturation, notifications across the wrap and on
// stop, locks and lost buffers); the sound player on the pulled device, what comes out of the
// mixer for each kind of file and when it stops, restarts and lost buffers, registration and its
// failures, unloading; then the real device on SDL's dummy driver, also a race hunt for
// ThreadSanitizer.
#include "os/clock.h"
#include "os/fault.h"
#include "os/queue_internal.h"
#include "os/sound.h"
#include "os/threads.h"
#include "sound/dxplay.h"
#include "sound/wavefile.h"
#include "support/test_env.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using test_support::write_file;

struct pcm_format {
    std::uint16_t channels = 2;
    std::uint32_t rate = 44100;
    std::uint16_t bits = 16;
    std::uint16_t tag = 1;
    std::uint16_t block_align() const { return static_cast<std::uint16_t>(channels * bits / 8); }
};

// The lowest `bytes` bytes of the value, little-endian.
std::string le(std::uint32_t value, int bytes) {
    std::string out;
    test_support::put_le(out, value, bytes);
    return out;
}

// A chunk with its id and size field, and a pad byte when the size is odd.
std::string chunk(const std::string& id, const std::string& body) {
    return id + le(static_cast<std::uint32_t>(body.size()), 4) + body +
           std::string(body.size() % 2, '\0');
}

// A "fmt " chunk body of 16 bytes (a PCM format without its extra-size field).
std::string fmt_body(const pcm_format& f) {
    return le(f.tag, 2) + le(f.channels, 2) + le(f.rate, 4) + le(f.rate * f.block_align(), 4) +
           le(f.block_align(), 2) + le(f.bits, 2);
}

// "RIFF" <size> <form type> followed by the chunks; size defaults to the true one.
std::string riff(const std::string& chunks, const std::string& form = "WAVE",
                 std::int64_t size = -1) {
    const auto riff_size = static_cast<std::uint32_t>(size < 0 ? chunks.size() + 4 : size);
    return "RIFF" + le(riff_size, 4) + form + chunks;
}

// The usual file: fmt then data.
std::string wav(const pcm_format& format, const std::string& data) {
    return riff(chunk("fmt ", fmt_body(format)) + chunk("data", data));
}

// `count` bytes that differ from their neighbours.
std::string noise(std::size_t count, std::uint32_t seed = 1) {
    std::mt19937 random(seed);
    std::string out(count, '\0');
    for (auto& c : out)
        c = static_cast<char>(random());
    return out;
}

const pcm_format stereo16{};

using wavefile_test = brevox_test;

// A reader of the file with these bytes.
struct reader : cwavefile {
    explicit reader(const std::string& bytes) {
        write_file("t.wav", bytes);
        opened = open("t.wav");
    }
    // From the first sample byte on, in pieces of `piece`, checking every count; what came out.
    std::string read_all(std::uint32_t piece, std::size_t total) {
        EXPECT_EQ(reset(), 1);
        std::string out, buffer(piece, '\0');
        std::uint32_t got = 0;
        do {
            EXPECT_EQ(read(piece, reinterpret_cast<std::uint8_t*>(buffer.data()), got), 1);
            EXPECT_EQ(got, std::min<std::size_t>(piece, total - out.size())) << out.size();
            out.append(buffer, 0, got);
        } while (got == piece && out.size() <= total);
        return out;
    }
    int opened;
};

TEST_F(wavefile_test, RefusesFilesThatAreNotPcmWaveWithFmtBeforeData) {
    const std::string fmt = chunk("fmt ", fmt_body(stereo16));
    const std::string data = chunk("data", noise(64));
    pcm_format adpcm = stereo16;
    adpcm.tag = 2;
    for (const std::string& bytes : {
             std::string(), std::string("RIFF\x10\0\0\0WA", 10), riff(fmt + data, "AVI "),
             riff(data), riff(fmt), riff(data + fmt), riff(chunk("fmt ", fmt_body(adpcm)) + data),
             riff(chunk("fmt ", fmt_body(stereo16).substr(0, 14)) + data),
             riff(std::string("fmt \xF0\xFF\xFF\x7F", 8) + fmt_body(stereo16)),
             riff(fmt + data, "WAVE", 4 + fmt.size()), // the data lies beyond the RIFF size
             riff(std::string("LIST\x02\0\0\0", 8) + fmt + data), // too small for its form type
         }) {
        const reader refused(bytes);
        EXPECT_EQ(refused.opened, 0) << bytes.size() << " bytes";
        EXPECT_FALSE(refused.is_open() || refused.format()) << "held: " << bytes.size() << " bytes";
    }
}

TEST_F(wavefile_test, HandsOutTheDataChunkAfterFmtInPiecesOfAnySizeAndNoMoreThanTheFileHolds) {
    const std::string sample = noise(20'011); // longer than the read buffer; odd: a pad follows
    // A longer "fmt " chunk, copied whole with its extra bytes.
    const std::string fmt = fmt_body(stereo16) + std::string("\x04\0\xAA\xBB\xCC\xDD", 6);
    reader file(riff(chunk("junk", noise(7, 2)) + chunk("data", noise(50, 9)) + chunk("fmt ", fmt) +
                     chunk("LIST", "INFO" + noise(9, 3)) + chunk("data", sample) +
                     chunk("smpl", "x")));
    ASSERT_EQ(file.opened, 1);
    EXPECT_EQ(file.format()->extra_size, 4);
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(file.format())[21], 0xDD);
    for (const std::uint32_t piece : {1u, 7u, 9000u, 30'000u}) // each from a reset
        EXPECT_EQ(file.read_all(piece, sample.size()), sample) << "pieces of " << piece;
    // A file that ends inside its data gives a short count.
    reader cut(riff(chunk("fmt ", fmt_body(stereo16)) + std::string("data\xA0\x0F\0\0", 8) +
                    sample.substr(0, 300)));
    ASSERT_EQ(cut.opened, 1);
    EXPECT_EQ(cut.read_all(4000, 300), sample.substr(0, 300));
}

using samples = std::vector<std::int16_t>;
const os::waveformatex device_format{os::WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};

class sound_device_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        ASSERT_EQ(os::direct_sound_create(device), os::DS_OK);
        ASSERT_EQ(os::sound_set_cooperative_level(device, 0, os::DSSCL_PRIORITY), os::DS_OK);
    }
    void TearDown() override {
        os::sound_release(device);
        brevox_test::TearDown();
    }
    // A playing buffer of these bytes, in 44100 Hz 16-bit stereo.
    os::hsoundbuffer start(const std::string& bytes, const os::position_notify* notes = nullptr,
                           std::uint32_t count = 0) {
        auto size = static_cast<std::uint32_t>(bytes.size());
        os::hsoundbuffer buffer = 0;
        os::hsoundnotify notify = 0;
        void* part = nullptr;
        const os::sound_buffer_desc desc{os::DSBCAPS_CTRLPOSITIONNOTIFY, size, &device_format};
        EXPECT_EQ(os::sound_create_buffer(device, desc, buffer), os::DS_OK);
        EXPECT_EQ(os::sound_buffer_lock(buffer, 0, size, &part, &size, nullptr, nullptr, 0), 0);
        std::memcpy(part, bytes.data(), size);
        EXPECT_EQ(os::sound_buffer_unlock(buffer, part, size, nullptr, 0), os::DS_OK);
        EXPECT_EQ(os::sound_buffer_get_notify(buffer, notify), os::DS_OK);
        EXPECT_EQ(os::sound_notify_set_positions(notify, count, notes), os::DS_OK);
        EXPECT_EQ(os::sound_buffer_play(buffer, 0, 0, os::DSBPLAY_LOOPING), os::DS_OK);
        return buffer;
    }
    static samples pull(std::uint32_t frames) {
        samples out(2 * frames, 12345);
        EXPECT_TRUE(os::seam::pull_sound(out.data(), frames));
        return out;
    }
    os::hsound device = 0;
};

TEST_F(sound_device_test, SumsPlayingBuffersWithSaturation) {
    const std::string loud("\x30\x75\xD0\x8A", 4); // +30000 left, -30000 right
    const os::hsoundbuffer a = start(loud), b = start(loud);
    EXPECT_EQ(pull(1), (samples{32767, -32768}));
    os::sound_buffer_stop(a);
    os::sound_buffer_stop(b);
    EXPECT_EQ(pull(1), samples(2, 0)) << "stopped buffers are not mixed";
}

TEST_F(sound_device_test, NotificationsFireAsTheCursorPassesThemAcrossTheWrapAndOnStop) {
    os::handle quarter = os::create_event(false, false), end = os::create_event(false, false),
               stopped = os::create_event(false, false);
    const auto signalled = [](os::handle e) { return os::wait_for_single_object(e, 0) == 0; };
    const os::position_notify at[] = {{99, quarter}, {399, end}, {os::DSBPN_OFFSETSTOP, stopped}};
    const os::hsoundbuffer buffer = start(std::string(400, '\0'), at, 3);
    pull(24);
    EXPECT_FALSE(signalled(quarter)) << "the cursor at 96";
    pull(1);
    EXPECT_TRUE(signalled(quarter));
    pull(74);
    EXPECT_FALSE(signalled(end)) << "the cursor at 396";
    pull(30);
    EXPECT_TRUE(signalled(end) && signalled(quarter)) << "past the end round to 116";
    os::sound_buffer_stop(buffer);
    EXPECT_TRUE(signalled(stopped));
    os::sound_buffer_stop(buffer);
    EXPECT_FALSE(signalled(stopped)) << "only a playing buffer stops";
    for (const os::handle e : {quarter, end, stopped})
        os::close_handle(e);
}

TEST_F(sound_device_test, ALostBufferRefusesWorkUntilRestoredToSilence) {
    const os::hsoundbuffer buffer = start(std::string(8, '\x22'));
    os::seam::lose_sound_buffers();
    void* part = nullptr;
    std::uint32_t bytes = 0;
    EXPECT_EQ(os::sound_buffer_lock(buffer, 0, 8, &part, &bytes, nullptr, nullptr, 0),
              os::DSERR_BUFFERLOST);
    EXPECT_EQ(os::sound_buffer_play(buffer, 0, 0, 0), os::DSERR_BUFFERLOST);
    EXPECT_EQ(os::sound_buffer_restore(buffer), os::DS_OK);
    ASSERT_EQ(os::sound_buffer_lock(buffer, 0, 8, &part, &bytes, nullptr, nullptr, 0), os::DS_OK);
    std::memset(part, 0x11, bytes);
    EXPECT_EQ(os::sound_buffer_lock(buffer, 0, 4, &part, &bytes, nullptr, nullptr, 0),
              os::DSERR_INVALIDCALL);
    EXPECT_EQ(os::sound_buffer_play(buffer, 0, 0, os::DSBPLAY_LOOPING), os::DS_OK);
    EXPECT_EQ(pull(2), samples(4, 0)) << "restored to silence; the locked copy not written back";
}

// What the real device's callback did, as its output observer sees it on the audio thread.
std::atomic<int> periods_mixed{0};
std::atomic<std::uint64_t> callback_allocations{0};
std::atomic<std::uint64_t> allocations_counted{0}; // the audio thread's count at the last period

void count_period(const std::int16_t*, std::uint32_t, std::uint32_t) {
    const std::uint64_t now = test_support::allocations_on_this_thread();
    if (periods_mixed > 0) // the first call sets the count to start from
        callback_allocations += now - allocations_counted;
    allocations_counted = now;
    ++periods_mixed;
}

// Waits in real time, ten seconds at most, for the callback to have mixed `count` periods.
bool periods_reach(int count) {
    for (int i = 0; i < 1000 && periods_mixed < count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return periods_mixed >= count;
}

// The real device on SDL's dummy driver: its callback is real time. It mixes on while another
// thread holds the lock of the events and message queues, allocates nothing, and the
// notifications it finds due are still signalled, once that lock is free.
TEST_F(sound_device_test, TheRealCallbackNeitherWaitsForTheQueuesLockNorAllocates) {
    os::sound_release(device);
    os::seam::use_pulled_sound_device(false);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(os::direct_sound_create(device), os::DS_OK);
    ASSERT_EQ(os::sound_set_cooperative_level(device, 0, os::DSSCL_PRIORITY), os::DS_OK);
    periods_mixed = 0;
    callback_allocations = 0;
    os::seam::observe_output(count_period);
    // 10 ms of sound that loops: every period of the device passes both notes.
    const os::handle passed = os::create_event(false, false);
    const os::position_notify at[] = {{0, passed}, {880, passed}};
    start(std::string(1764, '\0'), at, 2);
    ASSERT_TRUE(periods_reach(2));
    {
        std::lock_guard held(os::detail::queue_lock());
        const int before = periods_mixed;
        EXPECT_TRUE(periods_reach(before + 3)) << "the callback waits for the lock";
    }
    EXPECT_EQ(os::wait_for_single_object(passed, 10'000), os::WAIT_OBJECT_0);
    os::sound_release(device);
    device = 0;
    os::seam::observe_output(nullptr);
    unsetenv("SDL_AUDIODRIVER");
    os::close_handle(passed);
    if (test_support::counts_allocations()) {
        EXPECT_EQ(callback_allocations, 0u);
    }
}

// One block of every format used here lasts this many output frames.
constexpr std::uint32_t block_frames = 2756;

class dxplay_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        ASSERT_EQ(dxplay_open(0), 1);
    }
    void TearDown() override {
        dxplay_close();
        brevox_test::TearDown();
    }
    // Loads a file of these bytes as `sample`, and plays it.
    bool load(const std::string& bytes, const std::string& name = "s.wav") {
        write_file(name, bytes);
        return (sample = dxplay_load(name.c_str())) != nullptr;
    }
    bool start(const std::string& bytes) { return load(bytes) && sample->play() == 1; }
    bool playing() const { return is_playing(sample); }
    // Pulls block by block, letting the sound thread refill after each one as it would have time
    // to on a real device.
    static std::vector<std::int16_t> stream(int blocks) {
        std::vector<std::int16_t> out(2 * block_frames * blocks);
        for (int i = 0; i < blocks; ++i) {
            EXPECT_TRUE(os::seam::pull_sound(&out[2 * block_frames * i], block_frames));
            EXPECT_TRUE(os::seam::settle_threads());
        }
        return out;
    }
    // The file's frames as the device puts them out (see os/sound.h), then silence.
    static std::vector<std::int16_t> expected(const pcm_format& f, const std::string& data,
                                              int blocks) {
        std::vector<std::int16_t> out;
        for (std::size_t j = 0; j < 2 * block_frames * blocks; ++j) {
            const std::size_t at =
                j / 2 * f.rate / 44100 * f.block_align() + j % 2 * (f.channels - 1) * f.bits / 8;
            const auto* p = reinterpret_cast<const std::uint8_t*>(data.data()) + at;
            out.push_back(at >= data.size() ? 0
                          : f.bits == 8     ? static_cast<std::int16_t>((p[0] - 128) * 256)
                                            : static_cast<std::int16_t>(p[0] | p[1] << 8));
        }
        return out;
    }
    csample* sample = nullptr;
};

TEST_F(dxplay_test, PlaysEveryByteOfTheDataThenStopsWithinOneBlock) {
    const std::string after = chunk("junk", std::string(2 * 176400, '\0')); // in the RIFF size
    const struct {
        pcm_format f;
        std::size_t frames;
        std::string after = "";
    } cases[] = {{{2, 44100, 16}, 56'500}, {{2, 44100, 16}, 56'500, after}, {{2, 44100, 16}, 25},
                 {{1, 44100, 8}, 8'000},   {{2, 22050, 8}, 4'000},          {{1, 22050, 16}, 4'000},
                 {{1, 22050, 8}, 4'000},   {{2, 33075, 16}, 6'000}};
    for (const auto& c : cases) {
        const std::string data = noise(c.frames * c.f.block_align(), c.f.rate + c.f.bits);
        ASSERT_TRUE(start(riff(chunk("fmt ", fmt_body(c.f)) + chunk("data", data) + c.after)));
        const int blocks = static_cast<int>(data.size() / sample->block + 1);
        EXPECT_EQ(stream(blocks), expected(c.f, data, blocks))
            << c.f.rate << " " << c.f.bits << " " << c.f.channels;
        EXPECT_FALSE(playing()) << data.size() << " + " << c.after.size();
        EXPECT_EQ(dxplay_unload(sample), 1);
    }
}

TEST_F(dxplay_test, RestartsRefillFirstAndSurviveFailedFillsIgnoredSlotsAndLostBuffers) {
    const std::string data = noise(20 * 11024);
    ASSERT_TRUE(start(wav(stereo16, data)));
    stream(3);
    // A refill that fails keeps the gap open: the cursor must not have moved to stale bytes, and
    // a region left locked would refuse the next lock.
    os::seam::fail_call("mmio_advance");
    EXPECT_EQ(sample->play(), 0);
    EXPECT_EQ(stream(1), expected(stereo16, data.substr(3 * 11024), 1));
    ASSERT_EQ(sample->play(), 1);
    os::set_event(sample->position_event); // of a block end passed before the restart
    ASSERT_TRUE(os::seam::settle_threads());
    EXPECT_EQ(stream(2), expected(stereo16, data, 2));
    os::seam::fail_call("mmio_advance", -1, 2);
    stream(2);
    ASSERT_EQ(sample->play(), 1) << "nor may a failed refill leave it locked";
    // The thread leaves the slot it is told to ignore alone until told otherwise: its message
    // is WM_USER + 3, with the slot or -1 for none.
    constexpr std::uint32_t ignore_slot = os::WM_USER + 3;
    ASSERT_TRUE(os::post_thread_message(dxplay.thread_id, ignore_slot, 0, 0));
    ASSERT_EQ(os::wait_for_single_object(dxplay.ack_event, os::INFINITE), os::WAIT_OBJECT_0);
    stream(1);
    EXPECT_EQ(sample->write_pos, 0u) << "refilled while ignored";
    ASSERT_TRUE(os::post_thread_message(dxplay.thread_id, ignore_slot, 0xFFFFFFFF, 0));
    os::set_event(sample->position_event);
    ASSERT_TRUE(os::seam::settle_threads());
    EXPECT_EQ(sample->write_pos, sample->block);
    // A lost buffer is restored by play, or given up on after a bounded try.
    os::seam::lose_sound_buffers();
    ASSERT_TRUE(os::seam::settle_threads());
    ASSERT_EQ(sample->play(), 1);
    EXPECT_EQ(stream(4), expected(stereo16, data, 4));
    os::seam::lose_sound_buffers();
    os::seam::fail_call("sound_buffer_restore", os::DSERR_BUFFERLOST, os::seam::fail_always);
    const std::uint64_t before = os::seam::manual_clock_us();
    EXPECT_EQ(sample->play(), 0);
    EXPECT_EQ(os::seam::manual_clock_us() - before, 8 * 10'000u) << "eight rounds, 10 ms apart";
}

TEST_F(dxplay_test, LoadsThatFailRegisterNothingOthersGrowTheArraysAndUnloadsCloseTheGap) {
    // No block alignment; a block of 0 bytes; a sample size the device does not play.
    for (const pcm_format& f : {pcm_format{0, 44100, 16}, {1, 15, 8}, {2, 44100, 24}})
        EXPECT_FALSE(load(wav(f, noise(60)))) << f.rate << " " << f.bits;
    EXPECT_EQ(dxplay_load("missing.wav"), nullptr);
    for (const char* call : {"create_event", "sound_create_buffer", "sound_buffer_get_notify",
                             "sound_notify_set_positions", "post_thread_message"}) {
        os::seam::fail_call(call);
        EXPECT_FALSE(load(wav(stereo16, noise(64)))) << call;
    }
    const std::string data = noise(3 * 11024);
    std::vector<csample*> samples;
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(load(wav(stereo16, data)));
        samples.push_back(sample);
        EXPECT_EQ(dxplay.capacity, i < 3 ? 4 : i < 5 ? 6 : 8) << "after " << i + 1;
    }
    ASSERT_EQ(dxplay_unload(samples[5]), 1);
    ASSERT_EQ(dxplay_unload(samples[1]), 1);
    csample stranger;
    EXPECT_EQ(dxplay_unload(&stranger), 0);
    ASSERT_EQ(dxplay.count, 4);
    for (int i : {0, 1, 2, 3}) {
        const csample* s = samples[i + (i > 0)];
        EXPECT_TRUE(dxplay.samples[i] == s && dxplay.events[2 * i] == s->position_event &&
                    dxplay.events[2 * i + 1] == s->stop_event)
            << i;
    }
    // The thread follows the moved slots, and no longer ignores the one emptied.
    sample = samples[2];
    ASSERT_EQ(sample->play(), 1);
    EXPECT_EQ(stream(4), expected(stereo16, data, 4));
    EXPECT_FALSE(playing());
    // The thread waits on two events per sample, and a wait takes at most 63 besides its queue.
    for (int i = dxplay.count; i < 31; ++i)
        ASSERT_TRUE(load(wav(stereo16, noise(64)))) << i;
    EXPECT_FALSE(load(wav(stereo16, noise(64)))) << "one more than the thread can wait on";
    EXPECT_EQ(dxplay.count, 31);
}

TEST_F(dxplay_test, OpenFailsCleanlyWithoutADevice) {
    EXPECT_EQ(dxplay_open(0), 0) << "already open";
    dxplay_close();
    for (const char* call :
         {"direct_sound_create", "sound_set_cooperative_level", "sound_create_buffer",
          "sound_buffer_set_format", "create_event", "create_thread"}) {
        os::seam::fail_call(call);
        EXPECT_EQ(dxplay_open(0), 0) << call;
        EXPECT_EQ(dxplay.dsound + dxplay.thread, 0u) << call;
    }
}

// Plays, loads and unloads while another thread keeps the device mixing: for ThreadSanitizer.
TEST_F(dxplay_test, StressPlaysLoadsAndUnloadsWhileStreaming) {
    const pcm_format formats[] = {{2, 44100, 16}, {1, 22050, 8}, {2, 22050, 16}, {1, 44100, 8}};
    std::vector<csample*> loaded;
    for (int i = 0; i < 4; ++i)
        loaded.push_back(load(wav(formats[i], noise(30'000, i)), std::to_string(i)) ? sample : 0);
    std::atomic<bool> done{false};
    std::thread device([&] {
        for (std::vector<std::int16_t> out(2 * 512); !done;)
            os::seam::pull_sound(out.data(), 512);
    });
    for (int i = 0; i < 1200; ++i) {
        EXPECT_EQ(loaded[i * 7 % 4]->play(), 1);
        if (i % 100 == 99) {
            EXPECT_EQ(dxplay_unload(loaded[i % 4]), 1);
            loaded[i % 4] =
                load(wav(formats[i % 4], noise(30'000)), std::to_string(i).insert(0, 1, 'r'))
                    ? sample
                    : 0;
        }
    }
    EXPECT_EQ(dxplay_close(), 1);
    done = true;
    device.join();
}

} // namespace
