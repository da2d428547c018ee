#include "platform/RunAgain.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>
#else
#include <cstdlib>
#include <unistd.h>
#endif

namespace platform {

#ifdef _WIN32

namespace {

std::wstring wide(const char* text)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring result(length > 0 ? static_cast<std::size_t>(length) : 1, L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, text, -1, result.data(), length);
    result.resize(result.size() - 1);
    return result;
}

} // namespace

// Windows has no exec: the second run is a child that shares the console
// and the standard handles, and this process waits for it. The command line
// is passed on as Windows gave it, so its quoting is kept.
void runAgainWithVariable(const char* name, const char* value, char**)
{
    if (!SetEnvironmentVariableW(wide(name).c_str(), wide(value).c_str()))
        return;
    std::vector<wchar_t> program(32768);
    const DWORD length = GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
    if (length == 0 || length >= program.size())
        return;
    std::wstring commandLine = GetCommandLineW();
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE handle : { startup.hStdInput, startup.hStdOutput, startup.hStdError })
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
            SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    PROCESS_INFORMATION started {};
    if (!CreateProcessW(program.data(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
            &started))
        return;
    CloseHandle(started.hThread);
    WaitForSingleObject(started.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(started.hProcess, &status);
    CloseHandle(started.hProcess);
    std::exit(static_cast<int>(status));
}

#else

void runAgainWithVariable(const char* name, const char* value, char** argv)
{
    if (setenv(name, value, 0) == 0)
        execv("/proc/self/exe", argv);
}

#endif

} // namespace platform
