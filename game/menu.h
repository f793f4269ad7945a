// The game menu: the screen the program starts in and the one ESCAPE opens during a game. Three
// options (screen mode, resolution, game speed) and three actions (continue, apply changes,
// quit). It is open exactly while the game's state is game_menu; the window procedure then hands
// it every key. Changing an option only changes what is shown; "apply changes" puts the shown
// choices into effect. Main thread only.
#pragma once

#include <cstdint>

class cmenu;

struct cmenu_choice {
    std::int32_t value = -1;     // the choice's position
    const char* label = nullptr; // what the menu shows
};

using cmenu_action = void (*)(cmenu& menu);

struct cmenu_item {
    std::int32_t index = -1;    // position in the menu; -1 marks an empty slot no key acts on
    std::int32_t is_action = 0; // 1: ENTER runs action; 0: LEFT and RIGHT change choice
    const char* label = nullptr;
    std::int32_t choice_count = 0; // 0 for actions, at most 3
    std::int32_t choice = 0;       // the choice on show
    std::int32_t applied = 0;      // the choice last put into effect
    cmenu_choice* choices = nullptr;
    cmenu_action action = nullptr;
};

class cmenu {
public:
    cmenu() : selected(0), item_count(0), items(nullptr), resume_state(0) {}
    ~cmenu();
    cmenu(const cmenu&) = delete;
    cmenu& operator=(const cmenu&) = delete;

    // Builds the items from the menu table. 0 only when they cannot be allocated.
    int init();
    // Takes a virtual-key code; 1 when the key did something.
    int handle_key(std::uint32_t vk);
    int move_selection(std::int32_t delta);
    int change_choice(std::int32_t delta);
    int activate();
    // The option and key panels, centred on the client area (drawn by the scene renderer).
    void draw();

    std::int32_t selected;
    std::int32_t item_count;
    cmenu_item* items;
    std::int32_t resume_state; // the game state "continue" goes back to
};

// Positions of the options that "apply changes" puts into effect.
enum : std::int32_t {
    menu_screen_mode = 0,
    menu_resolution = 1,
    menu_game_speed = 2,
};

// The menu, owned by the main loop; null while it does not exist.
extern cmenu* main_menu;
