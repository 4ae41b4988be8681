#include "CtDisp.h"

#include "ui_CtDisp.h"

#include "ImgDisp.h"
#include "SeekCtrl.h"

CtDisp::CtDisp(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::CtDisp>())
{
    ui->setupUi(this);
    ui->seeker_->setMaximum(0);
    connect(ui->seeker_, &SeekCtrl::newIndex, this, &CtDisp::showImg);
}

QList<int> CtDisp::sliceNumbers() const
{
    QList<int> nos;
    nos.reserve(entries.size());
    for (const Entry &e : entries)
        nos.append(e.no);
    return nos;
}

void CtDisp::clear()
{
    entries.clear();
    ui->seeker_->setMaximum(0);
    ui->sliceNo_->clear();
}

void CtDisp::addImg(int no, const QImage &img)
{
    // Slices arrive in the order the workers finish; equal numbers keep arrival order.
    qsizetype i = entries.size();
    while (i > 0 && entries.at(i - 1).no > no)
        --i;
    entries.insert(i, Entry { no, img }); // implicitly shared: detaches if either side is changed

    const int last = static_cast<int>(entries.size()) - 1;
    const int before = ui->seeker_->index();
    ui->seeker_->setMaximum(last);
    ui->seeker_->setIndex(last);
    // The very first picture (or one arriving after clear) leaves the index at 0, so the
    // seek control announces nothing; without this the panel would stay blank.
    if (before == last)
        showImg(last);
}

void CtDisp::showImg(int idx)
{
    if (idx < 0 || idx >= entries.size())
        return;
    ImgDisp *d = ui->dispA_;
    d->img = entries.at(idx).img;
    d->newImage();
    // The seek box counts pictures; the slice they show is named beside it.
    ui->sliceNo_->setText(tr("Slice %1").arg(entries.at(idx).no));
}

QList<QImage> CtDisp::getQImages()
{
    QList<QImage> out;
    out.reserve(entries.size());
    for (const Entry &e : entries)
        out.append(e.img);
    return out;
}

CtDisp::~CtDisp() = default;

ImgDisp *CtDisp::display() const
{
    return ui->dispA_;
}

SeekCtrl *CtDisp::seeker() const
{
    return ui->seeker_;
}
