#include "app/log.h"
#include "app/system_report.h"
#include "os/clock.h"
#include "os/fault.h"
#include "os/sysinfo.h"
#include "support/test_env.h"

#include <sys/utsname.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr std::uint32_t text4(const char (&s)[5]) { // as one CPUID register holds it
    return s[0] | s[1] << 8 | s[2] << 16 | static_cast<std::uint32_t>(s[3]) << 24;
}
constexpr std::uint32_t tsc = 1u << 4;

const os::seam::synthetic_cpu athlon{
    true,
    {{0, {1, text4("Auth"), text4("cAMD"), text4("enti")}},
     {1, {0x0642, 0, 0, tsc | 1u << 15 | 1u << 23}}, // CMOV, MMX, no SSE
     {0x80000000, {0x80000008, 0, 0, 0}},
     {0x80000001, {0, 0, 0, 7u << 29 | 1u << 22}}, // 3DNow!, extended 3DNow!, extended MMX
     {0x80000005, {0, 0, 64u << 24, 32u << 24}},
     {0x80000006, {0, 0, 256u << 16, 0}}},
    1200};

cpu_record filled_record(const os::seam::synthetic_cpu& cpu) {
    os::seam::use_synthetic_cpu(cpu);
    os::seam::set_clock_step_per_read(1000); // the countdown spans one millisecond
    cpu_record record{};
    cpu_info(record);
    return record;
}

std::string version_text(const os::os_version_info& info) {
    os::seam::use_synthetic_version(info);
    char buffer[os_text_size];
    os_version_string(buffer);
    return buffer;
}

using report_test = brevox_test;

TEST_F(report_test, TheReportDescribesTheMachineLineByLine) {
    os::seam::use_synthetic_memory(2ull << 40);
    version_text({5, 1, 2600, os::VER_PLATFORM_WIN32_NT, "Service Pack 2", "", ""});
    filled_record(athlon);
    main_log = new clog;
    EXPECT_EQ(read_log(), "---- brevox[0.7a] started ----\n\n"
                          "+ OS info : Windows NT 5.1 (build 2600) Service Pack 2\n\n"
                          "+ CPU info : AuthenticAMD Family 6 - 1200 MHz\n"
                          " Memory : 2147483648 ko\n L1 Cache : 64 ko\n L2 Cache : 256 ko\n"
                          " MMX : YES\n SSE : NO\n 3DNow! : YES\n\n");
    os::seam::set_clock_step_per_read(0); // a counter that does not move measures nothing
    EXPECT_EQ(cpu_speed_mhz(), 0);
    // Without CPUID only the memory is known, clamped to 32 bits of kilobytes.
    os::seam::use_synthetic_memory(16ull << 40);
    os::seam::fail_call("cpuid", -1, os::seam::fail_always);
    const cpu_record r = filled_record(athlon);
    EXPECT_EQ(std::tuple(r.memory_kb, r.vendor[0], r.family, r.mhz, r.l1_data_kb, r.l2_kb, r.mmx),
              std::tuple(4294967295u, '\0', 0, 0, 0, 0, 0));
}

TEST_F(report_test, WithoutExtendedLeavesCachesComeFromLeaf2LowestByteFirst) {
    const std::tuple<std::uint32_t, std::int32_t, std::int32_t, std::int32_t> cases[] = {
        // EDX; L1 code, L1 data, L2
        {0x0C040843, 16, 16, 512},
        {0x00008541, 0, 0, 2048},
        {0x0A06080C, 8, 8, 0},
        {0x3F3E0240, 0, 0, 0},
        {0x000000FF, 0, 0, 0}};
    for (const auto& [edx, l1_code, l1_data, l2] : cases) {
        auto cpu = athlon;
        cpu.leaves[0x80000000] = {0x80000000, 0, 0, 0}; // no leaf above it
        cpu.leaves[2] = {0x01, 0xFFFFFFFF, 0xFFFFFFFF, edx};
        const cpu_record r = filled_record(cpu);
        EXPECT_EQ(std::tuple(r.l1_code_kb, r.l1_data_kb, r.l2_kb), std::tuple(l1_code, l1_data, l2))
            << std::hex << edx;
    }
    auto cpu = athlon;
    cpu.leaves[1][3] &= ~tsc;
    EXPECT_EQ(filled_record(cpu).mhz, 0) << "no time-stamp counter, no measurement";
}

TEST_F(report_test, SystemsAreNamedByPlatformAndVersion) {
    const std::uint32_t win = os::VER_PLATFORM_WIN32_WINDOWS, nt = os::VER_PLATFORM_WIN32_NT;
    const std::pair<os::os_version_info, std::string> cases[] = {
        {{4, 10, 0x040A08AE, win, "", "", ""}, "Windows 98 4.10 (build 2222)"},
        {{5, 0, 0, win, " ", "", ""}, "Windows 98 5.0 (build 0)"},
        {{4, 0, 1111, win, " B", "", ""}, "Windows 95 OSR2 4.0 (build 1111)  B"},
        {{4, 0, 1080, win, "", "", ""}, "Windows 95 4.0 (build 1080)"},
        {{1, 30, 7, os::VER_PLATFORM_WIN32s, "", "", ""}, "Win32s on Windows 3.1 1.30 (build 7)"},
        {{4, 0, 7, 3, "", "", ""}, " 4.0 (build 7)"},
        {{4, 0, 1381, nt, "SP6", "", ""}, "Windows NT 4.0 (build 1381) SP6"}};
    for (const auto& [info, text] : cases)
        EXPECT_EQ(version_text(info), text);
    // Linux: the system's name, the kernel release and its version text, as uname has them.
    os::seam::use_real_machine();
    utsname names{};
    uname(&names);
    char buffer[os_text_size];
    os_version_string(buffer);
    EXPECT_EQ(std::string(buffer),
              std::string(names.sysname) + " " + names.release + " " + names.version);
    os::seam::fail_call("get_version");
    os_version_string(buffer);
    EXPECT_STREQ(buffer, " 0.0 (build 0)") << "an unknown platform, not Win32s";
}

TEST_F(report_test, TheExtensionWalkYieldsEveryNameOnceAndCutsLongOnes) {
    using names = std::vector<std::string>;
    const std::string overlong = std::string(300, 'e') + " GL_b";
    const std::pair<const char*, names> cases[] = {
        {"GL_a GL_b ", {"GL_a", "GL_b"}},
        {"GL_a GL_b", {"GL_a", "GL_b"}},
        {"", {}},
        {nullptr, {}},
        {"GL_a  GL_b ", {"GL_a", "", "GL_b"}},
        {overlong.c_str(), {std::string(255, 'e'), "GL_b"}}};
    for (const auto& [text, expected] : cases) {
        names found;
        std::size_t cursor = 0;
        char buffer[extension_name_size];
        while (next_extension_name(text, cursor, buffer))
            found.emplace_back(buffer);
        EXPECT_EQ(found, expected);
        EXPECT_EQ(cursor, 0u) << "a finished walk starts over";
    }
}

} // namespace
