#include "app/log.h"
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
        main_window = new cwindow;
    }
    void TearDown() override {
        delete main_game;
        main_game = nullptr;
        delete main_menu;
        main_menu = nullptr;
        brevox_test::TearDown();
    }

    // Delivers a key as the system would and pumps it through the window procedure.
    void press(std::uint8_t dik, bool repeat = false) {
        os::seam::press_key(main_window->hwnd, dik, repeat);
        os::msg m;
        while (os::peek_message(m, 0, 0, 0, os::PM_REMOVE))
            last_result = os::dispatch_message(m);
    }

    // A game and a menu in the given state, standing in for the real ones.
    void game_in_state(std::int32_t state) {
        if (!main_game)
            main_game = new cgame;
        if (!main_menu)
            main_menu = new cmenu;
        main_game->state = state;
        main_menu->resume_state = -1;
    }

    os::lresult last_result = -1;
};

TEST_F(window_test, AWindowedWindowPublishesItsHandleAndClientSize) {
    ASSERT_EQ(main_window->create(), 1);
    EXPECT_EQ(log_from(" (window)"), " (window) registring class : OK\n"
                                     " (window) creating main window : OK\n"
                                     " (cvar) registring int value hwnd : OK\n"
                                     " (cvar) registring int value clwidth : OK\n"
                                     " (cvar) registring int value clheight : OK\n");
    EXPECT_NE(main_window->hwnd, 0u);
    EXPECT_EQ(static_cast<os::hwnd>(main_cvars->get_int("hwnd")), main_window->hwnd);
    EXPECT_EQ(main_cvars->get_int("clwidth"), 640);
    EXPECT_EQ(main_cvars->get_int("clheight"), 480);
    EXPECT_STREQ(os::window_text(main_window->hwnd), "brevox [build 0.7a]");
    EXPECT_EQ(main_window->width, 640);
    EXPECT_STREQ(main_window->name, "brevox [build 0.7a]");

    const os::hwnd first = main_window->hwnd;
    main_window->destroy();
    EXPECT_FALSE(os::is_window(first));
    EXPECT_EQ(main_window->hwnd, 0u);
    EXPECT_EQ(main_window->name, nullptr);
    EXPECT_STREQ(main_window->class_name, "glbrevox_class");

    // The class went with the window: a new creation registers it again and changes the cvars.
    ASSERT_EQ(main_window->create(), 1);
    EXPECT_NE(main_window->hwnd, first);
    EXPECT_EQ(log_from(" (window) deleting"), " (window) deleting main window : OK\n"
                                              " (window) registring class : OK\n"
                                              " (window) creating main window : OK\n"
                                              " (cvars) changing value hwnd : OK\n"
                                              " (cvars) changing value clwidth : OK\n"
                                              " (cvars) changing value clheight : OK\n");
}

TEST_F(window_test, AFullscreenWindowHasExactlyTheWantedSize) {
    main_cvars->set_int("fullscreen", 1);
    main_cvars->set_int("width", 800);
    main_cvars->set_int("height", 600);
    ASSERT_EQ(main_window->create(), 1);
    EXPECT_EQ(main_cvars->get_int("clwidth"), 800);
    EXPECT_EQ(main_cvars->get_int("clheight"), 600);
    os::rect client;
    ASSERT_TRUE(os::get_client_rect(main_window->hwnd, client));
    EXPECT_EQ(client.right, 800);
    EXPECT_EQ(client.bottom, 600);
}

TEST_F(window_test, FailuresAreLoggedWithTheirVerdict) {
    os::seam::fail_call("register_class");
    EXPECT_EQ(main_window->create(), 0);
    EXPECT_EQ(main_window->hwnd, 0u);
    EXPECT_EQ(log_from(" (window)"), " (window) registring class : FAILED\n");
    EXPECT_EQ(main_cvars->get_int("hwnd"), -1);

    // A window that cannot be made leaves its class registered, so the next try fails early.
    os::seam::fail_call("create_window");
    EXPECT_EQ(main_window->create(), 0);
    main_window->destroy(); // no window: logs nothing, unregisters nothing
    EXPECT_EQ(main_window->create(), 0);
    EXPECT_EQ(log_from(" (window) registring class : OK"),
              " (window) registring class : OK\n"
              " (window) creating main window : FAILED\n"
              " (window) registring class : FAILED\n");
}

TEST_F(window_test, AWindowThatCannotBeDestroyedStillClearsTheObject) {
    ASSERT_EQ(main_window->create(), 1);
    os::seam::fail_call("destroy_window");
    main_window->destroy();
    EXPECT_EQ(main_window->hwnd, 0u);
    EXPECT_EQ(log_from(" (window) deleting"), " (window) deleting main window : FAILED\n");
}

TEST_F(window_test, ACloseRequestEndsTheLoopInTheSamePump) {
    ASSERT_EQ(main_window->create(), 1);
    const os::hwnd window = main_window->hwnd;
    os::seam::request_close(window);
    main_loop(); // returns from the pump: no frame runs, there is no renderer here
    EXPECT_EQ(loop_request, loop_quit);
    EXPECT_TRUE(os::is_window(window)) << "the window stays until the shut-down";
    EXPECT_EQ(log_from(" (window) close"), " (window) close message received\n");
}

TEST_F(window_test, F1RequestsARestartIntoTheOtherModeInEveryState) {
    ASSERT_EQ(main_window->create(), 1);
    press(os::DIK_F1); // no game yet
    EXPECT_EQ(loop_request, loop_vid_restart);
    EXPECT_EQ(main_cvars->get_int("fullscreen"), 1);
    for (std::int32_t state = game_menu; state <= game_point; ++state) {
        game_in_state(state);
        loop_request = loop_run;
        const std::int32_t before = main_cvars->get_int("fullscreen");
        press(os::DIK_F1);
        EXPECT_EQ(loop_request, loop_vid_restart) << "state " << state;
        EXPECT_EQ(main_cvars->get_int("fullscreen"), before == 0 ? 1 : 0) << "state " << state;
        EXPECT_EQ(main_game->state, state);
        press(os::DIK_F1, true); // the key's auto-repeat toggles again
        EXPECT_EQ(main_cvars->get_int("fullscreen"), before);
    }
}

TEST_F(window_test, KeysHeldWithAltAreLeftToTheSystem) {
    ASSERT_EQ(main_window->create(), 1);
    game_in_state(game_in_play);
    press(os::DIK_LMENU);
    press(os::DIK_F1);
    press(os::DIK_P);
    EXPECT_EQ(loop_request, loop_run);
    EXPECT_EQ(main_cvars->get_int("fullscreen"), 0);
    EXPECT_EQ(main_game->state, game_in_play);
    os::seam::release_key(main_window->hwnd, os::DIK_LMENU);
    press(os::DIK_F1);
    EXPECT_EQ(loop_request, loop_vid_restart);
}

TEST_F(window_test, EscapeOpensTheMenuOnlyFromPlayOrServe) {
    ASSERT_EQ(main_window->create(), 1);
    struct escape_case {
        std::int32_t state, after, resume;
    };
    const escape_case cases[] = {{game_intro, game_intro, -1},
                                 {game_paused, game_paused, -1},
                                 {game_serve_wait, game_menu, game_serve_wait},
                                 {game_in_play, game_menu, game_in_play},
                                 {game_point, game_point, -1}};
    for (const auto& c : cases) {
        game_in_state(c.state);
        press(os::DIK_ESCAPE);
        EXPECT_EQ(main_game->state, c.after) << "state " << c.state;
        EXPECT_EQ(main_menu->resume_state, c.resume) << "state " << c.state;
        EXPECT_EQ(last_result, 1);
    }
    EXPECT_EQ(loop_request, loop_run);
}

TEST_F(window_test, PPausesAndResumesOnlyDuringPlay) {
    ASSERT_EQ(main_window->create(), 1);
    const std::int32_t after_p[] = {-1,          game_intro, game_in_play, game_serve_wait,
                                    game_paused, game_point};
    for (std::int32_t state = game_intro; state <= game_point; ++state) {
        game_in_state(state);
        press(os::DIK_P);
        EXPECT_EQ(main_game->state, after_p[state]) << "state " << state;
    }
}

TEST_F(window_test, TheOpenMenuTakesEveryKey) {
    ASSERT_EQ(main_window->create(), 1);
    game_in_state(game_menu);
    for (std::uint8_t dik :
         {os::DIK_ESCAPE, os::DIK_P, os::DIK_UP, os::DIK_RETURN, os::DIK_SPACE}) {
        press(dik);
        EXPECT_EQ(main_game->state, game_menu);
        EXPECT_EQ(main_menu->resume_state, -1);
        EXPECT_EQ(last_result, 0) << "the menu's own answer comes back";
    }
    EXPECT_EQ(loop_request, loop_run);
}

} // namespace

namespace {

class no_display_test : public brevox_test {
protected:
    // A whole run with no display at all, in a process of its own since SDL's video starts once.
    [[noreturn]] static void run_without_display() {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("SDL_VIDEODRIVER");
        os::post_quit_message(0); // a run that wrongly gets going ends at once all the same
        const int code = WinMain(os::module_instance(), 0, "", 1);
        std::fputs(read_log().c_str(), stderr);
        std::exit(code);
    }
};

TEST_F(no_display_test, TheStartFailsInOrderAndSaysSoOnStandardError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(run_without_display(), testing::ExitedWithCode(1),
                ": no display available \\(is DISPLAY set\\?\\)\n.*"
                " \\(window\\) creating main window : FAILED\n\n\\+ initialization abnormal\n"
                ".*---- brevox ended ----");
}

} // namespace
