#include "DrawText.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

DrawText::DrawText(QObject *parent)
    : QObject(parent)
{ }

QRectF DrawText::drawBoxText(QPainter *p, double angle, QRectF box, QFont font, int flags, bool fit,
    const QString &text, double maxPt, bool fill, const QColor &bg)
{
    const double len = std::abs(box.width());
    const double wid = std::abs(box.height());

    // Drawing in a frame rotated by `angle` about the origin: the centre must be rotated
    // back so that the box lands where it was asked for.
    const double a = -angle * 3.141592653 / 180;
    const double cx = box.x() * std::cos(a) - box.y() * std::sin(a);
    const double cy = box.x() * std::sin(a) + box.y() * std::cos(a);
    const QRectF r(cx - len / 2, cy - wid / 2, len, wid);

    p->save();
    p->rotate(angle);
    if (fit) {
        font.setPointSizeF(10);
        const QRectF m
            = QFontMetricsF(font, p->device()).boundingRect(QRectF(0, 0, 5000, 5000), flags, text);
        double size = 1;
        if (m.width() > 0 && m.height() > 0)
            size = 10 * std::min(len / m.width(), wid / m.height());
        if (maxPt > 0 && maxPt < size)
            size = maxPt;
        if (size > 0)
            font.setPointSizeF(size);
    }
    p->setFont(font);
    if (fill)
        p->fillRect(r, bg);
    QRectF used;
    p->drawText(r, flags, text, &used);
    p->restore();
    return used;
}
