// The machine report of the log: operating system, processor, memory, caches, and the OpenGL
// implementation with its extensions.
#pragma once

#include <cstddef>
#include <cstdint>

class clog;

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
constexpr std::size_t extension_name_size = 256;

// Writes the report's lines that follow the start banner: OS, CPU, memory, caches, MMX/SSE/3DNow!.
void write_system_report(clog* log);

void cpu_info(cpu_record& record);
std::int32_t cpu_speed_mhz();
// Fills a buffer of os_text_size characters.
void os_version_string(char* buffer);

// The same walk over a given extension text, with the caller's cursor.
int next_extension_name(const char* extensions, std::size_t& cursor, char* buffer);
// Writes the OpenGL section; called with a current rendering context. Returns 1.
int log_opengl_info(clog* log);
