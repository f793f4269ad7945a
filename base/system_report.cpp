#include "base/system_report.h"

#include "base/log.h"
#include "os/clock.h"
#include "os/sysinfo.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

struct cpu_record {
    char vendor[16]; // 12 characters and four zero bytes
    std::int32_t mhz;
    std::int32_t family;
    std::uint32_t memory_kb;
    std::int32_t l1_code_kb;
    std::int32_t l1_data_kb;
    std::int32_t l2_kb;
    std::uint8_t cmov;
    std::uint8_t has_3dnow;
    std::uint8_t has_3dnow_ext;
    std::uint8_t mmx;
    std::uint8_t mmx_ext;
    std::uint8_t sse;
};

// The OS text is built from three parts (name, version, service-pack text) of 63 characters
// at most; each extension name is cut to 255.
constexpr std::size_t os_text_size = 256;
constexpr std::size_t os_text_part_size = 64; // 63 characters and the NUL
constexpr std::size_t extension_name_size = 256;

const char* yes_no(std::uint8_t flag) { return flag ? "YES" : "NO"; }

// Copies at most size - 1 characters of a text and terminates it: long texts are cut to fit.
void copy_cut(char* to, std::size_t size, const char* from, std::size_t from_size) {
    const std::size_t length = strnlen(from, from_size);
    const std::size_t kept = length < size ? length : size - 1;
    std::memcpy(to, from, kept);
    to[kept] = '\0';
}

bool bit(std::uint32_t value, unsigned n) { return ((value >> n) & 1u) != 0; }

enum { eax, ebx, ecx, edx };

// Extended leaves: 3DNow! flags and the cache sizes of the two AMD-style leaves.
void read_extended_leaves(cpu_record& record) {
    std::uint32_t regs[4];
    os::cpuid(0x80000001, regs);
    record.has_3dnow = bit(regs[edx], 31);
    record.has_3dnow_ext = bit(regs[edx], 30);
    record.mmx_ext = bit(regs[edx], 22);
    os::cpuid(0x80000005, regs);
    record.l1_data_kb = static_cast<std::int32_t>(regs[ecx] >> 24);
    record.l1_code_kb = static_cast<std::int32_t>(regs[edx] >> 24);
    os::cpuid(0x80000006, regs);
    record.l2_kb = static_cast<std::int32_t>(regs[ecx] >> 16);
}

// Leaf 2's cache descriptors, only the four bytes of EDX, lowest first; later bytes win.
void read_cache_descriptors(cpu_record& record) {
    std::uint32_t regs[4];
    os::cpuid(2, regs);
    for (unsigned shift = 0; shift < 32; shift += 8) {
        const std::uint32_t d = (regs[edx] >> shift) & 0xFF;
        if (d > 0x40)
            record.l2_kb = static_cast<std::int32_t>(64u << ((d - 0x40) % 32));
        else if (d == 0x06)
            record.l1_code_kb = 8;
        else if (d == 0x08)
            record.l1_code_kb = 16;
        else if (d == 0x0A)
            record.l1_data_kb = 8;
        else if (d == 0x0C)
            record.l1_data_kb = 16;
    }
}

const char* windows_name(const os::os_version_info& info) {
    switch (info.platform_id) {
    case os::VER_PLATFORM_WIN32s:
        return "Win32s on Windows 3.1";
    case os::VER_PLATFORM_WIN32_WINDOWS:
        if (info.major_version > 4 || (info.major_version == 4 && info.minor_version > 0))
            return "Windows 98";
        return (info.build_number & 0xFFFF) > 1080 ? "Windows 95 OSR2" : "Windows 95";
    case os::VER_PLATFORM_WIN32_NT:
        return "Windows NT";
    default:
        return "";
    }
}

// The processor clock, measured against the high-resolution counter; 0 when it cannot be.
std::int32_t cpu_speed_mhz() {
    std::int64_t frequency = 0, q0 = 0, q1 = 0;
    os::query_performance_frequency(frequency);
    os::query_performance_counter(q0);
    const std::uint64_t t0 = os::read_time_stamp_counter();
    // The measuring interval: this countdown must really run.
    for (volatile std::int32_t countdown = 5'000'000; countdown > 0;)
        countdown = countdown - 1;
    os::query_performance_counter(q1);
    const std::uint64_t t1 = os::read_time_stamp_counter();

    // A counter that did not move (or does not exist) measures nothing: report 0, never divide
    // by zero. The product is kept in 128 bits, where a slow interval cannot overflow it.
    if (q1 <= q0 || frequency <= 0)
        return 0;
    const __int128 cycles = static_cast<std::int64_t>(t1 - t0);
    const __int128 hz = cycles * frequency / (q1 - q0);
    return static_cast<std::int32_t>(static_cast<std::int64_t>(hz / 1'000'000));
}

void cpu_info(cpu_record& record) {
    // Memory first: it is reported even when the processor tells nothing. Beyond 4 TiB the
    // 32-bit field shows its largest value rather than what is left after wrapping.
    const std::uint64_t memory_kb = os::total_physical_memory() >> 10;
    record.memory_kb = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(memory_kb, std::numeric_limits<std::uint32_t>::max()));
    if (!os::cpu_has_cpuid())
        return;

    std::uint32_t regs[4];
    os::cpuid(0, regs);
    std::memcpy(record.vendor + 0, &regs[ebx], 4);
    std::memcpy(record.vendor + 4, &regs[edx], 4);
    std::memcpy(record.vendor + 8, &regs[ecx], 4);
    std::memset(record.vendor + 12, 0, 4);

    os::cpuid(1, regs);
    record.cmov = bit(regs[edx], 15);
    record.mmx = bit(regs[edx], 23);
    record.sse = bit(regs[edx], 25);
    record.family = static_cast<std::int32_t>((regs[eax] >> 8) & 0xF);
    if (bit(regs[edx], 4))
        record.mhz = cpu_speed_mhz();

    os::cpuid(0x80000000, regs);
    if (regs[eax] > 0x80000000u)
        read_extended_leaves(record);
    else
        read_cache_descriptors(record);
}

void os_version_string(char* buffer) {
    os::os_version_info info;
    os::get_version(info);

    char name[os_text_part_size];
    char version[os_text_part_size];
    char service_pack[os_text_part_size];
    if (info.platform_id == os::VER_PLATFORM_LINUX) {
        // Linux: the system's name, the kernel release and the kernel's version text fill the
        // three slots of Windows' name, version and service pack.
        copy_cut(name, sizeof name, info.system_name, sizeof info.system_name);
        copy_cut(version, sizeof version, info.release, sizeof info.release);
    } else {
        copy_cut(name, sizeof name, windows_name(info), sizeof name);
        std::snprintf(version, sizeof version, "%u.%u (build %u)", info.major_version,
                      info.minor_version, info.build_number & 0xFFFF);
    }
    if (strnlen(info.csd_version, sizeof info.csd_version) > 1) {
        copy_cut(service_pack, sizeof service_pack, info.csd_version, sizeof info.csd_version);
        std::snprintf(buffer, os_text_size, "%s %s %s", name, version, service_pack);
    } else {
        std::snprintf(buffer, os_text_size, "%s %s", name, version);
    }
}

} // namespace

void write_system_report(clog* log) {
    cpu_record record{};
    cpu_info(record);
    char os_text[os_text_size];
    os_version_string(os_text);

    log_printf(log, "+ OS info : %s\n\n", os_text);
    log_printf(log, "+ CPU info : %s Family %d - %d MHz\n", record.vendor, record.family,
               record.mhz);
    log_printf(log, " Memory : %u ko\n L1 Cache : %d ko\n L2 Cache : %d ko\n", record.memory_kb,
               record.l1_data_kb, record.l2_kb);
    log_printf(log, " MMX : %s\n SSE : %s\n 3DNow! : %s\n\n", yes_no(record.mmx),
               yes_no(record.sse), yes_no(record.has_3dnow));
}

namespace {

// glGetString of GL_VENDOR, GL_RENDERER, GL_VERSION or GL_EXTENSIONS; null for any other code.
const char* gl_string(unsigned code) {
    switch (code) {
    case GL_VENDOR:
    case GL_RENDERER:
    case GL_VERSION:
    case GL_EXTENSIONS:
        return reinterpret_cast<const char*>(glGetString(code));
    default:
        return nullptr;
    }
}

// Copies the name at the cursor (cut to extension_name_size - 1 characters) and moves the cursor
// past it; 0 at the end of the text, where the cursor goes back to 0.
int next_extension_name(const char* extensions, std::size_t& cursor, char* buffer) {
    const std::size_t n = extensions ? std::strlen(extensions) : 0;
    if (cursor >= n) {
        cursor = 0;
        return 0;
    }
    const char* start = extensions + cursor;
    const char* space = std::strchr(start, ' ');
    const std::size_t length = space ? static_cast<std::size_t>(space - start) : n - cursor;
    const std::size_t kept = length < extension_name_size ? length : extension_name_size - 1;
    std::memcpy(buffer, start, kept);
    buffer[kept] = '\0';
    cursor += length + (space ? 1 : 0);
    return 1;
}

// Copies the next extension name into a buffer of extension_name_size characters and returns
// 1, or returns 0 once the list is exhausted (and starts over on the next call).
int next_gl_extension(char* buffer) {
    // Lasts from call to call; every full walk brings it back to 0.
    static std::size_t cursor = 0;
    return next_extension_name(gl_string(GL_EXTENSIONS), cursor, buffer);
}

} // namespace

int log_opengl_info(clog* log) {
    // A context that answers nothing still gives a readable section.
    auto text = [](unsigned code) {
        const char* s = gl_string(code);
        return s ? s : "";
    };
    log_printf(log, "\n+ OpenGL info :\n");
    log_printf(log, " Vendor name : %s\n", text(GL_VENDOR));
    log_printf(log, " Renderer : %s\n", text(GL_RENDERER));
    log_printf(log, " Version : %s\n", text(GL_VERSION));
    log_printf(log, " Extensions :\n");
    char name[extension_name_size];
    int total = 0;
    while (next_gl_extension(name)) {
        log_printf(log, " %s\n", name);
        ++total;
    }
    log_printf(log, " Total : %d\n\n", total);
    return 1;
}
