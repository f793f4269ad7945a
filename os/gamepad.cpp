#include "os/gamepad.h"

#include "os/clock.h"
#include "os/fault.h"
#include "os/messages.h"
#include "os/video.h"

#include <algorithm>
#include <array>
#include <map>
#include <vector>

namespace {

struct pad_button {
    SDL_GameControllerButton sdl;
    std::uint16_t bit;
    std::uint32_t vk;
};

constexpr pad_button pad_buttons[] = {
    {SDL_CONTROLLER_BUTTON_DPAD_UP, os::XINPUT_GAMEPAD_DPAD_UP, os::VK_GAMEPAD_DPAD_UP},
    {SDL_CONTROLLER_BUTTON_DPAD_DOWN, os::XINPUT_GAMEPAD_DPAD_DOWN, os::VK_GAMEPAD_DPAD_DOWN},
    {SDL_CONTROLLER_BUTTON_DPAD_LEFT, os::XINPUT_GAMEPAD_DPAD_LEFT, os::VK_GAMEPAD_DPAD_LEFT},
    {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, os::XINPUT_GAMEPAD_DPAD_RIGHT, os::VK_GAMEPAD_DPAD_RIGHT},
    {SDL_CONTROLLER_BUTTON_START, os::XINPUT_GAMEPAD_START, os::VK_GAMEPAD_MENU},
    {SDL_CONTROLLER_BUTTON_BACK, os::XINPUT_GAMEPAD_BACK, os::VK_GAMEPAD_VIEW},
    {SDL_CONTROLLER_BUTTON_A, os::XINPUT_GAMEPAD_A, os::VK_GAMEPAD_A},
};

const pad_button* find_button(int sdl_button) {
    for (const pad_button& button : pad_buttons)
        if (button.sdl == sdl_button)
            return &button;
    return nullptr;
}

struct held_key {
    std::uint32_t vk;
    std::uint32_t next_repeat; // tick count
};

struct open_pad {
    SDL_GameController* controller = nullptr;
    SDL_JoystickID id = -1;
    std::vector<held_key> held; // buttons whose key messages repeat
};

// Main thread only, like the message pump that follows the controllers.
bool started = false;
std::array<open_pad, os::XUSER_MAX_COUNT> slots;

open_pad* pad_of(SDL_JoystickID id) {
    for (open_pad& pad : slots)
        if (pad.controller && pad.id == id)
            return &pad;
    return nullptr;
}

void open_device(int device_index) {
    if (!started || !SDL_IsGameController(device_index) ||
        pad_of(SDL_JoystickGetDeviceInstanceID(device_index)))
        return;
    const auto free_slot = std::find_if(slots.begin(), slots.end(),
                                        [](const open_pad& pad) { return !pad.controller; });
    if (free_slot == slots.end())
        return; // a fifth controller waits until a slot frees
    free_slot->controller = SDL_GameControllerOpen(device_index);
    if (free_slot->controller)
        free_slot->id =
            SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(free_slot->controller));
}

// Those plugged in at the start, a new one, or one that waited for a free slot.
void open_every_device() {
    for (int i = 0; i < SDL_NumJoysticks(); ++i)
        open_device(i);
}

void close_pad(open_pad& pad) {
    SDL_GameControllerClose(pad.controller);
    pad = {};
}

// As a key message's: the repeat count, and whether the key was down before.
os::lparam key_flags(std::uint32_t count, bool repeat) {
    return static_cast<os::lparam>(count | (repeat ? 1u << 30 : 0u));
}

void button_event(const SDL_ControllerButtonEvent& event) {
    open_pad* pad = pad_of(event.which);
    const pad_button* button = find_button(event.button);
    if (!pad || !button)
        return;
    // A button let go wherever the focus is repeats no more.
    const bool was_held =
        std::erase_if(pad->held, [&](const held_key& key) { return key.vk == button->vk; }) != 0;
    const os::hwnd window = os::detail::focused_window();
    if (window == 0)
        return; // behind another window the buttons say nothing
    if (event.type == SDL_CONTROLLERBUTTONDOWN) {
        pad->held.push_back(
            {button->vk, os::detail::tick_count_now() + os::gamepad_repeat_delay_ms});
        os::post_message(window, os::WM_KEYDOWN, button->vk, key_flags(1, false));
    } else if (was_held) { // only a press we told of is let go of
        os::post_message(window, os::WM_KEYUP, button->vk, key_flags(1, false));
    }
}

// SDL's own rule drops controller events while it thinks no window of ours is in front, so a
// button let go meanwhile would stay down in its state. We take every event and decide by the
// focus ourselves. Counted: the program and each virtual controller hold the subsystem.
bool start_subsystem() {
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    return SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0;
}

// SDL's vertical axes point down, XInput's up.
std::int16_t flipped(std::int16_t y) { return static_cast<std::int16_t>(y == -32768 ? 32767 : -y); }

} // namespace

namespace os {

bool gamepads_start() {
    if (started)
        return true;
    if (detail::injected_fault("gamepads_start"))
        return false;
    if (!start_subsystem())
        return false;
    started = true;
    open_every_device();
    return true;
}

void gamepads_stop() {
    if (!started)
        return;
    for (open_pad& pad : slots)
        if (pad.controller)
            close_pad(pad);
    started = false;
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

std::uint32_t gamepad_get_state(std::uint32_t slot, gamepad_state& state) {
    state = {};
    if (slot >= XUSER_MAX_COUNT || !slots[slot].controller)
        return ERROR_DEVICE_NOT_CONNECTED;
    const open_pad& pad = slots[slot];
    state.device = static_cast<std::uint32_t>(pad.id) + 1;
    if (detail::focused_window() == 0)
        return ERROR_SUCCESS;
    for (const pad_button& button : pad_buttons)
        if (SDL_GameControllerGetButton(pad.controller, button.sdl))
            state.buttons |= button.bit;
    state.left_thumb_y =
        flipped(SDL_GameControllerGetAxis(pad.controller, SDL_CONTROLLER_AXIS_LEFTY));
    return ERROR_SUCCESS;
}

const char* gamepad_name(std::uint32_t slot) {
    const char* name = slot < XUSER_MAX_COUNT && slots[slot].controller
                           ? SDL_GameControllerName(slots[slot].controller)
                           : "";
    return name ? name : "";
}

} // namespace os

namespace os::detail {

void gamepad_event(const SDL_Event& event) {
    switch (event.type) {
    case SDL_CONTROLLERDEVICEADDED:
        open_every_device();
        break;
    case SDL_CONTROLLERDEVICEREMOVED:
        if (open_pad* pad = pad_of(event.cdevice.which))
            close_pad(*pad);
        open_every_device();
        break;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP:
        button_event(event.cbutton);
        break;
    default:
        break;
    }
}

void repeat_gamepad_keys() {
    const hwnd window = focused_window();
    const std::uint32_t now = tick_count_now();
    for (open_pad& pad : slots) {
        for (held_key& key : pad.held) {
            // Signed: the tick count wraps. Repeats due together make one message with their
            // count, so that a long frame does not let them pile up.
            std::uint32_t count = 0;
            for (; static_cast<std::int32_t>(now - key.next_repeat) >= 0; ++count)
                key.next_repeat += gamepad_repeat_period_ms;
            if (count != 0 && window != 0)
                post_message(window, WM_KEYDOWN, key.vk, key_flags(std::min(count, 0xFFFFu), true));
        }
    }
}

void gamepad_focus_changed(bool focused) {
    if (focused)
        return;
    // A button held now repeats no more, even once the focus is back: it must be pressed anew.
    for (open_pad& pad : slots)
        pad.held.clear();
}

} // namespace os::detail

namespace {

struct virtual_pad {
    int id; // SDL's instance id
    SDL_Joystick* joystick;
};

std::map<std::uint32_t, virtual_pad> virtual_pads;
std::uint32_t last_virtual = 0;

int device_index_of(SDL_JoystickID id) {
    for (int i = 0; i < SDL_NumJoysticks(); ++i)
        if (SDL_JoystickGetDeviceInstanceID(i) == id)
            return i;
    return -1;
}

SDL_Joystick* virtual_joystick(std::uint32_t pad) {
    const auto found = virtual_pads.find(pad);
    return found == virtual_pads.end() ? nullptr : found->second.joystick;
}

} // namespace

namespace os::seam {

std::uint32_t attach_virtual_gamepad(const char* name) {
    // Each virtual controller holds the subsystem, so it outlives the program's own stop.
    if (!start_subsystem())
        return 0;
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    // As a game controller SDL maps button i to SDL_GameControllerButton i, axis i likewise.
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    desc.name = name;
    const int index = SDL_JoystickAttachVirtualEx(&desc);
    SDL_Joystick* joystick = index < 0 ? nullptr : SDL_JoystickOpen(index);
    if (!joystick) {
        SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
        return 0;
    }
    virtual_pads[++last_virtual] = {SDL_JoystickInstanceID(joystick), joystick};
    return last_virtual;
}

void press_virtual_button(std::uint32_t pad, std::uint16_t button, bool down) {
    for (const pad_button& b : pad_buttons)
        if (b.bit == button && virtual_joystick(pad))
            SDL_JoystickSetVirtualButton(virtual_joystick(pad), b.sdl, down ? 1 : 0);
}

void tilt_virtual_stick(std::uint32_t pad, std::int16_t y) {
    if (SDL_Joystick* joystick = virtual_joystick(pad))
        SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_LEFTY, flipped(y));
}

void detach_virtual_gamepad(std::uint32_t pad) {
    const auto found = virtual_pads.find(pad);
    if (found == virtual_pads.end())
        return;
    SDL_JoystickClose(found->second.joystick);
    SDL_JoystickDetachVirtual(device_index_of(found->second.id));
    virtual_pads.erase(found);
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

} // namespace os::seam

namespace os::detail {

void drop_gamepads() {
    while (!virtual_pads.empty())
        seam::detach_virtual_gamepad(virtual_pads.begin()->first);
    gamepads_stop();
}

} // namespace os::detail
