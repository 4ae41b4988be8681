#pragma once

#include "DispB.h"
#include "DrawText.h"
#include "GreyLevelMap.h"

#include <QPainter>
#include <QPointer>

#include <memory>

namespace Ui {
class CBarUI;
}

// The grey ramp every picture made from numbers goes through: a value range (typed or set
// by the program) and two cuts dragged on the bar decide the grey level of any value.
// Its settings form ("CBarUIBase") is a separate frame that the owner places.
class ColorBar : public DispB
{
    Q_OBJECT
public:
    enum DragTarget { DragNone, DragLo, DragHi };

    explicit ColorBar(QWidget *parent = nullptr);
    ~ColorBar() override;

    int level(double v) const { return greyMap().level(v); }
    GreyLevelMap greyMap() const { return GreyLevelMap { vMin, vMax, lo, hi }; }
    bool fixedScale() const;
    void setMinV(double x);
    void setMaxV(double x);

    // The settings frame "CBarUIBase"; the owner puts it into its own layout.
    QFrame *uiBase() const { return base; }

    double vMin = 0;
    double vMax = 1;
    double lo = 0;
    double hi = 1;
    bool dragging = false;
    DragTarget dragTarget = DragNone;
    DrawText dt;

signals:
    void newBar();

public slots:
    void draw1(QPainter *p);
    void onMouseMoved();
    void onMousePressed();
    void onMouseReleased();
    void minVEdited();
    void maxVEdited();
    void setFixColorScale(bool f);

private:
    std::unique_ptr<Ui::CBarUI> ui;
    QPointer<QFrame> base;
};
