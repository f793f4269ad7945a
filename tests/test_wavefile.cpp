// The WAV reader: which files it takes, and the bytes it hands out.
#include "sound/wavefile.h"
#include "support/test_env.h"
#include "support/wav_files.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using namespace test_support;

const pcm_format stereo16{};

class wavefile_test : public brevox_test {};

// A reader of the file with these bytes.
struct reader : cwavefile {
    explicit reader(const std::string& bytes) {
        write_file("t.wav", bytes);
        opened = open("t.wav");
    }
    ~reader() {
        delete[] reinterpret_cast<std::uint8_t*>(format);
        close();
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
         })
        EXPECT_EQ(reader(bytes).opened, 0) << bytes.size() << " bytes";
}

TEST_F(wavefile_test, HandsOutOnlyTheDataChunkThatFollowsFmt) {
    const std::string sample = noise(301); // odd: a pad byte follows
    // A longer "fmt " chunk, copied whole with its extra bytes.
    const std::string fmt = fmt_body(stereo16) + std::string("\x04\0\xAA\xBB\xCC\xDD", 6);
    reader file(riff(chunk("junk", noise(7, 2)) + chunk("data", noise(50, 9)) + chunk("fmt ", fmt) +
                     chunk("LIST", "INFO" + noise(9, 3)) + chunk("data", sample) +
                     chunk("smpl", "x")));
    ASSERT_EQ(file.opened, 1);
    EXPECT_EQ(file.format->extra_size, 4);
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(file.format)[21], 0xDD);
    EXPECT_EQ(file.read_all(1000, sample.size()), sample);
}

TEST_F(wavefile_test, ReadsInPiecesOfAnySizeAndStartsOverOnReset) {
    const std::string sample = noise(20'011); // longer than the read buffer
    reader file(wav(stereo16, sample));
    ASSERT_EQ(file.opened, 1);
    for (const std::uint32_t piece : {1u, 7u, 8192u, 9000u, 30'000u}) {
        std::uint8_t some[1234];
        std::uint32_t got = 0;
        ASSERT_EQ(file.read(sizeof some, some, got), 1);
        EXPECT_EQ(file.read_all(piece, sample.size()), sample) << "pieces of " << piece;
    }
}

TEST_F(wavefile_test, AFileThatEndsInsideItsDataGivesAShortCount) {
    const std::string sample = noise(300);
    reader file(
        riff(chunk("fmt ", fmt_body(stereo16)) + std::string("data\xA0\x0F\0\0", 8) + sample));
    ASSERT_EQ(file.opened, 1);
    EXPECT_EQ(file.read_all(4000, sample.size()), sample);
}

TEST_F(wavefile_test, EverySoundOfTheGameIsCdRateMonoPcmThatStartsAtOnceAndEndsInSilence) {
    // What tools/make-sounds promises: 44100 Hz 16-bit mono PCM with only "fmt " and "data",
    // sound from the first hundredth of a second, peaks under -1 dBFS, and a last sixteenth of
    // a second of silence.
    for (const char* name : {"ace", "fastball", "slowball", "voice", "apply"}) {
        SCOPED_TRACE(name);
        std::ifstream in(std::string(BREVOX_SOURCE_DIR) + "/data/" + name + ".wav",
                         std::ios::binary);
        reader file(std::string(std::istreambuf_iterator<char>(in), {}));
        ASSERT_EQ(file.opened, 1);
        const os::waveformatex& f = *file.format;
        EXPECT_EQ(f.format_tag, os::WAVE_FORMAT_PCM);
        EXPECT_EQ(f.channels, 1);
        EXPECT_EQ(f.samples_per_sec, 44100u);
        EXPECT_EQ(f.bits_per_sample, 16);
        EXPECT_EQ(f.block_align, 2);
        EXPECT_EQ(f.avg_bytes_per_sec, 88200u);
        const std::uint32_t bytes = file.data.cksize;
        EXPECT_EQ(file.riff.cksize, 4 + (8 + 16) + (8 + bytes)) << "other chunks";
        const double seconds = bytes / 88200.0;
        EXPECT_TRUE(seconds > 0.3 && seconds < 2.0) << seconds << " s";

        ASSERT_EQ(file.reset(), 1);
        std::vector<std::int16_t> samples(bytes / 2);
        std::uint32_t got = 0;
        ASSERT_EQ(file.read(bytes, reinterpret_cast<std::uint8_t*>(samples.data()), got), 1);
        ASSERT_EQ(got, bytes);
        ASSERT_GT(samples.size(), 4410u);
        auto peak = [&](std::size_t from, std::size_t to) {
            int most = 0;
            for (std::size_t i = from; i < to; ++i)
                most = std::max(most, std::abs(static_cast<int>(samples[i])));
            return most;
        };
        const double full_scale = 32768.0;
        EXPECT_GT(peak(0, 441), full_scale * std::pow(10.0, -50 / 20.0)) << "a silent start";
        const int loudest = peak(0, samples.size());
        EXPECT_LT(loudest, full_scale * std::pow(10.0, -1 / 20.0)) << "over -1 dBFS";
        EXPECT_GT(loudest, full_scale * std::pow(10.0, -6 / 20.0)) << "not brought up to level";
        EXPECT_EQ(peak(samples.size() - 44100 / 16, samples.size()), 0) << "a sound at the end";
    }
}

} // namespace
