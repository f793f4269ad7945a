// libFuzzer target for the network messages: any bytes decoded as a message and as the two
// discovery datagrams. A crash, an overread or a huge allocation is a finding, and so is anything
// that decodes but does not encode back to the very same bytes: the decoder took what the encoder
// refuses, or the two disagree on the layout.
#include "net/protocol.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

template <class T>
void round_trip(std::span<const std::uint8_t> packet,
                bool (*decode)(std::span<const std::uint8_t>, T&, std::string&),
                bool (*encode)(const T&, std::vector<std::uint8_t>&, std::string&)) {
    T decoded;
    std::string error;
    if (!decode(packet, decoded, error)) {
        if (error.empty())
            std::abort(); // refused without a reason
        return;
    }
    std::vector<std::uint8_t> again;
    if (!encode(decoded, again, error) || again.size() != packet.size() ||
        again.size() > net_max_message_bytes ||
        std::memcmp(again.data(), packet.data(), packet.size()) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> packet(data, size);
    round_trip<net_message>(packet, decode_message, encode_message);
    round_trip<net_query>(packet, decode_query, encode_query);
    round_trip<net_answer>(packet, decode_answer, encode_answer);
    return 0;
}
