#include "CtView.h"

#include "Config.h"
#include "DispA.h"
#include "MipRenderer.h"
#include "Places.h"
#include "SliceDatas.h"
#include "SlicesCtrl.h"
#include "TextUtil.h"
#include "WholeFile.h"
#include "ui_CtView.h"

#include <QBuffer>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageWriter>
#include <QPaintEngine>
#include <QPainter>
#include <QSvgGenerator>
#include <QTimer>

#include <cmath>
#include <numbers>
#include <thread>

namespace {

// Default colours of the k-th set, by k mod 3.
const QColor kVolumeColors[] = { QColor(0, 127, 127), QColor(127, 0, 127), QColor(127, 127, 0) };
const QColor kSectionColors[] = { QColor(127, 0, 0), QColor(0, 127, 0), QColor(0, 0, 127) };

// Cuts the segment a-b to the rectangle [lo, hiX] x [lo, hiY] (Liang-Barsky); false when no
// part of it lies inside. A corner of a deeply zoomed or far panned box lies far beyond the
// range of int; the part of an edge that can be seen keeps its place and slope.
bool clipSegment(QPointF &a, QPointF &b, double lo, double hiX, double hiY)
{
    if (!std::isfinite(a.x()) || !std::isfinite(a.y()) || !std::isfinite(b.x())
        || !std::isfinite(b.y()))
        return false;
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    double t0 = 0.0, t1 = 1.0;
    const double p[4] = { -dx, dx, -dy, dy };
    const double q[4] = { a.x() - lo, hiX - a.x(), a.y() - lo, hiY - a.y() };
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1)
            return false;
    }
    const QPointF a0 = a;
    if (t1 < 1.0)
        b = a0 + t1 * QPointF(dx, dy);
    if (t0 > 0.0)
        a = a0 + t0 * QPointF(dx, dy);
    return true;
}

} // namespace

CtView::CtView(const QString &dir, QWidget *parent)
    : QFrame(parent)
    , dataDir(dir)
    , nativeDialog(configInt(config.valueNoCase("native_dialog", "0")) == 1)
    , ui(std::make_unique<Ui::CtView>())
{
    ui->setupUi(this);
    for (const QByteArray &f : QImageWriter::supportedImageFormats())
        formats << QString::fromLatin1(f).toLower();
    formats.removeDuplicates();
    ui->saveImage_->setToolTip(
        tr("Supported File Types are : %1\n and also SVG.").arg(formats.join(QChar(' '))));
    ui->slicesCtrlsLayout_->setAlignment(Qt::AlignTop);
    shading = new QCheckBox(tr("Shading"), this);
    shading->setObjectName("shading_");
    // In the row of the picture size, which has room: the row of the buttons has none at the
    // narrowest window.
    ui->sizeLayout->addWidget(shading);
    shading->setToolTip(tr("Shade each set's picture as a relief lit from the upper left, so "
                           "that edges and slopes show their shape."));
    ui->addSliceSet_->setToolTip(
        tr("Add another set of slice files, drawn over the sets before it."));
    ui->linkCSection_->setToolTip(
        tr("Move the cross sections of all sets together with the slider of any one."));
    const QString sizeTip = tr("Picture size in pixels: small (256) while turning the view, "
                               "large (1024 or more) for the final picture.");
    ui->imgPixWidth_->setToolTip(sizeTip);
    ui->imgPixHeight_->setToolTip(sizeTip);
    connect(shading, &QCheckBox::toggled, this, &CtView::scheduleRepaint);

    connect(ui->addSliceSet_, &QPushButton::clicked, this, [this] { addSliceSet(); });
    connect(ui->dispA_, &DispA::drawImage2, this, &CtView::draw);
    connect(&ui->dispA_->m, &MouseC::mPressed, this, &CtView::mousePressedOnDataDisp);
    connect(&ui->dispA_->m, &MouseC::mMoved, this, &CtView::mouseMovedOnDataDisp);
    connect(&ui->dispA_->m, &MouseC::mReleased, this, &CtView::mouseReleasedOnDataDisp);
    connect(&ui->dispA_->m, &MouseC::wMoved, this, &CtView::wheelMovedOnDataDisp);
    connect(ui->saveImage_, &QPushButton::clicked, this, &CtView::showSaveImageD);
    // A new picture size shows at once rather than at the next change of the view.
    connect(ui->imgPixWidth_, &QLineEdit::editingFinished, this, &CtView::scheduleRepaint);
    connect(ui->imgPixHeight_, &QLineEdit::editingFinished, this, &CtView::scheduleRepaint);

    emit initNz(nz);
    addSliceSet();
    paintPImg();
}

CtView::~CtView()
{
    // The children outlive this destructor's body: a focused line edit still emits
    // editingFinished as it is destroyed, which must not reach a view that is half gone.
    for (QObject *child : findChildren<QObject *>())
        disconnect(child, nullptr, this, nullptr);
    // The save dialog has no parent (it is a window of its own).
    delete saveDialog;
}

DispA *CtView::canvas() const
{
    return ui->dispA_;
}

double CtView::unitsPerPixel(int pw, int ph) const
{
    const int side = std::min(pw, ph);
    return side > 0 ? scale * ReferencePictureSize / side : scale;
}

MipView CtView::mipView(int pw, int ph) const
{
    MipView v;
    v.nx = nx;
    v.ny = ny;
    v.nz = nz;
    v.off = off;
    v.scale = unitsPerPixel(pw, ph);
    return v;
}

SlicesCtrl *CtView::addSliceSet()
{
    const int k = int(ctrls.size());
    auto *c = new SlicesCtrl(dataDir, ui->slicesCtrls_);
    c->setVColor(kVolumeColors[k % 3]);
    c->setSColor(kSectionColors[k % 3]);
    c->setSetNo(k + 1);
    if (k > 0)
        c->setAlpha(128);
    connect(c, &SlicesCtrl::paintPImg, this, &CtView::scheduleRepaint);
    connect(c, &SlicesCtrl::changedSliderStat, this, &CtView::changedSliderStat);
    connect(c, &SlicesCtrl::notice, this, &CtView::notice);
    connect(this, &CtView::initNz, c, &SlicesCtrl::initNz);
    connect(this, &CtView::newNz, c, &SlicesCtrl::newNz);
    // A new set's cutting plane starts across the present viewing direction, so that turning
    // the section on cuts the volume as seen, not along an arbitrary zero normal.
    c->initNz(nz);
    ui->slicesCtrlsLayout_->addWidget(c, k, 0);
    ctrls.append(c);
    return c;
}

void CtView::changedSliderStat()
{
    if (linking)
        return;
    auto *src = qobject_cast<SlicesCtrl *>(sender());
    if (src && ui->linkCSection_->isChecked()) {
        // The others' own announcements of these changes are ignored: one repaint is enough.
        linking = true;
        for (SlicesCtrl *c : std::as_const(ctrls)) {
            if (c == src)
                continue;
            if (c->cSliderValue() != src->cSliderValue())
                c->setCSliderValue(src->cSliderValue());
            if (c->csFixDir() != src->csFixDir())
                c->setCsFixDir(src->csFixDir());
        }
        linking = false;
    }
    scheduleRepaint();
}

void CtView::scheduleRepaint()
{
    if (repaintPending)
        return;
    repaintPending = true;
    QTimer::singleShot(0, this, [this] {
        if (repaintPending)
            paintPImg();
    });
}

bool CtView::pictureSize(int &w, int &h) const
{
    w = std::max(ui->imgPixWidth_->text().toInt(), 0);
    h = std::max(ui->imgPixHeight_->text().toInt(), 0);
    if (qint64(w) * qint64(h) <= MaxPicturePixels)
        return true;
    logLine("Picture size too large :", QString("%1 x %2").arg(w).arg(h));
    return false;
}

void CtView::paintPImg()
{
    repaintPending = false;
    int w, h;
    if (!pictureSize(w, h)) {
        pImg = QImage();
        ui->dispA_->update();
        return;
    }
    pImg = w > 0 && h > 0 ? QImage(w, h, QImage::Format_ARGB32) : QImage();
    if (pImg.isNull()) {
        if (w > 0 && h > 0)
            logLine("Picture size too large for the memory :", QString("%1 x %2").arg(w).arg(h));
    } else {
        QPainter p(&pImg);
        paintPImg0(p, w, h);
        p.end();
    }
    ui->dispA_->update();
}

void CtView::paintPImg0(QPainter &p, int pw, int ph)
{
    passW = pw;
    passH = ph;
    p.fillRect(0, 0, pw, ph, QColor(255, 255, 255));
    for (SlicesCtrl *c : std::as_const(ctrls)) {
        // Held for the whole set: a load publishing a new set meanwhile frees nothing used here.
        const auto set = c->sliceDatas()->current();
        if (set->sw <= 0 || set->sh <= 0)
            continue;
        if (c->showFrame())
            paintADataFrame(p, set->ss(), set->sw, set->sh, false, c->vColor);
        if (c->showVolume())
            paintADataSet(p, c, set->sw, set->sh, pw, ph);
        if (c->showFrame())
            paintADataFrame(p, set->ss(), set->sw, set->sh, true, c->vColor);
    }
}

void CtView::paintADataSet(QPainter &p, SlicesCtrl *sCtrl, int sw, int sh, int pw, int ph)
{
    if (!sCtrl || pw <= 0 || ph <= 0)
        return;
    const auto set = sCtrl->sliceDatas()->current();
    if (set->sw != sw || set->sh != sh || set->slices.empty())
        return;

    SliceDatas *datas = sCtrl->sliceDatas();
    const double rMin = sCtrl->rMin();
    const double rMax = sCtrl->rMax();
    datas->thLow = rMin + sCtrl->minPC() * (rMax - rMin) / 100.0;
    datas->thHigh = rMin + sCtrl->maxPC() * (rMax - rMin) / 100.0;

    MipVolume vol;
    vol.sw = sw;
    vol.sh = sh;
    vol.slices.reserve(set->slices.size());
    vol.sliceMin.reserve(set->slices.size());
    vol.sliceMax.reserve(set->slices.size());
    bool allBytes = true;
    for (const SliceData &s : set->slices) {
        vol.slices.push_back(s.rows.data());
        vol.sliceMin.push_back(s.vMin);
        vol.sliceMax.push_back(s.vMax);
        allBytes = allBytes && s.bytes.size() == s.rows.size();
    }
    if (allBytes) {
        for (const SliceData &s : set->slices)
            vol.bytes.push_back(s.bytes.data());
    } else {
        // Other sets are read through their grey levels for this window, made once per set
        // and window (a threshold change remakes them; turning the view does not).
        GreyLevels &gl = greyLevels[sCtrl];
        const size_t plane = size_t(sw) * size_t(sh);
        if (gl.set.lock() != set || gl.thLow != datas->thLow || gl.thHigh != datas->thHigh) {
            gl.set.reset();
            try {
                gl.levels.resize(plane * set->slices.size());
                const int count = int(set->slices.size());
                auto make = [&](int first, int step) {
                    for (int j = first; j < count; j += step)
                        MipRenderer::greyLevels(set->slices[size_t(j)].rows.data(), plane,
                            datas->thLow, datas->thHigh, gl.levels.data() + plane * size_t(j));
                };
                std::thread other(make, 1, 2);
                make(0, 2);
                other.join();
                gl.set = set;
                gl.thLow = datas->thLow;
                gl.thHigh = datas->thHigh;
            } catch (const std::exception &) {
                gl.levels = {}; // no memory or no thread: the values are read as they are
            }
        }
        if (!gl.set.expired()) {
            for (size_t j = 0; j < set->slices.size(); ++j)
                vol.greyLevels.push_back(gl.levels.data() + plane * j);
            vol.greyThLow = gl.thLow;
            vol.greyThHigh = gl.thHigh;
        }
    }

    MipStyle style;
    style.thLow = datas->thLow;
    style.thHigh = datas->thHigh;
    style.cut = sCtrl->showCSection();
    style.cutB = sCtrl->cSliderValue() / 100.0 * vol.ss();
    style.csNormal = sCtrl->csNormal;
    style.vColor = sCtrl->vColor;
    style.sColor = sCtrl->sColor;
    style.alpha = sCtrl->alpha();

    QImage layer = MipRenderer::renderImage(vol, mipView(pw, ph), style, pw, ph);
    if (layer.isNull())
        return;
    if (shading->isChecked())
        MipRenderer::shade(layer);
    const QPaintEngine *engine = p.paintEngine();
    if (engine && engine->type() == QPaintEngine::SVG) {
        // Every drawn sample becomes an element of its own in a vector picture, centred on
        // its pixel's square as the bitmap has it.
        p.save();
        for (int r = 0; r < ph; ++r) {
            const QRgb *row = reinterpret_cast<const QRgb *>(layer.constScanLine(r));
            for (int c = 0; c < pw; ++c) {
                if (qAlpha(row[c]) == 0)
                    continue;
                p.setPen(QColor::fromRgba(row[c]));
                p.drawPoint(QPointF(c + 0.5, r + 0.5));
            }
        }
        p.restore();
    } else {
        p.drawImage(0, 0, layer);
    }
}

void CtView::paintADataFrame(QPainter &p, int ss, int sw, int sh, bool temae, QColor color)
{
    const double half[3] = { sw / 2.0, sh / 2.0, ss / 2.0 };
    const double offX = off.dot(nx);
    const double offY = off.dot(ny);
    const double upp = unitsPerPixel(passW, passH);
    // Corner i has the upper bound on axis a where bit a of i is set.
    QPointF corner[8];
    for (int i = 0; i < 8; ++i) {
        const Vec3 k((i & 1) ? half[0] : -half[0], (i & 2) ? half[1] : -half[1],
            (i & 4) ? half[2] : -half[2]);
        corner[i] = QPointF(std::trunc(passW / 2 + (k.dot(nx) - offX) / upp),
            std::trunc(passH / 2 + (k.dot(ny) - offY) / upp));
    }
    // Edges are cut a little outside the picture, so what is drawn is the same as uncut.
    constexpr double margin = 16;
    const double nzc[3] = { nz.x, nz.y, nz.z };
    p.save();
    p.setPen(QPen(color));
    // A vector picture draws a line centred on its coordinates; the bitmap fills the pixels.
    const QPaintEngine *engine = p.paintEngine();
    if (engine && engine->type() == QPaintEngine::SVG)
        p.translate(0.5, 0.5);
    for (int a = 0; a < 3; ++a) {
        const int b = (a + 1) % 3;
        const int c = (a + 2) % 3;
        for (int side = 0; side < 2; ++side) {
            const double facing = (side ? half[a] : -half[a]) * nzc[a];
            if (temae ? !(facing > 0) : !(facing < 0))
                continue;
            const int base = side << a;
            const int loop[4]
                = { base, base | (1 << b), base | (1 << b) | (1 << c), base | (1 << c) };
            for (int e = 0; e < 4; ++e) {
                QPointF from = corner[loop[e]];
                QPointF to = corner[loop[(e + 1) % 4]];
                if (clipSegment(from, to, -margin, passW + margin, passH + margin))
                    p.drawLine(
                        QPoint(int(from.x()), int(from.y())), QPoint(int(to.x()), int(to.y())));
            }
        }
    }
    p.restore();
}

bool CtView::anySetLoaded() const
{
    for (const SlicesCtrl *c : ctrls)
        if (c->sliceDatas()->current()->loaded)
            return true;
    return false;
}

void CtView::draw(QPainter *p)
{
    if (!anySetLoaded() || pImg.isNull())
        return;
    // Square pixels: the picture is fitted into the canvas, centred, and the margin keeps
    // the canvas's background.
    const QSizeF fitted = QSizeF(pImg.size()).scaled(ui->dispA_->size(), Qt::KeepAspectRatio);
    const QPointF at(
        (ui->dispA_->width() - fitted.width()) / 2, (ui->dispA_->height() - fitted.height()) / 2);
    p->drawImage(QRectF(at, fitted), pImg);
}

void CtView::normalisedPointer(double &x, double &y)
{
    DispA *d = ui->dispA_;
    d->cc.setScreen(0, d->height() - 1, d->width() - 1, 0);
    d->cc.setReal(0, 0, 1, 1);
    x = d->cc.toRx(d->m.pos.x());
    y = d->cc.toRy(d->m.pos.y());
}

void CtView::mousePressedOnDataDisp()
{
    normalisedPointer(lastX, lastY);
    const MouseC::MStat s = ui->dispA_->m.pressStat();
    if (s == MouseC::Right || s == MouseC::LeftShift) {
        dragMode = 1;
    } else if (s == MouseC::Left) {
        dragMode = 0;
        if (lastY > 0.85)
            rotEdge = 3;
        else if (lastY < 0.15)
            rotEdge = 4;
        else if (lastX > 0.85)
            rotEdge = 2;
        else if (lastX < 0.15)
            rotEdge = 1;
        else
            rotEdge = 0;
    } else {
        dragMode = 2;
    }
}

void CtView::mouseMovedOnDataDisp()
{
    double x, y;
    normalisedPointer(x, y);
    const double dx = x - lastX;
    const double dy = y - lastY;
    lastX = x;
    lastY = y;
    if (dragMode == 1) {
        const double upp = unitsPerPixel(pImg.width(), pImg.height());
        off = off - dx * std::trunc(pImg.width() * upp) * nx
            + dy * std::trunc(pImg.height() * upp) * ny;
        paintPImg();
    } else if (dragMode == 0) {
        constexpr double pi = std::numbers::pi;
        switch (rotEdge) {
        case 0: {
            const double g = std::sqrt(dx * dx + dy * dy);
            if (g > 0)
                updateNvs((dx / g) * ny + (dy / g) * nx, g * pi);
            break;
        }
        case 1:
            updateNvs(nz, dy * pi);
            break;
        case 2:
            updateNvs(nz, -dy * pi);
            break;
        case 3:
            updateNvs(nz, dx * pi);
            break;
        case 4:
            updateNvs(nz, -dx * pi);
            break;
        default:
            break;
        }
    }
}

void CtView::mouseReleasedOnDataDisp()
{
    dragMode = 2;
}

void CtView::wheelMovedOnDataDisp(int step)
{
    if (step > 0)
        scale *= 0.9;
    else if (step < 0)
        scale /= 0.9;
    paintPImg();
}

void CtView::updateNvs(Vec3 rax, double th)
{
    nx = nx.rotated(rax, th);
    ny = ny.rotated(rax, th);
    nz = nz.rotated(rax, th);
    emit newNz(nz);
    paintPImg();
}

void CtView::showSaveImageD()
{
    delete saveDialog;
    saveDialog
        = new QFileDialog(nullptr, QString(), Places::dialogFolder("view3dPicture", dataDir));
    saveDialog->setAcceptMode(QFileDialog::AcceptSave);
    saveDialog->setNameFilter(tr("Any (* *.*)"));
    saveDialog->setOption(QFileDialog::DontUseNativeDialog, !nativeDialog);
    saveDialog->setModal(false);
    connect(saveDialog, &QFileDialog::fileSelected, this, &CtView::saveImage);
    saveDialog->show();
}

void CtView::saveImage(QString fname)
{
    const QFileInfo info(fname);
    dataDir = saveDialog ? saveDialog->directory().absolutePath() : info.absolutePath();
    Places::rememberDialogFolder("view3dPicture", fname);
    const QString suffix = info.suffix().toLower();
    if (formats.contains(suffix)) {
        logLine("saving", fname);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        QImageWriter writer(&buffer, suffix.toLatin1());
        if (pImg.isNull() || !buffer.open(QIODevice::WriteOnly) || !writer.write(pImg)) {
            logLine("The picture could not be saved :", fname);
            return;
        }
        saveWholeFile(fname, bytes);
    } else if (suffix == "svg") {
        int w = pImg.width();
        int h = pImg.height();
        if (pImg.isNull() && !pictureSize(w, h)) {
            logLine("The picture could not be saved :", fname);
            return;
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QSvgGenerator gen;
        gen.setOutputDevice(&buffer);
        gen.setSize(QSize(w, h));
        gen.setViewBox(QRect(0, 0, w, h));
        QPainter p;
        if (!p.begin(&gen)) {
            logLine("The picture could not be saved :", fname);
            return;
        }
        paintPImg0(p, w, h);
        p.end();
        saveWholeFile(fname, bytes);
    }
}

void CtView::closeEvent(QCloseEvent *e)
{
    emit finishing();
    QFrame::closeEvent(e);
}
