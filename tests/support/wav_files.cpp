#include "support/wav_files.h"

#include <fstream>

namespace {

std::string le(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
    return out;
}

} // namespace

namespace test_support {

std::string format_name(const pcm_format& f) {
    return std::to_string(f.rate) + "_" + std::to_string(f.bits) + "_" +
           (f.channels == 1   ? "mono"
            : f.channels == 2 ? "stereo"
                              : std::to_string(f.channels) + "ch");
}

std::string chunk(const std::string& id, const std::string& body) {
    std::string out = id + le(static_cast<std::uint32_t>(body.size()), 4) + body;
    if (body.size() % 2)
        out.push_back('\0');
    return out;
}

std::string fmt_body(const pcm_format& f) {
    return le(f.tag, 2) + le(f.channels, 2) + le(f.rate, 4) + le(f.rate * f.block_align(), 4) +
           le(f.block_align(), 2) + le(f.bits, 2);
}

std::string riff(const std::string& chunks, const std::string& form, std::int64_t size) {
    const auto field =
        size < 0 ? static_cast<std::uint32_t>(chunks.size() + 4) : static_cast<std::uint32_t>(size);
    return "RIFF" + le(field, 4) + form + chunks;
}

std::string wav(const pcm_format& format, const std::string& data) {
    return riff(chunk("fmt ", fmt_body(format)) + chunk("data", data));
}

std::string noise(std::size_t count, std::uint32_t seed) {
    std::string out(count, '\0');
    std::uint32_t x = seed * 2654435761u + 12345;
    for (auto& c : out) {
        x = x * 1103515245u + 12345;
        c = static_cast<char>(x >> 16);
    }
    return out;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace test_support
