// WAV files for the sound tests, written byte by byte so that every field can be wrong on purpose.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace test_support {

struct pcm_format {
    std::uint16_t channels = 2;
    std::uint32_t rate = 44100;
    std::uint16_t bits = 16;
    std::uint16_t tag = 1;
    std::uint16_t block_align() const { return static_cast<std::uint16_t>(channels * bits / 8); }
};

// The lowest `bytes` bytes of the value, little-endian.
inline std::string le(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
    return out;
}

// A chunk with its id and size field, and a pad byte when the size is odd.
inline std::string chunk(const std::string& id, const std::string& body) {
    return id + le(static_cast<std::uint32_t>(body.size()), 4) + body +
           std::string(body.size() % 2, '\0');
}

// A "fmt " chunk body of 16 bytes (a PCM format without its extra-size field).
inline std::string fmt_body(const pcm_format& f) {
    return le(f.tag, 2) + le(f.channels, 2) + le(f.rate, 4) + le(f.rate * f.block_align(), 4) +
           le(f.block_align(), 2) + le(f.bits, 2);
}

// "RIFF" <size> <form type> followed by the chunks; size defaults to the true one.
inline std::string riff(const std::string& chunks, const std::string& form = "WAVE",
                        std::int64_t size = -1) {
    const auto riff_size = static_cast<std::uint32_t>(size < 0 ? chunks.size() + 4 : size);
    return "RIFF" + le(riff_size, 4) + form + chunks;
}

// The usual file: fmt then data.
inline std::string wav(const pcm_format& format, const std::string& data) {
    return riff(chunk("fmt ", fmt_body(format)) + chunk("data", data));
}

// `count` bytes that differ from their neighbours.
inline std::string noise(std::size_t count, std::uint32_t seed = 1) {
    std::mt19937 random(seed);
    std::string out(count, '\0');
    for (auto& c : out)
        c = static_cast<char>(random());
    return out;
}

} // namespace test_support
