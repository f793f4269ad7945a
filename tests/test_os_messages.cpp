// The OS layer's message queue of the main thread, its window procedures and timers; its events
// and the one wait on events and the queue together. (The sound player's tests run threads, their
// messages and their priority.)
#include "os/clock.h"
#include "os/messages.h"
#include "os/process.h"
#include "os/threads.h"
#include "os/timers.h"
#include "support/test_env.h"

#include <vector>

namespace {

// What the callbacks and window procedures saw: timer ids, or messages.
std::vector<std::uint32_t> calls;

void record_timer(os::hwnd, std::uint32_t, os::timer_id id, std::uint32_t) { calls.push_back(id); }

void one_shot_timer(os::hwnd window, std::uint32_t message, os::timer_id id, std::uint32_t time) {
    record_timer(window, message, id, time);
    os::kill_timer(0, id);
}

class messages_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        calls.clear();
    }

    // Pumps like the main loop does, dispatching everything that waits; returns the ids taken.
    static std::vector<std::uint32_t> pump() {
        std::vector<std::uint32_t> taken;
        for (os::msg m; os::peek_message(m, 0, 0, 0, os::PM_REMOVE) && m.message != os::WM_QUIT;) {
            taken.push_back(m.message);
            os::dispatch_message(m);
        }
        return taken;
    }
};

TEST_F(messages_test, PostedMessagesComeInOrderThenTheQuitThenTheTimers) {
    os::set_timer(0, 0, 100, record_timer);
    os::seam::advance_clock_ms(100);
    os::post_message(0, os::WM_USER + 1, 10, 20);
    os::post_quit_message(3);
    os::post_message(0, os::WM_USER + 2, 0, 0);
    os::msg m{};
    ASSERT_TRUE(os::peek_message(m, 0, 0, 0, os::PM_NOREMOVE));
    EXPECT_EQ(os::get_message(m, 0, 0, 0), 1);
    EXPECT_EQ(m.message + m.w + m.l, os::WM_USER + 31u) << "the peek left it in place";
    EXPECT_EQ(os::get_message(m, 0, 0, 0), 1);
    EXPECT_EQ(m.message, os::WM_USER + 2u);
    EXPECT_EQ(os::get_message(m, 0, 0, 0), 0);
    EXPECT_EQ(m.w, 3u);
    EXPECT_EQ(pump(), std::vector<std::uint32_t>{os::WM_TIMER}) << "one quit, taken once";
}

TEST_F(messages_test, OneShotTimersCallBackOnceEachAndAKilledOnesMessageCallsNothing) {
    const os::timer_id killed = os::set_timer(0, 0, 5, record_timer);
    const os::timer_id serve = os::set_timer(0, 0, 10, one_shot_timer);
    const os::timer_id medal = os::set_timer(0, 0, 20, one_shot_timer);
    os::seam::advance_clock_ms(1'000);
    os::msg m{};
    ASSERT_TRUE(os::peek_message(m, 0, 0, 0, os::PM_REMOVE));
    ASSERT_EQ(m.w, killed);
    os::kill_timer(0, killed);
    os::dispatch_message(m);
    pump();
    EXPECT_EQ(calls, (std::vector<std::uint32_t>{serve, medal}));
    EXPECT_TRUE(pump().empty());
}

constexpr os::hwnd test_window = 0x1234;

TEST_F(messages_test, AWindowDestroyedInsideItsOwnMessageLosesItsOtherMessages) {
    // The window's procedure destroys it while one of its messages is being dispatched.
    os::detail::bind_window(
        test_window,
        [](os::hwnd window, std::uint32_t message, os::wparam, os::lparam) -> os::lresult {
            calls.push_back(message);
            os::detail::unbind_window(window);
            return 7;
        });
    os::post_message(test_window, os::WM_KEYDOWN, 0x70, 0);
    os::post_message(test_window, os::WM_KEYDOWN, 0x1B, 0);
    os::post_message(0, os::WM_USER, 0, 0);
    os::msg m{};
    ASSERT_EQ(os::get_message(m, 0, 0, 0), 1);
    EXPECT_EQ(m.window, test_window);
    EXPECT_EQ(os::dispatch_message(m), 7);
    EXPECT_EQ(pump(), std::vector<std::uint32_t>{os::WM_USER});
    EXPECT_EQ(calls, std::vector<std::uint32_t>{os::WM_KEYDOWN});
    EXPECT_EQ(os::dispatch_message(m), 0) << "a message for a gone window goes nowhere";
}

using threads_test = brevox_test;

TEST_F(threads_test, TheWaitTakesTheLowestSignalledEventAndAWaitingMessageFirst) {
    std::vector<os::handle> events;
    const auto wait = [&](std::uint32_t count, std::uint32_t wake_mask = os::QS_ALLINPUT) {
        return os::msg_wait_for_multiple_objects(count, events.data(), false, 0, wake_mask);
    };
    for (int i = 0; i < 64; ++i)
        events.push_back(os::create_event(i == 62, false));
    for (const int i : {62, 3, 1})
        os::set_event(events[i]);
    EXPECT_EQ(wait(64), os::WAIT_FAILED) << "one more than the wait takes";
    // Auto-reset events are reset by the wait that takes them; the manual-reset one stays set.
    for (const std::uint32_t taken : {1u, 3u, 62u, 62u})
        EXPECT_EQ(wait(63), taken);
    os::reset_event(events[62]);
    EXPECT_EQ(wait(63), os::WAIT_TIMEOUT);
    os::set_event(events[0]);
    os::post_thread_message(os::current_thread_id(), os::WM_USER, 0, 0);
    EXPECT_EQ(wait(4), 4u);
    EXPECT_EQ(wait(4, 0), 0u) << "without a wake mask the queue is not looked at";
    os::close_handle(events[5]);
    EXPECT_EQ(wait(10), os::WAIT_FAILED) << "a closed handle";
    events.erase(events.begin() + 5);
    for (const os::handle h : events)
        os::close_handle(h);
}

} // namespace
