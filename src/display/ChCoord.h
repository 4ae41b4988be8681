#pragma once

#include "MouseC.h"

#include <QObject>
#include <QPointer>

// Linear mapping between screen coordinates (widget pixels) and real coordinates (image
// pixels or data units). Ranges are ordered pairs, not minimum and maximum, so a range
// may run backwards (screen Y normally does). When attached to a MouseC it pans, zooms
// to a right-dragged rectangle and zooms with the wheel by itself.
class ChCoord : public QObject
{
    Q_OBJECT
public:
    explicit ChCoord(QObject *parent = nullptr);

    void setMouse(MouseC *m);

    void setScreen(double x0, double y0, double x1, double y1);
    void setReal(double x0, double y0, double x1, double y1);
    void setRealX(double x0, double x1);
    void setRealY(double y0, double y1);

    // While the source range of a mapping has zero length (for example right after
    // clearScale) the mappings return the first bound of the target range and the
    // length mappings 0, instead of dividing by zero.
    double toSx(double x) const { return ratio(sx1 - sx0, rx1 - rx0) * (x - rx0) + sx0; }
    double toSy(double y) const { return ratio(sy1 - sy0, ry1 - ry0) * (y - ry0) + sy0; }
    double toSdx(double d) const { return ratio(sx1 - sx0, rx1 - rx0) * d; }
    double toSdy(double d) const { return ratio(sy1 - sy0, ry1 - ry0) * d; }
    double toRx(double x) const { return ratio(rx1 - rx0, sx1 - sx0) * (x - sx0) + rx0; }
    double toRy(double y) const { return ratio(ry1 - ry0, sy1 - sy0) * (y - sy0) + ry0; }
    double toRxIn(double x) const;
    double toRyIn(double y) const;
    double toRdx(double d) const { return ratio(rx1 - rx0, sx1 - sx0) * d; }
    double toRdy(double d) const { return ratio(ry1 - ry0, sy1 - sy0) * d; }

    QPointer<MouseC> mouse;
    bool wheelZoom = true;
    MouseC::MStat panStat = MouseC::LeftShift;
    bool xFixed = false;
    bool yFixed = false;
    double sx0 = 0, sx1 = 1, sy0 = 0, sy1 = 1;
    double rx0 = 0, rx1 = 1, ry0 = 0, ry1 = 1;

signals:
    void updated();
    void nowPos(double x, double y);
    void newVLines();

public slots:
    void clearScale();
    void mMoved();
    void mPressed();
    void mReleased();
    void mDClicked();
    void wheelMoved(int step);

private:
    static double ratio(double num, double den) { return den == 0 ? 0.0 : num / den; }
};
