#include "platform/RegularFile.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <system_error>

#ifdef _WIN32
#include <cwctype>
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

// Reads with `readSome(buffer, most)` (bytes read, 0 at the end, -1 on an
// error) until the end or until limit + 1 bytes are in: whether the file is
// larger than the limit needs one byte more, and never more than one. The
// buffer is not cleared first, so only what is read takes memory: a file
// that says it is empty (as files in /proc do) gets room for the whole
// limit, and pays for what it gives.
template <typename ReadSome>
FileOutcome readBounded(
    std::uint64_t claimedSize, std::size_t limit, std::vector<std::uint8_t>& bytes, ReadSome readSome)
{
    const std::size_t most = limit < std::numeric_limits<std::size_t>::max() ? limit + 1 : limit;
    std::size_t room
        = claimedSize > 0 ? static_cast<std::size_t>(std::min<std::uint64_t>(claimedSize + 1, most)) : most;
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[room]);
    std::size_t have = 0;
    for (;;) {
        if (have == room) {
            if (room >= most)
                break;
            // Grown since it was looked at: room for the rest of the limit.
            std::unique_ptr<std::uint8_t[]> larger(new std::uint8_t[most]);
            std::copy(buffer.get(), buffer.get() + have, larger.get());
            buffer = std::move(larger);
            room = most;
        }
        // Reads stop at the limit before the one byte beyond is asked for:
        // some files take only reads of whole records (/proc/self/pagemap
        // refuses a count that is no multiple of 8), and one that gave the
        // whole limit and then refuses to say where it ends is too large.
        const std::size_t end = have < limit ? std::min(room, limit) : room;
        const long long got = readSome(buffer.get() + have, end - have);
        if (got < 0)
            return have == limit ? FileOutcome::TooLarge : FileOutcome::Unreadable;
        if (got == 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    if (have > limit)
        return FileOutcome::TooLarge;
    bytes.assign(buffer.get(), buffer.get() + have);
    return FileOutcome::Read;
}

#ifndef _WIN32

FileIdentity identityOf(const struct stat& status)
{
    FileIdentity identity;
    identity.device = static_cast<std::uint64_t>(status.st_dev);
    identity.inode = static_cast<std::uint64_t>(status.st_ino);
    identity.size = static_cast<std::int64_t>(status.st_size);
    identity.modified = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    identity.changed = static_cast<std::int64_t>(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
    return identity;
}

FileContents failure(int error)
{
    FileContents result;
    result.outcome = error == ENOENT || error == ENOTDIR ? FileOutcome::Missing : FileOutcome::Unreadable;
    result.error = std::generic_category().message(error);
    return result;
}

struct Descriptor {
    int fd;
    ~Descriptor() { ::close(fd); }
};

#else

// Names Windows gives to devices in every folder ("C:\profiles\con.icc" is
// the console), and the device namespace itself: opening them can block or
// reach hardware, so they are refused by name before anything is opened.
bool isDeviceName(const std::wstring& path)
{
    auto startsWith = [&](const wchar_t* prefix) {
        const std::wstring p(prefix);
        if (path.size() < p.size())
            return false;
        for (std::size_t i = 0; i < p.size(); ++i) {
            const wchar_t c = path[i] == L'/' ? L'\\' : path[i];
            if (std::towupper(c) != std::towupper(p[i]))
                return false;
        }
        return true;
    };
    if (startsWith(L"\\\\.\\"))
        return true;
    // "\\?\C:\..." and "\\?\UNC\..." are long file names; anything else after "\\?\" is a device.
    if (startsWith(L"\\\\?\\")) {
        const bool drive
            = path.size() >= 7 && std::iswalpha(path[4]) && path[5] == L':' && (path[6] == L'\\' || path[6] == L'/');
        if (!drive && !startsWith(L"\\\\?\\UNC\\"))
            return true;
    }
    const std::size_t slash = path.find_last_of(L"\\/:");
    std::wstring stem = path.substr(slash == std::wstring::npos ? 0 : slash + 1);
    stem = stem.substr(0, stem.find(L'.'));
    while (!stem.empty() && (stem.back() == L' ' || stem.back() == L'.'))
        stem.pop_back();
    for (wchar_t& c : stem)
        c = static_cast<wchar_t>(std::towupper(c));
    static const wchar_t* const kDevices[] = { L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$" };
    for (const wchar_t* device : kDevices)
        if (stem == device)
            return true;
    if (stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0)) {
        const wchar_t n = stem[3];
        if ((n >= L'0' && n <= L'9') || n == L'\u00B9' || n == L'\u00B2' || n == L'\u00B3')
            return true;
    }
    return false;
}

std::string windowsError(DWORD code)
{
    char text[512] = {};
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "Windows error " + std::to_string(code) : message;
}

FileContents failure(DWORD code)
{
    FileContents result;
    result.outcome
        = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? FileOutcome::Missing : FileOutcome::Unreadable;
    result.error = windowsError(code);
    return result;
}

std::int64_t wide(DWORD high, DWORD low)
{
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

struct Handle {
    HANDLE handle;
    ~Handle() { CloseHandle(handle); }
};

#endif

} // namespace

FileContents readRegularFile(const std::filesystem::path& path, std::size_t limit, const FileIdentity& unlessChanged)
{
    FileContents result;
#ifndef _WIN32
    // A first look at the path spares opening what is plainly no file; what
    // is read is decided by what was opened.
    struct stat atPath { };
    if (::stat(path.c_str(), &atPath) != 0)
        return failure(errno);
    result.identity = identityOf(atPath);
    if (!S_ISREG(atPath.st_mode)) {
        result.outcome = FileOutcome::NotRegular;
        return result;
    }
    if (unlessChanged.known() && result.identity == unlessChanged) {
        result.outcome = FileOutcome::Unchanged;
        return result;
    }
    if (static_cast<std::uint64_t>(atPath.st_size) > limit) {
        result.outcome = FileOutcome::TooLarge;
        return result;
    }

    int fd = -1;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return failure(errno);
    const Descriptor opened { fd };
    struct stat status { };
    if (::fstat(fd, &status) != 0)
        return failure(errno);
    result.identity = identityOf(status);
    if (!S_ISREG(status.st_mode)) {
        result.outcome = FileOutcome::NotRegular;
        return result;
    }
    if (static_cast<std::uint64_t>(status.st_size) > limit) {
        result.outcome = FileOutcome::TooLarge;
        return result;
    }
    int readError = 0;
    result.outcome = readBounded(static_cast<std::uint64_t>(status.st_size), limit, result.bytes,
        [&](std::uint8_t* into, std::size_t most) -> long long {
            for (;;) {
                const ssize_t got = ::read(fd, into, most);
                if (got >= 0)
                    return got;
                if (errno != EINTR) {
                    readError = errno;
                    return -1;
                }
            }
        });
    if (result.outcome == FileOutcome::Unreadable)
        result.error = std::generic_category().message(readError);
    return result;
#else
    const std::wstring& name = path.native();
    if (isDeviceName(name)) {
        result.outcome = FileOutcome::NotRegular;
        return result;
    }
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return failure(GetLastError());
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
        result.outcome = FileOutcome::NotRegular;
        return result;
    }
    const HANDLE handle
        = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return failure(GetLastError());
    const Handle opened { handle };
    BY_HANDLE_FILE_INFORMATION info {};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info)
        || (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
        result.outcome = FileOutcome::NotRegular;
        return result;
    }
    result.identity.device = info.dwVolumeSerialNumber;
    result.identity.inode = static_cast<std::uint64_t>(wide(info.nFileIndexHigh, info.nFileIndexLow));
    result.identity.size = wide(info.nFileSizeHigh, info.nFileSizeLow);
    result.identity.modified = wide(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    FILE_BASIC_INFO basic {};
    if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
        result.identity.changed = basic.ChangeTime.QuadPart;
    if (unlessChanged.known() && result.identity == unlessChanged) {
        result.outcome = FileOutcome::Unchanged;
        return result;
    }
    if (static_cast<std::uint64_t>(result.identity.size) > limit) {
        result.outcome = FileOutcome::TooLarge;
        return result;
    }
    DWORD readError = 0;
    result.outcome = readBounded(static_cast<std::uint64_t>(result.identity.size), limit, result.bytes,
        [&](std::uint8_t* into, std::size_t most) -> long long {
            DWORD got = 0;
            const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(most, 1u << 30));
            if (!ReadFile(handle, into, ask, &got, nullptr)) {
                readError = GetLastError();
                return -1;
            }
            return got;
        });
    if (result.outcome == FileOutcome::Unreadable)
        result.error = windowsError(readError);
    return result;
#endif
}

} // namespace platform
