#include "app/resources.h"

#include "os/window.h"
#include "platform/window.h"

#include <cstdint>

namespace {

constexpr int icon_size = 48;
constexpr std::uint8_t icon_rgba[icon_size * icon_size * 4] = {
#include "app/icon_pixels.inc"
};

} // namespace

void register_program_resources() {
    os::add_icon_resource(main_icon_id, icon_size, icon_size, icon_rgba);
}
