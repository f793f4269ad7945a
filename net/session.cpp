#include "net/session.h"

#include "base/log.h"

#include <cstdio>
#include <vector>

std::string code_text(std::uint16_t code) {
    char text[8];
    std::snprintf(text, sizeof text, "%04u", static_cast<unsigned>(code));
    return text;
}

void send_message(os::hnetpeer peer, const net_message& message, bool reliable) {
    static std::vector<std::uint8_t> bytes; // its room serves every message (main thread only)
    std::string error;
    if (!peer)
        return;
    if (!encode_message(message, bytes, error)) {
        log_printf(main_log, " (net) not sent [%s]\n", error.c_str());
        return;
    }
    os::net_send(peer, reliable ? net_control_channel : net_play_channel, bytes,
                 reliable ? os::net_delivery::reliable : os::net_delivery::unsequenced);
}
