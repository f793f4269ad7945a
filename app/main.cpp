// The process's entry point: hands over to the program's own entry, whose result is the exit code.
#include "app/main_loop.h"
#include "app/resources.h"
#include "os/process.h"

int main() {
    os::startup();
    register_program_resources();
    const int exit_code = WinMain(os::module_instance(), 0, "", 1);
    os::shutdown();
    return exit_code;
}
