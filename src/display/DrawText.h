#pragma once

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPainter>
#include <QRectF>
#include <QString>

// Draws a text fitted into a box that may be rotated, for scale numbers along bars and
// axes.
class DrawText : public QObject
{
    Q_OBJECT
public:
    explicit DrawText(QObject *parent = nullptr);

    // `box` gives the centre (box.x(), box.y()) and, in the rotated frame, the length
    // (box.width()) and the width (box.height()). With `fit` the font is scaled so the text
    // fills the box, but not beyond `maxPt` points when that is positive. Returns the
    // rectangle the text took, in the rotated frame.
    QRectF drawBoxText(QPainter *p, double angle, QRectF box, QFont font, int flags, bool fit,
        const QString &text, double maxPt, bool fill, const QColor &bg);

    QColor cyan = QColor(0, 220, 220);
    QColor lightGreen = QColor(170, 255, 170);
    QColor greyGreen = QColor(140, 180, 140);
    QColor black = QColor(0, 0, 0);
};
