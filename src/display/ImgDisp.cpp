#include "ImgDisp.h"

#include "ChCoord.h"
#include "WholeFile.h"

#include <QApplication>
#include <QBuffer>
#include <QDebug>
#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>

#include <algorithm>
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
    const QRectF v = shownRect();
    coord->setScreen(0, d->height(), d->width(), 0);
    coord->setReal(v.x(), v.y() + v.height(), v.x() + v.width(), v.y());
}

QRectF ImgDisp::shownRect() const
{
    const DispB *d = dispB();
    const double w = d->width();
    const double h = d->height();
    if (w <= 0 || h <= 0 || !(s.width() > 0) || !(s.height() > 0))
        return s;
    // Image units per screen pixel, the same across and down.
    const double k = std::max(s.width() / w, s.height() / h);
    const QPointF c = s.center();
    return QRectF(c.x() - k * w / 2, c.y() - k * h / 2, k * w, k * h);
}

void ImgDisp::setWholeView()
{
    s = QRectF(0, 0, img.width(), img.height());
    viewedSize = img.size();
    syncCoord();
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
    // A zoom into a picture of one size means nothing for a picture of another size (a
    // zoom into a 256-wide sinogram shows a black corner of a 1024-wide one).
    // A view set by the owner before any picture was shown stays.
    const bool hasPicture = img.width() > 0 && img.height() > 0;
    const bool otherSize = scaleSet && !viewedSize.isEmpty() && img.size() != viewedSize;
    if (hasPicture && (!scaleSet || otherSize)) {
        setWholeView();
        scaleSet = true;
        emit newS(s);
    } else if (hasPicture) {
        viewedSize = img.size();
    }
    dispB()->update();
    emit pictureChanged();
}

void ImgDisp::clearProfileLine()
{
    const bool had = profileValid || drawingProfile;
    drawingProfile = false;
    profileValid = false;
    profileLine = QLineF();
    dispB()->update();
    if (had)
        emit profileLineCleared();
}

void ImgDisp::resetScale()
{
    setWholeView();
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
    // Scaling `s` about the pointed point scales the widened view about it too.
    const double f = d->wheelFactor;
    s = QRectF(cx + (s.x() - cx) * f, cy + (s.y() - cy) * f, s.width() * f, s.height() * f);
    syncCoord();
    emit newS(s);
    dispB()->update();
}

void ImgDisp::onMouseMoved()
{
    syncCoord();
    const QPointF p = realPos(mouse->pos);
    emit newPos(pixelOf(p.x()), pixelOf(p.y()));
    if (mouse->pressed
        && (mouse->pos - mouse->pressPos).manhattanLength() >= QApplication::startDragDistance())
        dragged = true;
    if (mouse->pressed && mouse->pressLeft) {
        const MouseC::MStat st = mouse->pressStat();
        if (st == MouseC::LeftShift && selecting) {
            sel.setWidth(p.x() - sel.x());
            sel.setHeight(p.y() - sel.y());
        } else if (st == MouseC::LeftCtrl && drawingProfile) {
            profileLine.setP2(p);
            profileValid = true;
            emit profileLineChanged(profileLine);
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
    dragged = false;
    const MouseC::MStat st = mouse->pressStat();
    if (st == MouseC::LeftShift) {
        selecting = true;
        sel = QRectF(realPos(mouse->pos), QSizeF(0, 0));
    } else if (st == MouseC::RightShift) {
        // A cleared selection is no longer a valid one.
        const bool had = selValid;
        selecting = false;
        selValid = false;
        sel = QRectF();
        if (had)
            emit selectionCleared();
    } else if (st == MouseC::LeftCtrl && profileEnabled) {
        drawingProfile = true;
        const QPointF p = realPos(mouse->pos);
        profileLine = QLineF(p, p);
    } else if (st == MouseC::RightCtrl && profileEnabled) {
        clearProfileLine();
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
    if (st == MouseC::LeftCtrl && drawingProfile) {
        drawingProfile = false;
        profileLine.setP2(realPos(mouse->pos));
        // A Ctrl click without a drag draws no line.
        if (profileLine.length() > 0) {
            profileValid = true;
            emit profileLineChanged(profileLine);
        } else if (profileValid) {
            clearProfileLine();
        }
    }
    // A drag pans the view: only a click, which stays where it was pressed, picks a point.
    const bool click = !dragged
        && (mouse->releasePos - mouse->pressPos).manhattanLength()
            < QApplication::startDragDistance();
    if (click && (st == MouseC::Left || st == MouseC::Right)) {
        const QPointF p = realPos(mouse->pos);
        emit selectedAPoint(p.x(), p.y(), st);
    }
    dispB()->update();
}

void ImgDisp::draw(QPainter *p)
{
    const DispB *d = dispB();
    if (s.width() == 0 || s.height() == 0 || d->width() <= 0 || d->height() <= 0)
        return;
    const QRectF v = shownRect();
    const double k = v.width() / d->width();
    auto toScreen = [&](const QRectF &r) {
        return QRectF((r.x() - v.x()) / k, (r.y() - v.y()) / k, r.width() / k, r.height() / k);
    };
    if (!img.isNull()) {
        // Only the part of the picture inside the view is drawn; the rest of the canvas
        // keeps its background.
        const QRectF src = v.intersected(QRectF(img.rect()));
        if (!src.isEmpty())
            p->drawImage(toScreen(src), img, src);
    }
    if (drawSelection && (selecting || selValid)) {
        // The selection is shown as an outline so the user sees what a Shift drag picks.
        const QRectF r = toScreen(sel);
        p->save();
        p->setPen(QPen(QColor(255, 0, 0), 1, Qt::DashLine));
        p->setBrush(Qt::NoBrush);
        p->drawRect(r.normalized());
        p->restore();
    }
    if (profileValid) {
        const QPointF a((profileLine.x1() - v.x()) / k, (profileLine.y1() - v.y()) / k);
        const QPointF b((profileLine.x2() - v.x()) / k, (profileLine.y2() - v.y()) / k);
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        p->setPen(QPen(QColor(0, 200, 0), 1.5));
        p->drawLine(a, b);
        // The start is marked, so the plot's distance 0 is seen on the picture.
        p->setBrush(QColor(0, 200, 0));
        p->drawEllipse(a, 3, 3);
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
