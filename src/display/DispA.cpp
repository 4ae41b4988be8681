#include "DispA.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

DispA::DispA(QWidget *parent)
    : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setMouseTracking(true);
    cc.setMouse(&m);
}

void DispA::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), bgColor);
    cc.setScreen(0, height() - 1, width() - 1, 0);
    emit drawImage0(&p);
    emit drawImage1(&p);
    emit drawImage2(&p);
    drawFrame(&p);
}

void DispA::mouseMoveEvent(QMouseEvent *e)
{
    // Holding Alt freezes the recorded position, so the owner can move the pointer away
    // from a spot without losing it; the next button event releases the freeze.
    if (m.lastMods & Qt::AltModifier)
        return;
    m.recordMove(e);
    update();
}

void DispA::mousePressEvent(QMouseEvent *e)
{
    m.recordPress(e);
    update();
}

void DispA::mouseReleaseEvent(QMouseEvent *e)
{
    m.recordRelease(e);
    update();
}

void DispA::mouseDoubleClickEvent(QMouseEvent *e)
{
    m.recordDClick(e);
    update();
}

void DispA::wheelEvent(QWheelEvent *e)
{
    m.recordWheel(e);
    update();
}

void DispA::enterEvent(QEnterEvent *)
{
    m.recordEnter();
    update();
}

void DispA::leaveEvent(QEvent *)
{
    m.recordLeave();
    update();
}
