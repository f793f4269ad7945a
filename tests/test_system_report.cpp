#include "app/log.h"
#include "app/system_report.h"
#include "os/clock.h"
#include "os/fault.h"
#include "os/sysinfo.h"
#include "support/test_env.h"

#include <sys/utsname.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using regs = std::array<std::uint32_t, 4>; // EAX, EBX, ECX, EDX

// "Genu" "ineI" "ntel" as CPUID hands it out: EBX, EDX, ECX.
constexpr std::uint32_t text4(const char (&s)[5]) {
    return std::uint32_t(std::uint8_t(s[0])) | std::uint32_t(std::uint8_t(s[1])) << 8 |
           std::uint32_t(std::uint8_t(s[2])) << 16 | std::uint32_t(std::uint8_t(s[3])) << 24;
}

constexpr std::uint32_t tsc_bit = 1u << 4, cmov_bit = 1u << 15, mmx_bit = 1u << 23,
                        sse_bit = 1u << 25;

os::seam::synthetic_cpu intel_p3() {
    os::seam::synthetic_cpu cpu;
    cpu.leaves[0] = {2, text4("Genu"), text4("ntel"), text4("ineI")};
    cpu.leaves[1] = {0x0683, 0, 0, tsc_bit | cmov_bit | mmx_bit | sse_bit};
    cpu.leaves[2] = {0x03020101, 0, 0, 0x0C040843}; // L1 code 16, L1 data 16, L2 512
    cpu.leaves[0x80000000] = {0x80000000, 0, 0, 0}; // no extended leaves beyond the query
    cpu.tsc_mhz = 733;
    return cpu;
}

os::seam::synthetic_cpu amd_athlon() {
    os::seam::synthetic_cpu cpu;
    cpu.leaves[0] = {1, text4("Auth"), text4("cAMD"), text4("enti")};
    cpu.leaves[1] = {0x0642, 0, 0, tsc_bit | mmx_bit};
    cpu.leaves[0x80000000] = {0x80000008, 0, 0, 0};
    cpu.leaves[0x80000001] = {0, 0, 0, (1u << 31) | (1u << 30) | (1u << 22)};
    cpu.leaves[0x80000005] = {0, 0, 64u << 24, 32u << 24};
    cpu.leaves[0x80000006] = {0, 0, 256u << 16, 0};
    cpu.tsc_mhz = 1200;
    return cpu;
}

os::os_version_info windows(std::uint32_t platform, std::uint32_t major, std::uint32_t minor,
                            std::uint32_t build, const char* service_pack = "") {
    os::os_version_info info{};
    info.platform_id = platform;
    info.major_version = major;
    info.minor_version = minor;
    info.build_number = build;
    std::strncpy(info.csd_version, service_pack, sizeof info.csd_version - 1);
    return info;
}

std::string version_text(const os::os_version_info& info) {
    os::seam::use_synthetic_version(info);
    char buffer[os_text_size];
    std::memset(buffer, '#', sizeof buffer);
    os_version_string(buffer);
    return buffer;
}

cpu_record filled_record(const os::seam::synthetic_cpu& cpu) {
    os::seam::use_synthetic_cpu(cpu);
    os::seam::set_clock_step_per_read(1000); // the countdown spans one millisecond
    cpu_record record{};
    cpu_info(record);
    return record;
}

using report_test = brevox_test;

TEST_F(report_test, TheReportDescribesTheMachineLineByLine) {
    os::seam::use_synthetic_cpu(intel_p3());
    os::seam::use_synthetic_memory(512ull << 20);
    os::seam::use_synthetic_version(
        windows(os::VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 2"));
    os::seam::set_clock_step_per_read(1000);
    main_log = new clog;
    EXPECT_EQ(read_log(), "---- brevox[0.7a] started ----\n\n"
                          "+ OS info : Windows NT 5.1 (build 2600) Service Pack 2\n\n"
                          "+ CPU info : GenuineIntel Family 6 - 733 MHz\n"
                          " Memory : 524288 ko\n"
                          " L1 Cache : 16 ko\n"
                          " L2 Cache : 512 ko\n"
                          " MMX : YES\n"
                          " SSE : YES\n"
                          " 3DNow! : NO\n\n");
}

TEST_F(report_test, AProcessorWithoutCpuidStillReportsTheMemoryUpTo32Bits) {
    os::seam::use_synthetic_version(windows(os::VER_PLATFORM_WIN32_WINDOWS, 4, 0, 950));
    os::seam::fail_call("cpuid", -1, os::seam::fail_always);
    const std::pair<std::uint64_t, std::string> memories[] = {
        {64ull << 20, "65536"}, {2ull << 40, "2147483648"}, {16ull << 40, "4294967295"}};
    for (const auto& [bytes, kb] : memories) {
        os::seam::use_synthetic_memory(bytes);
        delete main_log;
        main_log = new clog;
        EXPECT_EQ(log_from("+ CPU"), "+ CPU info :  Family 0 - 0 MHz\n"
                                     " Memory : " +
                                         kb +
                                         " ko\n"
                                         " L1 Cache : 0 ko\n"
                                         " L2 Cache : 0 ko\n"
                                         " MMX : NO\n"
                                         " SSE : NO\n"
                                         " 3DNow! : NO\n\n");
    }
}

TEST_F(report_test, ExtendedLeavesGiveCachesAndThreeDNow) {
    const cpu_record r = filled_record(amd_athlon());
    EXPECT_STREQ(r.vendor, "AuthenticAMD");
    EXPECT_EQ(r.family, 6);
    EXPECT_EQ(r.mhz, 1200);
    EXPECT_EQ(r.l1_data_kb, 64);
    EXPECT_EQ(r.l1_code_kb, 32);
    EXPECT_EQ(r.l2_kb, 256);
    EXPECT_EQ(r.has_3dnow, 1);
    EXPECT_EQ(r.has_3dnow_ext, 1);
    EXPECT_EQ(r.mmx_ext, 1);
    EXPECT_EQ(r.mmx, 1);
    EXPECT_EQ(r.sse, 0);
    EXPECT_EQ(r.cmov, 0);
}

TEST_F(report_test, CacheDescriptorsAreReadLowestByteFirstAndLaterBytesWin) {
    struct descriptor_case {
        std::uint32_t edx;
        std::int32_t l1_code, l1_data, l2;
    };
    const descriptor_case cases[] = {
        {0x00000041, 0, 0, 128},  {0x00000082, 0, 0, 256},
        {0x00008541, 0, 0, 2048}, // 0x85 after 0x41
        {0x00004185, 0, 0, 128},  // 0x41 after 0x85
        {0x0A06080C, 8, 8, 0},    // 0x0C, 0x08, then 0x06 and 0x0A overwrite
        {0x00000040, 0, 0, 0},    // 0x40 is not above 0x40
        {0x000000FF, 0, 0, 0},    // a shift of 31 pushes 64 out of 32 bits
        {0x3F3E0201, 0, 0, 0},    // unknown descriptors change nothing
    };
    for (const auto& c : cases) {
        auto cpu = intel_p3();
        cpu.leaves[2] = {0x01, 0xFFFFFFFF, 0xFFFFFFFF, c.edx}; // only EDX counts
        const cpu_record r = filled_record(cpu);
        EXPECT_EQ(r.l1_code_kb, c.l1_code) << std::hex << c.edx;
        EXPECT_EQ(r.l1_data_kb, c.l1_data) << std::hex << c.edx;
        EXPECT_EQ(r.l2_kb, c.l2) << std::hex << c.edx;
    }
}

TEST_F(report_test, OnlyAnExtendedLeafAbove0x80000000CountsAsExtended) {
    auto cpu = amd_athlon();
    cpu.leaves[0x80000000] = {0x80000000, 0, 0, 0};
    cpu.leaves[2] = {0, 0, 0, 0x43};
    const cpu_record r = filled_record(cpu);
    EXPECT_EQ(r.l2_kb, 512);
    EXPECT_EQ(r.has_3dnow, 0);
}

TEST_F(report_test, ClockSpeedComesFromTheTimeStampCounter) {
    auto cpu = intel_p3();
    cpu.leaves[1][3] &= ~tsc_bit;
    EXPECT_EQ(filled_record(cpu).mhz, 0) << "no time-stamp counter, no measurement";

    os::seam::use_synthetic_cpu(intel_p3());
    os::seam::set_clock_step_per_read(2500);
    EXPECT_EQ(cpu_speed_mhz(), 733);
    // A counter that does not move between the two readings measures nothing.
    os::seam::set_clock_step_per_read(0);
    EXPECT_EQ(cpu_speed_mhz(), 0);
    os::seam::fail_call("query_performance_frequency", -1, os::seam::fail_always);
    os::seam::set_clock_step_per_read(1000);
    EXPECT_EQ(cpu_speed_mhz(), 0);
}

TEST_F(report_test, WindowsVersionsAreNamedByPlatformAndVersion) {
    using os::VER_PLATFORM_WIN32_NT, os::VER_PLATFORM_WIN32_WINDOWS, os::VER_PLATFORM_WIN32s;
    EXPECT_EQ(version_text(windows(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 0x040A08AE)),
              "Windows 98 4.10 (build 2222)");
    EXPECT_EQ(version_text(windows(VER_PLATFORM_WIN32_WINDOWS, 5, 0, 0)),
              "Windows 98 5.0 (build 0)");
    EXPECT_EQ(version_text(windows(VER_PLATFORM_WIN32_WINDOWS, 4, 0, 1111)),
              "Windows 95 OSR2 4.0 (build 1111)");
    EXPECT_EQ(version_text(windows(VER_PLATFORM_WIN32_WINDOWS, 4, 0, 1080)),
              "Windows 95 4.0 (build 1080)");
    EXPECT_EQ(version_text(windows(VER_PLATFORM_WIN32_WINDOWS, 4, 0, 950)),
              "Windows 95 4.0 (build 950)");
    EXPECT_EQ(version_text(windows(VER_PLATFORM_WIN32_NT, 4, 0, 1381, "Service Pack 6")),
              "Windows NT 4.0 (build 1381) Service Pack 6");
    EXPECT_EQ(version_text(windows(VER_PLATFORM_WIN32s, 1, 30, 7)),
              "Win32s on Windows 3.1 1.30 (build 7)");
    EXPECT_EQ(version_text(windows(3, 4, 0, 7)), " 4.0 (build 7)");
}

TEST_F(report_test, AServicePackTextIsShownFromTwoCharactersOnAndCut) {
    using os::VER_PLATFORM_WIN32_WINDOWS;
    EXPECT_EQ(version_text(windows(VER_PLATFORM_WIN32_WINDOWS, 4, 0, 950, " ")),
              "Windows 95 4.0 (build 950)");
    EXPECT_EQ(version_text(windows(VER_PLATFORM_WIN32_WINDOWS, 4, 0, 1111, " B")),
              "Windows 95 OSR2 4.0 (build 1111)  B");
    const std::string long_pack(127, 'p');
    EXPECT_EQ(version_text(windows(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 2222, long_pack.c_str())),
              "Windows 98 4.10 (build 2222) " + std::string(63, 'p'));
}

TEST_F(report_test, LinuxIsReportedByNameKernelReleaseAndKernelVersion) {
    os::os_version_info info{};
    info.platform_id = os::VER_PLATFORM_LINUX;
    std::strcpy(info.system_name, "Linux");
    std::strcpy(info.release, "6.1.0-27-amd64");
    std::strcpy(info.csd_version, "#1 SMP PREEMPT_DYNAMIC Debian 6.1.115-1 (2024-11-01)");
    EXPECT_EQ(version_text(info),
              "Linux 6.1.0-27-amd64 #1 SMP PREEMPT_DYNAMIC Debian 6.1.115-1 (2024-11-01)");

    // This machine, as uname tells it.
    os::seam::use_real_machine();
    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    char buffer[os_text_size];
    os_version_string(buffer);
    const std::string expected_start = std::string(names.sysname) + " " + names.release + " ";
    EXPECT_EQ(std::string(buffer).rfind(expected_start, 0), 0u) << buffer;

    os::os_version_info real{};
    ASSERT_TRUE(os::get_version(real));
    EXPECT_EQ(real.platform_id, os::VER_PLATFORM_LINUX);
    EXPECT_GT(real.major_version, 0u);
}

TEST_F(report_test, AnUnreadableVersionGivesAnEmptyName) {
    os::seam::fail_call("get_version");
    char buffer[os_text_size];
    os_version_string(buffer);
    EXPECT_STREQ(buffer, " 0.0 (build 0)");
}

std::vector<std::string> walk(const char* extensions) {
    std::vector<std::string> names;
    std::size_t cursor = 0;
    char buffer[extension_name_size];
    while (next_extension_name(extensions, cursor, buffer))
        names.emplace_back(buffer);
    EXPECT_EQ(cursor, 0u) << "a finished walk starts over";
    return names;
}

TEST_F(report_test, TheExtensionWalkYieldsEveryNameOnce) {
    using names = std::vector<std::string>;
    EXPECT_EQ(walk("GL_ARB_one GL_EXT_two "), (names{"GL_ARB_one", "GL_EXT_two"}));
    EXPECT_EQ(walk("GL_ARB_one GL_EXT_two"), (names{"GL_ARB_one", "GL_EXT_two"}));
    EXPECT_EQ(walk(""), names{});
    EXPECT_EQ(walk(nullptr), names{});
    EXPECT_EQ(walk("GL_a  GL_b "), (names{"GL_a", "", "GL_b"}));
    // A second walk over the same text lists the same names again.
    EXPECT_EQ(walk("GL_x GL_y"), (names{"GL_x", "GL_y"}));
}

TEST_F(report_test, AnOverlongExtensionNameIsCutToItsBuffer) {
    const std::string text = std::string(300, 'e') + " GL_next";
    const auto names = walk(text.c_str());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], std::string(255, 'e'));
    EXPECT_EQ(names[1], "GL_next");
}

} // namespace
