// The sound player on the pulled device: what comes out of the mixer for each kind of file,
// registration and its failures, unloading, lost buffers, and a race hunt for TSan.
#include "os/clock.h"
#include "os/fault.h"
#include "os/sound.h"
#include "os/threads.h"
#include "sound/dxplay.h"
#include "support/alloc_fault.h"
#include "support/test_env.h"
#include "support/wav_files.h"

#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

using namespace test_support;

// One block of every format used here lasts this many output frames.
constexpr std::uint32_t block_frames = 2756;

class dxplay_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        os::seam::use_pulled_sound_device(true);
    }
    void TearDown() override {
        dxplay_close();
        os::seam::use_pulled_sound_device(false);
        brevox_test::TearDown();
    }

    csample* load(const std::string& name, const std::string& bytes) {
        write_file(name, bytes);
        return dxplay_load(name.c_str());
    }
    // Pulls block by block, letting the sound thread refill after each one as it would have time
    // to on a real device.
    static std::vector<std::int16_t> stream(int blocks) {
        std::vector<std::int16_t> out;
        std::vector<std::int16_t> part(2 * block_frames);
        for (int i = 0; i < blocks; ++i) {
            EXPECT_TRUE(os::seam::pull_sound(part.data(), block_frames));
            EXPECT_TRUE(os::seam::settle_threads());
            out.insert(out.end(), part.begin(), part.end());
        }
        return out;
    }
    // The file's frames as the device puts them out (see os/sound.h), then silence.
    static std::vector<std::int16_t> expected(const pcm_format& f, const std::string& data,
                                              std::size_t frames) {
        std::vector<std::int16_t> out;
        const std::size_t source_frames = data.size() / f.block_align();
        auto sample = [&](std::size_t frame, int channel) -> std::int16_t {
            const auto* p = reinterpret_cast<const std::uint8_t*>(data.data()) +
                            frame * f.block_align() + channel * f.bits / 8;
            return f.bits == 8 ? static_cast<std::int16_t>((p[0] - 128) * 256)
                               : static_cast<std::int16_t>(p[0] | p[1] << 8);
        };
        for (std::size_t j = 0; j < frames; ++j) {
            const std::size_t src = j * f.rate / 44100;
            const bool sounding = src < source_frames;
            out.push_back(sounding ? sample(src, 0) : 0);
            out.push_back(sounding ? sample(src, f.channels - 1) : 0);
        }
        return out;
    }
    static bool playing(const csample* sample) {
        std::uint32_t status = 0;
        os::sound_buffer_get_status(sample->buffer, status);
        return (status & os::DSBSTATUS_PLAYING) != 0;
    }
    static std::int32_t registered() {
        std::lock_guard guard(dxplay.lock);
        return dxplay.count;
    }
};

const pcm_format stereo16{};

TEST_F(dxplay_test, BlocksAreASixteenthOfASecondInWholeFrames) {
    ASSERT_EQ(dxplay_open(0), 1);
    const csample* cd = load("cd.wav", wav(stereo16, noise(400)));
    ASSERT_NE(cd, nullptr);
    EXPECT_EQ(cd->block, 11024u);
    EXPECT_EQ(cd->buffer_size, 176384u);
    const csample* low = load("low.wav", wav({1, 22050, 8}, noise(400)));
    ASSERT_NE(low, nullptr);
    EXPECT_EQ(low->block, 1378u);
    EXPECT_EQ(low->buffer_size, 22048u);
    EXPECT_EQ(low->positions[0].offset, 1377u);
    EXPECT_EQ(low->positions[15].offset, 22047u);
    EXPECT_EQ(low->positions[16].offset, os::DSBPN_OFFSETSTOP);
}

class dxplay_format_test : public dxplay_test, public ::testing::WithParamInterface<pcm_format> {};

TEST_P(dxplay_format_test, PlaysTheFileThenSilenceAndStops) {
    const pcm_format f = GetParam();
    ASSERT_EQ(dxplay_open(0), 1);
    const std::uint32_t block = f.rate * f.block_align() / 16 / f.block_align() * f.block_align();
    const std::string data = noise(3 * block, f.rate + f.bits + f.channels);
    csample* sample = load("s.wav", wav(f, data));
    ASSERT_NE(sample, nullptr);
    ASSERT_EQ(sample->block, block);
    ASSERT_EQ(sample->play(), 1);
    const auto out = stream(6);
    EXPECT_EQ(out, expected(f, data, 6 * block_frames));
    EXPECT_FALSE(playing(sample)) << "stopped by the stop rule";
}

INSTANTIATE_TEST_SUITE_P(formats, dxplay_format_test,
                         ::testing::Values(pcm_format{2, 44100, 16}, pcm_format{1, 44100, 16},
                                           pcm_format{2, 44100, 8}, pcm_format{1, 44100, 8},
                                           pcm_format{2, 22050, 16}, pcm_format{1, 22050, 16},
                                           pcm_format{2, 22050, 8}, pcm_format{1, 22050, 8}),
                         [](const auto& info) { return format_name(info.param); });

TEST_F(dxplay_test, PlaysEveryByteOfTheDataThenStopsWithinOneBlock) {
    ASSERT_EQ(dxplay_open(0), 1);
    const std::string fmt = chunk("fmt ", fmt_body(stereo16));
    const struct {
        std::string data, after; // `after`: chunks behind the data, counted by the RIFF size
        int blocks;
    } cases[] = {
        {noise(20 * 11024 + 5512), "", 21},
        {noise(20 * 11024 + 5512), chunk("junk", std::string(2 * 176400, '\0')), 21},
        {noise(100), "", 1}, // shorter than one block
    };
    for (const auto& c : cases) {
        csample* sample = load("s.wav", riff(fmt + chunk("data", c.data) + c.after));
        ASSERT_NE(sample, nullptr);
        ASSERT_EQ(sample->play(), 1);
        EXPECT_EQ(stream(c.blocks), expected(stereo16, c.data, c.blocks * block_frames))
            << c.data.size();
        EXPECT_FALSE(playing(sample)) << c.data.size() << " + " << c.after.size();
        EXPECT_EQ(dxplay_unload(sample), 1);
    }
}

TEST_F(dxplay_test, ARestartThatCannotRefillLeavesThePlayCursorWhereItWas) {
    ASSERT_EQ(dxplay_open(0), 1);
    const std::string data = noise(20 * 11024);
    csample* sample = load("s.wav", wav(stereo16, data));
    ASSERT_NE(sample, nullptr);
    ASSERT_EQ(sample->play(), 1);
    stream(3);
    os::seam::fail_call("sound_buffer_lock");
    EXPECT_EQ(sample->play(), 0);
    EXPECT_EQ(stream(1), expected(stereo16, data.substr(3 * 11024), block_frames))
        << "the cursor was moved before the buffer was refilled";
}

TEST_F(dxplay_test, APositionEventAfterARestartLeavesTheBlockUnderTheCursor) {
    ASSERT_EQ(dxplay_open(0), 1);
    const std::string data = noise(20 * 11024);
    csample* sample = load("s.wav", wav(stereo16, data));
    ASSERT_NE(sample, nullptr);
    ASSERT_EQ(sample->play(), 1);
    stream(3);
    ASSERT_EQ(sample->play(), 1);
    // The event of a block end passed before the restart, handled only now.
    os::set_event(sample->position_event);
    ASSERT_TRUE(os::seam::settle_threads());
    EXPECT_EQ(stream(2), expected(stereo16, data, 2 * block_frames));
}

TEST_F(dxplay_test, TheThreadLeavesAnIgnoredSlotAloneUntilToldOtherwise) {
    ASSERT_EQ(dxplay_open(0), 1);
    csample* sample = load("s.wav", wav(stereo16, noise(20 * 11024)));
    ASSERT_NE(sample, nullptr);
    ASSERT_EQ(sample->play(), 1);
    ASSERT_TRUE(os::post_thread_message(dxplay.thread_id, dxplay_msg_ignore, 0, 0));
    ASSERT_EQ(os::wait_for_single_object(dxplay.ack_event, os::INFINITE), os::WAIT_OBJECT_0);
    stream(1);
    EXPECT_EQ(sample->write_pos, 0u) << "refilled while ignored";
    ASSERT_TRUE(os::post_thread_message(dxplay.thread_id, dxplay_msg_ignore, dxplay_no_slot, 0));
    os::set_event(sample->position_event);
    ASSERT_TRUE(os::seam::settle_threads());
    EXPECT_EQ(sample->write_pos, sample->block);
}

TEST_F(dxplay_test, PlayingAgainJumpsBackToTheStart) {
    ASSERT_EQ(dxplay_open(0), 1);
    const std::string data = noise(20 * 11024);
    csample* sample = load("s.wav", wav(stereo16, data));
    ASSERT_NE(sample, nullptr);
    ASSERT_EQ(sample->play(), 1);
    stream(3);
    ASSERT_EQ(sample->play(), 1);
    EXPECT_EQ(stream(18), expected(stereo16, data, 18 * block_frames));
}

TEST_F(dxplay_test, PadsEightBitSamplesWith80AndSixteenBitOnesWithZero) {
    ASSERT_EQ(dxplay_open(0), 1);
    for (const pcm_format f : {pcm_format{1, 22050, 8}, pcm_format{2, 22050, 16}}) {
        csample* sample = load("pad.wav", wav(f, noise(100, 7)));
        ASSERT_NE(sample, nullptr);
        ASSERT_EQ(sample->play(), 1);
        void* region = nullptr;
        std::uint32_t length = 0;
        ASSERT_EQ(os::sound_buffer_lock(sample->buffer, 0, sample->buffer_size, &region, &length,
                                        nullptr, nullptr, 0),
                  os::DS_OK);
        const auto* bytes = static_cast<const std::uint8_t*>(region);
        const std::uint8_t silence = f.bits == 8 ? 0x80 : 0x00;
        EXPECT_EQ(std::memcmp(bytes, noise(100, 7).data(), 100), 0);
        EXPECT_EQ(std::count(bytes + 100, bytes + length, silence), length - 100) << f.bits;
        os::sound_buffer_unlock(sample->buffer, region, 0, nullptr, 0);
        EXPECT_EQ(dxplay_unload(sample), 1);
    }
}

TEST_F(dxplay_test, RegistrationGrowsTheArraysAndUnloadingMovesLaterSlotsDown) {
    ASSERT_EQ(dxplay_open(0), 1);
    EXPECT_EQ(dxplay.capacity, 4);
    std::vector<csample*> samples;
    std::vector<std::string> data;
    for (int i = 0; i < 6; ++i) {
        data.push_back(noise(3 * 11024, 100 + i));
        samples.push_back(load("s" + std::to_string(i) + ".wav", wav(stereo16, data.back())));
        ASSERT_NE(samples.back(), nullptr);
        EXPECT_EQ(dxplay.capacity, i < 3 ? 4 : i < 5 ? 6 : 8) << "after " << i + 1;
    }
    ASSERT_EQ(dxplay_unload(samples[5]), 1);
    ASSERT_EQ(dxplay_unload(samples[4]), 1);
    ASSERT_EQ(registered(), 4);

    ASSERT_EQ(dxplay_unload(samples[1]), 1);
    csample stranger;
    EXPECT_EQ(dxplay_unload(&stranger), 0) << "not registered";
    ASSERT_EQ(registered(), 3);
    const csample* expect_slots[] = {samples[0], samples[2], samples[3]};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(dxplay.samples[i], expect_slots[i]);
        EXPECT_EQ(dxplay.events[2 * i], expect_slots[i]->position_event);
        EXPECT_EQ(dxplay.events[2 * i + 1], expect_slots[i]->stop_event);
    }
    EXPECT_EQ(dxplay.samples[3], nullptr);
    EXPECT_EQ(dxplay.events[6], 0u);
    // The thread follows the moved slots: the sample now in slot 2 streams to its end.
    ASSERT_EQ(samples[3]->play(), 1);
    EXPECT_EQ(stream(5), expected(stereo16, data[3], 5 * block_frames));
    EXPECT_FALSE(playing(samples[3]));
}

TEST_F(dxplay_test, LoadsThatFailLeaveNothingRegistered) {
    ASSERT_EQ(dxplay_open(0), 1);
    pcm_format adpcm = stereo16;
    adpcm.tag = 2;
    pcm_format no_align = stereo16;
    no_align.channels = 0;     // block alignment 0
    pcm_format slow{1, 15, 8}; // a block of one sixteenth of a second comes out as 0 bytes
    pcm_format deep{2, 44100, 24};
    const std::string files[] = {
        wav(adpcm, noise(64)),    riff(chunk("fmt ", fmt_body(stereo16))),
        wav(no_align, noise(64)), wav(slow, noise(64)),
        wav(deep, noise(60)),
    };
    for (const auto& bytes : files)
        EXPECT_EQ(load("bad.wav", bytes), nullptr);
    EXPECT_EQ(dxplay_load("missing.wav"), nullptr);
    write_file("good.wav", wav(stereo16, noise(64)));
    for (const char* call : {"create_event", "sound_create_buffer", "sound_buffer_get_notify",
                             "sound_notify_set_positions", "post_thread_message"}) {
        os::seam::fail_call(call);
        EXPECT_EQ(dxplay_load("good.wav"), nullptr) << call;
        os::seam::clear_faults();
    }
    if (allocation_faults_available()) {
        fail_nothrow_allocations(0);
        EXPECT_EQ(dxplay_load("good.wav"), nullptr);
        stop_failing_allocations();
    }
    EXPECT_EQ(registered(), 0);
    EXPECT_NE(dxplay_load("good.wav"), nullptr);
    EXPECT_EQ(registered(), 1);
}

TEST_F(dxplay_test, TheThirtySecondSampleIsRefused) {
    ASSERT_EQ(dxplay_open(0), 1);
    write_file("s.wav", wav({1, 8000, 8}, noise(64)));
    for (int i = 0; i < dxplay_max_samples; ++i)
        ASSERT_NE(dxplay_load("s.wav"), nullptr) << i;
    EXPECT_EQ(dxplay_load("s.wav"), nullptr);
    EXPECT_EQ(registered(), dxplay_max_samples);
    EXPECT_EQ(dxplay_close(), 1);
}

TEST_F(dxplay_test, OpenFailsCleanlyAndCanBeTriedAgain) {
    EXPECT_EQ(dxplay_load("nothing.wav"), nullptr) << "not open";
    for (const char* call :
         {"direct_sound_create", "sound_set_cooperative_level", "sound_create_buffer",
          "sound_buffer_set_format", "create_event", "create_thread"}) {
        os::seam::fail_call(call);
        EXPECT_EQ(dxplay_open(0), 0) << call;
        EXPECT_EQ(dxplay.dsound, 0u) << call;
        EXPECT_EQ(dxplay.thread, 0u) << call;
    }
    if (allocation_faults_available()) {
        fail_nothrow_allocations(1);
        EXPECT_EQ(dxplay_open(0), 0);
        stop_failing_allocations();
    }
    EXPECT_EQ(dxplay_close(), 1);
    ASSERT_EQ(dxplay_open(0), 1);
    EXPECT_EQ(dxplay_open(0), 0) << "already open";
    EXPECT_EQ(os::get_thread_priority(dxplay.thread), os::THREAD_PRIORITY_HIGHEST);
    // The queue exists as soon as open returns.
    EXPECT_TRUE(os::post_thread_message(dxplay.thread_id, os::WM_NULL, 0, 0));
}

TEST_F(dxplay_test, ALostBufferIsRestoredByPlayOrGivenUpOnAfterABoundedTry) {
    ASSERT_EQ(dxplay_open(0), 1);
    const std::string data = noise(3 * 11024);
    csample* sample = load("s.wav", wav(stereo16, data));
    ASSERT_NE(sample, nullptr);
    ASSERT_EQ(sample->play(), 1);
    stream(1);
    os::seam::lose_sound_buffers();
    ASSERT_TRUE(os::seam::settle_threads());
    ASSERT_EQ(sample->play(), 1);
    EXPECT_EQ(stream(4), expected(stereo16, data, 4 * block_frames));

    os::seam::lose_sound_buffers();
    os::seam::fail_call("sound_buffer_restore", os::DSERR_BUFFERLOST, os::seam::fail_always);
    const std::uint64_t before = os::seam::manual_clock_us();
    EXPECT_EQ(sample->play(), 0);
    EXPECT_EQ(os::seam::manual_clock_us() - before, 8 * 10'000u) << "eight rounds, 10 ms apart";
    os::seam::clear_faults();
    EXPECT_EQ(sample->play(), 1);
}

TEST_F(dxplay_test, AFailedFillLeavesTheBufferUnlocked) {
    ASSERT_EQ(dxplay_open(0), 1);
    csample* sample = load("s.wav", wav(stereo16, noise(20 * 11024)));
    ASSERT_NE(sample, nullptr);
    os::seam::fail_call("mmio_advance");
    EXPECT_EQ(sample->play(), 0);
    ASSERT_EQ(sample->play(), 1) << "a region left locked would refuse the next lock";
    os::seam::fail_call("mmio_advance", -1, 2);
    stream(2);
    void* region = nullptr;
    std::uint32_t length = 0;
    EXPECT_EQ(os::sound_buffer_lock(sample->buffer, 0, 4, &region, &length, nullptr, nullptr, 0),
              os::DS_OK);
    os::sound_buffer_unlock(sample->buffer, region, 0, nullptr, 0);
}

TEST_F(dxplay_test, UnloadAndCloseNeedTheThreadToLetGo) {
    ASSERT_EQ(dxplay_open(0), 1);
    csample* sample = load("s.wav", wav(stereo16, noise(64)));
    ASSERT_NE(sample, nullptr);
    os::seam::fail_call("post_thread_message");
    EXPECT_EQ(dxplay_unload(sample), 0) << "the thread was not told: the sample stays";
    EXPECT_EQ(registered(), 1);
    os::seam::fail_call("post_thread_message");
    EXPECT_EQ(dxplay_close(), 0);
    EXPECT_EQ(dxplay_close(), 1);
    EXPECT_EQ(dxplay.dsound, 0u);
    EXPECT_EQ(dxplay.samples, nullptr);
}

// Plays, loads and unloads while another thread keeps the device mixing: for ThreadSanitizer.
TEST_F(dxplay_test, StressPlaysLoadsAndUnloadsWhileStreaming) {
    ASSERT_EQ(dxplay_open(0), 1);
    const pcm_format formats[] = {{2, 44100, 16}, {1, 22050, 8}, {2, 22050, 16}, {1, 44100, 8}};
    for (int i = 0; i < 4; ++i)
        write_file("s" + std::to_string(i) + ".wav", wav(formats[i], noise(20'000 + 3'000 * i, i)));
    std::vector<csample*> loaded;
    for (int i = 0; i < 4; ++i)
        loaded.push_back(dxplay_load(("s" + std::to_string(i) + ".wav").c_str()));
    std::atomic<bool> done{false};
    std::atomic<long> pulls{0};
    std::thread device([&] {
        std::vector<std::int16_t> out(2 * 512);
        while (!done) {
            os::seam::pull_sound(out.data(), 512);
            ++pulls;
        }
    });
    std::mt19937 pick(42);
    int started = 0;
    for (int i = 0; i < 3000; ++i) {
        csample* sample = loaded[pick() % loaded.size()];
        started += sample && sample->play();
        if (i % 250 == 249) {
            const std::size_t slot = pick() % loaded.size();
            EXPECT_EQ(dxplay_unload(loaded[slot]), 1);
            loaded[slot] = dxplay_load(("s" + std::to_string(slot) + ".wav").c_str());
        }
    }
    while (pulls < 200)
        std::this_thread::yield();
    EXPECT_EQ(dxplay_close(), 1);
    done = true;
    device.join();
    EXPECT_EQ(started, 3000);
}

} // namespace
