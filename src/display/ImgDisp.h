#pragma once

#include "DispAWLayout.h"
#include "MouseC.h"

#include <QImage>
#include <QLineF>
#include <QRectF>
#include <QString>

class ChCoord;

// Shows the part `s` of a picture on its canvas with square pixels: `s` is widened in one
// direction to the canvas's shape and the margin keeps the background colour. The wheel
// zooms about the pointer, a left drag pans, a Shift left drag selects a rectangle and a
// plain click (a press and release without a drag between) announces the image position. The view
// survives a new picture of the same size; a picture of another size is shown whole.
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
    // Off where the owner draws the selection itself, so it is not drawn twice.
    bool drawSelection = true;
    // The profile line drawn with a Ctrl left drag (image coordinates), shown until cleared.
    QLineF profileLine;
    bool profileValid = false;
    // Whether a Ctrl left drag draws a profile line (off where nothing plots it).
    bool profileEnabled = false;

    // A Ctrl left drag is drawing the profile line now.
    bool drawingProfileLine() const { return drawingProfile; }

    // The image rectangle that fills the canvas: `s` widened to the canvas's shape about
    // its centre (`s` itself before the canvas has a size).
    QRectF shownRect() const;

signals:
    void newPos(int ix, int iy);
    void newS(QRectF s);
    void selectedAPoint(double x, double y, MouseC::MStat s);
    // A complete selection was removed (Shift right click).
    void selectionCleared();
    // The profile line was drawn or moved (while dragging too), or removed (Ctrl right click).
    void profileLineChanged(QLineF line);
    void profileLineCleared();
    // newImage() was told of a new picture.
    void pictureChanged();

public slots:
    void onWheelMoved();
    void onMouseMoved();
    void onMousePressed();
    void onMouseReleased();
    void draw(QPainter *p);
    void newImage();
    void resetScale();
    void clearProfileLine();
    bool saveImage(QString fname);

private:
    void setWholeView();
    void syncCoord();
    QPointF realPos(QPoint p) const;

    // The pointer has moved away from where the button was pressed: the release ends a drag,
    // not a click.
    bool dragged = false;
    bool drawingProfile = false;
    // Size of the picture the view was last set for.
    QSize viewedSize;
};
