#include "ColorBar.h"

#include "FieldText.h"
#include "ui_CBarUI.h"

#include <QPainter>

#include <cmath>

ColorBar::ColorBar(QWidget *parent)
    : DispB(parent)
    , ui(std::make_unique<Ui::CBarUI>())
    , base(new QFrame)
{
    ui->setupUi(base);
    connect(this, &DispB::drawImage1, this, &ColorBar::draw1);
    connect(this, &DispB::mouseMoved0, this, &ColorBar::onMouseMoved);
    connect(this, &DispB::mousePressed0, this, &ColorBar::onMousePressed);
    connect(this, &DispB::mouseReleased0, this, &ColorBar::onMouseReleased);
    connect(ui->CMinLE, &QLineEdit::editingFinished, this, &ColorBar::minVEdited);
    connect(ui->CMaxLE, &QLineEdit::editingFinished, this, &ColorBar::maxVEdited);
    showFieldTextsFromStart(base);
    setMinV(0);
    setMaxV(1);
}

ColorBar::~ColorBar()
{
    // The settings frame is useless without its bar; it may already be gone with the
    // owner's layout, which the guarded pointer notices.
    delete base.data();
}

bool ColorBar::fixedScale() const
{
    return ui->CFix->isChecked();
}

void ColorBar::setFixColorScale(bool f)
{
    ui->CFix->setChecked(f);
}

void ColorBar::setMinV(double x)
{
    vMin = x;
    ui->CMinLE->setText(QString::number(x, 'g', 6));
    // The numbers on the bar are part of the scale: they change with the fields.
    update();
}

void ColorBar::setMaxV(double x)
{
    vMax = x;
    ui->CMaxLE->setText(QString::number(x, 'g', 6));
    update();
}

void ColorBar::minVEdited()
{
    vMin = ui->CMinLE->text().toDouble();
    update();
    emit newBar();
}

void ColorBar::maxVEdited()
{
    vMax = ui->CMaxLE->text().toDouble();
    update();
    emit newBar();
}

void ColorBar::draw1(QPainter *p)
{
    const int w = width();
    const int h = height();
    if (w <= 0 || h <= 0)
        return;

    // The ramp is the mapping of the range's own fractions, so the bar shows exactly what
    // level() does, degenerate cuts included.
    const GreyLevelMap ramp { 0, 1, lo, hi };
    for (int i = 0; i < h; ++i) {
        const int g = ramp.level(static_cast<double>(i) / h);
        p->setPen(QColor(g, g, g));
        p->drawLine(0, h - 1 - i, w, h - 1 - i);
    }

    p->setPen(QColor(0, 192, 255));
    for (double cut : { hi, lo }) {
        const double y = std::trunc((1 - cut) * h);
        if (std::isfinite(y))
            p->drawLine(QPointF(0, y), QPointF(w, y));
    }

    p->setPen(QColor(0, 255, 192));
    const QFont font;
    dt.drawBoxText(p, 90, QRectF(w / 2.0, 50, 95, w), font, Qt::AlignLeft | Qt::AlignVCenter, true,
        QString::number(vMax, 'g', 6), 10, false, QColor());
    dt.drawBoxText(p, 90, QRectF(w / 2.0, h - 50, 95, w), font, Qt::AlignRight | Qt::AlignVCenter,
        true, QString::number(vMin, 'g', 6), 10, false, QColor());
    if (dragging) {
        const double cut = dragTarget == DragHi ? hi : lo;
        dt.drawBoxText(p, 90, QRectF(w / 2, h / 2, 95, w), font, Qt::AlignRight | Qt::AlignVCenter,
            true, QString::number((vMax - vMin) * cut + vMin, 'g', 6), 10, false, QColor());
    }
}

void ColorBar::onMousePressed()
{
    const double h = height();
    if (h <= 0)
        return;
    const double b = (h - m.pos.y()) / h;
    const double dLo = std::abs(lo - b);
    const double dHi = std::abs(hi - b);
    if (dLo > dHi) {
        dragTarget = DragHi;
        dragging = true;
    } else if (dLo < dHi) {
        dragTarget = DragLo;
        dragging = true;
    } else if (lo == hi && b != lo) {
        // Once one cut has been dragged onto the other, every point is as far from both;
        // without this the cuts could never be parted again. The side of the press decides.
        dragTarget = b > hi ? DragHi : DragLo;
        dragging = true;
    }
}

void ColorBar::onMouseMoved()
{
    if (!m.pressed)
        return;
    const double h = height();
    if (dragging && h > 0) {
        const double b = (h - m.pos.y()) / h;
        if (dragTarget == DragHi)
            hi = b;
        else
            lo = b;
    }
    update();
    emit newBar();
}

void ColorBar::onMouseReleased()
{
    dragging = false;
    dragTarget = DragNone;
    update();
}
