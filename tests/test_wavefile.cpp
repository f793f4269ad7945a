// The WAV reader: which files it takes, and the bytes it hands out.
#include "sound/wavefile.h"
#include "support/test_env.h"
#include "support/wav_files.h"

#include <algorithm>
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

TEST_F(wavefile_test, HandsOutTheDataChunkAfterFmtInPiecesOfAnySizeAndNoMoreThanTheFileHolds) {
    const std::string sample = noise(20'011); // longer than the read buffer; odd: a pad follows
    // A longer "fmt " chunk, copied whole with its extra bytes.
    const std::string fmt = fmt_body(stereo16) + std::string("\x04\0\xAA\xBB\xCC\xDD", 6);
    reader file(riff(chunk("junk", noise(7, 2)) + chunk("data", noise(50, 9)) + chunk("fmt ", fmt) +
                     chunk("LIST", "INFO" + noise(9, 3)) + chunk("data", sample) +
                     chunk("smpl", "x")));
    ASSERT_EQ(file.opened, 1);
    EXPECT_EQ(file.format->extra_size, 4);
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(file.format)[21], 0xDD);
    for (const std::uint32_t piece : {1u, 7u, 9000u, 30'000u}) // each from a reset
        EXPECT_EQ(file.read_all(piece, sample.size()), sample) << "pieces of " << piece;
    // A file that ends inside its data gives a short count.
    reader cut(riff(chunk("fmt ", fmt_body(stereo16)) + std::string("data\xA0\x0F\0\0", 8) +
                    sample.substr(0, 300)));
    ASSERT_EQ(cut.opened, 1);
    EXPECT_EQ(cut.read_all(4000, 300), sample.substr(0, 300));
}

} // namespace
