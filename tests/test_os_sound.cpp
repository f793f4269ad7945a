// The OS layer's sound device where the player does not show it: saturation, notifications across
// the wrap and on stop, locks and lost buffers. (The player's tests compare the mixed output of
// every format, and run the real device.)
#include "os/sound.h"
#include "os/threads.h"
#include "support/test_env.h"

#include <cstring>
#include <vector>

namespace {

using samples = std::vector<std::int16_t>;
const os::waveformatex stereo16{os::WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};

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
        os::seam::use_pulled_sound_device(false);
        brevox_test::TearDown();
    }
    // A playing buffer of these bytes, in 44100 Hz 16-bit stereo.
    os::hsoundbuffer start(const std::string& bytes, const os::position_notify* notes = nullptr,
                           std::uint32_t count = 0) {
        auto size = static_cast<std::uint32_t>(bytes.size());
        os::hsoundbuffer buffer = 0;
        os::hsoundnotify notify = 0;
        void* part = nullptr;
        const os::sound_buffer_desc desc{os::DSBCAPS_CTRLPOSITIONNOTIFY, size, &stereo16};
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

} // namespace
