// The OS layer's sound device: mixing and conversion, notifications, lock and unlock, lost
// buffers, refusals, and the real device on SDL's drivers.
#include "os/fault.h"
#include "os/sound.h"
#include "os/threads.h"
#include "support/test_env.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

os::waveformatex pcm(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
    const auto align = static_cast<std::uint16_t>(channels * bits / 8);
    return {os::WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

class sound_device_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        os::seam::use_pulled_sound_device(true);
        ASSERT_EQ(os::direct_sound_create(device), os::DS_OK);
        ASSERT_EQ(os::sound_set_cooperative_level(device, 0, os::DSSCL_PRIORITY), os::DS_OK);
    }
    void TearDown() override {
        os::sound_release(device);
        for (const os::handle e : events)
            os::close_handle(e);
        os::seam::use_pulled_sound_device(false);
        brevox_test::TearDown();
    }

    os::hsoundbuffer make_buffer(const os::waveformatex& format, std::uint32_t bytes,
                                 std::uint32_t flags = os::DSBCAPS_CTRLPOSITIONNOTIFY) {
        os::hsoundbuffer buffer = 0;
        EXPECT_EQ(os::sound_create_buffer(device, {flags, bytes, &format}, buffer), os::DS_OK);
        return buffer;
    }
    static void write(os::hsoundbuffer buffer, std::uint32_t offset, const std::string& bytes) {
        void* part = nullptr;
        std::uint32_t length = 0;
        ASSERT_EQ(os::sound_buffer_lock(buffer, offset, static_cast<std::uint32_t>(bytes.size()),
                                        &part, &length, nullptr, nullptr, 0),
                  os::DS_OK);
        std::memcpy(part, bytes.data(), length);
        ASSERT_EQ(os::sound_buffer_unlock(buffer, part, length, nullptr, 0), os::DS_OK);
    }
    static std::vector<std::int16_t> pull(std::uint32_t frames) {
        std::vector<std::int16_t> out(2 * frames, 12345);
        EXPECT_TRUE(os::seam::pull_sound(out.data(), frames));
        return out;
    }
    os::handle event() {
        events.push_back(os::create_event(false, false));
        return events.back();
    }
    static bool signalled(os::handle e) { return os::wait_for_single_object(e, 0) == 0; }

    os::hsound device = 0;
    std::vector<os::handle> events;
};

TEST_F(sound_device_test, ConvertsRateChannelsAndSampleSizeToTheOutput) {
    // 22050 Hz 8-bit mono: each frame is held for two output frames, on both channels.
    const os::hsoundbuffer mono8 = make_buffer(pcm(1, 22050, 8), 4);
    write(mono8, 0, std::string("\x00\x40\x80\xFF", 4));
    ASSERT_EQ(os::sound_buffer_play(mono8, 0, 0, os::DSBPLAY_LOOPING), os::DS_OK);
    const std::vector<std::int16_t> expected{-32768, -32768, -32768, -32768, -16384, -16384,
                                             -16384, -16384, 0,      0,      0,      0,
                                             32512,  32512,  32512,  32512,  -32768, -32768};
    EXPECT_EQ(pull(9), expected);
    os::sound_buffer_stop(mono8);

    // 33075 Hz (3/4 of the output rate) 16-bit stereo: output frame j holds frame 3j / 4.
    const os::hsoundbuffer odd_rate = make_buffer(pcm(2, 33075, 16), 32);
    std::string frames;
    for (std::int16_t v = 1; v <= 8; ++v)
        frames += std::string(reinterpret_cast<const char*>(&v), 2) +
                  std::string(reinterpret_cast<const char*>(&v), 2);
    write(odd_rate, 0, frames);
    os::sound_buffer_play(odd_rate, 0, 0, os::DSBPLAY_LOOPING);
    std::vector<std::int16_t> left;
    const auto out = pull(8);
    for (std::size_t i = 0; i < out.size(); i += 2)
        left.push_back(out[i]);
    EXPECT_EQ(left, (std::vector<std::int16_t>{1, 1, 2, 3, 4, 4, 5, 6}));
}

TEST_F(sound_device_test, SumsPlayingBuffersWithSaturation) {
    const std::string loud("\x30\x75\xD0\x8A", 4); // +30000 left, -30000 right
    const os::hsoundbuffer a = make_buffer(pcm(2, 44100, 16), 4);
    const os::hsoundbuffer b = make_buffer(pcm(2, 44100, 16), 4);
    const os::hsoundbuffer quiet = make_buffer(pcm(2, 44100, 16), 4);
    write(a, 0, loud);
    write(b, 0, loud);
    write(quiet, 0, std::string("\x10\x00\xF0\xFF", 4)); // +16, -16
    os::sound_buffer_play(a, 0, 0, os::DSBPLAY_LOOPING);
    os::sound_buffer_play(quiet, 0, 0, os::DSBPLAY_LOOPING);
    EXPECT_EQ(pull(1), (std::vector<std::int16_t>{30016, -30016}));
    os::sound_buffer_play(b, 0, 0, os::DSBPLAY_LOOPING);
    EXPECT_EQ(pull(1), (std::vector<std::int16_t>{32767, -32768}));
    for (const auto buffer : {a, b, quiet})
        os::sound_buffer_stop(buffer);
    EXPECT_EQ(pull(1), (std::vector<std::int16_t>{0, 0})) << "stopped buffers are not mixed";
}

TEST_F(sound_device_test, NotificationsFireAsTheCursorPassesTheirOffsetsAndWhenItStops) {
    const os::hsoundbuffer buffer = make_buffer(pcm(2, 44100, 16), 400);
    const os::handle quarter = event(), end = event(), stopped = event();
    os::hsoundnotify notify = 0;
    ASSERT_EQ(os::sound_buffer_get_notify(buffer, notify), os::DS_OK);
    const os::position_notify positions[] = {
        {99, quarter}, {399, end}, {os::DSBPN_OFFSETSTOP, stopped}};
    ASSERT_EQ(os::sound_notify_set_positions(notify, 3, positions), os::DS_OK);
    ASSERT_EQ(os::sound_buffer_play(buffer, 0, 0, os::DSBPLAY_LOOPING), os::DS_OK);
    EXPECT_EQ(os::sound_notify_set_positions(notify, 3, positions), os::DSERR_INVALIDCALL)
        << "not while playing";

    pull(24);
    EXPECT_FALSE(signalled(quarter)) << "cursor at 96, before the offset";
    pull(1);
    EXPECT_TRUE(signalled(quarter));
    pull(74);
    std::uint32_t play = 0, status = 0;
    os::sound_buffer_get_current_position(buffer, &play, nullptr);
    EXPECT_EQ(play, 396u);
    EXPECT_FALSE(signalled(end));
    pull(2);
    EXPECT_TRUE(signalled(end)) << "passed while wrapping to the start";
    EXPECT_FALSE(signalled(quarter));
    pull(200);
    EXPECT_TRUE(signalled(quarter));
    EXPECT_TRUE(signalled(end));
    EXPECT_FALSE(signalled(stopped));

    os::sound_buffer_stop(buffer);
    EXPECT_TRUE(signalled(stopped));
    os::sound_buffer_stop(buffer);
    EXPECT_FALSE(signalled(stopped)) << "only a playing buffer stops";

    // Without looping the buffer plays to its end once, then stops by itself.
    write(buffer, 0, std::string(400, '\x11'));
    os::sound_buffer_set_current_position(buffer, 0);
    os::sound_buffer_play(buffer, 0, 0, 0);
    const auto out = pull(150);
    EXPECT_EQ(out[2 * 99], 0x1111);
    EXPECT_EQ(out[2 * 100], 0);
    EXPECT_TRUE(signalled(stopped));
    os::sound_buffer_get_status(buffer, status);
    EXPECT_EQ(status, 0u);
}

TEST_F(sound_device_test, LockHandsOutACopyThatOnlyUnlockWritesBack) {
    const os::hsoundbuffer buffer = make_buffer(pcm(1, 44100, 8), 16);
    void *p1 = nullptr, *p2 = nullptr;
    std::uint32_t n1 = 0, n2 = 0;
    ASSERT_EQ(os::sound_buffer_lock(buffer, 12, 8, &p1, &n1, &p2, &n2, 0), os::DS_OK);
    EXPECT_EQ(n1, 4u);
    EXPECT_EQ(n2, 4u) << "the region continues at the start";
    EXPECT_EQ(static_cast<std::uint8_t*>(p1)[0], 0x80) << "a new 8-bit buffer holds silence";
    EXPECT_EQ(os::sound_buffer_lock(buffer, 0, 4, &p1, &n1, nullptr, nullptr, 0),
              os::DSERR_INVALIDCALL);
    std::memset(p1, 0xFF, 4);
    std::memset(p2, 0x00, 4);
    os::sound_buffer_play(buffer, 0, 0, os::DSBPLAY_LOOPING);
    EXPECT_EQ(pull(1)[0], 0) << "not written back before unlock";
    ASSERT_EQ(os::sound_buffer_unlock(buffer, p1, 4, p2, 2), os::DS_OK);
    os::sound_buffer_set_current_position(buffer, 0);
    const auto out = pull(16);
    EXPECT_EQ(out[0], -32768);
    EXPECT_EQ(out[2], -32768);
    EXPECT_EQ(out[4], 0) << "only the bytes unlock was told of";
    EXPECT_EQ(out[24], 32512);
    EXPECT_EQ(os::sound_buffer_unlock(buffer, p1, 4, nullptr, 0), os::DSERR_INVALIDCALL);
}

TEST_F(sound_device_test, ALostBufferRefusesWorkUntilRestoredToSilence) {
    const os::hsoundbuffer buffer = make_buffer(pcm(2, 44100, 16), 8);
    write(buffer, 0, std::string(8, '\x22'));
    os::sound_buffer_play(buffer, 0, 0, os::DSBPLAY_LOOPING);
    os::seam::lose_sound_buffers();
    std::uint32_t status = 0;
    os::sound_buffer_get_status(buffer, status);
    EXPECT_EQ(status, os::DSBSTATUS_BUFFERLOST);
    void* p = nullptr;
    std::uint32_t n = 0;
    EXPECT_EQ(os::sound_buffer_lock(buffer, 0, 8, &p, &n, nullptr, nullptr, 0),
              os::DSERR_BUFFERLOST);
    EXPECT_EQ(os::sound_buffer_play(buffer, 0, 0, 0), os::DSERR_BUFFERLOST);
    EXPECT_EQ(pull(1), (std::vector<std::int16_t>{0, 0}));
    os::seam::fail_call("sound_buffer_restore", os::DSERR_BUFFERLOST);
    EXPECT_EQ(os::sound_buffer_restore(buffer), os::DSERR_BUFFERLOST);
    EXPECT_EQ(os::sound_buffer_restore(buffer), os::DS_OK);
    os::sound_buffer_get_status(buffer, status);
    EXPECT_EQ(status, 0u);
    os::sound_buffer_play(buffer, 0, 0, os::DSBPLAY_LOOPING);
    EXPECT_EQ(pull(2), (std::vector<std::int16_t>{0, 0, 0, 0})) << "restored memory is silence";
}

TEST_F(sound_device_test, RefusesWhatItCannotPlay) {
    os::hsoundbuffer buffer = 0;
    auto create = [&](os::waveformatex f, std::uint32_t bytes) {
        return os::sound_create_buffer(device, {0, bytes, &f}, buffer);
    };
    os::waveformatex no_align = pcm(2, 44100, 16);
    no_align.block_align = 0;
    EXPECT_EQ(create(no_align, 64), os::DSERR_BADFORMAT);
    EXPECT_EQ(create(pcm(2, 44100, 24), 60), os::DSERR_BADFORMAT);
    EXPECT_EQ(create(pcm(3, 44100, 16), 60), os::DSERR_BADFORMAT);
    EXPECT_EQ(create(pcm(1, 50, 16), 60), os::DSERR_BADFORMAT);
    os::waveformatex adpcm = pcm(1, 22050, 16);
    adpcm.format_tag = 2;
    EXPECT_EQ(create(adpcm, 64), os::DSERR_BADFORMAT);
    EXPECT_EQ(create(pcm(2, 44100, 16), 62), os::DSERR_INVALIDPARAM) << "not whole frames";
    EXPECT_EQ(create(pcm(2, 44100, 16), os::DSBSIZE_MAX + 1), os::DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer, 0u);

    buffer = make_buffer(pcm(2, 44100, 16), 64, 0);
    os::hsoundnotify notify = 0;
    EXPECT_EQ(os::sound_buffer_get_notify(buffer, notify), os::DSERR_NOINTERFACE);
    buffer = make_buffer(pcm(2, 44100, 16), 64);
    ASSERT_EQ(os::sound_buffer_get_notify(buffer, notify), os::DS_OK);
    const os::position_notify outside{64, event()};
    EXPECT_EQ(os::sound_notify_set_positions(notify, 1, &outside), os::DSERR_INVALIDPARAM);

    os::hsoundbuffer primary = 0;
    ASSERT_EQ(os::sound_create_buffer(device, {os::DSBCAPS_PRIMARYBUFFER, 0, nullptr}, primary),
              os::DS_OK);
    EXPECT_EQ(os::sound_buffer_set_format(primary, pcm(2, 22050, 16)), os::DSERR_BADFORMAT);
    EXPECT_EQ(os::sound_buffer_set_format(primary, pcm(2, 44100, 16)), os::DS_OK);
    os::sound_set_cooperative_level(device, 0, os::DSSCL_NORMAL);
    EXPECT_EQ(os::sound_buffer_set_format(primary, pcm(2, 44100, 16)), os::DSERR_PRIOLEVELNEEDED);
}

// The real device, on SDL's drivers.
class real_sound_device_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        const char* old = std::getenv("SDL_AUDIODRIVER");
        had_driver = old != nullptr;
        if (old)
            old_driver = old;
    }
    void TearDown() override {
        if (had_driver)
            setenv("SDL_AUDIODRIVER", old_driver.c_str(), 1);
        else
            unsetenv("SDL_AUDIODRIVER");
        brevox_test::TearDown();
    }
    bool had_driver = false;
    std::string old_driver;
};

TEST_F(real_sound_device_test, FailsCleanlyWithoutOutputAndPlaysOnTheDummyDriver) {
    os::hsound device = 99;
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_EQ(os::direct_sound_create(device), os::DSERR_NODRIVER);
    EXPECT_EQ(device, 0u);

    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(os::direct_sound_create(device), os::DS_OK);
    ASSERT_EQ(os::sound_set_cooperative_level(device, 0, os::DSSCL_PRIORITY), os::DS_OK);
    const os::waveformatex format = pcm(2, 44100, 16);
    os::hsoundbuffer buffer = 0;
    ASSERT_EQ(
        os::sound_create_buffer(device, {os::DSBCAPS_CTRLPOSITIONNOTIFY, 4096, &format}, buffer),
        os::DS_OK);
    os::hsoundnotify notify = 0;
    ASSERT_EQ(os::sound_buffer_get_notify(buffer, notify), os::DS_OK);
    const os::handle passed = os::create_event(false, false);
    const os::position_notify position{2047, passed};
    ASSERT_EQ(os::sound_notify_set_positions(notify, 1, &position), os::DS_OK);
    ASSERT_EQ(os::sound_buffer_play(buffer, 0, 0, os::DSBPLAY_LOOPING), os::DS_OK);
    // The driver's own thread mixes: the event must come (the limit only guards a hang).
    EXPECT_EQ(os::wait_for_single_object(passed, 20'000), os::WAIT_OBJECT_0);
    EXPECT_EQ(os::sound_release(device), os::DS_OK);
    EXPECT_EQ(os::sound_buffer_play(buffer, 0, 0, 0), os::DSERR_INVALIDPARAM)
        << "the device took its buffers with it";
    os::close_handle(passed);
}

} // namespace
