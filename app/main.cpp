// The process's entry point: answers --help and --version, checks the game's own options, and
// hands over to the program's own entry with the command line, whose result is the exit code.
#include "app/lost_display.h"
#include "app/main_loop.h"
#include "app/resources.h"
#include "base/log.h"
#include "game/computer.h"
#include "net/guest.h"
#include "net/host.h"
#include "os/clock.h"
#include "os/net.h"
#include "os/process.h"
#include "os/window.h"
#include "replay/format.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

namespace {

constexpr const char* help_text = R"(usage: brevox [--help | --version] [--computer left|right|both] [--record [FILE]]
       brevox --replay [FILE] [--check]
       brevox --host [PORT] [--computer left] [--record [FILE]]
       brevox --join [HOST[:PORT]] [--code CODE] [--broadcast ADDRESS] [--computer right]

A paddle-and-ball game for two players on one keyboard, or one against the
computer.

Options:
  --computer left|right|both
                         the computer plays that paddle (both: it plays itself);
                         the keyboard's keys of that paddle then do nothing, and
                         it serves for itself
  --record [FILE]        records the run, from the first frame to the quit, into
                         FILE (a path from the directory the command was started
                         in), or without FILE into a new dated file in
                         ${XDG_DATA_HOME:-$HOME/.local/share}/brevox/replays/;
                         the name is said at the end. A FILE that cannot be
                         written ends the start with status 1
  --replay [FILE]        plays the replay FILE in a window, or without FILE the
                         newest one in the replays' folder: the recorded field
                         scaled to fit it; P pauses, Right and Left change the
                         speed (x1/4 to x8; sounds at x1 only), Escape ends; a
                         difference from the record stays on the field (then
                         status 1)
  --check                with --replay: no window and no sound, as fast as it
                         goes; says whether every state check of the replay was
                         equal (status 0) or the first difference (status 1)
  --host [PORT]          hosts a network game on UDP port PORT (28777), and the
                         next port for guests looking on the local network; shows
                         the join line with its code (brevox --join ADDRESS --code
                         CODE). The host plays the left paddle
  --join [HOST[:PORT]]   joins the game hosted at HOST (IPv4 or a name), or
                         without HOST the one on the local network whose code is
                         CODE, and plays the right paddle; status 1 when no host
                         answers within 5 s or it refuses
  --code CODE            with --join: the host's four digits; without it the game
                         starts here and asks for them in its window
  --broadcast ADDRESS[:PORT]
                         with --join without HOST: where to look for games
                         (255.255.255.255) and their port (28777)
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

// The replay options, taken out of the arguments before the rest is joined into a command line:
// a file's name may hold spaces, and no option of it reaches the game's own parsing.
struct coptions {
    bool host = false;
    std::uint16_t host_port = net_default_port;
    bool join = false;
    cjoin_settings join_settings;
    bool code_typed = false; // --join without --code: typed in the window
    bool record = false;
    std::string record_file; // empty: a dated file in the replays' folder
    bool replay = false;
    std::string replay_file; // empty: the newest in the replays' folder
    bool check = false;
    std::string command_line; // the other arguments, one space between each
    const char* mistake = nullptr;
};

// A port of the game: the next one must be a port too (the local network's queries).
bool port_of(const std::string& text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long value = std::stoul(text);
    if (value < 1 || value > 65534)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

// HOST or HOST:PORT.
bool host_of(const std::string& text, cjoin_settings& settings) {
    const std::size_t colon = text.rfind(':');
    settings.host_name = text.substr(0, colon);
    return !settings.host_name.empty() &&
           (colon == std::string::npos || port_of(text.substr(colon + 1), settings.port));
}

// ADDRESS or ADDRESS:PORT: where to ask for games, and the game's port there (the query goes
// to the next one).
bool broadcast_of(const std::string& text, cjoin_settings& settings) {
    const std::size_t colon = text.rfind(':');
    return os::net_resolve(text.substr(0, colon).c_str(), settings.broadcast) &&
           (colon == std::string::npos || port_of(text.substr(colon + 1), settings.port));
}

bool code_of(const std::string& text, std::uint16_t& code) {
    if (text.size() != 4 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    code = static_cast<std::uint16_t>(std::stoul(text));
    return true;
}

coptions options_of(int argc, char** argv) {
    coptions options;
    // The next argument, unless it is another option.
    const auto file_after = [&](int& i, std::string& file) {
        if (i + 1 < argc && !std::string_view(argv[i + 1]).starts_with("--")) {
            file = argv[++i];
            return true;
        }
        return false;
    };
    bool code_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string word;
        if (arg == "--host") {
            options.host = true;
            if (file_after(i, word) && !port_of(word, options.host_port))
                options.mistake = "--host wants a port from 1 to 65534";
        } else if (arg == "--join") {
            options.join = true;
            if (file_after(i, word) && !host_of(word, options.join_settings))
                options.mistake = "--join wants HOST or HOST:PORT, the port from 1 to 65534";
        } else if (arg == "--code") {
            code_given = true;
            if (!file_after(i, word) || !code_of(word, options.join_settings.code))
                options.mistake = "--code wants the four digits the host shows";
        } else if (arg == "--broadcast") {
            if (!file_after(i, word) || !broadcast_of(word, options.join_settings))
                options.mistake = "--broadcast wants an IPv4 address, or ADDRESS:PORT";
        } else if (arg == "--record") {
            options.record = true;
            file_after(i, options.record_file);
        } else if (arg == "--replay") {
            options.replay = true;
            file_after(i, options.replay_file);
        } else if (arg == "--check") {
            options.check = true;
        } else {
            options.command_line.append(options.command_line.empty() ? "" : " ").append(arg);
        }
    }
    if (options.mistake)
        return options;
    if (options.record && options.replay)
        options.mistake = "--record and --replay do not go together";
    else if (options.host && options.join)
        options.mistake = "--host and --join do not go together";
    else if ((options.host || options.join) && options.replay)
        options.mistake = "--replay plays alone, not across the network";
    else if (code_given && !options.join)
        options.mistake = "--code goes with --join";
    else if (options.join && options.record)
        options.mistake = "the host records a network game, not its guest";
    else if (options.check && !options.replay)
        options.mistake = "--check goes with --replay";
    options.code_typed = options.join && !code_given;
    return options;
}

// A file named on the command line, from the directory the command was started in: the
// launcher runs the game elsewhere and says where in BREVOX_START_DIR.
std::filesystem::path from_start_dir(const std::string& file) {
    const char* start = std::getenv("BREVOX_START_DIR");
    std::error_code error;
    const std::filesystem::path base =
        start && start[0] == '/' ? std::filesystem::path(start) : std::filesystem::current_path(error);
    return base / file;
}

// ${XDG_DATA_HOME:-~/.local/share}/brevox/replays/
std::filesystem::path replays_folder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const std::filesystem::path share = data && data[0] == '/'
                                            ? std::filesystem::path(data)
                                            : std::filesystem::path(home ? home : "") / ".local/share";
    return share / "brevox/replays";
}

constexpr const char* replay_extension = ".brevox-replay";

// A new dated file in the replays' folder, the folder made.
std::string dated_replay_file() {
    const std::filesystem::path folder = replays_folder();
    std::error_code error;
    std::filesystem::create_directories(folder, error); // a failure shows when it is opened
    const std::time_t now = static_cast<std::time_t>(os::calendar_seconds());
    std::tm local{};
    char stamp[32] = "replay";
    if (localtime_r(&now, &local))
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M-%S", &local);
    std::filesystem::path file = folder / (std::string(stamp) + replay_extension);
    for (int n = 2; std::filesystem::exists(file, error) && n < 100; ++n)
        file = folder / (std::string(stamp) + "-" + std::to_string(n) + replay_extension);
    return file.string();
}

// The replay in the replays' folder written last; empty after one line on standard error when
// there is none.
std::string newest_replay_file() {
    const std::filesystem::path folder = replays_folder();
    std::error_code error;
    std::filesystem::path newest;
    std::filesystem::file_time_type newest_time{};
    for (auto it = std::filesystem::directory_iterator(folder, error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        const std::filesystem::path& path = it->path();
        std::error_code time_error;
        const auto written = std::filesystem::last_write_time(path, time_error);
        if (path.extension() == replay_extension && !time_error &&
            (newest.empty() || written > newest_time)) {
            newest = path;
            newest_time = written;
        }
    }
    if (newest.empty())
        std::fprintf(stderr, "brevox: no replay recorded yet in %s\n", folder.c_str());
    return newest.string();
}

// Reads and decodes the replay FILE names; false after one line on standard error.
bool read_replay_file(const std::string& name, creplay& replay) {
    std::ifstream in(from_start_dir(name), std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay %s: cannot be read\n", name.c_str());
        return false;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string error;
    if (in.bad() || !decode_replay(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                             bytes.size()),
                                   replay, error)) {
        std::fprintf(stderr, "replay %s: %s\n", name.c_str(),
                     in.bad() ? "cannot be read" : error.c_str());
        return false;
    }
    return true;
}

// --replay FILE --check: the file decoded, then played without a window.
int check_replay_file(const std::string& name) {
    creplay replay;
    if (!read_replay_file(name, replay))
        return 1;
    setenv("SDL_AUDIODRIVER", "dummy", 1); // no sound: the device is one that plays to nobody
    os::startup();
    const int exit_code = check_replay(os::module_instance(), replay, name);
    os::shutdown();
    return exit_code;
}

} // namespace

int main(int argc, char** argv) {
    // Answered before anything starts: no log, no window.
    if (const int exit_code = answer_info_option(argc, argv); exit_code >= 0)
        return exit_code;
    const coptions options = options_of(argc, argv);
    const std::string& command_line = options.command_line;
    if (options.mistake) {
        std::fprintf(stderr, "brevox: %s\n", options.mistake);
        return exit_usage;
    }
    const std::int32_t computer = computer_option(command_line.c_str());
    if (computer < 0) {
        std::fputs("brevox: --computer wants left, right or both\n", stderr);
        return exit_usage;
    }
    if ((options.host && (computer & computer_right)) || (options.join && (computer & computer_left))) {
        std::fputs(options.host ? "brevox: the host plays the left paddle: --computer left\n"
                                : "brevox: the guest plays the right paddle: --computer right\n",
                   stderr);
        return exit_usage;
    }
    std::string replay_file = options.replay_file;
    if (options.replay && replay_file.empty() && (replay_file = newest_replay_file()).empty())
        return 1;
    if (options.check)
        return check_replay_file(replay_file);
    creplay replay;
    if (options.replay && !read_replay_file(replay_file, replay))
        return 1;
    std::string network_error;
    if (options.host && !start_hosting(options.host_port, network_error)) {
        std::fprintf(stderr, "brevox: cannot host a network game: %s\n", network_error.c_str());
        return 1;
    }
    if (options.code_typed)
        join_by_code_typed_in_window(options.join_settings);
    else if (options.join && !join_game(options.join_settings, network_error)) {
        std::fprintf(stderr, "brevox: cannot join: %s\n", network_error.c_str());
        return 1;
    }
    if (options.record) {
        const std::string file = options.record_file.empty()
                                     ? dated_replay_file()
                                     : from_start_dir(options.record_file).string();
        std::string error;
        if (!start_recording(file, command_line, error)) {
            close_network();
            std::fprintf(stderr, "brevox: cannot write the replay %s: %s\n", file.c_str(),
                         error.c_str());
            return 1;
        }
    }
    os::startup();
    end_on_lost_display();
    // The id comes from the build (CMakeLists.txt), where the desktop entry's name comes from.
    os::set_application_id(BREVOX_APP_ID);
    register_program_resources();
    const int exit_code =
        options.replay ? play_replay(os::module_instance(), replay, replay_file)
                       : WinMain(os::module_instance(), 0, command_line.c_str(), 1);
    os::shutdown();
    return exit_code;
}
