#pragma once

// Linux back-ends only: reads /proc.

#include <climits>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace platform {

// The program a process runs, from /proc; empty when unknown (a process of
// another user, one that ended). An executable replaced since the process
// started (an upgrade) still names the program.
inline std::string executableOfProcess(long pid)
{
    if (pid <= 0)
        return {};
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%ld/exe", pid);
    char path[PATH_MAX];
    const ssize_t length = readlink(link, path, sizeof path);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path)
        return {};
    std::string result(path, static_cast<std::size_t>(length));
    const std::string deleted = " (deleted)";
    if (result.size() > deleted.size() && result.compare(result.size() - deleted.size(), deleted.size(), deleted) == 0)
        result.resize(result.size() - deleted.size());
    return result;
}

} // namespace platform
