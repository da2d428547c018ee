#pragma once

namespace platform {

// Runs this program again with `name=value` added to its environment and
// the same command line, and ends with the second run's exit status. For
// settings a library reads once, while the program is loaded. Returns only
// when the program cannot be started again (the caller goes on without the
// variable).
void runAgainWithVariable(const char* name, const char* value, char** argv);

} // namespace platform
