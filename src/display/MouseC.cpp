#include "MouseC.h"

#include <QMouseEvent>
#include <QWheelEvent>

namespace {

constexpr int tested = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;

QPoint truncated(const QPointF &p)
{
    return QPoint(static_cast<int>(p.x()), static_cast<int>(p.y()));
}

bool onlyMod(int mods, int mod)
{
    return (mods & tested) == mod;
}

} // namespace

MouseC::MouseC(QObject *parent)
    : QObject(parent)
{ }

MouseC::MStat MouseC::stat(int button, int mods)
{
    int base;
    if (button == Qt::LeftButton)
        base = Left;
    else if (button == Qt::RightButton)
        base = Right;
    else
        return Other;

    const bool s = mods & Qt::ShiftModifier;
    const bool c = mods & Qt::ControlModifier;
    const bool a = mods & Qt::AltModifier;
    int combo;
    if (s && c && a)
        combo = 7;
    else if (c && a)
        combo = 6;
    else if (s && a)
        combo = 5;
    else if (s && c)
        combo = 4;
    else if (a)
        combo = 3;
    else if (c)
        combo = 2;
    else if (s)
        combo = 1;
    else
        combo = 0;
    return static_cast<MStat>(base + combo);
}

MouseC::MStat MouseC::pressStat() const
{
    return stat(pressButton, pressMods);
}

void MouseC::recordMove(const QMouseEvent *e)
{
    prevPos = pos;
    pos = truncated(e->position());
    lastButton = e->button();
    lastMods = e->modifiers().toInt();
    moveShiftOnly = onlyMod(lastMods, Qt::ShiftModifier);
    moveCtrlOnly = onlyMod(lastMods, Qt::ControlModifier);
    moveAltOnly = onlyMod(lastMods, Qt::AltModifier);
    emit mMoved();
}

void MouseC::recordPress(const QMouseEvent *e)
{
    prevPos = pos;
    pos = pressPos = truncated(e->position());
    lastButton = pressButton = e->button();
    lastMods = pressMods = e->modifiers().toInt();
    pressed = true;
    pressLeft = pressButton == Qt::LeftButton;
    pressRight = pressButton == Qt::RightButton;
    pressShiftOnly = onlyMod(pressMods, Qt::ShiftModifier);
    pressCtrlOnly = onlyMod(pressMods, Qt::ControlModifier);
    pressAltOnly = onlyMod(pressMods, Qt::AltModifier);
    emit mPressed();
}

void MouseC::recordRelease(const QMouseEvent *e)
{
    prevPos = pos;
    pos = releasePos = truncated(e->position());
    pressed = pressLeft = pressRight = false;
    lastButton = releaseButton = e->button();
    lastMods = releaseMods = e->modifiers().toInt();
    emit mReleased();
}

void MouseC::recordDClick(const QMouseEvent *e)
{
    // A double click arrives between a press and a release at the same place; moving
    // pos here would make the following release look like a drag.
    dClickPos = truncated(e->position());
    lastButton = dClickButton = e->button();
    lastMods = dClickMods = e->modifiers().toInt();
    emit mDClicked();
}

int MouseC::wheelStepOf(const QWheelEvent *e)
{
    return static_cast<int>(e->angleDelta().y() * 0.125 / 15);
}

void MouseC::recordWheel(const QWheelEvent *e)
{
    emit wMoved(wheelStepOf(e));
}

void MouseC::recordEnter()
{
    inside = true;
    emit mEntered();
    emit mEnterLeave(true);
}

void MouseC::recordLeave()
{
    inside = false;
    emit mLeaved();
    emit mEnterLeave(false);
}
