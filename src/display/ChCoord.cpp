#include "ChCoord.h"

#include <algorithm>
#include <cmath>

namespace {

double clampBetween(double v, double a, double b)
{
    return std::clamp(v, std::min(a, b), std::max(a, b));
}

// The pointer counts as near an edge within a tenth of the range, or outside it.
bool nearEdge(double p, double a, double b)
{
    const double lo = std::min(a, b);
    const double hi = std::max(a, b);
    const double margin = 0.1 * (hi - lo);
    return p <= lo + margin || p >= hi - margin;
}

} // namespace

ChCoord::ChCoord(QObject *parent)
    : QObject(parent)
{ }

void ChCoord::setMouse(MouseC *m)
{
    if (mouse) {
        disconnect(mouse, &MouseC::mMoved, this, &ChCoord::mMoved);
        disconnect(mouse, &MouseC::mPressed, this, &ChCoord::mPressed);
        disconnect(mouse, &MouseC::mReleased, this, &ChCoord::mReleased);
        disconnect(mouse, &MouseC::mDClicked, this, &ChCoord::mDClicked);
        disconnect(mouse, &MouseC::wMoved, this, &ChCoord::wheelMoved);
    }
    mouse = m;
    if (!m)
        return;
    connect(m, &MouseC::mMoved, this, &ChCoord::mMoved);
    connect(m, &MouseC::mPressed, this, &ChCoord::mPressed);
    connect(m, &MouseC::mReleased, this, &ChCoord::mReleased);
    connect(m, &MouseC::mDClicked, this, &ChCoord::mDClicked);
    connect(m, &MouseC::wMoved, this, &ChCoord::wheelMoved);
}

void ChCoord::setScreen(double x0, double y0, double x1, double y1)
{
    sx0 = x0;
    sy0 = y0;
    sx1 = x1;
    sy1 = y1;
}

void ChCoord::setReal(double x0, double y0, double x1, double y1)
{
    setRealX(x0, x1);
    setRealY(y0, y1);
}

void ChCoord::setRealX(double x0, double x1)
{
    rx0 = x0;
    rx1 = x1;
    xFixed = true;
}

void ChCoord::setRealY(double y0, double y1)
{
    ry0 = y0;
    ry1 = y1;
    yFixed = true;
}

double ChCoord::toRxIn(double x) const
{
    return clampBetween(toRx(x), rx0, rx1);
}

double ChCoord::toRyIn(double y) const
{
    return clampBetween(toRy(y), ry0, ry1);
}

void ChCoord::clearScale()
{
    xFixed = yFixed = false;
    rx0 = rx1 = ry0 = ry1 = 0;
}

void ChCoord::mMoved()
{
    if (!mouse)
        return;
    const QPoint p = mouse->pos;
    emit nowPos(toRx(p.x()), toRy(p.y()));
    if (mouse->pressed && mouse->pressStat() == panStat) {
        const QPoint q = mouse->prevPos;
        const double dx = toRx(q.x()) - toRx(p.x());
        const double dy = toRy(q.y()) - toRy(p.y());
        rx0 += dx;
        rx1 += dx;
        ry0 += dy;
        ry1 += dy;
        emit updated();
    }
}

void ChCoord::mPressed()
{
    if (mouse)
        emit updated();
}

void ChCoord::mDClicked()
{
    if (mouse)
        emit updated();
}

void ChCoord::mReleased()
{
    if (!mouse)
        return;
    const QPoint a = mouse->pressPos;
    const QPoint b = mouse->releasePos;
    // A right click without a drag would collapse the view to a single point, after which
    // nothing could be mapped any more; only a real rectangle zooms.
    if (mouse->pressStat() == MouseC::Right && a.x() != b.x() && a.y() != b.y()) {
        const double nx0 = toRx(std::min(a.x(), b.x()));
        const double nx1 = toRx(std::max(a.x(), b.x()));
        // Screen y grows downward: the larger screen y is the lower corner.
        const double ny0 = toRy(std::max(a.y(), b.y()));
        const double ny1 = toRy(std::min(a.y(), b.y()));
        setReal(nx0, ny0, nx1, ny1);
    }
    emit updated();
}

void ChCoord::wheelMoved(int step)
{
    if (!wheelZoom || !mouse)
        return;
    const double f = step < 0 ? 1.1 : 1 / 1.1;
    const QPoint p = mouse->pos;
    const bool nearX = nearEdge(p.x(), sx0, sx1);
    const bool nearY = nearEdge(p.y(), sy0, sy1);
    const double cx = toRx(p.x());
    const double cy = toRy(p.y());
    if (!(nearX && !nearY)) {
        rx0 = cx + (rx0 - cx) * f;
        rx1 = cx + (rx1 - cx) * f;
        xFixed = true;
    }
    if (!(nearY && !nearX)) {
        ry0 = cy + (ry0 - cy) * f;
        ry1 = cy + (ry1 - cy) * f;
        yFixed = true;
    }
    emit updated();
}
