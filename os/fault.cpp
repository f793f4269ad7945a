#include "os/fault.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct armed_fault {
    std::string call;
    int result_code;
    int remaining; // os::seam::fail_always for no limit
};

// Calls may come from the sound thread too, hence the lock; the flag keeps the
// common path (nothing armed) free of it.
std::mutex faults_lock;
std::vector<armed_fault> faults;
std::atomic<bool> any_armed{false};

} // namespace

namespace os::seam {

void fail_call(std::string_view call, int result_code, int times) {
    if (times == 0)
        return;
    std::lock_guard guard(faults_lock);
    for (auto& fault : faults) {
        if (fault.call == call) {
            fault.result_code = result_code;
            fault.remaining = times;
            return;
        }
    }
    faults.push_back({std::string(call), result_code, times});
    any_armed = true;
}

void clear_fault(std::string_view call) {
    std::lock_guard guard(faults_lock);
    std::erase_if(faults, [&](const armed_fault& f) { return f.call == call; });
    any_armed = !faults.empty();
}

void clear_faults() {
    std::lock_guard guard(faults_lock);
    faults.clear();
    any_armed = false;
}

} // namespace os::seam

namespace os::detail {

bool injected_fault(std::string_view call, int* result_code) {
    if (!any_armed)
        return false;
    std::lock_guard guard(faults_lock);
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->call != call)
            continue;
        if (result_code)
            *result_code = it->result_code;
        if (it->remaining != os::seam::fail_always && --it->remaining == 0) {
            faults.erase(it);
            any_armed = !faults.empty();
        }
        return true;
    }
    return false;
}

} // namespace os::detail
