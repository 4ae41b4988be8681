#pragma once

#include <QObject>
#include <QPoint>

class QMouseEvent;
class QWheelEvent;

// Records what the mouse did last on a canvas so that the owner, connected to the
// parameterless signals, can read positions, buttons and modifiers afterwards.
class MouseC : public QObject
{
    Q_OBJECT
public:
    // A button together with its modifier combination; the right-button values are the
    // left-button ones plus 8.
    enum MStat {
        Left = 0,
        LeftShift,
        LeftCtrl,
        LeftAlt,
        LeftShiftCtrl,
        LeftShiftAlt,
        LeftCtrlAlt,
        LeftShiftCtrlAlt,
        Right,
        RightShift,
        RightCtrl,
        RightAlt,
        RightShiftCtrl,
        RightShiftAlt,
        RightCtrlAlt,
        RightShiftCtrlAlt,
        Other
    };
    Q_ENUM(MStat)

    explicit MouseC(QObject *parent = nullptr);

    // Press state of the last press: button and the Shift/Control/Alt combination.
    MStat pressStat() const;
    static MStat stat(int button, int mods);

    void recordMove(const QMouseEvent *e);
    void recordPress(const QMouseEvent *e);
    void recordRelease(const QMouseEvent *e);
    void recordDClick(const QMouseEvent *e);
    // One notch (angle delta 120) gives a step of 1; smaller deltas truncate to 0.
    void recordWheel(const QWheelEvent *e);
    void recordEnter();
    void recordLeave();

    // Whole-pixel step of a wheel event as the canvases count it.
    static int wheelStepOf(const QWheelEvent *e);

    QPoint prevPos;
    QPoint pos;
    QPoint pressPos;
    QPoint releasePos;
    QPoint dClickPos;
    bool pressed = false;
    bool pressLeft = false;
    bool pressRight = false;
    bool pressShiftOnly = false;
    bool pressCtrlOnly = false;
    bool pressAltOnly = false;
    bool moveShiftOnly = false;
    bool moveCtrlOnly = false;
    bool moveAltOnly = false;
    int lastButton = 0;
    int pressButton = 0;
    int releaseButton = 0;
    int dClickButton = 0;
    int lastMods = 0;
    int pressMods = 0;
    int releaseMods = 0;
    int dClickMods = 0;
    bool inside = false;

signals:
    void mMoved();
    void mPressed();
    void mReleased();
    void mDClicked();
    void wMoved(int step);
    void mEntered();
    void mLeaved();
    void mEnterLeave(bool f);
};
