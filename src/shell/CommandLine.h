#pragma once

// The switches the program understands; every argument is compared whole and
// case-sensitively, anything else is ignored.
struct CommandLine {
    enum class Backend { Session, X11, Wayland };

    bool debug = false;
    int skipUpdateScreen = 0; // 1: no capture cycle; 2: also no screen service
    Backend backend = Backend::Session; // "-backend=x11" or "-backend=wayland"; the last one wins
};

CommandLine parseCommandLine(int argc, const char* const* argv);
