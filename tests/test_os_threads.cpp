// The OS layer's threads, events and the wait on events and the queue together.
#include "os/clock.h"
#include "os/fault.h"
#include "os/messages.h"
#include "os/process.h"
#include "os/threads.h"
#include "support/test_env.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace {

class threads_test : public brevox_test {
protected:
    void TearDown() override {
        for (const os::handle h : handles)
            os::close_handle(h);
        brevox_test::TearDown();
    }
    os::handle event(bool manual = false) {
        handles.push_back(os::create_event(manual, false));
        return handles.back();
    }
    std::vector<os::handle> handles;
};

TEST_F(threads_test, AnAutoResetEventWakesOneWaitAndAManualOneStaysSet) {
    const os::handle automatic = event();
    const os::handle manual = event(true);
    EXPECT_EQ(os::wait_for_single_object(automatic, 0), os::WAIT_TIMEOUT);
    os::set_event(automatic);
    os::set_event(manual);
    EXPECT_EQ(os::wait_for_single_object(automatic, 0), os::WAIT_OBJECT_0);
    EXPECT_EQ(os::wait_for_single_object(automatic, 0), os::WAIT_TIMEOUT) << "reset by the wait";
    EXPECT_EQ(os::wait_for_single_object(manual, 0), os::WAIT_OBJECT_0);
    EXPECT_EQ(os::wait_for_single_object(manual, 0), os::WAIT_OBJECT_0);
    os::reset_event(manual);
    EXPECT_EQ(os::wait_for_single_object(manual, 0), os::WAIT_TIMEOUT);
    EXPECT_TRUE(os::close_handle(automatic));
    EXPECT_EQ(os::wait_for_single_object(automatic, 0), os::WAIT_FAILED);
    EXPECT_FALSE(os::set_event(automatic));
}

TEST_F(threads_test, TheWaitNamesTheLowestSignalledEventAndAWaitingMessageFirst) {
    os::handle events[4];
    for (auto& e : events)
        e = event();
    os::set_event(events[3]);
    os::set_event(events[1]);
    EXPECT_EQ(os::msg_wait_for_multiple_objects(4, events, false, 0, os::QS_ALLINPUT), 1u);
    EXPECT_EQ(os::msg_wait_for_multiple_objects(4, events, false, 0, os::QS_ALLINPUT), 3u);
    EXPECT_EQ(os::msg_wait_for_multiple_objects(4, events, false, 0, os::QS_ALLINPUT),
              os::WAIT_TIMEOUT);
    os::set_event(events[0]);
    os::post_thread_message(os::current_thread_id(), os::WM_USER, 0, 0);
    EXPECT_EQ(os::msg_wait_for_multiple_objects(4, events, false, 0, os::QS_ALLINPUT), 4u);
    EXPECT_EQ(os::msg_wait_for_multiple_objects(4, events, false, 0, 0), 0u)
        << "without a wake mask the queue is not looked at";
    os::msg m{};
    EXPECT_TRUE(os::peek_message(m, 0, 0, 0, os::PM_REMOVE));
    EXPECT_EQ(os::msg_wait_for_multiple_objects(0, nullptr, false, 0, os::QS_ALLINPUT),
              os::WAIT_TIMEOUT);
}

TEST_F(threads_test, TheWaitTakesAtMost63ObjectsAndOnlyLiveHandles) {
    std::vector<os::handle> many;
    for (int i = 0; i < 64; ++i)
        many.push_back(event());
    os::set_event(many[62]);
    EXPECT_EQ(os::msg_wait_for_multiple_objects(64, many.data(), false, 0, os::QS_ALLINPUT),
              os::WAIT_FAILED);
    EXPECT_EQ(os::msg_wait_for_multiple_objects(63, many.data(), false, 0, os::QS_ALLINPUT), 62u);
    const os::handle stale = many[5];
    os::close_handle(stale);
    handles.erase(std::find(handles.begin(), handles.end(), stale));
    EXPECT_EQ(os::msg_wait_for_multiple_objects(10, many.data(), false, 0, os::QS_ALLINPUT),
              os::WAIT_FAILED);
}

struct worker_data {
    os::handle go;
    std::atomic<int> woken{0};
    std::atomic<int> messages{0};
};

// Waits on its event and its queue until told to end.
std::uint32_t worker(void* parameter) {
    auto* data = static_cast<worker_data*>(parameter);
    for (;;) {
        const std::uint32_t r =
            os::msg_wait_for_multiple_objects(1, &data->go, false, os::INFINITE, os::QS_ALLINPUT);
        if (r == 0) {
            ++data->woken;
            continue;
        }
        os::msg m{};
        while (os::peek_message(m, 0, 0, 0, os::PM_REMOVE)) {
            if (m.message == os::WM_QUIT)
                return 7;
            ++data->messages;
        }
    }
}

TEST_F(threads_test, AThreadWakesForItsEventsAndMessagesAndItsHandleSignalsItsEnd) {
    worker_data data;
    data.go = event();
    os::thread_id id = 0;
    const os::handle thread = os::create_thread(worker, &data, &id);
    ASSERT_NE(thread, 0u);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, os::current_thread_id());
    EXPECT_TRUE(os::set_thread_priority(thread, os::THREAD_PRIORITY_HIGHEST));
    EXPECT_EQ(os::get_thread_priority(thread), os::THREAD_PRIORITY_HIGHEST);

    ASSERT_TRUE(os::seam::settle_threads());
    for (int i = 0; i < 3; ++i) {
        os::set_event(data.go);
        ASSERT_TRUE(os::seam::settle_threads());
    }
    EXPECT_EQ(data.woken, 3);
    EXPECT_TRUE(os::post_thread_message(id, os::WM_USER, 0, 0));
    EXPECT_TRUE(os::post_thread_message(id, os::WM_USER, 0, 0));
    ASSERT_TRUE(os::seam::settle_threads());
    EXPECT_EQ(data.messages, 2);
    EXPECT_EQ(os::wait_for_single_object(thread, 0), os::WAIT_TIMEOUT);
    EXPECT_TRUE(os::post_thread_message(id, os::WM_QUIT, 0, 0));
    EXPECT_EQ(os::wait_for_single_object(thread, os::INFINITE), os::WAIT_OBJECT_0);
    EXPECT_FALSE(os::post_thread_message(id, os::WM_USER, 0, 0)) << "its queue ended with it";
    EXPECT_TRUE(os::close_handle(thread));
}

TEST_F(threads_test, ThreadAndEventCreationCanBeMadeToFail) {
    os::seam::fail_call("create_thread");
    EXPECT_EQ(os::create_thread(worker, nullptr, nullptr), 0u);
    os::seam::fail_call("create_event");
    EXPECT_EQ(os::create_event(false, false), 0u);
}

TEST_F(threads_test, SleepMovesTheManualClockOn) {
    const std::uint32_t before = os::get_tick_count();
    os::sleep_ms(250);
    EXPECT_EQ(os::get_tick_count() - before, 250u);
}

} // namespace
