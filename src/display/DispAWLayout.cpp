#include "DispAWLayout.h"

#include "ui_DispAWLayout.h"

DispAWLayout::DispAWLayout(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::DispAWLayout>())
{
    ui->setupUi(this);
    DispB *d = ui->dispB;
    connect(d, &DispB::drawImage0, this, &DispAWLayout::drawImage0);
    connect(d, &DispB::drawImage1, this, &DispAWLayout::drawImage1);
    connect(d, &DispB::drawImage2, this, &DispAWLayout::drawImage2);
    connect(d, &DispB::mouseMoved0, this, &DispAWLayout::mouseMoved0);
    connect(d, &DispB::mousePressed0, this, &DispAWLayout::mousePressed0);
    connect(d, &DispB::mouseReleased0, this, &DispAWLayout::mouseReleased0);
    connect(d, &DispB::mouseDoubleClicked0, this, &DispAWLayout::mouseDoubleClicked0);
    connect(d, &DispB::wheelMoved0, this, &DispAWLayout::wheelMoved0);
}

DispAWLayout::~DispAWLayout() = default;

DispB *DispAWLayout::dispB() const
{
    return ui->dispB;
}

QGridLayout *DispAWLayout::gridLayout() const
{
    return ui->gridLayout;
}
