#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

// Real input events delivered synchronously to a widget, with the modifiers held, as the
// window system would deliver them.
namespace disptest {

inline void mouse(QWidget *w, QEvent::Type type, QPoint p, Qt::MouseButton button,
    Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    Qt::MouseButtons held = Qt::NoButton;
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick)
        held = button;
    QMouseEvent e(type, QPointF(p), QPointF(w->mapToGlobal(p)), button, held, mods);
    QApplication::sendEvent(w, &e);
}

inline void press(QWidget *w, QPoint p, Qt::MouseButton b, Qt::KeyboardModifiers m = {})
{
    mouse(w, QEvent::MouseButtonPress, p, b, m);
}

inline void release(QWidget *w, QPoint p, Qt::MouseButton b, Qt::KeyboardModifiers m = {})
{
    mouse(w, QEvent::MouseButtonRelease, p, b, m);
}

inline void dclick(QWidget *w, QPoint p, Qt::MouseButton b, Qt::KeyboardModifiers m = {})
{
    mouse(w, QEvent::MouseButtonDblClick, p, b, m);
}

inline void move(QWidget *w, QPoint p, Qt::KeyboardModifiers m = {})
{
    mouse(w, QEvent::MouseMove, p, Qt::NoButton, m);
}

// A drag: press, one move per intermediate point, release at the last point.
inline void drag(
    QWidget *w, const QList<QPoint> &pts, Qt::MouseButton b, Qt::KeyboardModifiers m = {})
{
    press(w, pts.first(), b, m);
    for (qsizetype i = 1; i < pts.size(); ++i)
        move(w, pts.at(i), m);
    release(w, pts.last(), b, m);
}

// angleDelta 120 is one notch away from the user.
inline void wheel(QWidget *w, QPoint p, int angleDelta, Qt::KeyboardModifiers m = {})
{
    QWheelEvent e(QPointF(p), QPointF(w->mapToGlobal(p)), QPoint(), QPoint(0, angleDelta),
        Qt::NoButton, m, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

} // namespace disptest
