#include "replay/format.h"

#include <zlib.h>

#include <bit>
#include <cstring>
#include <utility>

namespace {

void put_varint(std::string& out, std::uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

std::uint64_t zigzag(std::int64_t value) {
    return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}

std::int64_t unzigzag(std::uint64_t value) {
    return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

void put_float(std::string& out, float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(bits >> (8 * i)));
}

void put_text(std::string& out, const std::string& text) {
    put_varint(out, text.size());
    out += text;
}

// Reads from the front of a span; any read past its end sets `short_` and yields zeros.
struct creader {
    std::span<const std::uint8_t> rest;
    bool short_ = false;

    std::uint8_t byte() {
        if (rest.empty()) {
            short_ = true;
            return 0;
        }
        const std::uint8_t b = rest[0];
        rest = rest.subspan(1);
        return b;
    }
    std::uint64_t varint() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const std::uint8_t b = byte();
            value |= static_cast<std::uint64_t>(b & 0x7f) << shift;
            if ((b & 0x80) == 0)
                return value;
        }
        short_ = true; // longer than any 64-bit number
        return 0;
    }
    float real() {
        std::uint32_t bits = 0;
        for (int i = 0; i < 4; ++i)
            bits |= static_cast<std::uint32_t>(byte()) << (8 * i);
        return std::bit_cast<float>(bits);
    }
    bool text(std::string& out, std::size_t limit) {
        const std::uint64_t size = varint();
        if (short_ || size > limit || size > rest.size())
            return false;
        out.assign(reinterpret_cast<const char*>(rest.data()), size);
        rest = rest.subspan(size);
        return true;
    }
};

void put_check(std::string& out, const ccheck& c) {
    for (float f : {c.ball_x, c.ball_y, c.ball_vx, c.ball_vy, c.left_y, c.left_velocity, c.right_x,
                    c.right_y, c.right_velocity})
        put_float(out, f);
    for (std::int32_t i :
         {c.left_score, c.right_score, c.state, c.server, c.medal_kind, c.medal_shown})
        put_varint(out, zigzag(i));
}

ccheck read_check(creader& in) {
    ccheck c;
    for (float* f : {&c.ball_x, &c.ball_y, &c.ball_vx, &c.ball_vy, &c.left_y, &c.left_velocity,
                     &c.right_x, &c.right_y, &c.right_velocity})
        *f = in.real();
    for (std::int32_t* i :
         {&c.left_score, &c.right_score, &c.state, &c.server, &c.medal_kind, &c.medal_shown})
        *i = static_cast<std::int32_t>(unzigzag(in.varint()));
    return c;
}

// Inflates a gzip stream. Returns 1 when it ended in order, 0 when the input ran out first (a
// file cut short keeps what came before), -1 with `error` set when it is not one.
int inflate_file(std::span<const std::uint8_t> file, std::string& out, std::string& error) {
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        error = "cannot start zlib";
        return -1;
    }
    stream.next_in = const_cast<Bytef*>(file.data());
    stream.avail_in = static_cast<uInt>(file.size());
    int result = Z_OK;
    char chunk[16384];
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - stream.avail_out);
        if (out.size() > replay_max_bytes) {
            result = Z_MEM_ERROR;
            break;
        }
        if (result == Z_BUF_ERROR && stream.avail_in == 0)
            break; // the input ran out
        if (result == Z_BUF_ERROR)
            result = Z_OK; // the output chunk was full
    }
    const bool trailing = result == Z_STREAM_END && stream.avail_in != 0;
    inflateEnd(&stream);
    if (result == Z_STREAM_END && !trailing)
        return 1;
    if (result == Z_BUF_ERROR)
        return 0;
    error = result == Z_MEM_ERROR ? "too big to be a replay"
            : trailing            ? "bytes after the end of the compressed data"
                                  : "not a replay file (broken or not gzip data)";
    return -1;
}

// A record's payload, checked against what the game can have recorded.
bool read_payload(std::uint8_t kind, creader& in, creplay& replay, crecord& record) {
    switch (kind) {
    case record_frame:
        record.value = static_cast<std::int64_t>(in.varint());
        record.bits = in.byte();
        return record.value >= 1 && record.value <= 0xffffffffLL && record.bits < 32;
    case record_key:
        record.value = static_cast<std::int64_t>(in.varint());
        record.bits = in.byte();
        return record.value < 256 && record.bits < 2;
    case record_timer:
        record.value = in.byte();
        return record.value < 2;
    case record_calendar:
        record.value = unzigzag(in.varint());
        return true;
    case record_field:
        record.value = static_cast<std::int64_t>(in.varint());
        record.extra = static_cast<std::int32_t>(in.varint() & 0x7fffffff);
        return record.value >= 1 && record.value <= 65536 && record.extra >= 1 &&
               record.extra <= 65536;
    case record_speed:
        record.value = std::bit_cast<std::uint32_t>(in.real());
        return true;
    case record_check:
        record.value = static_cast<std::int64_t>(replay.checks.size());
        replay.checks.push_back(read_check(in));
        return true;
    case record_end:
        record.value = static_cast<std::int64_t>(in.varint());
        return true;
    default:
        return false;
    }
}

} // namespace

void encode_header(const creplay& replay, std::string& out) {
    out.append(replay_magic, sizeof replay_magic);
    out.push_back(static_cast<char>(replay.version & 0xff));
    out.push_back(static_cast<char>(replay.version >> 8));
    put_text(out, replay.program_version);
    put_text(out, replay.options);
    put_varint(out, zigzag(replay.start_time));
}

void encode_record(const crecord& record, const ccheck* check, std::string& out) {
    std::string payload;
    switch (record.kind) {
    case record_frame:
    case record_key:
        put_varint(payload, static_cast<std::uint64_t>(record.value));
        payload.push_back(static_cast<char>(record.bits));
        break;
    case record_timer:
        payload.push_back(static_cast<char>(record.value));
        break;
    case record_calendar:
        put_varint(payload, zigzag(record.value));
        break;
    case record_field:
        put_varint(payload, static_cast<std::uint64_t>(record.value));
        put_varint(payload, static_cast<std::uint64_t>(record.extra));
        break;
    case record_speed:
        put_float(payload, std::bit_cast<float>(static_cast<std::uint32_t>(record.value)));
        break;
    case record_check:
        if (check)
            put_check(payload, *check);
        break;
    case record_end:
        put_varint(payload, static_cast<std::uint64_t>(record.value));
        break;
    default:
        break;
    }
    out.push_back(static_cast<char>(record.kind));
    put_varint(out, payload.size());
    out += payload;
}

bool encode_replay(const creplay& replay, std::string& file) {
    std::string raw;
    encode_header(replay, raw);
    for (const crecord& record : replay.records) {
        const bool has_check = record.kind == record_check && record.value >= 0 &&
                               static_cast<std::size_t>(record.value) < replay.checks.size();
        encode_record(record, has_check ? &replay.checks[record.value] : nullptr, raw);
    }
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    file.resize(deflateBound(&stream, raw.size()) + 64);
    stream.next_in = reinterpret_cast<Bytef*>(raw.data());
    stream.avail_in = static_cast<uInt>(raw.size());
    stream.next_out = reinterpret_cast<Bytef*>(file.data());
    stream.avail_out = static_cast<uInt>(file.size());
    const int result = deflate(&stream, Z_FINISH);
    file.resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END;
}

bool decode_replay(std::span<const std::uint8_t> file, creplay& replay, std::string& error) {
    replay = creplay{};
    if (file.empty()) {
        error = "empty file";
        return false;
    }
    std::string raw;
    const int inflated = inflate_file(file, raw, error);
    return inflated >= 0 &&
           parse_replay(std::span(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()),
                        inflated == 1, replay, error);
}

bool parse_replay(std::span<const std::uint8_t> raw, bool whole, creplay& replay,
                  std::string& error) {
    replay = creplay{};
    creader in{raw};
    if (raw.size() < sizeof replay_magic || std::memcmp(raw.data(), replay_magic, 8) != 0) {
        error = "not a brevox replay";
        return false;
    }
    in.rest = in.rest.subspan(sizeof replay_magic);
    replay.version = static_cast<std::uint16_t>(in.byte() | in.byte() << 8);
    if (!in.short_ && replay.version != replay_version) {
        error = "format version " + std::to_string(replay.version) +
                ", this brevox plays version " + std::to_string(replay_version);
        return false;
    }
    if (!in.text(replay.program_version, 64) || !in.text(replay.options, 4096)) {
        error = "a broken header";
        return false;
    }
    replay.start_time = unzigzag(in.varint());
    if (in.short_) {
        error = "cut short in its header";
        return false;
    }

    std::int64_t frames = 0;
    while (!in.rest.empty()) {
        const std::uint8_t kind = in.byte();
        const std::uint64_t size = in.varint();
        if (in.short_ || size > in.rest.size())
            break; // cut short in this record
        creader payload{in.rest.first(size)};
        in.rest = in.rest.subspan(size);
        if (kind >= replay_first_skippable)
            continue;
        crecord record;
        record.kind = kind;
        if (!read_payload(kind, payload, replay, record) || payload.short_ ||
            !payload.rest.empty()) {
            error =
                (kind == 0 || kind > record_end ? "unknown record kind " : "bad record of kind ") +
                std::to_string(kind) + " before frame " + std::to_string(frames + 1);
            return false;
        }
        replay.records.push_back(record);
        if (kind == record_frame)
            ++frames;
        if (kind == record_end) {
            if (record.value != frames || !in.rest.empty()) {
                error = "its end mark does not close it";
                return false;
            }
            replay.complete = whole;
            break;
        }
    }
    return true;
}

namespace {

// The fields of a check in the order a difference is named, and their names.
constexpr std::pair<float ccheck::*, const char*> float_fields[] = {
    {&ccheck::ball_x, "ball x"},
    {&ccheck::ball_y, "ball y"},
    {&ccheck::ball_vx, "ball x velocity"},
    {&ccheck::ball_vy, "ball y velocity"},
    {&ccheck::left_y, "left paddle y"},
    {&ccheck::left_velocity, "left paddle velocity"},
    {&ccheck::right_x, "right paddle x"},
    {&ccheck::right_y, "right paddle y"},
    {&ccheck::right_velocity, "right paddle velocity"},
};
constexpr std::pair<std::int32_t ccheck::*, const char*> int_fields[] = {
    {&ccheck::left_score, "left score"}, {&ccheck::right_score, "right score"},
    {&ccheck::state, "game state"},      {&ccheck::server, "server"},
    {&ccheck::medal_kind, "medal"},      {&ccheck::medal_shown, "medal on show"},
};

} // namespace

const char* first_difference(const ccheck& recorded, const ccheck& played) {
    // Bit for bit: the same game computes the same floats, and -0 or a NaN must not pass.
    for (const auto& [field, name] : float_fields)
        if (std::bit_cast<std::uint32_t>(recorded.*field) !=
            std::bit_cast<std::uint32_t>(played.*field))
            return name;
    for (const auto& [field, name] : int_fields)
        if (recorded.*field != played.*field)
            return name;
    return nullptr;
}
