#include "game/menu.h"

#include "base/log.h"
#include "base/loop_request.h"
#include "cvar/cvars.h"
#include "game/game.h"
#include "os/keys.h"

#include <new>

namespace {

// What Enter does on the three action rows.
void action_continue(cmenu& menu);
void action_apply(cmenu& menu);
void action_quit(cmenu& menu);

struct menu_row {
    std::int32_t choice_count;
    std::int32_t is_action;
    const char* label;
    const char* choices[3];
    cmenu_action action;
};

constexpr menu_row menu_table[] = {
    {2, 0, "screen mode", {"windowed", "fullscreen", nullptr}, nullptr},
    {3, 0, "resolution", {"640x480", "800x600", "1024x768"}, nullptr},
    {3, 0, "game speed", {"*", "**", "***"}, nullptr},
    {0, 1, "continue", {}, action_continue},
    {0, 1, "apply changes", {}, action_apply},
    {0, 1, "quit", {}, action_quit},
};
constexpr std::int32_t menu_rows = sizeof menu_table / sizeof menu_table[0];

struct resolution {
    std::int32_t width;
    std::int32_t height;
};
constexpr resolution resolutions[] = {{640, 480}, {800, 600}, {1024, 768}};

// Marks an option's shown choice as applied; true when that changed it.
bool take_change(cmenu_item& item) {
    if (item.choice == item.applied)
        return false;
    item.applied = item.choice;
    return true;
}

void apply_resolution(std::int32_t choice) {
    const resolution size = choice >= 0 && choice < 3 ? resolutions[choice] : resolutions[0];
    main_cvars->set_int("width", size.width);
    main_cvars->set_int("height", size.height);
}

} // namespace

cmenu::~cmenu() {
    for (std::int32_t i = 0; items && i < item_count; ++i)
        delete[] items[i].choices;
    delete[] items;
}

int cmenu::init() {
    selected = 0;
    item_count = menu_rows;
    items = new (std::nothrow) cmenu_item[menu_rows];
    resume_state = game_intro;
    if (!items)
        return 0;
    for (std::int32_t i = 0; i < menu_rows; ++i) {
        const menu_row& row = menu_table[i];
        cmenu_item& item = items[i];
        item.index = i;
        item.label = row.label;
        item.is_action = row.is_action;
        item.action = row.action;
        item.choice_count = row.choice_count;
        if (row.choice_count == 0)
            continue;
        item.choices = new (std::nothrow) cmenu_choice[row.choice_count];
        if (!item.choices)
            return 0;
        for (std::int32_t c = 0; c < row.choice_count; ++c)
            item.choices[c] = {c, row.choices[c]};
    }
    return 1;
}

int cmenu::handle_key(std::uint32_t vk) {
    switch (vk) {
    case os::VK_DOWN:
        return move_selection(+1);
    case os::VK_UP:
        return move_selection(-1);
    case os::VK_RIGHT:
        return change_choice(+1);
    case os::VK_LEFT:
        return change_choice(-1);
    case os::VK_RETURN:
        return activate();
    default:
        return 0; // ESCAPE and P included: only "continue" closes the menu
    }
}

int cmenu::move_selection(std::int32_t delta) {
    selected += delta;
    if (selected < 0)
        selected = item_count - 1;
    else if (selected > item_count - 1)
        selected = 0;
    return 1;
}

int cmenu::change_choice(std::int32_t delta) {
    cmenu_item& item = items[selected];
    if (item.is_action || item.index == -1)
        return 0;
    item.choice += delta;
    if (item.choice > item.choice_count - 1)
        item.choice = 0;
    else if (item.choice < 0)
        item.choice = item.choice_count - 1;
    return 1;
}

int cmenu::activate() {
    cmenu_item& item = items[selected];
    if (!item.is_action || item.index == -1)
        return 0;
    item.action(*this);
    return 1;
}

namespace {

void action_continue(cmenu& menu) {
    if (menu.resume_state == game_intro)
        play_sample(sample_voice); // the welcome, once, on leaving the start menu
    if (main_game)
        main_game->resume_from(menu);
}

void action_quit(cmenu&) { loop_request = loop_quit; }

void action_apply(cmenu& menu) {
    bool restart = false;
    cmenu_item& screen_mode = menu.items[menu_screen_mode];
    if (take_change(screen_mode)) {
        restart = true;
        main_cvars->set_int("fullscreen", screen_mode.applied == 1 ? 1 : 0);
    }
    cmenu_item& size = menu.items[menu_resolution];
    if (take_change(size)) {
        restart = true;
        apply_resolution(size.applied);
    }
    cmenu_item& speed = menu.items[menu_game_speed];
    const bool faster = take_change(speed);
    if (faster && main_game)
        main_game->speed = static_cast<float>(speed.applied) * 2.0f + 10.0f;
    if (!restart && !faster)
        return; // nothing changed: no sound either

    play_sample(sample_apply);
    if (restart) {
        log_printf(main_log, "\n (menu) vid_restart requested\n");
        // Runs inside the key message of the very window it destroys. A failed restart ends
        // the game in order, as a failed F1 does.
        if (!vid_restart())
            loop_request = loop_quit;
    }
}

} // namespace
