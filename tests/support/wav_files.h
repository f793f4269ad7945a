// WAV files for the sound tests, written byte by byte so that every field can be wrong on purpose.
#pragma once

#include <cstdint>
#include <string>

namespace test_support {

struct pcm_format {
    std::uint16_t channels = 2;
    std::uint32_t rate = 44100;
    std::uint16_t bits = 16;
    std::uint16_t tag = 1;
    std::uint16_t block_align() const { return static_cast<std::uint16_t>(channels * bits / 8); }
};

// A chunk with its id and size field, and a pad byte when the size is odd.
std::string chunk(const std::string& id, const std::string& body);
// A "fmt " chunk body of 16 bytes (a PCM format without its extra-size field).
std::string fmt_body(const pcm_format& format);
// "RIFF" <size> <form type> followed by the chunks; size defaults to the true one.
std::string riff(const std::string& chunks, const std::string& form = "WAVE",
                 std::int64_t size = -1);
// The usual file: fmt then data.
std::string wav(const pcm_format& format, const std::string& data);
// `count` bytes that differ from their neighbours.
std::string noise(std::size_t count, std::uint32_t seed = 1);
void write_file(const std::string& path, const std::string& bytes);

} // namespace test_support
