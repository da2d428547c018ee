#pragma once

#include "colour/ProfileTransform.h"
#include "platform/Desktop.h"
#include "platform/RegularFile.h"

#include <QString>

#include <chrono>

namespace scopes {

// Which monitor profile the readings undo, and the transform built from it.
// The profile is a file the user chose, else the one the desktop publishes
// for the captured monitor. Both are read again at most once a second (and
// at once when the monitor or the settings change): a profile changes when
// the user calibrates or the colour daemon swaps it, not from frame to
// frame, and a second's delay costs nothing while it spares the desktop a
// read every 40 ms. A file is read again only when it is another file or
// has changed since (its identity, not its name), one refused for its size
// not at all until then; the transform is rebuilt only when the bytes differ.
class ReadingsProfile {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kRecheck { 1000 };

    explicit ReadingsProfile(platform::Desktop& desktop);

    // undo: the readings are the picture's sRGB values; file: the profile to
    // undo, or empty for the desktop's own.
    void configure(bool undo, const QString& file);
    bool undo() const { return undoOn; }
    const QString& file() const { return profileFile; }

    // Brings the profile of `monitor` up to date (only while undoing, unless
    // `evenWhenOff`). True when the readings changed since the last call:
    // another profile, none any more, or other settings.
    bool refresh(int monitor, Clock::time_point now, bool evenWhenOff = false);

    // Whether the readings differ from the screen values.
    bool active() const { return undoOn && !transform.empty(); }
    const ProfileTransform& conversion() const { return transform; }

    // One sentence for the settings dialog: the profile in use for the
    // monitor last refreshed, or that there is none and why.
    QString status() const;

private:
    void readProfile(int monitor);
    QString fileProblem() const;

    platform::Desktop& desktop;
    bool undoOn = false;
    QString profileFile;
    ProfileTransform transform;
    int monitorIndex = -1;
    bool checkedOnce = false;
    Clock::time_point lastCheck;
    bool pendingChange = false;
    // The file as last opened or refused, to read it again only when it
    // changed, and what came of it.
    platform::FileIdentity fileIdentity;
    platform::FileOutcome fileOutcome = platform::FileOutcome::Read;
    QString fileError;
    bool fromFile = false;
};

} // namespace scopes
