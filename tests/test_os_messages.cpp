// The OS layer's message queues and timers.
#include "os/clock.h"
#include "os/fault.h"
#include "os/messages.h"
#include "os/process.h"
#include "os/timers.h"
#include "support/test_env.h"

#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace {

struct timer_call {
    os::timer_id id;
    std::uint32_t time;
};
std::vector<timer_call> timer_calls;

void record_timer(os::hwnd, std::uint32_t message, os::timer_id id, std::uint32_t time) {
    EXPECT_EQ(message, os::WM_TIMER);
    timer_calls.push_back({id, time});
}

void one_shot_timer(os::hwnd window, std::uint32_t message, os::timer_id id, std::uint32_t time) {
    record_timer(window, message, id, time);
    os::kill_timer(0, id);
}

class messages_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        timer_calls.clear();
    }

    // Pumps like the main loop does, dispatching everything that waits; returns the ids taken.
    std::vector<std::uint32_t> pump() {
        std::vector<std::uint32_t> taken;
        os::msg m;
        while (os::peek_message(m, 0, 0, 0, os::PM_NOREMOVE)) {
            if (os::get_message(m, 0, 0, 0) == 0) {
                taken.push_back(os::WM_QUIT);
                break;
            }
            taken.push_back(m.message);
            os::translate_message(m);
            os::dispatch_message(m);
        }
        return taken;
    }
};

TEST_F(messages_test, PostedMessagesComeInOrderAndPeekCanLeaveThem) {
    os::post_message(0, os::WM_USER + 1, 10, 20);
    os::post_message(0, os::WM_USER + 2, 0, 0);
    os::msg m{};
    ASSERT_TRUE(os::peek_message(m, 0, 0, 0, os::PM_NOREMOVE));
    EXPECT_EQ(m.message, os::WM_USER + 1u);
    EXPECT_EQ(m.w, 10u);
    EXPECT_EQ(m.l, 20);
    ASSERT_TRUE(os::peek_message(m, 0, 0, 0, os::PM_REMOVE));
    EXPECT_EQ(m.message, os::WM_USER + 1u) << "a peek without removal left it in place";
    EXPECT_EQ(os::get_message(m, 0, 0, 0), 1);
    EXPECT_EQ(m.message, os::WM_USER + 2u);
    EXPECT_FALSE(os::peek_message(m, 0, 0, 0, os::PM_REMOVE));
}

TEST_F(messages_test, TheQuitMessageFollowsThePostedOnesAndCarriesTheExitCode) {
    os::post_message(0, os::WM_USER, 0, 0);
    os::post_quit_message(3);
    os::post_message(0, os::WM_USER + 1, 0, 0);
    os::msg m{};
    EXPECT_EQ(os::get_message(m, 0, 0, 0), 1);
    EXPECT_EQ(os::get_message(m, 0, 0, 0), 1);
    EXPECT_EQ(m.message, os::WM_USER + 1u);
    EXPECT_EQ(os::get_message(m, 0, 0, 0), 0);
    EXPECT_EQ(m.message, os::WM_QUIT);
    EXPECT_EQ(m.w, 3u);
    EXPECT_FALSE(os::peek_message(m, 0, 0, 0, os::PM_REMOVE)) << "one quit, taken once";
}

TEST_F(messages_test, ATimerCallsBackFromDispatchEveryPeriodUntilKilled) {
    const os::timer_id id = os::set_timer(0, 0, 500, record_timer);
    ASSERT_NE(id, 0u);
    os::seam::advance_clock_ms(499);
    EXPECT_TRUE(pump().empty());
    os::seam::advance_clock_ms(1);
    EXPECT_EQ(pump(), std::vector<std::uint32_t>{os::WM_TIMER});
    ASSERT_EQ(timer_calls.size(), 1u);
    EXPECT_EQ(timer_calls[0].id, id);
    EXPECT_EQ(timer_calls[0].time, 500u);
    EXPECT_TRUE(pump().empty()) << "the period starts anew when the message is taken";
    os::seam::advance_clock_ms(1'700); // late: still one message, not three
    EXPECT_EQ(pump().size(), 1u);
    EXPECT_TRUE(os::kill_timer(0, id));
    os::seam::advance_clock_ms(5'000);
    EXPECT_TRUE(pump().empty());
    EXPECT_FALSE(os::kill_timer(0, id));
    EXPECT_EQ(timer_calls.size(), 2u);
}

TEST_F(messages_test, TimerMessagesWaitUntilNothingElseDoes) {
    os::set_timer(0, 0, 100, record_timer);
    os::seam::advance_clock_ms(100);
    os::post_message(0, os::WM_USER, 0, 0);
    os::post_quit_message(0);
    EXPECT_EQ(pump(), (std::vector<std::uint32_t>{os::WM_USER, os::WM_QUIT}));
    EXPECT_TRUE(timer_calls.empty());
    EXPECT_EQ(pump(), std::vector<std::uint32_t>{os::WM_TIMER});
}

TEST_F(messages_test, OneShotTimersGetDistinctIdsAndEndThemselves) {
    std::set<os::timer_id> ids;
    for (int i = 0; i < 5; ++i)
        ids.insert(os::set_timer(0, 0, 10 * (i + 1), one_shot_timer));
    EXPECT_EQ(ids.size(), 5u);
    EXPECT_EQ(ids.count(0), 0u);
    os::seam::advance_clock_ms(1'000);
    for (int i = 0; i < 5; ++i)
        pump();
    EXPECT_EQ(timer_calls.size(), 5u);
    EXPECT_TRUE(pump().empty());
}

TEST_F(messages_test, AKilledTimersWaitingMessageCallsNothing) {
    const os::timer_id id = os::set_timer(0, 0, 10, record_timer);
    os::seam::advance_clock_ms(10);
    os::msg m{};
    ASSERT_TRUE(os::peek_message(m, 0, 0, 0, os::PM_REMOVE));
    os::kill_timer(0, id);
    os::dispatch_message(m);
    EXPECT_TRUE(timer_calls.empty());
}

TEST_F(messages_test, ATimerPeriodAcrossTheTickWrapEndsOnTime) {
    os::seam::use_manual_clock(0xFFFFFF00u);
    os::set_timer(0, 0, 1'000, one_shot_timer);
    os::seam::advance_clock_ms(999);
    EXPECT_TRUE(pump().empty());
    os::seam::advance_clock_ms(1);
    pump();
    EXPECT_EQ(timer_calls.size(), 1u);
    os::seam::advance_clock_ms(5'000);
    pump();
    EXPECT_EQ(timer_calls.size(), 1u);
}

TEST_F(messages_test, WaitingOnTheManualClockJumpsToTheNextTimer) {
    os::set_timer(0, 0, 250, record_timer);
    os::msg m{};
    EXPECT_EQ(os::get_message(m, 0, 0, 0), 1);
    EXPECT_EQ(m.message, os::WM_TIMER);
    EXPECT_EQ(os::seam::manual_clock_us(), 250'000u);
    os::kill_timer(0, static_cast<os::timer_id>(m.w));
    EXPECT_EQ(os::get_message(m, 0, 0, 0), -1) << "nothing can ever arrive";
}

std::vector<std::uint32_t> window_messages;
constexpr os::hwnd test_window = 0x1234;

os::lresult remember_message(os::hwnd window, std::uint32_t message, os::wparam, os::lparam) {
    EXPECT_EQ(window, test_window);
    window_messages.push_back(message);
    return 7;
}

// Destroys its own window while one of its messages is being dispatched.
os::lresult close_on_message(os::hwnd window, std::uint32_t message, os::wparam, os::lparam) {
    window_messages.push_back(message);
    os::detail::unbind_window(window);
    return 1;
}

TEST_F(messages_test, DispatchHandsAMessageToItsWindowsProcedure) {
    window_messages.clear();
    os::detail::bind_window(test_window, remember_message);
    ASSERT_TRUE(os::post_message(test_window, os::WM_CLOSE, 0, 0));
    EXPECT_FALSE(os::post_message(0x9999, os::WM_CLOSE, 0, 0)) << "no such window";
    os::msg m{};
    ASSERT_EQ(os::get_message(m, 0, 0, 0), 1);
    EXPECT_EQ(m.window, test_window);
    EXPECT_EQ(os::dispatch_message(m), 7);
    EXPECT_EQ(window_messages, std::vector<std::uint32_t>{os::WM_CLOSE});
}

TEST_F(messages_test, AWindowDestroyedInsideItsOwnMessageLosesItsOtherMessages) {
    window_messages.clear();
    os::detail::bind_window(test_window, close_on_message);
    os::post_message(test_window, os::WM_KEYDOWN, 0x70, 0);
    os::post_message(test_window, os::WM_KEYDOWN, 0x1B, 0);
    os::post_message(0, os::WM_USER, 0, 0);
    EXPECT_EQ(pump(), (std::vector<std::uint32_t>{os::WM_KEYDOWN, os::WM_USER}));
    EXPECT_EQ(window_messages.size(), 1u);
    os::msg stale{test_window, os::WM_KEYDOWN, 0, 0, 0};
    EXPECT_EQ(os::dispatch_message(stale), 0) << "a message for a gone window goes nowhere";
    EXPECT_EQ(window_messages.size(), 1u);
}

TEST_F(messages_test, AThreadReceivesPostsOnceItHasAQueue) {
    std::atomic<os::thread_id> worker_id{0};
    std::atomic<bool> may_look{false};
    std::atomic<std::uint32_t> received{0};
    std::thread worker([&] {
        worker_id = os::current_thread_id();
        while (!may_look)
            std::this_thread::yield();
        os::ensure_message_queue();
        worker_id = 0; // tells the main thread the queue exists
        os::msg m{};
        for (;;) {
            if (os::peek_message(m, 0, 0, 0, os::PM_REMOVE)) {
                received = m.message;
                return;
            }
            std::this_thread::yield();
        }
    });
    while (worker_id == 0)
        std::this_thread::yield();
    const os::thread_id id = worker_id;
    EXPECT_NE(id, os::current_thread_id());
    EXPECT_FALSE(os::post_thread_message(id, os::WM_USER + 3, 0, 0)) << "no queue yet";
    may_look = true;
    while (worker_id != 0)
        std::this_thread::yield();
    os::seam::fail_call("post_thread_message");
    EXPECT_FALSE(os::post_thread_message(id, os::WM_USER + 3, 0, 0));
    EXPECT_TRUE(os::post_thread_message(id, os::WM_USER + 3, 0, 0));
    worker.join();
    EXPECT_EQ(received, os::WM_USER + 3u);
    os::msg m{};
    EXPECT_FALSE(os::peek_message(m, 0, 0, 0, os::PM_REMOVE)) << "nothing reached this thread";
}

} // namespace
