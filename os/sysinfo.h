// System information: the OS name and version record, total physical memory, the processor's
// CPUID leaves and time-stamp counter.
#pragma once

#include <array>
#include <cstdint>
#include <map>

namespace os {

// Platform ids of the version record. The Windows ones keep their customary values;
// Linux gets one outside Windows' range.
constexpr std::uint32_t VER_PLATFORM_WIN32s = 0;
constexpr std::uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr std::uint32_t VER_PLATFORM_WIN32_NT = 2;
constexpr std::uint32_t VER_PLATFORM_LINUX = 0x100;
constexpr std::uint32_t VER_PLATFORM_UNKNOWN = 0xFFFFFFFF;

struct os_version_info {
    std::uint32_t major_version;
    std::uint32_t minor_version;
    std::uint32_t build_number;
    std::uint32_t platform_id;
    // Windows: the service-pack text. Linux: the kernel's version text ("#1 SMP ...").
    char csd_version[128];
    // Linux only: the system's name ("Linux") and the kernel release ("6.1.0-27-amd64").
    char system_name[65];
    char release[65];
};

// Fills the record; false when the system cannot tell (the record is then zero, with the
// platform VER_PLATFORM_UNKNOWN, so that nobody takes it for Win32s).
bool get_version(os_version_info& info);

// Total physical memory in bytes.
std::uint64_t total_physical_memory();

// True when the processor has the CPUID instruction.
bool cpu_has_cpuid();
// CPUID with EAX = leaf (ECX = 0): regs = EAX, EBX, ECX, EDX. All zero without CPUID.
void cpuid(std::uint32_t leaf, std::uint32_t regs[4]);
// The processor's time-stamp counter; 0 where there is none.
std::uint64_t read_time_stamp_counter();

} // namespace os

namespace os::seam {

// A made-up processor for the machine report's tests. Leaves missing from the map read as
// zeros. Its time-stamp counter runs at tsc_mhz counts per microsecond of the manual clock.
struct synthetic_cpu {
    bool has_cpuid = true;
    std::map<std::uint32_t, std::array<std::uint32_t, 4>> leaves;
    std::uint64_t tsc_mhz = 0;
};
void use_synthetic_cpu(const synthetic_cpu& cpu);
void use_synthetic_version(const os_version_info& info);
void use_synthetic_memory(std::uint64_t total_bytes);
// Back to the real machine for all three.
void use_real_machine();

} // namespace os::seam
