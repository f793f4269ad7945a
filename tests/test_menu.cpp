#include "app/main_loop.h"
#include "base/loop_request.h"
#include "game/game.h"
#include "game/menu.h"
#include "os/fault.h"
#include "os/keys.h"
#include "os/sound.h"
#include "os/window.h"
#include "platform/window.h"
#include "sound/dxplay.h"
#include "support/test_env.h"

#include <filesystem>

namespace {

// The whole program at start-up, the menu open, keys arriving through the window procedure;
// the game's own sounds on a pulled sound device.
class menu_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        std::filesystem::copy(std::filesystem::path(BREVOX_SOURCE_DIR) / "data", "data");
        os::seam::use_pulled_sound_device(true);
        start_log_and_cvars();
        os::seam::focus_new_windows(true);
        ASSERT_EQ(init_main_objects(), 1);
        ASSERT_NE(sample_apply, nullptr);
        ASSERT_NE(sample_voice, nullptr);
    }
    void TearDown() override {
        cleanup_main_objects();
        os::seam::use_pulled_sound_device(false);
        brevox_test::TearDown();
    }

    void press(std::initializer_list<std::uint8_t> keys) {
        for (const std::uint8_t dik : keys)
            last_result = press_and_dispatch(dik);
    }
    // Whether the sample plays now; stops it for the next look.
    static bool playing(csample* sample) {
        const bool was_playing = is_playing(sample);
        sample->stop();
        return was_playing;
    }

    os::lresult last_result = -1;
};

TEST_F(menu_test, KeysMoveTheHighlightAndChangeWhatIsShownOnly) {
    const std::string log_before = read_log();
    struct key_case {
        std::uint8_t key;
        std::int32_t selected, result;
    };
    const key_case cases[] = {
        {os::DIK_UP, 5, 1},     // wraps to "quit"
        {os::DIK_DOWN, 0, 1},   // and back to "screen mode"
        {os::DIK_RETURN, 0, 0}, // an option has no action
        {os::DIK_RIGHT, 0, 1},  {os::DIK_DOWN, 1, 1},  {os::DIK_LEFT, 1, 1}, {os::DIK_ESCAPE, 1, 0},
        {os::DIK_P, 1, 0},      {os::DIK_SPACE, 1, 0}, {os::DIK_DOWN, 2, 1}, {os::DIK_DOWN, 3, 1},
        {os::DIK_RIGHT, 3, 0}, // an action has no choices
    };
    for (const key_case& c : cases) {
        press({c.key});
        EXPECT_EQ(main_menu->selected, c.selected) << int(c.key);
        EXPECT_EQ(last_result, c.result) << int(c.key);
        EXPECT_EQ(main_game->state, game_menu);
    }
    EXPECT_EQ(main_menu->items[menu_screen_mode].choice, 1);
    EXPECT_EQ(main_menu->items[menu_resolution].choice, 2) << "LEFT on 640x480 wraps to 1024x768";
    press({os::DIK_UP, os::DIK_UP, os::DIK_UP, os::DIK_RIGHT});
    EXPECT_EQ(main_menu->items[menu_screen_mode].choice, 0) << "RIGHT twice is windowed again";
    EXPECT_EQ(main_menu->items[menu_screen_mode].applied, 0);
    EXPECT_EQ(read_log(), log_before) << "nothing is applied";
}

TEST_F(menu_test, ApplyPutsOnlyWhatChangedIntoEffect) {
    const os::hwnd first_window = main_window->hwnd;
    press({os::DIK_DOWN, os::DIK_DOWN, os::DIK_DOWN, os::DIK_DOWN}); // "apply changes"
    std::string log_before = read_log();
    press({os::DIK_RETURN});
    EXPECT_EQ(read_log(), log_before) << "nothing changed: nothing happens";
    EXPECT_FALSE(playing(sample_apply));

    press({os::DIK_UP, os::DIK_UP, os::DIK_RIGHT, os::DIK_DOWN, os::DIK_DOWN, os::DIK_RETURN});
    EXPECT_EQ(main_game->speed, 12.0f);
    EXPECT_TRUE(playing(sample_apply));
    EXPECT_EQ(main_window->hwnd, first_window) << "a speed change needs no restart";
    EXPECT_EQ(read_log().find("(menu)"), std::string::npos);

    log_before = read_log();
    press({os::DIK_UP, os::DIK_UP, os::DIK_UP, os::DIK_RIGHT}); // "800x600"
    press({os::DIK_DOWN, os::DIK_DOWN, os::DIK_DOWN, os::DIK_RETURN});
    EXPECT_TRUE(playing(sample_apply));
    const std::string applied = read_log().substr(log_before.size());
    EXPECT_EQ(applied.rfind(" (cvars) changing value width : OK\n"
                            " (cvars) changing value height : OK\n"
                            "\n (menu) vid_restart requested\n"
                            " (render) deleting main font\n",
                            0),
              0u)
        << applied;
    EXPECT_NE(applied.find("+ vid_restart successfull!\n"), std::string::npos);
    EXPECT_EQ(main_game->state, game_menu) << "the menu stays open";
    EXPECT_EQ(main_game->speed, 12.0f);
    EXPECT_EQ(loop_request, loop_run);

    // A restart that fails ends the game in order.
    press({os::DIK_UP, os::DIK_UP, os::DIK_UP, os::DIK_RIGHT, os::DIK_DOWN, os::DIK_DOWN,
           os::DIK_DOWN});
    os::seam::fail_call("gl_create_context");
    press({os::DIK_RETURN});
    EXPECT_EQ(loop_request, loop_quit);
}

TEST_F(menu_test, ContinueGreetsOnceThenResumesTheSameRallySilently) {
    press({os::DIK_DOWN, os::DIK_DOWN, os::DIK_DOWN, os::DIK_RETURN});
    EXPECT_EQ(main_game->state, game_intro);
    EXPECT_TRUE(playing(sample_voice));

    main_game->state = game_in_play;
    press({os::DIK_ESCAPE});
    EXPECT_EQ(main_game->state, game_menu);
    EXPECT_EQ(main_menu->selected, 3) << "the menu reopens as it was left";
    press({os::DIK_RETURN});
    EXPECT_EQ(main_game->state, game_in_play);
    EXPECT_FALSE(playing(sample_voice));

    main_game->state = game_menu;
    press({os::DIK_DOWN, os::DIK_DOWN, os::DIK_RETURN}); // "quit"
    EXPECT_EQ(loop_request, loop_quit);
}

} // namespace
