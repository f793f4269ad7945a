#include "app/main_loop.h"
#include "cvar/cvars.h"
#include "game/game.h"
#include "game/menu.h"
#include "os/fault.h"
#include "os/keys.h"
#include "os/messages.h"
#include "os/process.h"
#include "os/window.h"
#include "platform/window.h"
#include "support/test_env.h"

namespace {

class window_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        start_log_and_cvars();
        ASSERT_NO_FATAL_FAILURE(open_main_window());
        ASSERT_EQ(menu.init(), 1);
    }
    void TearDown() override {
        main_game = nullptr;
        main_menu = nullptr;
        brevox_test::TearDown();
    }

    // Delivers a key as the system would and pumps it through the window procedure.
    void press(std::uint8_t dik) {
        os::seam::press_key(main_window->hwnd, dik);
        os::msg m;
        while (os::peek_message(m, 0, 0, 0, os::PM_REMOVE))
            last_result = os::dispatch_message(m);
    }

    // The game in the given state, with the menu.
    void game_in_state(std::int32_t state) {
        main_game = &game;
        main_menu = &menu;
        game.state = state;
        menu.resume_state = -1;
    }

    cgame game;
    cmenu menu;
    os::lresult last_result = -1;
};

TEST_F(window_test, FailuresAreLoggedWithTheirVerdict) {
    main_window->destroy();
    os::seam::fail_call("register_class");
    EXPECT_EQ(main_window->create(), 0);
    // A window that cannot be made leaves its class registered, so the next try fails early.
    os::seam::fail_call("create_window");
    EXPECT_EQ(main_window->create(), 0);
    main_window->destroy(); // no window: logs nothing, unregisters nothing
    EXPECT_EQ(main_window->create(), 0);
    ASSERT_EQ(main_window->hwnd, 0u);
    EXPECT_EQ(log_from(" (window) registring class : F"),
              " (window) registring class : FAILED\n"
              " (window) registring class : OK\n"
              " (window) creating main window : FAILED\n"
              " (window) registring class : FAILED\n");
}

TEST_F(window_test, F1RequestsARestartIntoTheOtherModeInEveryState) {
    for (std::int32_t state = game_menu - 1; state <= game_point; ++state) {
        if (state >= game_menu)
            game_in_state(state);
        loop_request = loop_run;
        const std::int32_t before = main_cvars->get_int("fullscreen");
        press(os::DIK_F1);
        EXPECT_EQ(loop_request, loop_vid_restart) << "state " << state;
        EXPECT_EQ(main_cvars->get_int("fullscreen"), before == 0 ? 1 : 0) << "state " << state;
    }
}

// The open menu takes every key; else ESCAPE opens it from play or serve, P pauses play.
TEST_F(window_test, EscapeAndPActOnlyInTheirStates) {
    // The state, after P, after ESCAPE.
    const std::int32_t cases[][3] = {
        {game_intro, game_intro, game_intro},          {game_paused, game_in_play, game_paused},
        {game_serve_wait, game_serve_wait, game_menu}, {game_in_play, game_paused, game_menu},
        {game_point, game_point, game_point},          {game_menu, game_menu, game_menu}};
    for (const auto [state, after_p, after_escape] : cases) {
        game_in_state(state);
        press(os::DIK_P);
        EXPECT_EQ(main_game->state, after_p) << "P in state " << state;
        game_in_state(state);
        press(os::DIK_ESCAPE);
        EXPECT_EQ(main_game->state, after_escape) << "ESCAPE in state " << state;
        EXPECT_EQ(main_menu->resume_state,
                  after_escape == game_menu && state != game_menu ? state : -1);
        EXPECT_EQ(last_result, state == game_menu ? 0 : 1) << "the menu's own answer comes back";
    }
    press(os::DIK_DOWN);
    EXPECT_EQ(main_menu->selected, 1) << "the open menu moved its selection";
    EXPECT_EQ(loop_request, loop_run);
}

using no_display_test = brevox_test;

TEST_F(no_display_test, TheStartFailsInOrderAndSaysSoOnStandardError) {
    // A whole run in a process of its own, since SDL's video starts once per process.
    const auto run_without_display = [] {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("SDL_VIDEODRIVER");
        os::post_quit_message(0); // a run that wrongly gets going ends at once all the same
        const int code = WinMain(os::module_instance(), 0, "", 1);
        std::fputs(read_log().c_str(), stderr);
        std::exit(code);
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(run_without_display(), testing::ExitedWithCode(1),
                ": no display available \\(is DISPLAY set\\?\\)\n.*"
                " \\(window\\) creating main window : FAILED\n\n\\+ initialization abnormal\n"
                ".*---- brevox ended ----");
}

} // namespace
