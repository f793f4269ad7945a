#include "net/trace.h"

#include "base/log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

void cnet_trace::open(const char* which) {
    const char* path = std::getenv("BREVOX_NET_TRACE");
    if (!path || file)
        return;
    side = which;
    log_printf(main_log, " (net) tracing to %s : ", path);
    file = std::fopen(path, "a");
    if (file)
        log_printf(main_log, "OK\n");
    else
        log_printf(main_log, "FAILED [%s]\n", std::strerror(errno));
}

void cnet_trace::frame(std::int64_t at_us, const char* format, ...) {
    if (!file)
        return;
    std::fprintf(file, "%lld %s frame ", static_cast<long long>(at_us), side);
    va_list figures;
    va_start(figures, format);
    std::vfprintf(file, format, figures);
    va_end(figures);
    std::fputc('\n', file);
}

void cnet_trace::traffic(std::int64_t at_us, os::hnethost host) {
    if (!file || at_us < next_traffic_us)
        return;
    next_traffic_us = at_us + 1'000'000;
    const os::net_traffic wire = os::net_host_traffic(host);
    std::fprintf(file, "%lld %s traffic %llu %llu\n", static_cast<long long>(at_us), side,
                 static_cast<unsigned long long>(wire.bytes_sent),
                 static_cast<unsigned long long>(wire.bytes_received));
}

void cnet_trace::close() {
    if (!file)
        return;
    if (std::fclose(file) != 0)
        log_printf(main_log, " (net) the trace could not be written whole [%s]\n",
                   std::strerror(errno));
    file = nullptr;
}
