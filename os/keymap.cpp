// Translation of SDL's key identities into the program's key codes.
#include "os/keymap.h"

#include "os/keys.h"

#include <array>

namespace {

struct scancode_pair {
    SDL_Scancode scancode;
    std::uint8_t dik;
};

// Every key of a PC keyboard that has a DirectInput scan code.
constexpr scancode_pair scancode_table[] = {
    {SDL_SCANCODE_ESCAPE, 0x01},
    {SDL_SCANCODE_1, 0x02},
    {SDL_SCANCODE_2, 0x03},
    {SDL_SCANCODE_3, 0x04},
    {SDL_SCANCODE_4, 0x05},
    {SDL_SCANCODE_5, 0x06},
    {SDL_SCANCODE_6, 0x07},
    {SDL_SCANCODE_7, 0x08},
    {SDL_SCANCODE_8, 0x09},
    {SDL_SCANCODE_9, 0x0A},
    {SDL_SCANCODE_0, 0x0B},
    {SDL_SCANCODE_MINUS, 0x0C},
    {SDL_SCANCODE_EQUALS, 0x0D},
    {SDL_SCANCODE_BACKSPACE, 0x0E},
    {SDL_SCANCODE_TAB, 0x0F},
    {SDL_SCANCODE_Q, 0x10},
    {SDL_SCANCODE_W, 0x11},
    {SDL_SCANCODE_E, 0x12},
    {SDL_SCANCODE_R, 0x13},
    {SDL_SCANCODE_T, 0x14},
    {SDL_SCANCODE_Y, 0x15},
    {SDL_SCANCODE_U, 0x16},
    {SDL_SCANCODE_I, 0x17},
    {SDL_SCANCODE_O, 0x18},
    {SDL_SCANCODE_P, 0x19},
    {SDL_SCANCODE_LEFTBRACKET, 0x1A},
    {SDL_SCANCODE_RIGHTBRACKET, 0x1B},
    {SDL_SCANCODE_RETURN, 0x1C},
    {SDL_SCANCODE_LCTRL, 0x1D},
    {SDL_SCANCODE_A, 0x1E},
    {SDL_SCANCODE_S, 0x1F},
    {SDL_SCANCODE_D, 0x20},
    {SDL_SCANCODE_F, 0x21},
    {SDL_SCANCODE_G, 0x22},
    {SDL_SCANCODE_H, 0x23},
    {SDL_SCANCODE_J, 0x24},
    {SDL_SCANCODE_K, 0x25},
    {SDL_SCANCODE_L, 0x26},
    {SDL_SCANCODE_SEMICOLON, 0x27},
    {SDL_SCANCODE_APOSTROPHE, 0x28},
    {SDL_SCANCODE_GRAVE, 0x29},
    {SDL_SCANCODE_LSHIFT, 0x2A},
    {SDL_SCANCODE_BACKSLASH, 0x2B},
    {SDL_SCANCODE_Z, 0x2C},
    {SDL_SCANCODE_X, 0x2D},
    {SDL_SCANCODE_C, 0x2E},
    {SDL_SCANCODE_V, 0x2F},
    {SDL_SCANCODE_B, 0x30},
    {SDL_SCANCODE_N, 0x31},
    {SDL_SCANCODE_M, 0x32},
    {SDL_SCANCODE_COMMA, 0x33},
    {SDL_SCANCODE_PERIOD, 0x34},
    {SDL_SCANCODE_SLASH, 0x35},
    {SDL_SCANCODE_RSHIFT, 0x36},
    {SDL_SCANCODE_KP_MULTIPLY, 0x37},
    {SDL_SCANCODE_LALT, 0x38},
    {SDL_SCANCODE_SPACE, 0x39},
    {SDL_SCANCODE_CAPSLOCK, 0x3A},
    {SDL_SCANCODE_F1, 0x3B},
    {SDL_SCANCODE_F2, 0x3C},
    {SDL_SCANCODE_F3, 0x3D},
    {SDL_SCANCODE_F4, 0x3E},
    {SDL_SCANCODE_F5, 0x3F},
    {SDL_SCANCODE_F6, 0x40},
    {SDL_SCANCODE_F7, 0x41},
    {SDL_SCANCODE_F8, 0x42},
    {SDL_SCANCODE_F9, 0x43},
    {SDL_SCANCODE_F10, 0x44},
    {SDL_SCANCODE_NUMLOCKCLEAR, 0x45},
    {SDL_SCANCODE_SCROLLLOCK, 0x46},
    {SDL_SCANCODE_KP_7, 0x47},
    {SDL_SCANCODE_KP_8, 0x48},
    {SDL_SCANCODE_KP_9, 0x49},
    {SDL_SCANCODE_KP_MINUS, 0x4A},
    {SDL_SCANCODE_KP_4, 0x4B},
    {SDL_SCANCODE_KP_5, 0x4C},
    {SDL_SCANCODE_KP_6, 0x4D},
    {SDL_SCANCODE_KP_PLUS, 0x4E},
    {SDL_SCANCODE_KP_1, 0x4F},
    {SDL_SCANCODE_KP_2, 0x50},
    {SDL_SCANCODE_KP_3, 0x51},
    {SDL_SCANCODE_KP_0, 0x52},
    {SDL_SCANCODE_KP_PERIOD, 0x53},
    {SDL_SCANCODE_NONUSBACKSLASH, 0x56},
    {SDL_SCANCODE_F11, 0x57},
    {SDL_SCANCODE_F12, 0x58},
    {SDL_SCANCODE_F13, 0x64},
    {SDL_SCANCODE_F14, 0x65},
    {SDL_SCANCODE_F15, 0x66},
    {SDL_SCANCODE_INTERNATIONAL2, 0x70},
    {SDL_SCANCODE_INTERNATIONAL1, 0x73},
    {SDL_SCANCODE_INTERNATIONAL4, 0x79},
    {SDL_SCANCODE_INTERNATIONAL5, 0x7B},
    {SDL_SCANCODE_INTERNATIONAL3, 0x7D},
    {SDL_SCANCODE_KP_EQUALS, 0x8D},
    {SDL_SCANCODE_AUDIOPREV, 0x90},
    {SDL_SCANCODE_AUDIONEXT, 0x99},
    {SDL_SCANCODE_KP_ENTER, 0x9C},
    {SDL_SCANCODE_RCTRL, 0x9D},
    {SDL_SCANCODE_MUTE, 0xA0},
    {SDL_SCANCODE_CALCULATOR, 0xA1},
    {SDL_SCANCODE_AUDIOPLAY, 0xA2},
    {SDL_SCANCODE_AUDIOSTOP, 0xA4},
    {SDL_SCANCODE_VOLUMEDOWN, 0xAE},
    {SDL_SCANCODE_VOLUMEUP, 0xB0},
    {SDL_SCANCODE_AC_HOME, 0xB2},
    {SDL_SCANCODE_KP_COMMA, 0xB3},
    {SDL_SCANCODE_KP_DIVIDE, 0xB5},
    {SDL_SCANCODE_PRINTSCREEN, 0xB7},
    {SDL_SCANCODE_RALT, 0xB8},
    {SDL_SCANCODE_PAUSE, 0xC5},
    {SDL_SCANCODE_HOME, 0xC7},
    {SDL_SCANCODE_UP, 0xC8},
    {SDL_SCANCODE_PAGEUP, 0xC9},
    {SDL_SCANCODE_LEFT, 0xCB},
    {SDL_SCANCODE_RIGHT, 0xCD},
    {SDL_SCANCODE_END, 0xCF},
    {SDL_SCANCODE_DOWN, 0xD0},
    {SDL_SCANCODE_PAGEDOWN, 0xD1},
    {SDL_SCANCODE_INSERT, 0xD2},
    {SDL_SCANCODE_DELETE, 0xD3},
    {SDL_SCANCODE_LGUI, 0xDB},
    {SDL_SCANCODE_RGUI, 0xDC},
    {SDL_SCANCODE_APPLICATION, 0xDD},
    {SDL_SCANCODE_POWER, 0xDE},
    {SDL_SCANCODE_SLEEP, 0xDF},
    {SDL_SCANCODE_AC_SEARCH, 0xE5},
    {SDL_SCANCODE_AC_BOOKMARKS, 0xE6},
    {SDL_SCANCODE_AC_REFRESH, 0xE7},
    {SDL_SCANCODE_AC_STOP, 0xE8},
    {SDL_SCANCODE_AC_FORWARD, 0xE9},
    {SDL_SCANCODE_AC_BACK, 0xEA},
    {SDL_SCANCODE_COMPUTER, 0xEB},
    {SDL_SCANCODE_MAIL, 0xEC},
    {SDL_SCANCODE_MEDIASELECT, 0xED},
};

constexpr std::array<std::uint8_t, SDL_NUM_SCANCODES> make_dik_table() {
    std::array<std::uint8_t, SDL_NUM_SCANCODES> table{};
    for (const auto& pair : scancode_table)
        table[pair.scancode] = pair.dik;
    return table;
}
constexpr auto dik_of_scancode = make_dik_table();

constexpr std::array<SDL_Scancode, 256> make_scancode_table() {
    std::array<SDL_Scancode, 256> table{};
    for (const auto& pair : scancode_table)
        table[pair.dik] = pair.scancode;
    return table;
}
constexpr auto scancode_of_dik = make_scancode_table();

// Virtual keys by scan code, for the keys whose virtual key does not depend on the layout.
std::uint32_t fixed_vk(std::uint8_t dik) {
    using namespace os;
    switch (dik) {
    case DIK_ESCAPE:
        return VK_ESCAPE;
    case DIK_MINUS:
        return VK_OEM_MINUS;
    case DIK_EQUALS:
        return VK_OEM_PLUS;
    case DIK_BACK:
        return VK_BACK;
    case DIK_TAB:
        return VK_TAB;
    case DIK_LBRACKET:
        return VK_OEM_4;
    case DIK_RBRACKET:
        return VK_OEM_6;
    case DIK_RETURN:
    case DIK_NUMPADENTER:
        return VK_RETURN;
    case DIK_LCONTROL:
    case DIK_RCONTROL:
        return VK_CONTROL;
    case DIK_SEMICOLON:
        return VK_OEM_1;
    case DIK_APOSTROPHE:
        return VK_OEM_7;
    case DIK_GRAVE:
        return VK_OEM_3;
    case DIK_LSHIFT:
    case DIK_RSHIFT:
        return VK_SHIFT;
    case DIK_BACKSLASH:
        return VK_OEM_5;
    case DIK_COMMA:
        return VK_OEM_COMMA;
    case DIK_PERIOD:
        return VK_OEM_PERIOD;
    case DIK_SLASH:
        return VK_OEM_2;
    case DIK_MULTIPLY:
        return VK_MULTIPLY;
    case DIK_LMENU:
    case DIK_RMENU:
        return VK_MENU;
    case DIK_SPACE:
        return VK_SPACE;
    case DIK_CAPITAL:
        return VK_CAPITAL;
    case DIK_NUMLOCK:
        return VK_NUMLOCK;
    case DIK_SCROLL:
        return VK_SCROLL;
    case DIK_NUMPAD7:
        return VK_NUMPAD0 + 7;
    case DIK_NUMPAD8:
        return VK_NUMPAD0 + 8;
    case DIK_NUMPAD9:
        return VK_NUMPAD0 + 9;
    case DIK_SUBTRACT:
        return VK_SUBTRACT;
    case DIK_NUMPAD4:
        return VK_NUMPAD0 + 4;
    case DIK_NUMPAD5:
        return VK_NUMPAD0 + 5;
    case DIK_NUMPAD6:
        return VK_NUMPAD0 + 6;
    case DIK_ADD:
        return VK_ADD;
    case DIK_NUMPAD1:
        return VK_NUMPAD0 + 1;
    case DIK_NUMPAD2:
        return VK_NUMPAD0 + 2;
    case DIK_NUMPAD3:
        return VK_NUMPAD0 + 3;
    case DIK_NUMPAD0:
        return VK_NUMPAD0;
    case DIK_DECIMAL:
        return VK_DECIMAL;
    case DIK_F11:
        return VK_F1 + 10;
    case DIK_F12:
        return VK_F1 + 11;
    case DIK_DIVIDE:
        return VK_DIVIDE;
    case DIK_PAUSE:
        return VK_PAUSE;
    case DIK_HOME:
        return VK_HOME;
    case DIK_UP:
        return VK_UP;
    case DIK_PRIOR:
        return VK_PRIOR;
    case DIK_LEFT:
        return VK_LEFT;
    case DIK_RIGHT:
        return VK_RIGHT;
    case DIK_END:
        return VK_END;
    case DIK_DOWN:
        return VK_DOWN;
    case DIK_NEXT:
        return VK_NEXT;
    case DIK_INSERT:
        return VK_INSERT;
    case DIK_DELETE:
        return VK_DELETE;
    default:
        break;
    }
    if (dik >= DIK_F1 && dik <= DIK_F1 + 9)
        return VK_F1 + (dik - DIK_F1);
    return 0;
}

// Letters and digits by their place on a US keyboard.
constexpr char us_letters[] = "QWERTYUIOP\0\0\0\0ASDFGHJKL\0\0\0\0\0ZXCVBNM";

} // namespace

namespace os {

std::uint32_t vk_from_dik(std::uint8_t dik) {
    if (dik >= DIK_1 && dik <= DIK_0)
        return dik == DIK_0 ? '0' : '1' + (dik - DIK_1);
    if (dik >= DIK_Q && dik < DIK_Q + sizeof us_letters - 1 && us_letters[dik - DIK_Q])
        return static_cast<std::uint32_t>(us_letters[dik - DIK_Q]);
    return fixed_vk(dik);
}

} // namespace os

namespace os::detail {

std::uint8_t dik_from_scancode(SDL_Scancode scancode) {
    return scancode >= 0 && scancode < SDL_NUM_SCANCODES ? dik_of_scancode[scancode] : 0;
}

SDL_Scancode scancode_from_dik(std::uint8_t dik) { return scancode_of_dik[dik]; }

std::uint32_t vk_from_key(SDL_Scancode scancode, SDL_Keycode keycode) {
    // Letters and digits follow the layout, as the system's virtual keys do.
    if (keycode >= SDLK_a && keycode <= SDLK_z)
        return static_cast<std::uint32_t>('A' + (keycode - SDLK_a));
    if (keycode >= SDLK_0 && keycode <= SDLK_9)
        return static_cast<std::uint32_t>(keycode);
    return vk_from_dik(dik_from_scancode(scancode));
}

} // namespace os::detail
