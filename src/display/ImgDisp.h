#pragma once

#include "DispAWLayout.h"
#include "MouseC.h"

#include <QImage>
#include <QRectF>
#include <QString>

class ChCoord;

// Shows the part `s` of a picture stretched over its canvas. The wheel zooms about the
// pointer, a left drag pans, a Shift left drag selects a rectangle and a plain click
// announces the image position. The view survives a change of picture.
class ImgDisp : public DispAWLayout
{
    Q_OBJECT
public:
    explicit ImgDisp(QWidget *parent = nullptr);

    MouseC *mouse;
    ChCoord *coord;
    QImage img;
    QRectF s;
    bool scaleSet = false;
    bool selecting = false;
    bool selValid = false;
    QRectF sel;

signals:
    void newPos(int ix, int iy);
    void newS(QRectF s);
    void selectedAPoint(double x, double y, MouseC::MStat s);

public slots:
    void onWheelMoved();
    void onMouseMoved();
    void onMousePressed();
    void onMouseReleased();
    void draw(QPainter *p);
    void newImage();
    void resetScale();
    bool saveImage(QString fname);

private:
    void syncCoord();
    QPointF realPos(QPoint p) const;
};
