#pragma once

// The switches the program understands; every argument is compared whole and
// case-sensitively, anything else is ignored.
struct CommandLine {
    bool debug = false;
    int skipUpdateScreen = 0; // 1: no capture cycle; 2: also no screen service
};

CommandLine parseCommandLine(int argc, const char* const* argv);
