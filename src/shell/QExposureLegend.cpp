#include "shell/QExposureLegend.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

QExposureLegend::QExposureLegend(QWidget* parent)
    : QWidget(parent)
{
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
    setFont(small);
    setFixedHeight(fontMetrics().height() + 4);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void QExposureLegend::setMode(scopes::ExposureMode mode)
{
    shownMode = mode;
    QString tip;
    if (mode == scopes::ExposureMode::FalseColour) {
        tip = QStringLiteral("False colour of the luma (0.2126 R + 0.7152 G + 0.0722 B, 0 to 255):");
        for (const scopes::ExposureBand& band : scopes::falseColourBands())
            tip += QStringLiteral("\n%1: %2 to %3").arg(QLatin1String(band.name)).arg(band.first).arg(band.last);
        tip += QStringLiteral("\nother lumas: their grey (E: off)");
    } else if (mode == scopes::ExposureMode::Clipping) {
        tip = QStringLiteral("Clipping: magenta where a channel is at 255, blue where all are at 0 (E: false colour)");
    }
    setToolTip(tip);
    update();
}

QList<QExposureLegend::Cell> QExposureLegend::cells() const
{
    QList<Cell> list;
    if (shownMode == scopes::ExposureMode::FalseColour) {
        for (const scopes::ExposureBand& band : scopes::falseColourBands())
            list.append({ QLatin1String(band.name), band.colour });
    } else if (shownMode == scopes::ExposureMode::Clipping) {
        list.append({ QStringLiteral("clipped (255)"), scopes::kClippedColour });
        list.append({ QStringLiteral("black (0)"), scopes::kBlackColour });
    }
    return list;
}

void QExposureLegend::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x44, 0x44, 0x44));
    const QList<Cell> list = cells();
    if (list.isEmpty())
        return;
    const int n = list.size();
    for (int i = 0; i < n; ++i) {
        // Cells share the width; the last takes what the division leaves.
        const int left = width() * i / n;
        const QRect cell(left, 0, width() * (i + 1) / n - left, height());
        const scopes::ScreenColour c = list[i].colour;
        painter.fillRect(cell.adjusted(0, 0, i + 1 < n ? -1 : 0, 0), QColor(c.red, c.green, c.blue));
        // Dark text on light colours, light on dark.
        painter.setPen(scopes::lumaOf(c.red, c.green, c.blue) > 110 ? Qt::black : Qt::white);
        painter.drawText(cell, Qt::AlignCenter,
            fontMetrics().elidedText(list[i].name, Qt::ElideRight, std::max(0, cell.width() - 4)));
    }
}
