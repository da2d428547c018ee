#include "shell/MainWindow.h"

#include "imagefile/StillImage.h"
#include "platform/SystemPath.h"
#include "shell/PlainText.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

// H: the scope shown becomes the reference of its display mode, drawn under
// the live one from the next refresh on; again, and it is released. The
// frame is kept, not the picture, so that the reference follows the window
// size and the vectorscope's scale.
void MainWindow::referenceTrigger()
{
    HeldScope& held = heldScopes[static_cast<size_t>(displayMode)];
    if (!held.frame.empty()) {
        held = HeldScope();
    } else {
        // Nothing captured yet (capture off since the start): capture now.
        if (frameImage.empty())
            updateScreen();
        // The hover highlight's red is the window's, not the picture's.
        framePaint.undo(frameImage);
        if (scopeFrame().empty()) {
            showReferenceAction(); // the button, which checked itself, says nothing is held
            return;
        }
        held.frame = scopeFrame().clone();
    }
    showReferenceAction();
    // While capturing, the next tick shows it.
    if (!capturing)
        updateScreen();
}

bool MainWindow::holdReferenceImage(const QString& file)
{
    const QString name = QFileInfo(file).fileName();
    const scopes::StillImage image = scopes::readStillImage(platform::systemPath(file), windowSize);
    if (image.frame.empty()) {
        if (referenceStatusLabel)
            referenceStatusLabel->setText(QStringLiteral("Not held: ") + file + QStringLiteral(": ")
                + QString::fromStdString(image.problem) + QLatin1Char('.'));
        return false;
    }
    heldScopes[static_cast<size_t>(displayMode)] = HeldScope { image.frame, {}, 0, 0 };
    if (referenceStatusLabel)
        referenceStatusLabel->setText(name + QStringLiteral(" is held as the ") + QLatin1String(displayModeName(displayMode))
            + QStringLiteral(" reference."));
    showReferenceAction();
    if (!capturing)
        updateScreen();
    return true;
}

void MainWindow::chooseReferenceImage()
{
    const QString file = QFileDialog::getOpenFileName(settingsWindow, QStringLiteral("Hold a reference from an image"),
        QString(), QStringLiteral("Images (*.png *.jpg *.jpeg *.tif *.tiff *.bmp *.webp *.ppm);;All files (*)"));
    if (!file.isEmpty())
        holdReferenceImage(file);
}

// A row of the settings dialog: the button and what it last did. The
// reference is held at once, whether the dialog ends with OK or Cancel.
int MainWindow::addReferenceSettings(QGridLayout* grid, int row)
{
    auto* button = new QPushButton(QStringLiteral("Hold a reference from an image..."));
    button->setObjectName(QStringLiteral("referenceImageButton"));
    connect(button, &QPushButton::clicked, this, &MainWindow::chooseReferenceImage);
    referenceStatusLabel = plainLabel();
    referenceStatusLabel->setObjectName(QStringLiteral("referenceStatusLabel"));
    referenceStatusLabel->setWordWrap(true);
    grid->addWidget(plainLabel(QStringLiteral("Reference:")), row, 0, 1, 1);
    grid->addWidget(button, row, 1, 1, 1);
    grid->addWidget(referenceStatusLabel, row, 2, 1, 2);
    return row + 1;
}

void MainWindow::showReferenceAction()
{
    const QString text
        = referenceHeld() ? QStringLiteral("Release the reference") : QStringLiteral("Hold the scope as a reference");
    referenceAction->setText(text);
    referenceAction->setToolTip(text + QStringLiteral(" (H)"));
    referenceAction->setCheckable(true);
    referenceAction->setChecked(referenceHeld());
}

// Under the live picture, where it shows nothing of its own. The next
// refresh starts again from the cached plot.
void MainWindow::drawHeldReference()
{
    HeldScope& held = heldScopes[static_cast<size_t>(displayMode)];
    const int zoom = displayMode == 0 ? vectorscopeZoom : 1;
    if (held.layer.none() || held.layerSize != windowSize || held.layerZoom != zoom) {
        held.layer = scopes::referenceLayer(held.frame, displayMode, windowSize, zoom);
        held.layerSize = windowSize;
        held.layerZoom = zoom;
    }
    scopes::drawReference(scopeImage, held.layer);
    scopeChanged.all(scopeImage.rows, scopeImage.cols);
    scopeImageHoldsPlot = false;
}
