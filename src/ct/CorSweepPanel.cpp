#include "CorSweepPanel.h"

#include "ColorBar.h"
#include "CorSweepGrid.h"
#include "ImgDispWPV.h"
#include "LineProfile.h"
#include "SeekCtrl.h"
#include "ValueHistogram.h"

#include <QCheckBox>
#include <QDebug>
#include <QDoubleValidator>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <cmath>

namespace {

QString numberText(double v)
{
    return QString::number(v, 'g', 6);
}

} // namespace

CorSweepPanel::CorSweepPanel(QWidget *parent)
    : QFrame(parent)
    , m_from(new QLineEdit(this))
    , m_to(new QLineEdit(this))
    , m_step(new QLineEdit(this))
    , m_sweep(new QPushButton(tr("Sweep"), this))
    , m_use(new QPushButton(tr("Use this CoR"), this))
    , m_text(new QLabel(this))
    , m_seek(new SeekCtrl(this))
    , m_disp(new ImgDispWPV(this))
    , m_grid(new CorSweepGrid(this))
    , m_sideBySide(new QCheckBox(tr("Side by side"), this))
    , m_progress(new QProgressBar(this))
    , m_views(new QStackedWidget(this))
{
    setObjectName("CorSweepPanel");
    m_from->setObjectName("SweepFrom");
    m_to->setObjectName("SweepTo");
    m_step->setObjectName("SweepStep");
    m_sweep->setObjectName("SweepStart");
    m_use->setObjectName("SweepUse");
    m_text->setObjectName("SweepText");
    m_seek->setObjectName("SweepSeek");
    m_disp->setObjectName("SweepDisp");
    m_sideBySide->setObjectName("SweepSideBySide");
    m_progress->setObjectName("SweepProgress");
    for (QLineEdit *e : { m_from, m_to, m_step }) {
        e->setValidator(new QDoubleValidator(e));
        e->setMaximumWidth(80);
        e->setStyleSheet("background-color: rgb(255, 255, 255);");
    }
    setRange(0, 0, 1);
    m_from->setToolTip(tr("First centre of rotation of the sweep (pixels)."));
    m_to->setToolTip(
        tr("Last centre of rotation of the sweep (included when a step lands on it)."));
    m_step->setToolTip(tr("Step between the centres of rotation of the sweep."));
    m_sweep->setToolTip(tr("Reconstruct the current slice at every centre of rotation from From "
                           "to To, with the method, filter and ring removal of the process "
                           "control, on the threads of the process control. While it runs, "
                           "the button stops it."));
    m_use->setToolTip(tr("Set the centre of rotation to the one of the slice shown."));
    m_seek->setToolTip(tr("Flip through the slices of the sweep."));
    m_sideBySide->setToolTip(tr("Show every slice of the sweep as a thumbnail labelled with its "
                                "centre of rotation; click one to select it."));
    m_progress->setToolTip(tr("Slices of the sweep made so far."));
    m_grid->setToolTip(tr("Click a slice to select it; \"Use this CoR\" takes its centre."));
    m_sideBySide->setChecked(true);
    m_progress->setVisible(false);
    m_progress->setMaximumWidth(160);
    m_use->setEnabled(false);

    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(tr("From"), this));
    row->addWidget(m_from);
    row->addWidget(new QLabel(tr("To"), this));
    row->addWidget(m_to);
    row->addWidget(new QLabel(tr("Step"), this));
    row->addWidget(m_step);
    row->addWidget(m_sweep);
    row->addWidget(m_progress);
    row->addStretch(1);
    auto *row2 = new QHBoxLayout;
    row2->setContentsMargins(0, 0, 0, 0);
    row2->addWidget(m_sideBySide);
    row2->addWidget(m_seek);
    row2->addWidget(m_text, 1);
    row2->addWidget(m_use);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(2, 2, 2, 2);
    column->addLayout(row);
    column->addLayout(row2);
    m_views->addWidget(m_grid);
    m_views->addWidget(m_disp);
    column->addWidget(m_views, 1);

    m_seek->setMaximum(0);
    connect(m_seek, &SeekCtrl::newIndex, this, &CorSweepPanel::showSlice);
    connect(m_sweep, &QPushButton::clicked, this, [this] {
        if (sweeping())
            cancel();
        else
            emit sweepRequested(from(), to(), step());
    });
    connect(m_grid, &CorSweepGrid::picked, this, [this](int idx) {
        m_seek->setIndex(idx);
        showSlice(idx);
    });
    connect(m_sideBySide, &QCheckBox::toggled, this, [this](bool on) {
        m_views->setCurrentWidget(on ? static_cast<QWidget *>(m_grid) : m_disp);
    });
    connect(&job, &CorSweepJob::progress, this, [this](int done, int count) {
        m_progress->setMaximum(count);
        m_progress->setValue(done);
    });
    connect(&job, &CorSweepJob::finished, this, &CorSweepPanel::jobFinished);
    connect(m_use, &QPushButton::clicked, this, [this] {
        if (m_current >= 0 && m_current < int(m_slices.size()))
            emit corChosen(m_slices[size_t(m_current)].cor);
    });
    connect(m_disp, &ImgDispWPV::newPosInvY, this, [this](double x, double z) {
        if (m_current < 0 || !(std::abs(x) < 1e9) || !(std::abs(z) < 1e9))
            return;
        const CorSweep::Slice &s = m_slices[size_t(m_current)];
        const int ix = int(x), iz = int(z);
        if (ix >= 0 && iz >= 0 && ix < s.n && iz < s.n)
            m_disp->setVal(s.values[size_t(iz) * size_t(s.n) + size_t(ix)]);
    });
    connect(m_disp, &ImgDispWCBar::newBar, this, [this] {
        repaintSlice();
        repaintGrid();
    });
    m_disp->setProfileSampler([this](QPointF a, QPointF b) {
        if (m_current < 0)
            return std::vector<LineProfile::Point>();
        const CorSweep::Slice &s = m_slices[size_t(m_current)];
        return LineProfile::sample(s.n, s.n, s.values.data(), a, b);
    });
    m_text->setText(tr("No sweep yet"));
    // A long text is cut rather than pushing "Use this CoR" out of the panel; the whole of it
    // is in the tool tip.
    m_text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_text->setMinimumWidth(80);
}

void CorSweepPanel::setRange(double from, double to, double step)
{
    m_from->setText(numberText(from));
    m_to->setText(numberText(to));
    m_step->setText(numberText(step));
}

double CorSweepPanel::from() const
{
    return m_from->text().toDouble();
}

double CorSweepPanel::to() const
{
    return m_to->text().toDouble();
}

double CorSweepPanel::step() const
{
    return m_step->text().toDouble();
}

QString CorSweepPanel::text() const
{
    return m_text->text();
}

bool CorSweepPanel::start(const CorSweep::SinogramFn &sinogram, const CtParams &p,
    const std::vector<double> &cors, int threads)
{
    if (sweeping() || !job.start(sinogram, p, cors, threads))
        return false;
    m_slices.clear();
    m_current = -1;
    m_best = -1;
    m_use->setEnabled(false);
    m_seek->setMaximum(0);
    m_grid->setPictures({}, {}, -1);
    m_progress->setMaximum(int(cors.size()));
    m_progress->setValue(0);
    m_text->setText(tr("Sweeping %1 centres of rotation on %2 threads")
                        .arg(cors.size())
                        .arg(job.threadCount()));
    m_text->setToolTip(m_text->text());
    showSweeping(true);
    return true;
}

void CorSweepPanel::showSweeping(bool on)
{
    m_progress->setVisible(on);
    m_sweep->setText(on ? tr("Stop") : tr("Sweep"));
    for (QLineEdit *e : { m_from, m_to, m_step })
        e->setEnabled(!on);
}

void CorSweepPanel::cancel()
{
    job.cancel();
}

void CorSweepPanel::stopAndWait()
{
    if (!sweeping())
        return;
    job.stopAndWait();
    showSweeping(false);
}

void CorSweepPanel::jobFinished()
{
    showSweeping(false);
    m_slices = job.slices();
    for (double cor : job.failedCors())
        qDebug().noquote() << "No slice at the centre of rotation" << cor;
    m_best = CorSweep::best(m_slices);
    if (m_best >= 0) {
        const CorSweep::Slice &s = m_slices[size_t(m_best)];
        ValueHistogram::autoLimits(s.values.data(), s.values.size(), m_lo, m_hi);
    }
    m_use->setEnabled(!m_slices.empty());
    m_seek->setMaximum(std::max(0, int(m_slices.size()) - 1));
    if (m_best < 0) {
        m_text->setText(job.wasCancelled() ? tr("Sweep stopped before any slice was made")
                                           : tr("No slice could be made"));
        m_text->setToolTip(m_text->text());
        m_disp->img = QImage();
        m_disp->newImage();
        m_grid->setPictures({}, {}, -1);
        emit sweepFinished(0);
        return;
    }
    // Shown even when the seek control already stands at that index.
    m_seek->setIndex(m_best);
    showSlice(m_best);
    repaintGrid();
    emit sweepFinished(int(m_slices.size()));
}

void CorSweepPanel::showSlice(int idx)
{
    if (idx < 0 || idx >= int(m_slices.size()))
        return;
    m_current = idx;
    const CorSweep::Slice &s = m_slices[size_t(idx)];
    m_text->setText(tr("CoR %1 (%2 of %3), total variation %4, least at %5")
                        .arg(numberText(s.cor))
                        .arg(idx + 1)
                        .arg(m_slices.size())
                        .arg(QString::number(s.variation, 'g', 4))
                        .arg(numberText(m_slices[size_t(m_best)].cor)));
    m_text->setToolTip(m_text->text());
    m_grid->setCurrent(idx);
    repaintSlice();
}

void CorSweepPanel::repaintGrid()
{
    // The thumbnails on the scale of the single view, so both compare alike.
    QList<QImage> pictures;
    QStringList labels;
    const GreyLevelMap map = m_disp->colorBar()->greyMap();
    for (const CorSweep::Slice &s : m_slices) {
        pictures << map.greyImage(s.values.data(), s.n, s.n);
        labels << tr("CoR %1").arg(numberText(s.cor));
    }
    m_grid->setPictures(pictures, labels, m_best);
    m_grid->setCurrent(m_current);
}

void CorSweepPanel::repaintSlice()
{
    if (m_current < 0 || m_current >= int(m_slices.size()))
        return;
    ColorBar *bar = m_disp->colorBar();
    // One scale for the whole sweep, so the slices compare by eye.
    if (!bar->fixedScale()) {
        bar->setMinV(m_lo);
        bar->setMaxV(m_hi);
        bar->update();
    }
    const CorSweep::Slice &s = m_slices[size_t(m_current)];
    m_disp->img = bar->greyMap().greyImage(s.values.data(), s.n, s.n);
    m_disp->newImage();
}
