#include "os/sysinfo.h"

#include "os/clock.h"
#include "os/fault.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#define BREVOX_X86 1
#endif

namespace {

std::mutex synthetic_lock;
std::optional<os::seam::synthetic_cpu> synthetic_cpu;
std::optional<os::os_version_info> synthetic_version;
std::optional<std::uint64_t> synthetic_memory;

// Copies a text into a fixed buffer, cut to fit.
template <std::size_t N> void copy_text(char (&to)[N], const char* from) {
    std::snprintf(to, N, "%s", from);
}

// "6.1.0-27-amd64" gives 6, 1 and 0; missing numbers stay 0.
void parse_release_numbers(const char* release, os::os_version_info& info) {
    unsigned numbers[3] = {0, 0, 0};
    const char* p = release;
    for (unsigned& n : numbers) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(p, &end, 10);
        if (end == p)
            break;
        n = static_cast<unsigned>(value);
        if (*end != '.')
            break;
        p = end + 1;
    }
    info.major_version = numbers[0];
    info.minor_version = numbers[1];
    info.build_number = numbers[2];
}

#ifdef __i386__
// The classic test on 32-bit processors, which may lack CPUID: it exists when bit 21 (ID) of
// the flags register can be flipped. The 32-bit ABI keeps nothing below the stack pointer, so
// the pushes and pops, balanced within the statement, disturb nothing.
bool id_flag_flips() {
    unsigned long before = 0, after = 0;
    __asm__ volatile("pushfl\n\t"
                     "pushfl\n\t"
                     "popl %0\n\t"
                     "movl %0, %1\n\t"
                     "xorl $0x200000, %0\n\t"
                     "pushl %0\n\t"
                     "popfl\n\t"
                     "pushfl\n\t"
                     "popl %0\n\t"
                     "popfl\n\t"
                     : "=&r"(after), "=&r"(before)
                     :
                     : "cc");
    return ((before ^ after) & 0x200000) != 0;
}
#endif

} // namespace

namespace os {

bool get_version(os_version_info& info) {
    std::memset(&info, 0, sizeof info);
    info.platform_id = VER_PLATFORM_UNKNOWN;
    if (detail::injected_fault("get_version"))
        return false;
    {
        std::lock_guard guard(synthetic_lock);
        if (synthetic_version) {
            info = *synthetic_version;
            return true;
        }
    }
    utsname names{};
    if (uname(&names) != 0)
        return false;
    info.platform_id = VER_PLATFORM_LINUX;
    copy_text(info.system_name, names.sysname);
    copy_text(info.release, names.release);
    copy_text(info.csd_version, names.version);
    parse_release_numbers(names.release, info);
    return true;
}

std::uint64_t total_physical_memory() {
    {
        std::lock_guard guard(synthetic_lock);
        if (synthetic_memory)
            return *synthetic_memory;
    }
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0)
        return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

bool cpu_has_cpuid() {
    if (detail::injected_fault("cpuid"))
        return false;
    {
        std::lock_guard guard(synthetic_lock);
        if (synthetic_cpu)
            return synthetic_cpu->has_cpuid;
    }
#if defined(__x86_64__)
    return true; // every 64-bit x86 processor has CPUID
#elif defined(__i386__)
    return id_flag_flips();
#else
    return false;
#endif
}

void cpuid(std::uint32_t leaf, std::uint32_t regs[4]) {
    regs[0] = regs[1] = regs[2] = regs[3] = 0;
    {
        std::lock_guard guard(synthetic_lock);
        if (synthetic_cpu) {
            if (!synthetic_cpu->has_cpuid)
                return;
            const auto found = synthetic_cpu->leaves.find(leaf);
            if (found != synthetic_cpu->leaves.end())
                std::memcpy(regs, found->second.data(), 4 * sizeof(std::uint32_t));
            return;
        }
    }
#ifdef BREVOX_X86
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid_count(leaf, 0, a, b, c, d);
    regs[0] = a;
    regs[1] = b;
    regs[2] = c;
    regs[3] = d;
#endif
}

std::uint64_t read_time_stamp_counter() {
    {
        std::lock_guard guard(synthetic_lock);
        if (synthetic_cpu)
            return seam::manual_clock_us() * synthetic_cpu->tsc_mhz;
    }
#ifdef BREVOX_X86
    return __rdtsc();
#else
    return 0;
#endif
}

} // namespace os

namespace os::seam {

void use_synthetic_cpu(const synthetic_cpu& cpu) {
    std::lock_guard guard(synthetic_lock);
    ::synthetic_cpu = cpu;
}

void use_synthetic_version(const os_version_info& info) {
    std::lock_guard guard(synthetic_lock);
    synthetic_version = info;
}

void use_synthetic_memory(std::uint64_t total_bytes) {
    std::lock_guard guard(synthetic_lock);
    synthetic_memory = total_bytes;
}

void use_real_machine() {
    std::lock_guard guard(synthetic_lock);
    ::synthetic_cpu.reset();
    synthetic_version.reset();
    synthetic_memory.reset();
}

} // namespace os::seam
