#include "gui/kestrel_picture.h"

#include <array>

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace kestra::gui {
namespace {

// The sky behind the bird, `height` units high in the 160-unit wide frame.
void PaintSky(QPainter& p, double height, double radius) {
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor(150, 195, 235));
    sky.setColorAt(1, QColor(225, 238, 248));
    p.setPen(QPen(QColor(90, 110, 130), 1));
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(0.5, 0.5, 159, height - 1), radius, radius);
}

// A kestrel hovering into the wind: long pointed wings, fanned tail. It spans
// x 6..154 and y 20..87 of a 160 by 90 frame.
void PaintKestrel(QPainter& p) {
    const QColor rufous(181, 101, 39), dark(52, 38, 28), grey(105, 120, 140), buff(236, 205, 160);
    p.setPen(QPen(dark, 0.8));
    for (int side : {-1, 1}) {
        // A closed shape of two curves, mirrored for each side: x offsets from
        // the body's middle line.
        auto fill = [&](const QColor& colour, const std::array<double, 14>& c) {
            auto at = [&](int i) { return QPointF(80 + side * c[i], c[i + 1]); };
            QPainterPath path;
            path.moveTo(at(0));
            path.cubicTo(at(2), at(4), at(6));
            path.cubicTo(at(8), at(10), at(12));
            path.closeSubpath();
            p.setBrush(colour);
            p.drawPath(path);
        };
        fill(rufous, {4, 38, 22, 24, 50, 20, 74, 26, 52, 34, 30, 42, 6, 50});  // wing
        fill(dark, {52, 22, 62, 21, 70, 23, 74, 26, 64, 30, 56, 33, 48, 36});  // tip
        for (int i = 0; i < 4; ++i)
            p.drawEllipse(QPointF(80 + side * (18 + i * 8), 33 - i * 1.5), 1.6, 1.1);
    }
    QPainterPath tail;
    tail.moveTo(74, 58);
    tail.lineTo(86, 58);
    tail.lineTo(95, 82);
    tail.quadTo(80, 87, 65, 82);
    tail.closeSubpath();
    p.setBrush(grey);
    p.drawPath(tail);
    p.setPen(Qt::NoPen);
    p.setBrush(dark);
    p.drawRect(QRectF(66, 77, 28, 4));
    p.setPen(QPen(dark, 0.8));
    p.setBrush(buff);
    p.drawEllipse(QPointF(80, 46), 7.5, 15);
    p.setBrush(dark);
    for (int i = 0; i < 3; ++i)
        p.drawEllipse(QPointF(77 + i * 3, 44 + (i % 2) * 5), 0.9, 1.3);
    p.setBrush(grey);
    p.drawEllipse(QPointF(80, 29), 7, 7);
    p.setBrush(QColor(240, 190, 60));
    p.drawPolygon(QPolygonF({QPointF(78, 34), QPointF(82, 34), QPointF(80, 38)}));
    p.setBrush(dark);
    p.drawEllipse(QPointF(77, 28), 1.2, 1.2);
    p.drawEllipse(QPointF(83, 28), 1.2, 1.2);
    p.setPen(QPen(dark, 1.2));
    p.drawLine(QPointF(77, 30), QPointF(76, 34));  // the moustache stripe
    p.drawLine(QPointF(83, 30), QPointF(84, 34));
}

}  // namespace

QPixmap KestrelPicture(int width, int height) {
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(width / 160.0, height / 90.0);
    PaintSky(p, 90, 8);
    PaintKestrel(p);
    return pixmap;
}

QImage KestrelIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 160.0, size / 160.0);
    PaintSky(p, 160, 24);
    p.translate(0, 80 - 53.5);  // the bird's middle to the square's
    PaintKestrel(p);
    return image;
}

}  // namespace kestra::gui
