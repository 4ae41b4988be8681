#pragma once

#include "ChCoord.h"
#include "MouseC.h"

#include <QColor>
#include <QFrame>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

// Canvas whose coordinate mapper follows the mouse by itself: panning, rectangle zoom and
// wheel zoom change the real ranges without the owner's help. It draws nothing of its
// own; owners paint on the three hooks.
class DispA : public QFrame
{
    Q_OBJECT
public:
    explicit DispA(QWidget *parent = nullptr);

    MouseC m;
    ChCoord cc;
    QColor bgColor = QColor(255, 255, 255);

signals:
    void drawImage0(QPainter *p);
    void drawImage1(QPainter *p);
    void drawImage2(QPainter *p);

protected slots:
    void paintEvent(QPaintEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void wheelEvent(QWheelEvent *e) override;
    void enterEvent(QEnterEvent *e) override;
    void leaveEvent(QEvent *e) override;
};
