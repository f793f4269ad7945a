// The machine report of the log: operating system, processor, memory, caches, and the OpenGL
// implementation with its extensions.
#pragma once

class clog;

// Writes the report's lines that follow the start banner: OS, CPU, memory, caches, MMX/SSE/3DNow!.
void write_system_report(clog* log);
// Writes the OpenGL section; called with a current rendering context. Returns 1.
int log_opengl_info(clog* log);
