// The scene renderer: owns the OpenGL driver and draws one whole frame per pass of the main
// loop, then presents it.
#pragma once

#include "platform/driver.h"
#include "render/font.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cstdint>

class crender {
public:
    crender() : driver(nullptr), swap_result(0), initialized(0) {}
    // A driver whose init failed is left as it was, unreleased; only its memory goes here.
    ~crender() { delete driver; }
    crender(const crender&) = delete;
    crender& operator=(const crender&) = delete;

    // 1 on success, 0 when the driver cannot be initialised.
    int init();
    // Does nothing unless init succeeded.
    void release();
    // Draws and presents one frame; returns the swap's result.
    int draw_frame();
    void setup_view();
    int present();

    cdriver* driver;
    std::int32_t swap_result;
    std::int32_t initialized;
};

// The renderer, owned by the main loop; replaced by every video restart.
extern crender* main_render;

// The font, also used by the menu. It belongs to one OpenGL context: each video restart frees
// and loads it again.
extern cfont* main_font;
