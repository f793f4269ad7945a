#include "net/protocol.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

std::string bytes_text(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// What every field must hold, checked alike when a message is read and when it is written. The
// first fault is kept, and every field after it is passed over.
class field_checks {
public:
    std::string fault;

    bool ok() const { return fault.empty(); }

protected:
    void fail(std::string why) {
        if (ok())
            fault = std::move(why);
    }
    bool in_range(std::uint32_t value, std::uint32_t low, std::uint32_t high, const char* name) {
        if (value >= low && value <= high)
            return true;
        fail(std::string(name) + " " + std::to_string(value) + " is not in " + std::to_string(low) +
             ".." + std::to_string(high));
        return false;
    }
    bool only_bits(std::uint8_t value, std::uint8_t mask, const char* name) {
        if ((value & ~mask) == 0)
            return true;
        fail(std::string(name) + " " + std::to_string(value) + " set bits outside " +
             std::to_string(mask));
        return false;
    }
    bool bounded(float value, const char* name) {
        if (!std::isfinite(value)) {
            fail(std::string(name) + " is not a finite number");
            return false;
        }
        if (std::fabs(value) > net_max_magnitude) {
            char text[48];
            std::snprintf(text, sizeof text, " %.9g is beyond %.9g", static_cast<double>(value),
                          static_cast<double>(net_max_magnitude));
            fail(name + std::string(text));
            return false;
        }
        return true;
    }
    // The menu offers these three speeds and no other.
    bool game_speed(float value, const char* name) {
        if (!bounded(value, name))
            return false;
        if (value == 10.0f || value == 12.0f || value == 14.0f)
            return true;
        char text[48];
        std::snprintf(text, sizeof text, " %.9g is not 10, 12 or 14", static_cast<double>(value));
        fail(name + std::string(text));
        return false;
    }
    bool text_size(std::size_t size, const char* name) {
        if (size >= 1 && size <= net_max_version_bytes)
            return true;
        fail(std::string(name) + " of " + bytes_text(size) + " (1 to " +
             std::to_string(net_max_version_bytes) + ")");
        return false;
    }
    bool printable(std::string_view text, const char* name) {
        for (const char c : text)
            if (c < 0x20 || c > 0x7e) {
                fail(std::string(name) + " holds byte " +
                     std::to_string(static_cast<std::uint8_t>(c)) + ", not printable ASCII");
                return false;
            }
        return true;
    }
};

// Reads fields from a packet, little-endian, and checks each before it is taken.
class field_reader : public field_checks {
public:
    field_reader(std::span<const std::uint8_t> packet, std::size_t start)
        : bytes(packet), at(start) {}

    template <class T>
    void number(T& value, const char* name, std::uint32_t low = 0,
                std::uint32_t high = static_cast<T>(~T{})) {
        const auto got = take(sizeof(T), name);
        if (got.empty())
            return;
        std::uint32_t read = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            read |= static_cast<std::uint32_t>(got[i]) << (8 * i);
        if (in_range(read, low, high, name))
            value = static_cast<T>(read);
    }
    template <class E> void choice(E& value, E low, E high, const char* name) {
        std::uint8_t read = 0;
        number(read, name, static_cast<std::uint8_t>(low), static_cast<std::uint8_t>(high));
        if (ok())
            value = static_cast<E>(read);
    }
    void flag(bool& value, const char* name) {
        std::uint8_t read = 0;
        number(read, name, 0, 1);
        if (ok())
            value = read != 0;
    }
    void bits(std::uint8_t& value, std::uint8_t mask, const char* name) {
        std::uint8_t read = 0;
        number(read, name);
        if (ok() && only_bits(read, mask, name))
            value = read;
    }
    void real(float& value, const char* name) {
        const float read = raw_float(name);
        if (ok() && bounded(read, name))
            value = read;
    }
    void speed(float& value, const char* name) {
        const float read = raw_float(name);
        if (ok() && game_speed(read, name))
            value = read;
    }
    void text(std::string& value, const char* name) {
        std::uint8_t size = 0;
        number(size, name);
        if (!ok() || !text_size(size, name))
            return;
        const auto got = take(size, name);
        const std::string_view read(reinterpret_cast<const char*>(got.data()), got.size());
        if (ok() && printable(read, name))
            value.assign(read);
    }
    void magic(const char (&expected)[8]) {
        const auto got = take(sizeof expected, "magic");
        if (ok() && std::memcmp(got.data(), expected, sizeof expected) != 0)
            fail("does not start with " + std::string(expected, sizeof expected));
    }
    void protocol_version() {
        std::uint16_t version = 0;
        number(version, "protocol version");
        if (ok() && version != net_protocol_version)
            fail("protocol version " + std::to_string(version) + ", this brevox speaks version " +
                 std::to_string(net_protocol_version));
    }
    // After the last field: nothing may follow it.
    void end() {
        if (ok() && at != bytes.size())
            fail(bytes_text(bytes.size() - at) + " after its end");
    }

private:
    std::span<const std::uint8_t> take(std::size_t count, const char* name) {
        if (!ok())
            return {};
        if (bytes.size() - at < count) {
            fail(std::string("cut short at its ") + name + ", after " + bytes_text(bytes.size()));
            return {};
        }
        const auto got = bytes.subspan(at, count);
        at += count;
        return got;
    }
    float raw_float(const char* name) {
        std::uint32_t bits = 0;
        number(bits, name);
        return std::bit_cast<float>(bits);
    }

    std::span<const std::uint8_t> bytes;
    std::size_t at;
};

// Writes fields, little-endian, each checked as the reader checks it.
class field_writer : public field_checks {
public:
    std::vector<std::uint8_t> bytes;

    template <class T>
    void number(T value, const char* name, std::uint32_t low = 0,
                std::uint32_t high = static_cast<T>(~T{})) {
        if (ok() && in_range(value, low, high, name))
            put(value, sizeof(T));
    }
    template <class E> void choice(E value, E low, E high, const char* name) {
        number(static_cast<std::uint8_t>(value), name, static_cast<std::uint8_t>(low),
               static_cast<std::uint8_t>(high));
    }
    void flag(bool value, const char* name) { number<std::uint8_t>(value ? 1 : 0, name); }
    void bits(std::uint8_t value, std::uint8_t mask, const char* name) {
        if (ok() && only_bits(value, mask, name))
            put(value, 1);
    }
    void real(float value, const char* name) {
        if (ok() && bounded(value, name))
            put(std::bit_cast<std::uint32_t>(value), 4);
    }
    void speed(float value, const char* name) {
        if (ok() && game_speed(value, name))
            put(std::bit_cast<std::uint32_t>(value), 4);
    }
    void text(const std::string& value, const char* name) {
        if (!ok() || !text_size(value.size(), name) || !printable(value, name))
            return;
        put(static_cast<std::uint32_t>(value.size()), 1);
        bytes.insert(bytes.end(), value.begin(), value.end());
    }
    void magic(const char (&expected)[8]) {
        if (!ok())
            return;
        for (const char c : expected) // one by one: GCC 12 warns of an insert here when optimising
            bytes.push_back(static_cast<std::uint8_t>(c));
    }
    void protocol_version() { number(net_protocol_version, "protocol version"); }
    void end() {}

private:
    void put(std::uint32_t value, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i)
            bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
};

// Each body's fields in the order they travel: one description for reading and writing.

template <class Io> void fields(Io& io, net_hello& m) {
    io.protocol_version();
    io.text(m.version, "version");
    io.number(m.code, "join code", 0, net_max_code);
}

template <class Io> void fields(Io& io, net_welcome& m) {
    io.text(m.version, "version");
    io.number(m.field_width, "field width", 1, net_max_field_size);
    io.number(m.field_height, "field height", 1, net_max_field_size);
    io.speed(m.speed, "game speed");
    io.number(m.left_score, "left score");
    io.number(m.right_score, "right score");
    io.number(m.guest_side, "guest's side", net_guest_side, net_guest_side);
}

template <class Io> void fields(Io& io, net_refused& m) {
    io.choice(m.reason, net_refusal::other_version, net_refusal::seat_taken, "reason");
    io.text(m.version, "version");
}

template <class Io> void fields(Io& io, net_input& m) {
    io.number(m.sequence, "sequence");
    io.number(m.count, "key picture count", 1, net_max_key_pictures);
    for (std::size_t i = 0; io.ok() && i < m.count; ++i) {
        io.bits(m.pictures[i].keys, net_all_keys, "keys");
        io.number(m.pictures[i].frame_ms, "frame length", 1, 255);
    }
    io.real(m.paddle_y, "paddle y");
    io.real(m.paddle_velocity, "paddle velocity");
    io.number(m.state_frame, "state frame");
}

template <class Io> void fields(Io& io, net_state& m) {
    io.number(m.frame, "frame");
    io.number(m.time_ms, "game time");
    io.number(m.input_applied, "input applied");
    io.number(m.game_state, "game state", game_menu, game_point);
    io.number(m.server, "server", 0, 1);
    io.real(m.ball_x, "ball x");
    io.real(m.ball_y, "ball y");
    io.real(m.ball_vx, "ball x velocity");
    io.real(m.ball_vy, "ball y velocity");
    io.number(m.ball_heading, "ball heading", 0, 1);
    io.real(m.left_y, "left paddle y");
    io.real(m.left_velocity, "left paddle velocity");
    io.real(m.right_y, "right paddle y");
    io.real(m.right_velocity, "right paddle velocity");
    io.number(m.left_score, "left score");
    io.number(m.right_score, "right score");
    io.flag(m.medal_shown, "medal shown");
    io.number(m.medal_kind, "medal kind", medal_none, medal_slow);
    io.number(m.medals_awarded, "medals awarded");
    io.speed(m.speed, "game speed");
    io.number(m.field_width, "field width", 1, net_max_field_size);
    io.number(m.field_height, "field height", 1, net_max_field_size);
    io.bits(m.host_keys, net_all_keys, "host keys");
    io.choice(m.paused_by, net_pauser::none, net_pauser::guest, "pause");
    io.bits(m.menus, net_both_menus, "menus");
}

template <class Io> void fields(Io& io, net_pause& m) {
    io.choice(m.what, net_pause_change::pause, net_pause_change::menu_closed, "change");
}

template <class Io> void fields(Io&, net_leave&) {}

template <class Io> void fields(Io& io, net_query& m) {
    io.magic(net_query_magic);
    io.number(m.protocol, "protocol version");
    io.number(m.code, "join code", 0, net_max_code);
}

template <class Io> void fields(Io& io, net_answer& m) {
    io.magic(net_answer_magic);
    io.number(m.protocol, "protocol version");
    io.number(m.port, "port", 1, 65535);
}

// Reads a whole body from `in`; `out` takes it only when every field and the end were right.
template <class Body, class Out> bool read_body(field_reader& in, Out& out) {
    Body body;
    fields(in, body);
    in.end();
    if (!in.ok())
        return false;
    out = std::move(body);
    return true;
}

template <std::size_t... index> constexpr auto message_readers(std::index_sequence<index...>) {
    return std::array{&read_body<std::variant_alternative_t<index, net_message>, net_message>...};
}
// One reader for each kind, in the variant's order: the kind's byte less one.
constexpr auto readers =
    message_readers(std::make_index_sequence<std::variant_size_v<net_message>>());
static_assert(readers.size() == static_cast<std::size_t>(net_kind::leave));

// Writes a body after `head` (the kind, for a message) into `out`, whose room is reused; empty
// with `error` on a fault.
template <class Body>
bool write_body(Body body, const char* name, std::span<const std::uint8_t> head,
                std::vector<std::uint8_t>& out, std::string& error) {
    field_writer writer;
    writer.bytes.swap(out);
    writer.bytes.assign(head.begin(), head.end());
    writer.bytes.reserve(net_max_message_bytes);
    fields(writer, body);
    writer.bytes.swap(out);
    if (!writer.ok()) {
        error = std::string(name) + ": " + writer.fault;
        out.clear();
        return false;
    }
    return true;
}

template <class Datagram>
bool read_datagram(std::span<const std::uint8_t> bytes, const char* name, Datagram& datagram,
                   std::string& error) {
    field_reader in(bytes, 0);
    if (read_body<Datagram>(in, datagram))
        return true;
    error = std::string(name) + ": " + in.fault;
    return false;
}

} // namespace

net_kind kind_of(const net_message& message) { return static_cast<net_kind>(message.index() + 1); }

const char* kind_name(net_kind kind) {
    static constexpr const char* names[] = {"hello", "welcome", "refused", "input",
                                            "state", "pause",   "leave"};
    const auto index = static_cast<std::size_t>(kind) - 1;
    return index < std::size(names) ? names[index] : "unknown";
}

bool encode_message(const net_message& message, std::vector<std::uint8_t>& bytes,
                    std::string& error) {
    const net_kind kind = kind_of(message);
    const std::uint8_t head[] = {static_cast<std::uint8_t>(kind)};
    return std::visit(
        [&](const auto& body) { return write_body(body, kind_name(kind), head, bytes, error); },
        message);
}

bool decode_message(std::span<const std::uint8_t> bytes, net_message& message, std::string& error) {
    if (bytes.empty()) {
        error = "an empty message";
        return false;
    }
    const std::uint8_t kind = bytes[0];
    if (kind == 0 || kind > readers.size()) {
        error = "unknown message kind " + std::to_string(kind);
        return false;
    }
    field_reader in(bytes, 1);
    if (readers[kind - 1](in, message))
        return true;
    error = std::string(kind_name(static_cast<net_kind>(kind))) + ": " + in.fault;
    return false;
}

bool encode_query(const net_query& query, std::vector<std::uint8_t>& bytes, std::string& error) {
    return write_body(query, "query", {}, bytes, error);
}

bool decode_query(std::span<const std::uint8_t> bytes, net_query& query, std::string& error) {
    return read_datagram(bytes, "query", query, error);
}

bool encode_answer(const net_answer& answer, std::vector<std::uint8_t>& bytes, std::string& error) {
    return write_body(answer, "answer", {}, bytes, error);
}

bool decode_answer(std::span<const std::uint8_t> bytes, net_answer& answer, std::string& error) {
    return read_datagram(bytes, "answer", answer, error);
}

std::uint32_t protocol_fingerprint(std::string_view version) {
    std::uint32_t hash = 2166136261u; // FNV-1a's offset basis
    const auto mix = [&hash](std::string_view text) {
        for (const char c : text) {
            hash ^= static_cast<std::uint8_t>(c);
            hash *= 16777619u; // FNV's 32-bit prime
        }
    };
    mix("brevox-net/" + std::to_string(net_protocol_version) + " ");
    mix(version);
    return hash;
}
