#include "shell/MainWindow.h"

#include "capture/QClickLabel.h"
#include "capture/QSelectRegionWindow.h"
#include "cycle/FrameSum.h"

// The program's own windows on the captured frame: the tool window, and the
// region window and the colour-sample picture while they are shown. Where
// the desktop cannot tell where a window lies, nothing of the frame is its.
bool MainWindow::leaveOutOwnWindows(const platform::Rect& captured, bool& frameChanged)
{
    ownWindowFrames.clear();
    const QWidget* own[] = { this, regionWindow.data(), sampleLabel.get() };
    for (const QWidget* window : own) {
        platform::Rect frame;
        if (window && window->isVisible() && window->internalWinId() != 0
            && desktop.windowFrame(static_cast<platform::WindowHandle>(window->internalWinId()), frame))
            ownWindowFrames.push_back(frame);
    }
    const bool moved = ownWindowArea.place(captured, frameImage.cols, frameImage.rows, ownWindowFrames);
    if (ownWindowArea.empty())
        return moved;
    // What the scopes read changed only where it changed outside our
    // windows: the tool repainting itself on the screen it captures is no
    // new frame to analyse.
    const bool fresh = ownWindowsLeftOut.size() != frameImage.size();
    if (moved || frameChanged || fresh) {
        ownWindowArea.blackenInto(capturedReadings(), ownWindowsBlackened);
        bool differs = false;
        scopes::copyFrameAndSum(ownWindowsBlackened, ownWindowsLeftOut, &differs);
        frameChanged = differs || fresh;
    }
    return moved;
}

bool MainWindow::leavingOutOwnWindows() const
{
    return !ownWindowArea.empty() && ownWindowsLeftOut.size() == frameImage.size();
}

// Over whatever the scopes painted there: the darkened capture.
void MainWindow::darkenOwnWindows()
{
    if (leavingOutOwnWindows())
        ownWindowShade.paint(ownWindowArea, captureImage, frameImage);
}
