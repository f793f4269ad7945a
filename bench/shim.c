/* Preloaded into the game or the bare program by tools/run-bench. At the first present it
 * writes the monotonic clock (ns) to $BREVOX_BENCH_REPORT; at present number
 * $BREVOX_BENCH_PRESENTS it adds the process's peak resident memory (VmHWM, kB) and ends the
 * process at once. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static void report(const char* line) {
    const char* path = getenv("BREVOX_BENCH_REPORT");
    FILE* file = path ? fopen(path, "a") : NULL;
    if (file) {
        fputs(line, file);
        fclose(file);
    }
}

static void report_peak_memory(void) {
    char line[256];
    FILE* status = fopen("/proc/self/status", "r");
    while (status && fgets(line, sizeof line, status))
        if (strncmp(line, "VmHWM:", 6) == 0)
            report(line);
    if (status)
        fclose(status);
}

void SDL_GL_SwapWindow(void* window) {
    static void (*real_swap)(void*);
    static long presents;
    if (!real_swap)
        *(void**)&real_swap = dlsym(RTLD_NEXT, "SDL_GL_SwapWindow");
    real_swap(window);
    if (++presents == 1) {
        struct timespec now;
        char line[64];
        clock_gettime(CLOCK_MONOTONIC, &now);
        snprintf(line, sizeof line, "first_present_ns %lld\n",
                 (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
        report(line);
    }
    const char* last = getenv("BREVOX_BENCH_PRESENTS");
    if (last && presents >= atol(last)) {
        report_peak_memory();
        _exit(0);
    }
}
