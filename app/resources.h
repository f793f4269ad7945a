// The program's resources: what the executable carries besides its code.
#pragma once

// Hands the window icon (icon group 1) to the system, as the executable's resources would.
void register_program_resources();
