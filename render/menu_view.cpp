// The game menu on screen: the option and action lines under "Game Options", and the fixed
// panel of the game's keys. Every text is centred: x = W centres it on the client area.
#include "cvar/cvars.h"
#include "game/menu.h"
#include "render/render.h"

#include <cstring>

namespace {

constexpr std::uint32_t line_glyph = 12;
constexpr float line_height = 17.0f;

cvar_handle clwidth("clwidth");
cvar_handle clheight("clheight");

// Width of a text plus one glyph: moving a centred text by this keeps half a glyph between it
// and the centre line, label to the left, value to the right.
float offset_of(const char* text) {
    return static_cast<float>((std::strlen(text) + 1) * line_glyph);
}

void draw_item(const cmenu_item& item, std::int32_t i, bool selected, float width, float top) {
    const bool option = item.is_action == 0;
    const float label_offset = option ? offset_of(item.label) : 0.0f;
    const float spacing = option ? 1.0f : 1.1f; // actions stand a little apart
    const auto line = static_cast<float>(i + 1);
    print(main_font, width - label_offset, top - line * spacing * line_height, line_glyph,
          selected ? "^c^6%s" : "^c^4%s", item.label);
    if (item.choice_count == 0 || !item.choices)
        return;
    const char* value = item.choices[item.choice].label;
    print(main_font, width + offset_of(value), top - line_height * line, line_glyph, "^c^7%s",
          value);
}

} // namespace

void cmenu::draw() {
    const auto width = static_cast<float>(clwidth.value());
    const auto height = static_cast<float>(clheight.value());

    const float top = height * 0.7692308f;
    print(main_font, width, top + line_height, 16, "^c^2Game Options");
    for (std::int32_t i = 0; i < item_count; ++i) {
        if (items[i].label)
            draw_item(items[i], i, i == selected, width, top);
    }

    const float keys = height * 0.4f;
    print(main_font, width, keys, 16, "^c^2Game Keys");
    const char* const key_lines[] = {"^c^4UP/DOWN ^7right player", "^c^4LSHIFT/LCTRL ^7left player",
                                     "^c^4SPACE ^7launch ball", "^c^4ESCAPE ^7game menu",
                                     "^c^4F1 ^7fullscreen/window"};
    for (int n = 0; n < 5; ++n) // a blank line under the header
        print(main_font, width, keys - line_height * static_cast<float>(n + 2), line_glyph, "%s",
              key_lines[n]);
}
