// Basic types of the operating-system layer.
// Handles are 32-bit integers, never pointers: the program keeps them in 32-bit integer settings.
#pragma once

#include <cstdint>

namespace os {

using handle = std::uint32_t;
using hinstance = handle;
using hwnd = handle;
using timer_id = handle;
using thread_id = handle;

using wparam = std::uintptr_t;
using lparam = std::intptr_t;
using lresult = std::intptr_t;

} // namespace os
