// The WAV reader: which files it takes, and the bytes it hands out.
#include "os/fault.h"
#include "sound/wavefile.h"
#include "support/test_env.h"
#include "support/wav_files.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using namespace test_support;

class wavefile_test : public brevox_test {
protected:
    void TearDown() override {
        for (auto& reader : readers) {
            delete[] reinterpret_cast<std::uint8_t*>(reader->format);
            reader->close();
        }
        brevox_test::TearDown();
    }

    cwavefile& open_bytes(const std::string& bytes, int& result) {
        write_file("t.wav", bytes);
        readers.push_back(std::make_unique<cwavefile>());
        result = readers.back()->open("t.wav");
        return *readers.back();
    }

    // Reads everything in pieces of `piece`, checking each return; the bytes handed out.
    static std::string read_all(cwavefile& reader, std::uint32_t piece, std::size_t total) {
        std::string out;
        std::string buffer(piece + 1, '\0');
        for (int guard = 0; guard < 100000; ++guard) {
            std::uint32_t got = 12345;
            EXPECT_EQ(reader.read(piece, reinterpret_cast<std::uint8_t*>(buffer.data()), got), 1);
            const std::size_t left = total - out.size();
            EXPECT_EQ(got, std::min<std::size_t>(piece, left)) << "at byte " << out.size();
            out.append(buffer, 0, got);
            if (got < piece || piece == 0)
                break;
        }
        return out;
    }

    std::vector<std::unique_ptr<cwavefile>> readers;
};

const pcm_format stereo16{};

TEST_F(wavefile_test, RefusesFilesThatAreNotPcmWaveWithFmtBeforeData) {
    const std::string fmt = chunk("fmt ", fmt_body(stereo16));
    const std::string data = chunk("data", noise(64));
    pcm_format adpcm = stereo16;
    adpcm.tag = 2;
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty file", ""},
        {"header cut short", "RIFF\x10\0\0\0WA"},
        {"form type not WAVE", riff(fmt + data, "AVI ")},
        {"no fmt chunk", riff(data)},
        {"no data chunk", riff(fmt)},
        {"data before fmt", riff(data + fmt)},
        {"not PCM", riff(chunk("fmt ", fmt_body(adpcm)) + data)},
        {"fmt shorter than a PCM format",
         riff(chunk("fmt ", fmt_body(stereo16).substr(0, 14)) + data)},
        {"fmt larger than the file",
         riff(std::string("fmt \xF0\xFF\xFF\x7F", 8) + fmt_body(stereo16))},
        {"data hidden beyond the RIFF size", riff(fmt + data, "WAVE", 4 + fmt.size())},
        {"LIST chunk size below its form type",
         riff(std::string("LIST\x02\0\0\0", 8) + fmt + data)},
    };
    for (const auto& c : cases) {
        int result = -1;
        open_bytes(c.bytes, result);
        EXPECT_EQ(result, 0) << c.what;
    }
    cwavefile missing;
    EXPECT_EQ(missing.open("no-such-file.wav"), 0);
}

TEST_F(wavefile_test, SkipsOtherChunksAroundFmtAndDataAndHandsOutOnlyTheData) {
    const std::string sample = noise(301); // odd: a pad byte follows
    const std::string list = chunk("LIST", "INFOISFT" + std::string("\x05\0\0\0brevo\0", 10));
    const std::string bytes =
        riff(list + chunk("junk", noise(7, 2)) + chunk("fmt ", fmt_body(stereo16)) +
             chunk("fact", noise(4, 3)) + chunk("data", sample) + chunk("smpl", noise(9, 4)));
    int result = 0;
    cwavefile& reader = open_bytes(bytes, result);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(reader.format->channels, 2);
    EXPECT_EQ(reader.format->samples_per_sec, 44100u);
    EXPECT_EQ(reader.format->extra_size, 0) << "a 16-byte fmt chunk leaves the extra size 0";
    EXPECT_EQ(reader.riff.cksize, bytes.size() - 8);
    ASSERT_EQ(reader.reset(), 1);
    EXPECT_EQ(reader.data.cksize, sample.size());
    EXPECT_EQ(read_all(reader, 1000, sample.size()), sample);
}

TEST_F(wavefile_test, ALongerFmtChunkIsCopiedWhole) {
    std::string body = fmt_body(stereo16) + std::string("\x04\0\xAA\xBB\xCC\xDD", 6);
    int result = 0;
    cwavefile& reader = open_bytes(riff(chunk("fmt ", body) + chunk("data", noise(8))), result);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(reader.format->extra_size, 4);
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(reader.format)[21], 0xDD);
}

TEST_F(wavefile_test, ReadsInPiecesOfAnySizeDownToNothing) {
    // Longer than the read buffer, so pieces cross its refills.
    const std::string sample = noise(20'011);
    int result = 0;
    cwavefile& reader = open_bytes(wav(stereo16, sample), result);
    ASSERT_EQ(result, 1);
    for (const std::uint32_t piece : {1u, 7u, 4096u, 8192u, 9000u, 20'011u, 30'000u}) {
        ASSERT_EQ(reader.reset(), 1);
        EXPECT_EQ(read_all(reader, piece, sample.size()), sample) << "pieces of " << piece;
        std::uint32_t got = 99;
        std::uint8_t byte = 0;
        EXPECT_EQ(reader.read(1, &byte, got), 1);
        EXPECT_EQ(got, 0u) << "nothing after the end";
    }
    std::uint32_t got = 99;
    ASSERT_EQ(reader.reset(), 1);
    EXPECT_EQ(reader.read(0, nullptr, got), 1);
    EXPECT_EQ(got, 0u);
}

TEST_F(wavefile_test, ResetAfterAPartialReadStartsOverWithEverythingLeft) {
    const std::string sample = noise(5000);
    int result = 0;
    cwavefile& reader = open_bytes(wav(stereo16, sample) + chunk("LIST", noise(40)), result);
    ASSERT_EQ(result, 1);
    ASSERT_EQ(reader.reset(), 1);
    std::uint8_t some[1234];
    std::uint32_t got = 0;
    ASSERT_EQ(reader.read(sizeof some, some, got), 1);
    ASSERT_EQ(reader.reset(), 1);
    EXPECT_EQ(reader.data.cksize, 5000u);
    EXPECT_EQ(read_all(reader, 777, sample.size()), sample);
}

TEST_F(wavefile_test, AFileThatEndsInsideItsDataGivesAShortCount) {
    const std::string sample = noise(300);
    // The data chunk claims 4000 bytes, the RIFF size half of memory.
    const std::string bytes =
        riff(chunk("fmt ", fmt_body(stereo16)) + std::string("data\xA0\x0F\0\0", 8) + sample,
             "WAVE", 0x7FFFFFF0);
    int result = 0;
    cwavefile& reader = open_bytes(bytes, result);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(reader.riff.cksize, bytes.size() - 8) << "the RIFF size is held to the file's";
    ASSERT_EQ(reader.reset(), 1);
    std::string buffer(4000, '\0');
    std::uint32_t got = 0;
    EXPECT_EQ(reader.read(4000, reinterpret_cast<std::uint8_t*>(buffer.data()), got), 1);
    EXPECT_EQ(got, 300u);
    EXPECT_EQ(buffer.substr(0, 300), sample);
}

TEST_F(wavefile_test, FailingFileCallsFailTheReader) {
    int result = 0;
    cwavefile& reader = open_bytes(wav(stereo16, noise(20'000)), result);
    ASSERT_EQ(result, 1);
    ASSERT_EQ(reader.reset(), 1);
    std::uint8_t buffer[10'000];
    std::uint32_t got = 0;
    os::seam::fail_call("mmio_advance");
    EXPECT_EQ(reader.read(sizeof buffer, buffer, got), 0);
    os::seam::fail_call("mmio_get_info");
    EXPECT_EQ(reader.read(10, buffer, got), 0);
    os::seam::fail_call("mmio_seek");
    EXPECT_EQ(reader.reset(), 0);
    os::seam::fail_call("mmio_descend");
    EXPECT_EQ(reader.reset(), 0);
    EXPECT_EQ(reader.reset(), 1);
    os::seam::fail_call("mmio_open");
    cwavefile other;
    EXPECT_EQ(other.open("t.wav"), 0);
}

TEST_F(wavefile_test, EverySoundOfTheGameIsCdRateMonoPcmThatStartsAtOnceAndEndsInSilence) {
    // What tools/make-sounds promises: 44100 Hz 16-bit mono PCM with only "fmt " and "data",
    // sound from the first hundredth of a second, peaks under -1 dBFS, and a last sixteenth of
    // a second of silence, which the player's stop rule may leave unplayed.
    for (const char* name : {"ace", "fastball", "slowball", "voice", "apply"}) {
        SCOPED_TRACE(name);
        const std::string path = std::string(BREVOX_SOURCE_DIR) + "/data/" + name + ".wav";
        readers.push_back(std::make_unique<cwavefile>());
        cwavefile& reader = *readers.back();
        ASSERT_EQ(reader.open(path.c_str()), 1);
        const os::waveformatex& f = *reader.format;
        EXPECT_EQ(f.format_tag, os::WAVE_FORMAT_PCM);
        EXPECT_EQ(f.channels, 1);
        EXPECT_EQ(f.samples_per_sec, 44100u);
        EXPECT_EQ(f.bits_per_sample, 16);
        EXPECT_EQ(f.block_align, 2);
        EXPECT_EQ(f.avg_bytes_per_sec, 88200u);
        const std::uint32_t bytes = reader.data.cksize;
        EXPECT_EQ(reader.riff.cksize, 4 + (8 + 16) + (8 + bytes)) << "other chunks";
        const double seconds = bytes / 88200.0;
        EXPECT_TRUE(seconds > 0.3 && seconds < 2.0) << seconds << " s";

        ASSERT_EQ(reader.reset(), 1);
        std::vector<std::int16_t> samples(bytes / 2);
        std::uint32_t got = 0;
        ASSERT_EQ(reader.read(bytes, reinterpret_cast<std::uint8_t*>(samples.data()), got), 1);
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
