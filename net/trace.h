// The benchmark's record of network play (tools/run-bench net). With BREVOX_NET_TRACE=FILE in
// the environment a session appends a line to FILE at each of its frames, and the wire's totals
// once a second; each line starts with the time on the machine's monotonic clock in µs and the
// side ("host" or "guest"), so that the records of a host and its guest on one machine compare.
// Without the variable nothing is read, written or logged. The lines' fields are in
// docs/network.md; tools/bench_table.py reads them. Main thread only.
#pragma once

#include "os/net.h"

#include <cstdint>
#include <cstdio>

class cnet_trace {
public:
    cnet_trace() = default;
    cnet_trace(const cnet_trace&) = delete;
    cnet_trace& operator=(const cnet_trace&) = delete;
    ~cnet_trace() { close(); }

    // Opens the file the environment names, if it names one, and says so in the log.
    void open(const char* side);
    bool on() const { return file != nullptr; }
    // "TIME SIDE frame" and the figures, formatted as printf would.
    void frame(std::int64_t at_us, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // "TIME SIDE traffic SENT RECEIVED": the bytes on the wire so far (os::net_host_traffic),
    // once a second at most.
    void traffic(std::int64_t at_us, os::hnethost host);
    void close();

private:
    std::FILE* file = nullptr;
    const char* side = "";
    std::int64_t next_traffic_us = 0;
};
