// Draws Huelens' own artwork: the toolbar images, the move grip, the monitor
// button image and the application icon.
//
// Not part of the CMake build; compile and run it by hand when the art changes:
//
//   g++ -std=c++17 -O1 -fPIC tools/draw-artwork.cpp -o /tmp/draw-artwork $(pkg-config --cflags --libs Qt5Gui)
//   /tmp/draw-artwork resources                  # writes resources/icon.png and resources/images/*.png,
//                                                # and embeds the images in resources/help.html
//   /tmp/draw-artwork --sheet /tmp/sheet         # review sheets /tmp/sheet-16.png, -32.png, -icon.png
//   /tmp/draw-artwork --hicolor resources/hicolor # the desktop icon at the sizes of the icon theme
//   /tmp/draw-artwork --ico resources/windows/huelens.ico # the Windows program's icon
//
// Toolbar images are drawn at 32 x 32 and shown by Qt at 16 x 16 (14 x 14 on
// narrow windows), so every stroke is at least 2 pixels wide here and every
// shape carries a darker outline: the images must read on a light grey toolbar
// and on a dark one. Only QtGui is used, no fonts, so the output is the same
// on every machine with the same Qt.

#include <QBuffer>
#include <QColor>
#include <QConicalGradient>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QRadialGradient>
#include <QRegularExpression>
#include <QString>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

QImage canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void antialiased(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

QLinearGradient vertical(double top, double bottom, const QColor& light, const QColor& dark)
{
    QLinearGradient g(0, top, 0, bottom);
    g.setColorAt(0, light);
    g.setColorAt(1, dark);
    return g;
}

// A filled shape with a darker rim: the rim is what keeps a light shape
// visible on a light toolbar, the fill is what keeps it visible on a dark one.
void fillOutlined(QPainter& p, const QPainterPath& shape, const QBrush& fill, const QColor& rim, double rimWidth = 1.5)
{
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawPath(shape);
    QPen pen(rim, rimWidth);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);
}

// A stroke drawn twice, dark and wide underneath, coloured and narrow on top.
void strokeOutlined(
    QPainter& p, const QPainterPath& path, const QColor& colour, const QColor& rim, double width, double rimWidth = 1.5)
{
    QPen under(rim, width + 2 * rimWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(under);
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    QPen over(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(over);
    p.drawPath(path);
}

// --- Round buttons: start, stop, help share one disc, in three colours. ---

struct Tint {
    QColor light, dark, rim;
};

const Tint green { QColor(0x6c, 0xcf, 0x7c), QColor(0x24, 0x8f, 0x3e), QColor(0x15, 0x5a, 0x26) };
const Tint red { QColor(0xf2, 0x7a, 0x6a), QColor(0xc6, 0x36, 0x2a), QColor(0x7a, 0x1a, 0x12) };
const Tint blue { QColor(0x72, 0xae, 0xee), QColor(0x2a, 0x68, 0xbe), QColor(0x16, 0x3f, 0x7a) };
const QColor glyphWhite(0xff, 0xff, 0xff);

void disc(QPainter& p, const Tint& tint)
{
    QPainterPath circle;
    circle.addEllipse(QPointF(16, 16), 14.2, 14.2);
    fillOutlined(p, circle, vertical(2, 30, tint.light, tint.dark), tint.rim, 1.6);
    // A soft highlight on the upper half gives the disc some body at 32 px
    // and vanishes harmlessly at 16 px.
    QPainterPath gloss;
    gloss.addEllipse(QRectF(6, 3.6, 20, 11));
    QLinearGradient g(0, 3.6, 0, 14.6);
    g.setColorAt(0, QColor(255, 255, 255, 90));
    g.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawPath(gloss);
}

QImage drawStart()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    antialiased(p);
    disc(p, green);
    // The triangle's centroid sits on the disc's centre, so it looks centred.
    QPainterPath play;
    play.moveTo(12.2, 9.2);
    play.lineTo(23.4, 16);
    play.lineTo(12.2, 22.8);
    play.closeSubpath();
    QPen pen(glyphWhite, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(glyphWhite);
    p.drawPath(play);
    return image;
}

QImage drawStop()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    antialiased(p);
    disc(p, red);
    QPainterPath square;
    square.addRoundedRect(QRectF(10.5, 10.5, 11, 11), 1.8, 1.8);
    p.setPen(Qt::NoPen);
    p.setBrush(glyphWhite);
    p.drawPath(square);
    return image;
}

QImage drawHelp()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    antialiased(p);
    disc(p, blue);
    // A question mark built from an arc and a stem, so no font is needed.
    QPainterPath hook;
    const QRectF bowl(11.4, 7.4, 9.2, 9.0);
    hook.arcMoveTo(bowl, 165);
    hook.arcTo(bowl, 165, -235);
    hook.quadTo(QPointF(16.0, 16.8), QPointF(16.0, 19.0));
    QPen pen(glyphWhite, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(hook);
    p.setPen(Qt::NoPen);
    p.setBrush(glyphWhite);
    p.drawEllipse(QPointF(16.0, 23.6), 2.0, 2.0);
    return image;
}

// --- Exit: a bold cross, not a disc, so it is never mistaken for Stop. ---

QImage drawClose()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    antialiased(p);
    QPainterPath cross;
    cross.moveTo(8.5, 8.5);
    cross.lineTo(23.5, 23.5);
    cross.moveTo(23.5, 8.5);
    cross.lineTo(8.5, 23.5);
    strokeOutlined(p, cross, QColor(0xe2, 0x4d, 0x3d), red.rim, 4.6, 1.5);
    return image;
}

// --- "Disabled" variants: the same picture, cut through by a red slash. ---

void slash(QPainter& p)
{
    QPainterPath line;
    line.moveTo(6, 6);
    line.lineTo(26, 26);
    // Erase a band first, so the slash stands apart from the picture under it.
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setPen(QPen(Qt::black, 8.6, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(line);
    p.restore();
    strokeOutlined(p, line, QColor(0xe2, 0x4d, 0x3d), red.rim, 3.0, 1.2);
}

// --- Always on top: a push pin. ---

void pushPin(QPainter& p)
{
    p.save();
    p.translate(16.3, 15.6);
    p.rotate(40);
    p.scale(1.08, 1.08);
    const QColor rim(0x14, 0x3a, 0x70);
    // Needle first, so the collar covers its top end.
    QPainterPath needle;
    needle.moveTo(-1.2, 2);
    needle.lineTo(1.2, 2);
    needle.lineTo(0.25, 14.5);
    needle.lineTo(-0.25, 14.5);
    needle.closeSubpath();
    fillOutlined(p, needle, vertical(2, 14.5, QColor(0xf0, 0xf2, 0xf4), QColor(0xb0, 0xb6, 0xbe)),
        QColor(0x4e, 0x54, 0x5c), 1.2);

    QLinearGradient body(-7, 0, 7, 0);
    body.setColorAt(0, QColor(0x86, 0xbc, 0xf5));
    body.setColorAt(0.45, QColor(0x4a, 0x8c, 0xe0));
    body.setColorAt(1, QColor(0x24, 0x5e, 0xb0));

    QPainterPath collar;
    collar.addRoundedRect(QRectF(-7.6, -1.2, 15.2, 4.0), 1.8, 1.8);
    QPainterPath waist;
    waist.moveTo(-3.6, -10);
    waist.lineTo(3.6, -10);
    waist.lineTo(2.6, -1);
    waist.lineTo(-2.6, -1);
    waist.closeSubpath();
    QPainterPath cap;
    cap.addRoundedRect(QRectF(-5.8, -15.2, 11.6, 5.8), 2.6, 2.6);

    fillOutlined(p, waist, body, rim, 1.4);
    fillOutlined(p, collar, body, rim, 1.4);
    fillOutlined(p, cap, body, rim, 1.4);
    p.restore();
}

QImage drawAlwaysOnTop()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    antialiased(p);
    pushPin(p);
    return image;
}

QImage drawDisableAlwaysOnTop()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    antialiased(p);
    pushPin(p);
    slash(p);
    return image;
}

// --- Preview: a small landscape photograph. ---

void photo(QPainter& p)
{
    const QRectF frame(3.0, 6.0, 26.0, 20.0);
    QPainterPath outer;
    outer.addRoundedRect(frame, 2.2, 2.2);
    fillOutlined(
        p, outer, vertical(6, 26, QColor(0xfa, 0xfa, 0xfa), QColor(0xdc, 0xdf, 0xe3)), QColor(0x3a, 0x3f, 0x46), 1.5);

    const QRectF picture = frame.adjusted(3.0, 3.0, -3.0, -3.0);
    p.save();
    QPainterPath clip;
    clip.addRect(picture);
    p.setClipPath(clip);
    p.setPen(Qt::NoPen);
    p.setBrush(vertical(picture.top(), picture.bottom(), QColor(0x5d, 0xb2, 0xf5), QColor(0xb8, 0xe0, 0xfc)));
    p.drawRect(picture);
    p.setBrush(QColor(0xff, 0xc9, 0x3c));
    p.drawEllipse(QPointF(21.2, 12.6), 2.6, 2.6);
    QPainterPath far;
    far.moveTo(picture.left(), 21);
    far.lineTo(11.5, 14.2);
    far.lineTo(17.5, 19.5);
    far.lineTo(picture.right(), 17.5);
    far.lineTo(picture.right(), picture.bottom());
    far.lineTo(picture.left(), picture.bottom());
    far.closeSubpath();
    p.setBrush(QColor(0x3f, 0x9a, 0x4e));
    p.drawPath(far);
    QPainterPath near;
    near.moveTo(picture.left(), 23);
    near.quadTo(QPointF(17, 18.5), QPointF(picture.right(), 22));
    near.lineTo(picture.right(), picture.bottom());
    near.lineTo(picture.left(), picture.bottom());
    near.closeSubpath();
    p.setBrush(QColor(0x2a, 0x74, 0x36));
    p.drawPath(near);
    p.restore();
    p.setPen(QPen(QColor(0x3a, 0x3f, 0x46, 160), 0.8));
    p.setBrush(Qt::NoBrush);
    p.drawRect(picture);
}

QImage drawPreview()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    antialiased(p);
    photo(p);
    return image;
}

QImage drawDisablePreview()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    antialiased(p);
    photo(p);
    slash(p);
    return image;
}

// --- Select region: a marching-ants rectangle with a pointer dragging its corner. ---

QImage drawSelectRegion()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    antialiased(p);
    const QRectF box(3.0, 4.0, 19.0, 15.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4a, 0x8c, 0xe0, 90));
    p.drawRect(box);
    // Alternating dark and white dashes read on any background.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(glyphWhite, 2.0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.drawRect(box);
    QPen dashes(QColor(0x22, 0x26, 0x2b), 2.0, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    dashes.setDashPattern({ 1.5, 1.5 });
    p.setPen(dashes);
    p.drawRect(box);

    // The pointer, its tip on the rectangle's bottom-right corner, dragging it out.
    QPainterPath arrow;
    arrow.moveTo(0, 0);
    arrow.lineTo(0, 11.5);
    arrow.lineTo(2.9, 8.9);
    arrow.lineTo(5.0, 13.2);
    arrow.lineTo(6.9, 12.4);
    arrow.lineTo(4.9, 8.2);
    arrow.lineTo(8.6, 8.0);
    arrow.closeSubpath();
    arrow.translate(box.right(), box.bottom());
    fillOutlined(p, arrow, QBrush(glyphWhite), QColor(0x15, 0x18, 0x1c), 1.4);
    return image;
}

// --- Display: a small scope screen with a red, a green and a blue trace. ---

QImage drawDisplay()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    antialiased(p);
    const QRectF screen(2.5, 4.5, 27.0, 23.0);
    QPainterPath bezel;
    bezel.addRoundedRect(screen, 3.0, 3.0);
    fillOutlined(p, bezel, vertical(4.5, 27.5, QColor(0x3a, 0x40, 0x48), QColor(0x14, 0x17, 0x1b)),
        QColor(0x9a, 0xa0, 0xa8), 1.5);

    p.save();
    p.setClipRect(screen.adjusted(2, 2, -2, -2));
    // One gentle wave per channel, stacked so they never cross: at 16 px
    // crossing traces blur into one brown line.
    auto trace = [](double phase, double level) {
        QPainterPath path;
        for (int i = 0; i <= 46; ++i) {
            const double x = 4.5 + i * 0.5;
            const double y = level - 1.9 * std::sin((x - 4.5) / 23.0 * 2 * pi + phase);
            if (i == 0)
                path.moveTo(x, y);
            else
                path.lineTo(x, y);
        }
        return path;
    };
    p.setBrush(Qt::NoBrush);
    auto draw = [&](const QPainterPath& path, const QColor& colour) {
        p.setPen(QPen(colour, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(path);
    };
    draw(trace(0.0, 10.5), QColor(0xff, 0x5c, 0x50));
    draw(trace(1.2, 16.0), QColor(0x66, 0xe0, 0x6e));
    draw(trace(2.4, 21.5), QColor(0x5f, 0xa8, 0xff));
    p.restore();
    return image;
}

// --- Hold a reference: the display's dark screen with a held trace in the
// reference's pale cyan outline, and the live trace, white, over it. ---

QImage drawReference()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    antialiased(p);
    const QRectF screen(2.5, 4.5, 27.0, 23.0);
    QPainterPath bezel;
    bezel.addRoundedRect(screen, 3.0, 3.0);
    fillOutlined(p, bezel, vertical(4.5, 27.5, QColor(0x3a, 0x40, 0x48), QColor(0x14, 0x17, 0x1b)),
        QColor(0x9a, 0xa0, 0xa8), 1.5);
    p.save();
    p.setClipRect(screen.adjusted(2, 2, -2, -2));
    // The colour the window draws a held reference in (scopes/HeldReference.h).
    const QColor reference(90, 210, 235);
    QColor tint = reference;
    tint.setAlpha(90);
    p.setPen(QPen(reference, 1.8));
    p.setBrush(tint);
    p.drawEllipse(QPointF(12.5, 14.5), 7.0, 5.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xff, 0xff));
    p.drawEllipse(QPointF(20.0, 18.5), 4.6, 3.8);
    p.restore();
    return image;
}

// --- Settings: a gear. ---

QImage drawSettings()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    antialiased(p);
    const QPointF centre(16, 16);
    QPainterPath gear;
    gear.addEllipse(centre, 10.6, 10.6);
    const int teeth = 8;
    for (int i = 0; i < teeth; ++i) {
        QPainterPath tooth;
        tooth.moveTo(-3.1, -9.0);
        tooth.lineTo(3.1, -9.0);
        tooth.lineTo(2.2, -14.3);
        tooth.lineTo(-2.2, -14.3);
        tooth.closeSubpath();
        QTransform t;
        t.translate(centre.x(), centre.y());
        t.rotate(i * 360.0 / teeth + 22.5);
        gear = gear.united(t.map(tooth));
    }
    QPainterPath hole;
    hole.addEllipse(centre, 4.4, 4.4);
    gear = gear.subtracted(hole);
    fillOutlined(
        p, gear, vertical(2, 30, QColor(0xc4, 0xca, 0xd2), QColor(0x6a, 0x72, 0x7c)), QColor(0x2e, 0x33, 0x3a), 1.5);
    return image;
}

// --- Move handle: a grip of embossed dots, drawn pixel-exact at its shown size. ---

QImage drawMove()
{
    QImage image = canvas(16, 16);
    QPainter p(&image);
    // Mid-grey dots over a faint light shadow one pixel down and right: the
    // dots show on a light toolbar, the shadow lifts them on a dark one.
    for (int column = 0; column < 2; ++column) {
        for (int row = 0; row < 4; ++row) {
            const int x = 5 + column * 4;
            const int y = 1 + row * 4;
            p.fillRect(x + 1, y + 1, 2, 2, QColor(255, 255, 255, 110));
            p.fillRect(x, y, 2, 2, QColor(0x70, 0x76, 0x7e));
        }
    }
    return image;
}

// --- Monitor: the picture on the "Monitor #N" buttons of the region picker. ---

QImage drawMonitor()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    antialiased(p);
    const QColor rim(0x15, 0x18, 0x1c);
    // Stand first, so the bezel covers its top.
    QPainterPath neck;
    neck.moveTo(13.2, 22);
    neck.lineTo(18.8, 22);
    neck.lineTo(19.8, 27);
    neck.lineTo(12.2, 27);
    neck.closeSubpath();
    fillOutlined(p, neck, vertical(22, 27, QColor(0x9a, 0xa1, 0xaa), QColor(0x5c, 0x63, 0x6c)), rim, 1.3);
    QPainterPath foot;
    foot.addRoundedRect(QRectF(8.5, 26.2, 15, 3.2), 1.4, 1.4);
    fillOutlined(p, foot, vertical(26, 29.5, QColor(0xb4, 0xba, 0xc2), QColor(0x6a, 0x72, 0x7c)), rim, 1.3);

    QPainterPath bezel;
    bezel.addRoundedRect(QRectF(2.0, 3.5, 28.0, 19.5), 2.4, 2.4);
    fillOutlined(p, bezel, vertical(3.5, 23, QColor(0x4a, 0x50, 0x58), QColor(0x22, 0x26, 0x2b)), rim, 1.4);
    const QRectF glass(4.6, 6.0, 22.8, 14.4);
    p.setPen(Qt::NoPen);
    p.setBrush(vertical(glass.top(), glass.bottom(), QColor(0x7c, 0xc0, 0xff), QColor(0x2a, 0x6a, 0xc0)));
    p.drawRect(glass);
    // A diagonal sheen across the glass.
    QPainterPath sheen;
    sheen.moveTo(glass.left(), glass.top());
    sheen.lineTo(glass.left() + 13, glass.top());
    sheen.lineTo(glass.left() + 5, glass.bottom());
    sheen.lineTo(glass.left(), glass.bottom());
    sheen.closeSubpath();
    p.setBrush(QColor(255, 255, 255, 48));
    p.drawPath(sheen);
    return image;
}

// --- Application icon: a vectorscope on a colour wheel, seen through a lens. ---

// A small deterministic generator, so the trace is the same on every run.
struct Lcg {
    unsigned state;
    double next()
    {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / 16777216.0;
    }
    // Roughly normal, mean 0 and deviation 1.
    double normal() { return next() + next() + next() + next() - 2.0; }
};

QImage trace(int size, QPointF centre, double radius)
{
    struct Cluster {
        double hue, hueSpread, saturation, saturationSpread;
        int samples;
    };
    const Cluster clusters[] = {
        { 21, 6, 0.36, 0.15, 60000 },
        { 205, 12, 0.28, 0.10, 22000 },
        { 100, 18, 0.20, 0.08, 14000 },
        { 0, 180, 0.04, 0.04, 20000 },
    };
    std::vector<float> cells(static_cast<size_t>(size) * size, 0.0f);
    std::vector<float> hues(cells.size(), 0.0f);
    Lcg random { 20240611u };
    for (const Cluster& cluster : clusters) {
        for (int i = 0; i < cluster.samples; ++i) {
            const double degrees = cluster.hue + cluster.hueSpread * random.normal();
            const double s = std::min(std::fabs(cluster.saturation + cluster.saturationSpread * random.normal()), 0.97);
            const double h = degrees * pi / 180.0;
            const int x = static_cast<int>(std::lround(centre.x() - std::sin(h) * s * radius));
            const int y = static_cast<int>(std::lround(centre.y() - std::cos(h) * s * radius));
            if (x < 0 || y < 0 || x >= size || y >= size)
                continue;
            cells[static_cast<size_t>(y) * size + x] += 1.0f;
            hues[static_cast<size_t>(y) * size + x] = static_cast<float>(std::fmod(degrees + 720.0, 360.0));
        }
    }
    // Two passes of a 3 x 3 box blur soften single samples into a glow.
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<float> blurred(cells.size(), 0.0f);
        for (int y = 1; y + 1 < size; ++y)
            for (int x = 1; x + 1 < size; ++x) {
                float sum = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        sum += cells[static_cast<size_t>(y + dy) * size + x + dx];
                blurred[static_cast<size_t>(y) * size + x] = sum / 9.0f;
            }
        cells.swap(blurred);
    }
    const float peak = *std::max_element(cells.begin(), cells.end());
    QImage glow = canvas(size, size);
    for (int y = 0; y < size; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(glow.scanLine(y));
        for (int x = 0; x < size; ++x) {
            const float v = cells[static_cast<size_t>(y) * size + x] / peak;
            const double alpha = std::min(1.0, 1.7 * std::pow(v, 0.45));
            if (alpha <= 0.0)
                continue;
            // A pale tint of the hue the samples came from, as a colour trace.
            QColor colour = QColor::fromHsvF(hues[static_cast<size_t>(y) * size + x] / 360.0, 0.12, 1.0);
            colour.setAlphaF(alpha);
            line[x] = qPremultiply(colour.rgba());
        }
    }
    return glow;
}

QImage drawIcon(int size)
{
    QImage image = canvas(size, size);
    QPainter p(&image);
    antialiased(p);
    p.scale(size / 128.0, size / 128.0);
    const QPointF c(64, 64);
    const double wheelRadius = 51;

    // Bezel: a dark lens barrel, lit from above.
    QLinearGradient barrel(0, 2, 0, 126);
    barrel.setColorAt(0.0, QColor(0x5a, 0x61, 0x6a));
    barrel.setColorAt(0.5, QColor(0x2c, 0x31, 0x37));
    barrel.setColorAt(1.0, QColor(0x16, 0x18, 0x1b));
    p.setPen(QPen(QColor(0x0c, 0x0e, 0x10), 1.5));
    p.setBrush(barrel);
    p.drawEllipse(c, 61.5, 61.5);
    QLinearGradient inner(0, 8, 0, 120);
    inner.setColorAt(0.0, QColor(0x14, 0x16, 0x19));
    inner.setColorAt(1.0, QColor(0x3c, 0x42, 0x4a));
    p.setPen(Qt::NoPen);
    p.setBrush(inner);
    p.drawEllipse(c, 55.5, 55.5);

    // Colour wheel: hue as the program's vectorscope plots it (red straight
    // up, growing counter-clockwise), dark toward the centre as on the scope.
    QConicalGradient hue(c, 90);
    for (int i = 0; i <= 12; ++i)
        hue.setColorAt(i / 12.0, QColor::fromHsvF((i % 12) / 12.0, 0.9, 1.0));
    p.setBrush(hue);
    p.drawEllipse(c, wheelRadius, wheelRadius);
    QRadialGradient depth(c, wheelRadius);
    depth.setColorAt(0.0, QColor(0x06, 0x07, 0x09, 255));
    depth.setColorAt(0.3, QColor(0x06, 0x07, 0x09, 235));
    depth.setColorAt(0.75, QColor(0x06, 0x07, 0x09, 120));
    depth.setColorAt(1.0, QColor(0x06, 0x07, 0x09, 30));
    p.setBrush(depth);
    p.drawEllipse(c, wheelRadius, wheelRadius);

    // Graticule: two rings and a cross.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 55), 1.0));
    p.drawEllipse(c, wheelRadius * 0.75, wheelRadius * 0.75);
    p.drawEllipse(c, wheelRadius * 0.38, wheelRadius * 0.38);
    p.drawLine(QPointF(c.x(), c.y() - wheelRadius), QPointF(c.x(), c.y() + wheelRadius));
    p.drawLine(QPointF(c.x() - wheelRadius, c.y()), QPointF(c.x() + wheelRadius, c.y()));

    // The trace, made the way the scope makes it: many samples counted into
    // cells, smoothed, normalised and brightened with a power curve. The
    // samples lie where a portrait puts its colours: skin along the skin-tone
    // line, some sky and some foliage, and a little grey in the middle.
    p.save();
    p.resetTransform();
    p.drawImage(0, 0, trace(size, c * (size / 128.0), wheelRadius * (size / 128.0)));
    p.restore();

    // Skin-tone line, 19 degrees counter-clockwise from straight up.
    const double skin = 19.0 * pi / 180.0;
    const QPointF skinEnd(c.x() - std::sin(skin) * wheelRadius, c.y() - std::cos(skin) * wheelRadius);
    p.setPen(QPen(QColor(0xff, 0xc8, 0x7f, 200), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, skinEnd);

    // Lens glass: a faint sheen over the upper left, and a rim around it all.
    QPainterPath glass;
    glass.addEllipse(c, wheelRadius, wheelRadius);
    p.setClipPath(glass);
    QLinearGradient sheen(QPointF(24, 16), QPointF(60, 60));
    sheen.setColorAt(0.0, QColor(255, 255, 255, 75));
    sheen.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(sheen);
    p.drawEllipse(QPointF(46, 36), 46, 32);
    p.setClipping(false);
    p.setPen(QPen(QColor(0x0c, 0x0e, 0x10), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, wheelRadius, wheelRadius);
    return image;
}

struct Artwork {
    const char* path;
    std::function<QImage()> draw;
};

const std::vector<Artwork>& artworks()
{
    static const std::vector<Artwork> all {
        { "images/start.png", drawStart },
        { "images/stop.png", drawStop },
        { "images/select_region.png", drawSelectRegion },
        { "images/always_on_top.png", drawAlwaysOnTop },
        { "images/disable_always_on_top.png", drawDisableAlwaysOnTop },
        { "images/display.png", drawDisplay },
        { "images/reference.png", drawReference },
        { "images/preview.png", drawPreview },
        { "images/disable_preview.png", drawDisablePreview },
        { "images/settings.png", drawSettings },
        { "images/help.png", drawHelp },
        { "images/close.png", drawClose },
        { "images/move.png", drawMove },
        { "images/monitor.png", drawMonitor },
        { "icon.png", [] { return drawIcon(128); } },
    };
    return all;
}

QImage straight(const QImage& image)
{
    return image.convertToFormat(QImage::Format_ARGB32);
}

QImage artwork(const char* path)
{
    for (const Artwork& art : artworks())
        if (QString(art.path) == path)
            return straight(art.draw());
    return QImage();
}

QByteArray pngBytes(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The help page shows the toolbar images next to their descriptions. It is
// opened from the program's folder, where the images are not, so they are
// embedded: every <img data-artwork="images/NAME.png" ... src="..."> gets its
// src replaced by the current drawing as a data URL.
bool embedInHelp(const QString& helpFile)
{
    QFile file(helpFile);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QString html = QString::fromUtf8(file.readAll());
    file.close();
    static const QRegularExpression img(QStringLiteral("(<img data-artwork=\"([^\"]+)\"[^>]*? src=\")[^\"]*(\")"));
    QString result;
    int last = 0;
    auto matches = img.globalMatch(html);
    while (matches.hasNext()) {
        const QRegularExpressionMatch m = matches.next();
        const QImage image = artwork(m.captured(2).toUtf8().constData());
        if (image.isNull()) {
            std::fprintf(stderr, "%s: no artwork named %s\n", qPrintable(helpFile), qPrintable(m.captured(2)));
            return false;
        }
        result += html.mid(last, m.capturedStart() - last);
        result += m.captured(1) + QStringLiteral("data:image/png;base64,")
            + QString::fromLatin1(pngBytes(image).toBase64()) + m.captured(3);
        last = m.capturedEnd();
    }
    result += html.mid(last);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(result.toUtf8());
    std::printf("%s\n", qPrintable(helpFile));
    return true;
}

int writeAll(const QString& resourceDir)
{
    QDir dir(resourceDir);
    if (!dir.mkpath("images")) {
        std::fprintf(stderr, "cannot create %s/images\n", qPrintable(resourceDir));
        return 1;
    }
    for (const Artwork& art : artworks()) {
        const QString file = dir.filePath(art.path);
        if (!straight(art.draw()).save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    return embedInHelp(dir.filePath("help.html")) ? 0 : 1;
}

QImage shown(const QImage& image, int side)
{
    if (image.width() != 32)
        return image;
    // QIcon scales its one pixmap down smoothly to the toolbar's icon size.
    return image.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

bool saveEnlarged(QImage sheet, const QString& file)
{
    return sheet.scaled(sheet.width() * 4, sheet.height() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation)
        .save(file, "PNG");
}

const QColor sheetBackgrounds[] = { QColor(0xef, 0xef, 0xef), QColor(0x31, 0x36, 0x3b) };

// Three review sheets, enlarged four times without smoothing so single
// pixels can be judged, each on a light and on a dark toolbar colour:
// PREFIX-16.png the toolbar images as shown (16 and 14 px) and two toolbars
// in the program's order; PREFIX-32.png the images as drawn; PREFIX-icon.png
// the application icon at the sizes desktops use.
int writeSheets(const QString& prefix)
{
    std::vector<QImage> images;
    for (const Artwork& art : artworks())
        if (QString(art.path) != "icon.png")
            images.push_back(straight(art.draw()));
    const int count = static_cast<int>(images.size());
    const int half = (count + 1) / 2;

    {
        const int cell = 22;
        QImage sheet(2 * 4 * cell, half * cell + 2 * 24, QImage::Format_ARGB32);
        QPainter p(&sheet);
        for (int i = 0; i < count; ++i) {
            const int group = i / half;
            const int row = i % half;
            for (int b = 0; b < 2; ++b) {
                const int x0 = group * 4 * cell + b * 2 * cell;
                p.fillRect(x0, row * cell, 2 * cell, cell, sheetBackgrounds[b]);
                const QImage a = shown(images[i], 16);
                const QImage c = shown(images[i], 14);
                p.drawImage(x0 + (cell - a.width()) / 2, row * cell + (cell - a.height()) / 2, a);
                p.drawImage(x0 + cell + (cell - c.width()) / 2, row * cell + (cell - c.height()) / 2, c);
            }
        }
        const char* order[] = { "images/start.png", "images/select_region.png", "images/always_on_top.png",
            "images/display.png", "images/reference.png", "images/disable_preview.png", "images/settings.png",
            "images/help.png", "images/move.png", "images/close.png" };
        for (int b = 0; b < 2; ++b) {
            const int y0 = half * cell + b * 24;
            p.fillRect(0, y0, sheet.width(), 24, sheetBackgrounds[b]);
            int x = 4;
            for (const char* name : order) {
                p.drawImage(x, y0 + 4, shown(artwork(name), 16));
                x += 19;
            }
        }
        p.end();
        if (!saveEnlarged(sheet, prefix + "-16.png"))
            return 1;
    }
    {
        const int cell = 36;
        const int columns = half;
        QImage sheet(columns * cell, 2 * 2 * cell, QImage::Format_ARGB32);
        QPainter p(&sheet);
        for (int b = 0; b < 2; ++b) {
            p.fillRect(0, b * 2 * cell, sheet.width(), 2 * cell, sheetBackgrounds[b]);
            for (int i = 0; i < count; ++i)
                p.drawImage((i % columns) * cell + 2, b * 2 * cell + (i / columns) * cell + 2, images[i]);
        }
        p.end();
        if (!saveEnlarged(sheet, prefix + "-32.png"))
            return 1;
    }
    {
        const QImage icon = straight(drawIcon(128));
        QImage sheet(2 * 136, 72 + 136, QImage::Format_ARGB32);
        QPainter p(&sheet);
        for (int b = 0; b < 2; ++b) {
            p.fillRect(b * 136, 0, 136, sheet.height(), sheetBackgrounds[b]);
            int x = b * 136 + 2;
            for (int side : { 16, 22, 32, 48 }) {
                p.drawImage(x, 4, icon.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
                x += side + 4;
            }
            p.drawImage(b * 136 + 4, 72, icon);
        }
        p.end();
        if (!saveEnlarged(sheet, prefix + "-icon.png"))
            return 1;
    }
    return 0;
}

// The application icon for the desktop's icon theme: DIR/SIZExSIZE/apps/NAME.png.
// Large sizes are drawn at their size; small ones are the 128-pixel drawing
// scaled down smoothly, as the review sheet shows them, since the trace of
// the scope would turn to noise if drawn on a few pixels.
QImage iconAtSize(int side)
{
    return side >= 128 ? straight(drawIcon(side))
                       : straight(drawIcon(128)).scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

int writeHicolor(const QString& dir, const QString& name)
{
    for (int side : { 16, 22, 24, 32, 48, 64, 128, 256 }) {
        const QImage icon = iconAtSize(side);
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(dir).arg(side);
        const QString file = folder + QLatin1Char('/') + name + QStringLiteral(".png");
        if (!QDir().mkpath(folder) || !icon.save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    return 0;
}

void appendLittleEndian(QByteArray& out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xff));
}

// The Windows icon: one .ico holding PNG images at the sizes Explorer, the
// taskbar and the Start menu use (PNG entries are read by every Windows since
// Vista). The header, one 16-byte directory entry per image, then the images.
int writeIco(const QString& file)
{
    const int sides[] = { 16, 20, 24, 32, 40, 48, 64, 256 };
    QList<QByteArray> images;
    for (int side : sides) {
        QByteArray png;
        QBuffer buffer(&png);
        if (!buffer.open(QIODevice::WriteOnly) || !iconAtSize(side).save(&buffer, "PNG"))
            return 1;
        images.append(png);
    }
    QByteArray ico;
    appendLittleEndian(ico, 0, 2); // reserved
    appendLittleEndian(ico, 1, 2); // an icon, not a cursor
    appendLittleEndian(ico, images.size(), 2);
    quint32 offset = 6 + 16 * images.size();
    for (int i = 0; i < images.size(); ++i) {
        const int side = sides[i];
        appendLittleEndian(ico, side >= 256 ? 0 : side, 1); // 0 means 256
        appendLittleEndian(ico, side >= 256 ? 0 : side, 1);
        appendLittleEndian(ico, 0, 1); // no palette
        appendLittleEndian(ico, 0, 1);
        appendLittleEndian(ico, 1, 2); // colour planes
        appendLittleEndian(ico, 32, 2); // bits per pixel
        appendLittleEndian(ico, images[i].size(), 4);
        appendLittleEndian(ico, offset, 4);
        offset += images[i].size();
    }
    for (const QByteArray& png : images)
        ico.append(png);
    QFile out(file);
    if (!QDir().mkpath(QFileInfo(file).path()) || !out.open(QIODevice::WriteOnly) || out.write(ico) != ico.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return 1;
    }
    std::printf("%s\n", qPrintable(file));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && QString(argv[1]) == "--ico")
        return writeIco(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && QString(argv[1]) == "--hicolor")
        return writeHicolor(QString::fromLocal8Bit(argv[2]), QStringLiteral("org.korvant.huelens"));
    if (argc == 3 && QString(argv[1]) == "--sheet")
        return writeSheets(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && QString(argv[1]) == "--icon")
        return straight(drawIcon(512)).save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
    if (argc == 2)
        return writeAll(QString::fromLocal8Bit(argv[1]));
    std::fprintf(stderr,
        "usage: %s RESOURCE_DIR          write icon.png and images/*.png into RESOURCE_DIR, embed them in its "
        "help.html\n"
        "       %s --sheet PREFIX        write review sheets PREFIX-16.png, PREFIX-32.png, PREFIX-icon.png\n"
        "       %s --icon FILE.png       write the application icon at 512 px for review\n"
        "       %s --hicolor DIR         write the desktop icon as DIR/SIZExSIZE/apps/org.korvant.huelens.png\n"
        "       %s --ico FILE.ico        write the Windows program's icon\n",
        argv[0], argv[0], argv[0], argv[0], argv[0]);
    return 2;
}
