#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace platform {

// What tells one state of a file from another without reading it: the file
// itself (device and inode; on Windows the volume and the file index), its
// size, and its last modification and status change to the nanosecond (on
// Windows to 100 ns). A file replaced by another of the same size and
// modification time differs in its inode; one rewritten in place and given
// its old modification time back differs in its status change, which no
// program can set.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1; // -1: nothing was there
    std::int64_t modified = 0;
    std::int64_t changed = 0;

    bool known() const { return size >= 0; }
    bool operator==(const FileIdentity& other) const
    {
        return device == other.device && inode == other.inode && size == other.size && modified == other.modified
            && changed == other.changed;
    }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

enum class FileOutcome {
    Read, // bytes holds the whole file
    Unchanged, // the file still has the identity the caller knew; nothing was read
    Missing, // nothing at the path (or a folder on the way is missing)
    NotRegular, // a folder, a FIFO, a device, a socket
    TooLarge, // more than the limit
    Unreadable, // no permission, an input/output error, ...
};

struct FileContents {
    FileOutcome outcome = FileOutcome::Unreadable;
    // Of what was opened (Read, TooLarge), or found at the path.
    FileIdentity identity;
    std::vector<std::uint8_t> bytes; // Read only
    std::string error; // Unreadable: the system's words for it
};

// Reads the regular file at `path` whole when it holds at most `limit`
// bytes. Nothing it does can block or take more memory than the limit: what
// is plainly not a regular file is not even opened (opening a device can do
// things); the file is opened without waiting (a FIFO put at the path a
// moment before would wait for a writer) and not inherited by child
// processes, and what was opened is checked, not the path; at most limit + 1
// bytes are read, however large the file says it is (files in /proc say 0
// and give more, some without end). When the file at the path has the
// identity `unlessChanged` (known), nothing is opened and the outcome is
// Unchanged: a caller that looks again every second reads a file once per
// change, and one it refused not at all until it changes.
//
// On Windows there are no FIFOs; device names (CON, NUL, COM1, "\\.\...")
// are refused before anything is opened, and anything opened that is not a
// file on a disk is refused before it is read.
FileContents readRegularFile(
    const std::filesystem::path& path, std::size_t limit, const FileIdentity& unlessChanged = FileIdentity());

} // namespace platform
