// The game's end when its display goes away under it: the OS layer tells, the program has its
// last word.
#pragma once

// From now on a lost display ends the game with a line in the log, the log's end, the sound
// stopped, a line on standard error and exit status 1.
void end_on_lost_display();
