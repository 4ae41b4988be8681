#pragma once

#include "ChCoord.h"
#include "MouseC.h"

#include <QEnterEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

// A label that records the mouse like a canvas and lets its owner draw over the label's
// own contents.
class ExLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ExLabel(QWidget *parent = nullptr);

    MouseC m;
    ChCoord cc;

signals:
    void draw(QPainter *p);

public slots:
    void setText(QString txt);

protected slots:
    void mouseMoveEvent(QMouseEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void wheelEvent(QWheelEvent *e) override;
    void enterEvent(QEnterEvent *e) override;
    void leaveEvent(QEvent *e) override;
    void paintEvent(QPaintEvent *e) override;
};
