#include "support/wav_files.h"

#include <fstream>
#include <random>

namespace test_support {

static std::string le(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
    return out;
}

std::string chunk(const std::string& id, const std::string& body) {
    return id + le(static_cast<std::uint32_t>(body.size()), 4) + body +
           std::string(body.size() % 2, '\0');
}

std::string fmt_body(const pcm_format& f) {
    return le(f.tag, 2) + le(f.channels, 2) + le(f.rate, 4) + le(f.rate * f.block_align(), 4) +
           le(f.block_align(), 2) + le(f.bits, 2);
}

std::string riff(const std::string& chunks, const std::string& form, std::int64_t size) {
    return "RIFF" + le(static_cast<std::uint32_t>(size < 0 ? chunks.size() + 4 : size), 4) + form +
           chunks;
}

std::string wav(const pcm_format& format, const std::string& data) {
    return riff(chunk("fmt ", fmt_body(format)) + chunk("data", data));
}

std::string noise(std::size_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::string out(count, '\0');
    for (auto& c : out)
        c = static_cast<char>(random());
    return out;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace test_support
