// The main window: its class, its creation in windowed or fullscreen form, the cvars it
// publishes ("hwnd", "clwidth", "clheight") and its window procedure, the one place where the
// program answers the close request and the keys that act as events (F1, ESCAPE, P, and every
// key while the menu is open).
#pragma once

#include "os/types.h"

#include <cstdint>

class cwindow {
public:
    cwindow() : width(0), height(0), hwnd(0), name(nullptr), class_name("glbrevox_class") {}

    // Registers the class, then creates, shows and places the window. 1 on success.
    int create();
    // Destroys the window and unregisters the class if there is a window; clears the object.
    void destroy();

    std::int32_t width;
    std::int32_t height;
    os::hwnd hwnd;
    const char* name;
    const char* class_name;
};

// The window, owned by the main loop; replaced by every video restart.
extern cwindow* main_window;

// The program's module instance and the main window, as the cvars "instance" and "hwnd" hold
// them.
os::hinstance program_instance();
os::hwnd main_hwnd();

// The window's icon in the program's resources.
constexpr int main_icon_id = 1;

// What the window procedure does with a key down that acts as an event (a controller's buttons
// arrive as the keys they stand for; `repeat`: the key was already down). A replay being played
// hands its recorded keys here.
os::lresult key_down(std::uint32_t vk, bool repeat);
