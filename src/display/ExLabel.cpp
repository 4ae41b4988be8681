#include "ExLabel.h"

ExLabel::ExLabel(QWidget *parent)
    : QLabel(parent)
{
    setMouseTracking(true);
}

void ExLabel::setText(QString txt)
{
    QLabel::setText(txt);
}

void ExLabel::mouseMoveEvent(QMouseEvent *e)
{
    m.recordMove(e);
    update();
    QLabel::mouseMoveEvent(e);
}

void ExLabel::mousePressEvent(QMouseEvent *e)
{
    m.recordPress(e);
    update();
    QLabel::mousePressEvent(e);
}

void ExLabel::mouseReleaseEvent(QMouseEvent *e)
{
    m.recordRelease(e);
    update();
    QLabel::mouseReleaseEvent(e);
}

void ExLabel::mouseDoubleClickEvent(QMouseEvent *e)
{
    m.recordDClick(e);
    update();
    QLabel::mouseDoubleClickEvent(e);
}

void ExLabel::wheelEvent(QWheelEvent *e)
{
    m.recordWheel(e);
    update();
    QLabel::wheelEvent(e);
}

void ExLabel::enterEvent(QEnterEvent *e)
{
    m.recordEnter();
    update();
    QLabel::enterEvent(e);
}

void ExLabel::leaveEvent(QEvent *e)
{
    m.recordLeave();
    update();
    QLabel::leaveEvent(e);
}

void ExLabel::paintEvent(QPaintEvent *e)
{
    QLabel::paintEvent(e);
    QPainter p(this);
    cc.setScreen(0, height(), width(), 0);
    emit draw(&p);
}
