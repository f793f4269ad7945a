// Key codes with their customary values: virtual-key codes (the key messages) and DirectInput
// scan codes (the polled keyboard state).
#pragma once

#include <cstdint>

namespace os {

// Virtual-key codes. Letters and digits are their upper-case ASCII codes ('A', '0').
constexpr std::uint32_t VK_BACK = 0x08;
constexpr std::uint32_t VK_TAB = 0x09;
constexpr std::uint32_t VK_RETURN = 0x0D;
constexpr std::uint32_t VK_SHIFT = 0x10;
constexpr std::uint32_t VK_CONTROL = 0x11;
constexpr std::uint32_t VK_MENU = 0x12;
constexpr std::uint32_t VK_PAUSE = 0x13;
constexpr std::uint32_t VK_CAPITAL = 0x14;
constexpr std::uint32_t VK_ESCAPE = 0x1B;
constexpr std::uint32_t VK_SPACE = 0x20;
constexpr std::uint32_t VK_PRIOR = 0x21;
constexpr std::uint32_t VK_NEXT = 0x22;
constexpr std::uint32_t VK_END = 0x23;
constexpr std::uint32_t VK_HOME = 0x24;
constexpr std::uint32_t VK_LEFT = 0x25;
constexpr std::uint32_t VK_UP = 0x26;
constexpr std::uint32_t VK_RIGHT = 0x27;
constexpr std::uint32_t VK_DOWN = 0x28;
constexpr std::uint32_t VK_INSERT = 0x2D;
constexpr std::uint32_t VK_DELETE = 0x2E;
constexpr std::uint32_t VK_NUMPAD0 = 0x60; // to VK_NUMPAD9 = 0x69
constexpr std::uint32_t VK_MULTIPLY = 0x6A;
constexpr std::uint32_t VK_ADD = 0x6B;
constexpr std::uint32_t VK_SUBTRACT = 0x6D;
constexpr std::uint32_t VK_DECIMAL = 0x6E;
constexpr std::uint32_t VK_DIVIDE = 0x6F;
constexpr std::uint32_t VK_F1 = 0x70; // to VK_F12 = 0x7B
constexpr std::uint32_t VK_NUMLOCK = 0x90;
constexpr std::uint32_t VK_SCROLL = 0x91;
constexpr std::uint32_t VK_OEM_1 = 0xBA;      // ;:
constexpr std::uint32_t VK_OEM_PLUS = 0xBB;   // =+
constexpr std::uint32_t VK_OEM_COMMA = 0xBC;  // ,<
constexpr std::uint32_t VK_OEM_MINUS = 0xBD;  // -_
constexpr std::uint32_t VK_OEM_PERIOD = 0xBE; // .>
constexpr std::uint32_t VK_OEM_2 = 0xBF;      // /?
constexpr std::uint32_t VK_OEM_3 = 0xC0;      // `~
constexpr std::uint32_t VK_OEM_4 = 0xDB;      // [{
constexpr std::uint32_t VK_OEM_5 = 0xDC;      // \|
constexpr std::uint32_t VK_OEM_6 = 0xDD;      // ]}
constexpr std::uint32_t VK_OEM_7 = 0xDE;      // '"

// DirectInput scan codes (the index into the 256-byte keyboard state).
constexpr std::uint8_t DIK_ESCAPE = 0x01;
constexpr std::uint8_t DIK_1 = 0x02; // to DIK_9 = 0x0A
constexpr std::uint8_t DIK_0 = 0x0B;
constexpr std::uint8_t DIK_MINUS = 0x0C;
constexpr std::uint8_t DIK_EQUALS = 0x0D;
constexpr std::uint8_t DIK_BACK = 0x0E;
constexpr std::uint8_t DIK_TAB = 0x0F;
constexpr std::uint8_t DIK_Q = 0x10;
constexpr std::uint8_t DIK_P = 0x19;
constexpr std::uint8_t DIK_LBRACKET = 0x1A;
constexpr std::uint8_t DIK_RBRACKET = 0x1B;
constexpr std::uint8_t DIK_RETURN = 0x1C;
constexpr std::uint8_t DIK_LCONTROL = 0x1D;
constexpr std::uint8_t DIK_A = 0x1E;
constexpr std::uint8_t DIK_SEMICOLON = 0x27;
constexpr std::uint8_t DIK_APOSTROPHE = 0x28;
constexpr std::uint8_t DIK_GRAVE = 0x29;
constexpr std::uint8_t DIK_LSHIFT = 0x2A;
constexpr std::uint8_t DIK_BACKSLASH = 0x2B;
constexpr std::uint8_t DIK_Z = 0x2C;
constexpr std::uint8_t DIK_COMMA = 0x33;
constexpr std::uint8_t DIK_PERIOD = 0x34;
constexpr std::uint8_t DIK_SLASH = 0x35;
constexpr std::uint8_t DIK_RSHIFT = 0x36;
constexpr std::uint8_t DIK_MULTIPLY = 0x37;
constexpr std::uint8_t DIK_LMENU = 0x38;
constexpr std::uint8_t DIK_SPACE = 0x39;
constexpr std::uint8_t DIK_CAPITAL = 0x3A;
constexpr std::uint8_t DIK_F1 = 0x3B; // to DIK_F10
constexpr std::uint8_t DIK_F10 = 0x44;
constexpr std::uint8_t DIK_NUMLOCK = 0x45;
constexpr std::uint8_t DIK_SCROLL = 0x46;
constexpr std::uint8_t DIK_NUMPAD7 = 0x47;
constexpr std::uint8_t DIK_NUMPAD8 = 0x48;
constexpr std::uint8_t DIK_NUMPAD9 = 0x49;
constexpr std::uint8_t DIK_SUBTRACT = 0x4A;
constexpr std::uint8_t DIK_NUMPAD4 = 0x4B;
constexpr std::uint8_t DIK_NUMPAD5 = 0x4C;
constexpr std::uint8_t DIK_NUMPAD6 = 0x4D;
constexpr std::uint8_t DIK_ADD = 0x4E;
constexpr std::uint8_t DIK_NUMPAD1 = 0x4F;
constexpr std::uint8_t DIK_NUMPAD2 = 0x50;
constexpr std::uint8_t DIK_NUMPAD3 = 0x51;
constexpr std::uint8_t DIK_NUMPAD0 = 0x52;
constexpr std::uint8_t DIK_DECIMAL = 0x53;
constexpr std::uint8_t DIK_OEM_102 = 0x56;
constexpr std::uint8_t DIK_F11 = 0x57;
constexpr std::uint8_t DIK_F12 = 0x58;
constexpr std::uint8_t DIK_NUMPADENTER = 0x9C;
constexpr std::uint8_t DIK_RCONTROL = 0x9D;
constexpr std::uint8_t DIK_DIVIDE = 0xB5;
constexpr std::uint8_t DIK_SYSRQ = 0xB7;
constexpr std::uint8_t DIK_RMENU = 0xB8;
constexpr std::uint8_t DIK_PAUSE = 0xC5;
constexpr std::uint8_t DIK_HOME = 0xC7;
constexpr std::uint8_t DIK_UP = 0xC8;
constexpr std::uint8_t DIK_PRIOR = 0xC9;
constexpr std::uint8_t DIK_LEFT = 0xCB;
constexpr std::uint8_t DIK_RIGHT = 0xCD;
constexpr std::uint8_t DIK_END = 0xCF;
constexpr std::uint8_t DIK_DOWN = 0xD0;
constexpr std::uint8_t DIK_NEXT = 0xD1;
constexpr std::uint8_t DIK_INSERT = 0xD2;
constexpr std::uint8_t DIK_DELETE = 0xD3;
constexpr std::uint8_t DIK_LWIN = 0xDB;
constexpr std::uint8_t DIK_RWIN = 0xDC;
constexpr std::uint8_t DIK_APPS = 0xDD;

// The virtual-key code of the key with this scan code; 0 for none.
std::uint32_t vk_from_dik(std::uint8_t dik);

} // namespace os
