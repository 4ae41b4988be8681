#include "SeekCtrl.h"

#include "ui_SeekCtrl.h"

#include <QSignalBlocker>

#include <algorithm>

namespace {
constexpr int step = 10;
}

SeekCtrl::SeekCtrl(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::SeekCtrl>())
{
    ui->setupUi(this);
    connect(ui->Seek, &QSlider::valueChanged, this, &SeekCtrl::sliderMoved);
    connect(ui->Index, &QSpinBox::valueChanged, this, &SeekCtrl::indexChanged);
    connect(ui->Inc, &QToolButton::clicked, this, &SeekCtrl::inc);
    connect(ui->Dec, &QToolButton::clicked, this, &SeekCtrl::dec);
}

void SeekCtrl::sliderMoved(int val)
{
    // Following the other widget must not announce the same index a second time.
    const QSignalBlocker block(ui->Index);
    ui->Index->setValue(val);
    emit newIndex(val);
}

void SeekCtrl::indexChanged(int val)
{
    const QSignalBlocker block(ui->Seek);
    ui->Seek->setValue(val);
    emit newIndex(val);
}

void SeekCtrl::setMaximum(int max)
{
    max = std::max(max, 0);
    // Shrinking the range may move the index; the spin box then announces it.
    {
        const QSignalBlocker block(ui->Seek);
        ui->Seek->setMaximum(max);
    }
    ui->Index->setMaximum(max);
    const QSignalBlocker block(ui->Seek);
    ui->Seek->setValue(ui->Index->value());
}

void SeekCtrl::setIndex(int idx)
{
    ui->Index->setValue(idx);
}

void SeekCtrl::inc()
{
    setIndex(std::min(ui->Index->value() + step, ui->Seek->maximum()));
}

void SeekCtrl::dec()
{
    setIndex(std::max(ui->Index->value() - step, 0));
}

SeekCtrl::~SeekCtrl() = default;

int SeekCtrl::index() const
{
    return ui->Index->value();
}

int SeekCtrl::maximum() const
{
    return ui->Index->maximum();
}
