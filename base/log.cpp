#include "base/log.h"

#include "base/system_report.h"

#include <cstdarg>
#include <cstring>

const char* screen_notice = nullptr;
char field_line[64] = "";

namespace {
constexpr const char* log_file_name = "brevox.log";
} // namespace

clog::clog() : line{}, stream(nullptr) {
    // Opening for writing empties what a previous run left.
    if (std::FILE* file = std::fopen(log_file_name, "w"))
        std::fclose(file);
    log_printf(this, "---- brevox[%s] started ----\n\n", brevox_version);
    write_system_report(this);
}

void clog::finish() { log_printf(this, "\n\n---- brevox ended ----\n\n"); }

int log_printf(clog* log, const char* format, ...) {
    if (!log)
        return 0;
    std::memset(log->line, 0, sizeof log->line);
    va_list args;
    va_start(args, format);
    std::vsnprintf(log->line, sizeof log->line, format, args);
    va_end(args);

    // A log that cannot be opened (read-only directory, full disk) costs the line, nothing more.
    log->stream = std::fopen(log_file_name, "a");
    if (!log->stream)
        return 0;
    // Written as it is, never used as a format again: a "%" in an argument stays a "%".
    const std::size_t length = std::strlen(log->line);
    std::size_t written = std::fwrite(log->line, 1, length, log->stream);
    // The line leaves the stream's buffer only at the close: a full disk fails there.
    if (std::fclose(log->stream) != 0)
        written = 0;
    log->stream = nullptr;
    return static_cast<int>(written);
}
