#include "shell/MainWindow.h"

#include "scopes/FloatReplicas.h"
#include "scopes/WaveformMath.h"
#include "shell/Log.h"

// Drawn from the frame on every call (the renderer finds for itself which
// rows changed since its last frame), so the change flag and the pointer's
// frame position go unused.
void MainWindow::drawWaveform(bool, int, int, bool parade)
{
    scopes::renderWaveform(scopeFrame(), windowSize, parade, waveformBuffers, scopeImage,
        leavingOutOwnWindows() ? &ownWindowArea.leftOutInColumn() : nullptr);
    scopeImageHoldsPlot = false;
    scopeChanged.all(scopeImage.rows, scopeImage.cols);
    if (referenceHeld())
        drawHeldReference();
    for (const QString& note : scopes::takeFallbackNotes())
        if (debugMode)
            writeLog(note);
    scopes::highlightMatchingLevels(
        scopeFrame(), frameImage, scopeImage.cols, scopeImage.rows, hoverX, hoverY, parade, &framePaint);
}
