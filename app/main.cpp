// The process's entry point: answers --help and --version, checks the game's own options, and
// hands over to the program's own entry with the command line, whose result is the exit code.
#include "app/lost_display.h"
#include "app/main_loop.h"
#include "app/resources.h"
#include "base/log.h"
#include "os/process.h"
#include "os/window.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr const char* help_text = R"(usage: brevox [--help | --version] [--computer left|right|both]

A paddle-and-ball game for two players on one keyboard, or one against the
computer.

Options:
  --computer left|right|both
                         the computer plays that paddle (both: it plays itself);
                         the keyboard's keys of that paddle then do nothing, and
                         it serves for itself
Any other argument is ignored. A --computer without left, right or both ends
the game at once with status 2.

Keys:
  Left Shift, Left Ctrl  left paddle up, down
  Up, Down               right paddle up, down
  Space                  serve (launch the ball)
  P                      pause and resume
  Escape                 open the game menu
  F1                     switch between fullscreen and window
  In the menu: Up and Down choose an item, Left and Right change an option,
  Enter continues, applies or quits.

Game controllers: the first plays the left paddle, the second the right one;
with --computer, the first plays the people's paddle.
  D-pad or left stick    paddle up, down (in the menu: Up, Down, Left, Right)
  A                      serve (in the menu: Enter)
  Start, Back            open the game menu, pause and resume

Files:
  The game reads its pictures and sounds from data/ in the working directory
  and writes its log there, brevox.log, emptied at every start: look there first
  when something goes wrong. The installed launcher, brevox, runs the game in
  ${XDG_STATE_HOME:-$HOME/.local/state}/brevox, where data/ leads to the
  installed data.
)";

// Answers --help or --version (the first of them counts) on standard output. Returns the exit
// code, or -1 when neither was given.
int answer_info_option(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        int written;
        if (arg == "--help")
            written = std::fputs(help_text, stdout);
        else if (arg == "--version")
            written = std::printf("brevox %s\n", brevox_version);
        else
            continue;
        return written >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
    }
    return -1;
}

// The arguments after the program's name, one space between each, as WinMain takes them.
std::string command_line_of(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i)
        line.append(i > 1 ? " " : "").append(argv[i]);
    return line;
}

} // namespace

int main(int argc, char** argv) {
    // Answered before anything starts: no log, no window.
    if (const int exit_code = answer_info_option(argc, argv); exit_code >= 0)
        return exit_code;
    const std::string command_line = command_line_of(argc, argv);
    if (computer_option(command_line.c_str()) < 0) {
        std::fputs("brevox: --computer wants left, right or both\n", stderr);
        return exit_usage;
    }
    os::startup();
    end_on_lost_display();
    // The id comes from the build (CMakeLists.txt), where the desktop entry's name comes from.
    os::set_application_id(BREVOX_APP_ID);
    register_program_resources();
    const int exit_code = WinMain(os::module_instance(), 0, command_line.c_str(), 1);
    os::shutdown();
    return exit_code;
}
