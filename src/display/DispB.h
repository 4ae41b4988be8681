#pragma once

#include "ChCoord.h"
#include "MouseC.h"

#include <QFrame>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPoint>
#include <QWheelEvent>

// Canvas with a passive coordinate mapper: the owner sets the real ranges and reacts to
// the re-announced mouse signals itself.
class DispB : public QFrame
{
    Q_OBJECT
public:
    explicit DispB(QWidget *parent = nullptr);

    MouseC m;
    ChCoord cc;
    // Of the last wheel event: the step in notches, the zoom factor it asks for (1.1 when
    // zooming out) and where the pointer was.
    double wheelStep = 0;
    double wheelFactor = 1;
    QPoint wheelPos;

signals:
    void drawImage0(QPainter *p);
    void drawImage1(QPainter *p);
    void drawImage2(QPainter *p);
    void mouseMoved0();
    void mousePressed0();
    void mouseReleased0();
    void mouseDoubleClicked0();
    void wheelMoved0();

protected slots:
    void paintEvent(QPaintEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void wheelEvent(QWheelEvent *e) override;
};
