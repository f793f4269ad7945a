// The game menu, as the window procedure sees it: the state to resume when it closes, and its
// key handler. Its options, drawing and actions join it with the menu itself.
#pragma once

#include <cstdint>

class cmenu {
public:
    cmenu() : resume_state(0) {}
    // Takes a virtual-key code; 1 when the key did something.
    int handle_key(std::uint32_t vk);

    std::int32_t resume_state;
};

// The menu, owned by the main loop; null while it does not exist.
extern cmenu* main_menu;
