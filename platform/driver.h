// The OpenGL driver: binds a rendering context to the main window (found through the cvar
// "hwnd") and, fullscreen, switches the display to the mode that matches the window.
#pragma once

#include "os/gl.h"
#include "os/types.h"

class cdriver {
public:
    cdriver() : dc(0), rc(0) {}

    // 1 on success. A failed step is logged and ends the start, which gives back the contexts
    // it acquired without a word in the log: the release's steps are for a started driver.
    int init();
    // Each step logged and carried on whatever its outcome; the desktop's mode comes back.
    int release();
    // Presents the back buffer; non-zero on success.
    int swap_buffers();

    os::handle dc;
    os::handle rc;

private:
    void give_back_contexts();
};
