#include "DispB.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

DispB::DispB(QWidget *parent)
    : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setMouseTracking(true);
}

void DispB::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    // Full width and height: the picture is stretched over [0, w] x [0, h].
    cc.setScreen(0, height(), width(), 0);
    emit drawImage0(&p);
    emit drawImage1(&p);
    emit drawImage2(&p);
    drawFrame(&p);
}

void DispB::mouseMoveEvent(QMouseEvent *e)
{
    if (e->modifiers() & Qt::AltModifier)
        return;
    m.recordMove(e);
    emit mouseMoved0();
    update();
}

void DispB::mousePressEvent(QMouseEvent *e)
{
    m.recordPress(e);
    emit mousePressed0();
}

void DispB::mouseReleaseEvent(QMouseEvent *e)
{
    m.recordRelease(e);
    emit mouseReleased0();
}

void DispB::mouseDoubleClickEvent(QMouseEvent *e)
{
    m.recordDClick(e);
    emit mouseDoubleClicked0();
}

void DispB::wheelEvent(QWheelEvent *e)
{
    wheelStep = e->angleDelta().y() * 0.125 / 15;
    wheelFactor = wheelStep < 0 ? 1.1 : 1 / 1.1;
    const QPointF p = e->position();
    wheelPos = QPoint(static_cast<int>(p.x()), static_cast<int>(p.y()));
    emit wheelMoved0();
}
