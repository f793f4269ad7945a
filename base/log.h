// The log: "brevox.log" in the current directory, the program's only diagnostic output.
// Each line is appended with its own open and close, so whatever was written before a crash
// is on disk. A step that can fail is logged in two writes: its head ending in " : ", then its
// verdict ("OK\n", "FAILED\n", "FAILED [reason]\n") on the same line.
#pragma once

#include "base/version.h"

#include <cstdio>

class clog {
public:
    // Empties the log file and writes the start banner and the machine report.
    clog();
    // Writes the end banner; called just before the object is freed.
    void finish();

    char line[1024];
    std::FILE* stream;
};

// The program's log, owned by the entry point; null before it is created and after it is freed.
extern clog* main_log;

// Formats one piece of text and appends it to the log. Returns the number of characters
// written; 0 when there is no log or the file cannot be opened or closed (a full disk: the
// line is lost).
int log_printf(clog* log, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A line the scene shows over every screen until the run ends, or null: a failure the players
// should know of while they play on (a replay that can no longer be written).
extern const char* screen_notice;
// While the field shown is another's, a replay's being played or a host's across the network:
// its line at the top ("REPLAY 0:12 / 1:30 x1"), and that field (clwidth x clheight) is drawn
// scaled to fit the window without distortion; empty otherwise.
extern char field_line[64];
