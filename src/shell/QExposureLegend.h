#pragma once

#include "preview/ExposureOverlay.h"

#include <QList>
#include <QString>
#include <QWidget>

// The strip under the preview that names the exposure view's colours: the
// two clipping marks, or the false-colour bands with the lumas they cover.
class QExposureLegend : public QWidget {
    Q_OBJECT
public:
    explicit QExposureLegend(QWidget* parent = nullptr);
    void setMode(scopes::ExposureMode mode);
    scopes::ExposureMode mode() const { return shownMode; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Cell {
        QString name;
        scopes::ScreenColour colour;
    };
    QList<Cell> cells() const;
    scopes::ExposureMode shownMode = scopes::ExposureMode::Off;
};
