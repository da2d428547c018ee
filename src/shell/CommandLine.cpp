#include "shell/CommandLine.h"

#include <cstring>

CommandLine parseCommandLine(int argc, const char* const* argv)
{
    CommandLine result;
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        if (!arg)
            continue;
        if (std::strcmp(arg, "-debug") == 0)
            result.debug = true;
        else if (std::strcmp(arg, "-skipus=1") == 0)
            result.skipUpdateScreen = 1;
        else if (std::strcmp(arg, "-skipus=2") == 0)
            result.skipUpdateScreen = 2;
        else if (std::strcmp(arg, "-backend=x11") == 0)
            result.backend = CommandLine::Backend::X11;
        else if (std::strcmp(arg, "-backend=wayland") == 0)
            result.backend = CommandLine::Backend::Wayland;
    }
    return result;
}
