#include "game/menu.h"

// No option exists yet, so no key does anything.
int cmenu::handle_key(std::uint32_t) { return 0; }
