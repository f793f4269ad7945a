// The program's version, spelled here alone: the log's banner, --version, the menu's corner, the
// window's title and the Debian package's name (dist/CMakeLists.txt reads it from this line).
#pragma once

#define BREVOX_VERSION "0.7a"

inline constexpr const char* brevox_version = BREVOX_VERSION;

inline constexpr const char* window_title = "brevox [build " BREVOX_VERSION "]";
