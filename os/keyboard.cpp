#include "os/keyboard.h"

#include "os/fault.h"
#include "os/video.h"

#include <cstring>
#include <map>
#include <set>

namespace {

struct keyboard_device {
    bool has_format = false;
    os::hwnd window = 0;
    std::uint32_t level = 0;
    bool acquired = false;
    bool lost = false; // unacquired by a focus loss; the next read says so once
};

// Main thread only, like the program's keyboard.
std::set<os::handle> input_objects;
std::map<os::handle, keyboard_device> devices;
os::handle last_handle = 0x00040000;

keyboard_device* find_device(os::handle device) {
    const auto found = devices.find(device);
    return found == devices.end() ? nullptr : &found->second;
}

bool injected(const char* call, os::hresult& result) {
    int code = 0;
    if (!os::detail::injected_fault(call, &code))
        return false;
    result = static_cast<os::hresult>(code);
    return true;
}

bool foreground_only(const keyboard_device& d) { return (d.level & os::DISCL_FOREGROUND) != 0; }

} // namespace

namespace os {

hresult direct_input_create(hinstance, std::uint32_t version, handle& dinput) {
    dinput = 0;
    hresult result = DI_OK;
    if (injected("direct_input_create", result))
        return result;
    if (version > DIRECTINPUT_VERSION)
        return DIERR_INVALIDPARAM;
    dinput = ++last_handle;
    input_objects.insert(dinput);
    return DI_OK;
}

hresult input_create_keyboard(handle dinput, handle& device) {
    device = 0;
    hresult result = DI_OK;
    if (injected("create_device", result))
        return result;
    if (!input_objects.count(dinput))
        return DIERR_NOTINITIALIZED;
    device = ++last_handle;
    devices[device] = {};
    return DI_OK;
}

hresult keyboard_set_data_format(handle device) {
    hresult result = DI_OK;
    if (injected("set_data_format", result))
        return result;
    keyboard_device* d = find_device(device);
    if (!d)
        return DIERR_INVALIDPARAM;
    d->has_format = true;
    return DI_OK;
}

hresult keyboard_set_cooperative_level(handle device, hwnd window, std::uint32_t flags) {
    hresult result = DI_OK;
    if (injected("set_cooperative_level", result))
        return result;
    keyboard_device* d = find_device(device);
    const bool one_of_each =
        ((flags & DISCL_EXCLUSIVE) != 0) != ((flags & DISCL_NONEXCLUSIVE) != 0) &&
        ((flags & DISCL_FOREGROUND) != 0) != ((flags & DISCL_BACKGROUND) != 0);
    if (!d || !one_of_each || !detail::sdl_window(window))
        return DIERR_INVALIDPARAM;
    d->window = window;
    d->level = flags;
    return DI_OK;
}

hresult keyboard_acquire(handle device) {
    hresult result = DI_OK;
    if (injected("acquire", result))
        return result;
    keyboard_device* d = find_device(device);
    if (!d || !d->has_format)
        return DIERR_INVALIDPARAM;
    if (d->acquired)
        return S_FALSE;
    // Let a focus change that the system has told us about count before deciding.
    detail::pump_system_events();
    if (foreground_only(*d) && !detail::window_has_focus(d->window))
        return DIERR_OTHERAPPHASPRIO;
    d->acquired = true;
    d->lost = false;
    return DI_OK;
}

hresult keyboard_unacquire(handle device) {
    keyboard_device* d = find_device(device);
    if (!d || !d->acquired)
        return S_FALSE;
    d->acquired = false;
    return DI_OK;
}

hresult keyboard_get_state(handle device, std::uint32_t size, std::uint8_t* keys) {
    // A caller's wrong size must not make us write past its buffer.
    if (!keys || size != 256)
        return DIERR_INVALIDPARAM;
    // Whatever happens now, no key stays down from an earlier read.
    std::memset(keys, 0, size);
    hresult result = DI_OK;
    if (injected("get_device_state", result))
        return result;
    keyboard_device* d = find_device(device);
    if (!d)
        return DIERR_INVALIDPARAM;
    if (d->lost) {
        d->lost = false;
        return DIERR_INPUTLOST;
    }
    if (!d->acquired)
        return DIERR_NOTACQUIRED;
    detail::copy_polled_keys(keys);
    return DI_OK;
}

void input_release_device(handle device) { devices.erase(device); }

void input_release(handle dinput) { input_objects.erase(dinput); }

} // namespace os

namespace os::detail {

void keyboard_focus_changed(hwnd window, bool focused) {
    if (focused)
        return; // the program acquires again itself
    for (auto& [handle, d] : devices) {
        if (d.window == window && d.acquired && foreground_only(d)) {
            d.acquired = false;
            d.lost = true;
        }
    }
}

void drop_input_objects() {
    devices.clear();
    input_objects.clear();
}

} // namespace os::detail

namespace os::seam {

int live_input_objects() { return static_cast<int>(input_objects.size() + devices.size()); }

} // namespace os::seam
