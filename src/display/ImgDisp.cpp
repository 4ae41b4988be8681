#include "ImgDisp.h"

#include "ChCoord.h"
#include "WholeFile.h"

#include <QBuffer>
#include <QDebug>
#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>

#include <limits>

ImgDisp::ImgDisp(QWidget *parent)
    : DispAWLayout(parent)
    , mouse(&dispB()->m)
    , coord(&dispB()->cc)
{
    connect(this, &DispAWLayout::wheelMoved0, this, &ImgDisp::onWheelMoved);
    connect(this, &DispAWLayout::mouseMoved0, this, &ImgDisp::onMouseMoved);
    connect(this, &DispAWLayout::mousePressed0, this, &ImgDisp::onMousePressed);
    connect(this, &DispAWLayout::mouseReleased0, this, &ImgDisp::onMouseReleased);
    connect(this, &DispAWLayout::drawImage1, this, &ImgDisp::draw);
}

// Brings the mapping in line with `s` and the canvas size before a mouse event is read:
// a pan changes `s` only, and the canvas may not have been painted since a resize.
// Image rows grow downward on the screen.
void ImgDisp::syncCoord()
{
    const DispB *d = dispB();
    coord->setScreen(0, d->height(), d->width(), 0);
    coord->setReal(s.x(), s.y() + s.height(), s.x() + s.width(), s.y());
}

namespace {

// Image pixel of a real coordinate. A view zoomed far out reaches coordinates beyond int;
// those are held at the ends of the range instead of overflowing the conversion.
int pixelOf(double v)
{
    if (!(v > std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    if (!(v < std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return static_cast<int>(v);
}

} // namespace

QPointF ImgDisp::realPos(QPoint p) const
{
    return QPointF(coord->toRx(p.x()), coord->toRy(p.y()));
}

void ImgDisp::newImage()
{
    if (img.width() > 0 && img.height() > 0 && !scaleSet) {
        s = QRectF(0, 0, img.width(), img.height());
        coord->setReal(0, img.height(), img.width(), 0);
        scaleSet = true;
        emit newS(s);
    }
    dispB()->update();
}

void ImgDisp::resetScale()
{
    s = QRectF(0, 0, img.width(), img.height());
    coord->setReal(0, img.height(), img.width(), 0);
    // Without a picture the view collapses to nothing; the next picture must then set the
    // view afresh instead of being shown through the empty rectangle.
    if (s.isEmpty())
        scaleSet = false;
    dispB()->update();
}

void ImgDisp::onWheelMoved()
{
    const DispB *d = dispB();
    const double w = d->width();
    const double h = d->height();
    if (w <= 0 || h <= 0)
        return;
    syncCoord();
    const QPoint m = d->wheelPos;
    const double cx = coord->toRx(m.x());
    const double cy = coord->toRy(m.y());
    const double nw = s.width() * d->wheelFactor;
    const double nh = s.height() * d->wheelFactor;
    s = QRectF(cx - m.x() / w * nw, cy - m.y() / h * nh, nw, nh);
    syncCoord();
    emit newS(s);
    dispB()->update();
}

void ImgDisp::onMouseMoved()
{
    syncCoord();
    const QPointF p = realPos(mouse->pos);
    emit newPos(pixelOf(p.x()), pixelOf(p.y()));
    if (mouse->pressed && mouse->pressLeft) {
        const MouseC::MStat st = mouse->pressStat();
        if (st == MouseC::LeftShift && selecting) {
            sel.setWidth(p.x() - sel.x());
            sel.setHeight(p.y() - sel.y());
        } else if (st == MouseC::Left) {
            s.translate(realPos(mouse->prevPos) - p);
            emit newS(s);
        }
    }
    dispB()->update();
}

void ImgDisp::onMousePressed()
{
    syncCoord();
    const MouseC::MStat st = mouse->pressStat();
    if (st == MouseC::LeftShift) {
        selecting = true;
        sel = QRectF(realPos(mouse->pos), QSizeF(0, 0));
    } else if (st == MouseC::RightShift) {
        // A cleared selection is no longer a valid one.
        selecting = false;
        selValid = false;
        sel = QRectF();
    }
    dispB()->update();
}

void ImgDisp::onMouseReleased()
{
    syncCoord();
    const MouseC::MStat st = mouse->pressStat();
    if (st == MouseC::LeftShift && selecting) {
        selecting = false;
        if (sel.width() != 0 && sel.height() != 0) {
            sel = sel.normalized();
            selValid = true;
        }
    }
    if (st == MouseC::Left || st == MouseC::Right) {
        const QPointF p = realPos(mouse->pos);
        emit selectedAPoint(p.x(), p.y(), st);
    }
    dispB()->update();
}

void ImgDisp::draw(QPainter *p)
{
    const DispB *d = dispB();
    if (s.width() == 0 || s.height() == 0)
        return;
    if (!img.isNull())
        p->drawImage(QRectF(0, 0, d->width(), d->height()), img, s);
    if (selecting || selValid) {
        // The selection is shown as an outline so the user sees what a Shift drag picks.
        const double sx = d->width() / s.width();
        const double sy = d->height() / s.height();
        const QRectF r(
            (sel.x() - s.x()) * sx, (sel.y() - s.y()) * sy, sel.width() * sx, sel.height() * sy);
        p->save();
        p->setPen(QPen(QColor(255, 0, 0), 1, Qt::DashLine));
        p->setBrush(Qt::NoBrush);
        p->drawRect(r.normalized());
        p->restore();
    }
}

bool ImgDisp::saveImage(QString fname)
{
    // Only the part of the picture inside the view is written: a view zoomed out beyond the
    // picture would otherwise ask for an empty margin of any size around it.
    const QRect r = QRect(pixelOf(s.x()), pixelOf(s.y()), pixelOf(s.width()), pixelOf(s.height()))
                        .intersected(img.rect());
    // Encoded in memory first and written as a whole, so no half picture is left behind.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, QFileInfo(fname).suffix().toLatin1());
    if (r.isEmpty() || !writer.write(img.copy(r))) {
        qDebug().noquote() << "Cannot save the image" << fname;
        return false;
    }
    return saveWholeFile(fname, bytes);
}
