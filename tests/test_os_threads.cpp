// The OS layer's events and the one wait on events and the queue together. (The sound player's
// tests run threads, their messages and their priority.)
#include "os/messages.h"
#include "os/process.h"
#include "os/threads.h"
#include "support/test_env.h"

#include <vector>

namespace {

class threads_test : public brevox_test {
protected:
    std::uint32_t wait(std::uint32_t count, std::uint32_t wake_mask = os::QS_ALLINPUT) {
        return os::msg_wait_for_multiple_objects(count, events.data(), false, 0, wake_mask);
    }
    std::vector<os::handle> events;
};

TEST_F(threads_test, TheWaitTakesTheLowestSignalledEventAndAWaitingMessageFirst) {
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
