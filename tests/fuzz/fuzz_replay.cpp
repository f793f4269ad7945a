// libFuzzer target for the replay decoder: any crash, overread, hang or huge allocation is a
// finding. An input with its first byte odd is taken as the bytes after zlib, so that mutations
// reach the records without breaking the gzip checksum. What it decodes must encode and decode
// again to the same records.
#include "replay/format.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    creplay replay;
    std::string error;
    const bool raw = size > 0 && (data[0] & 1);
    if (raw ? !parse_replay({data + 1, size - 1}, true, replay, error)
            : !decode_replay({data, size}, replay, error))
        return 0;
    if (!replay.complete) { // closed, so that it reads back whole
        std::int64_t frames = 0;
        for (const crecord& record : replay.records)
            frames += record.kind == record_frame;
        replay.records.push_back({record_end, 0, 0, frames});
    }
    std::string file;
    creplay again;
    if (!encode_replay(replay, file) ||
        !decode_replay({reinterpret_cast<const std::uint8_t*>(file.data()), file.size()}, again,
                       error) ||
        again.records.size() != replay.records.size() || again.checks.size() != replay.checks.size())
        std::abort();
    return 0;
}
