// The centre-of-rotation sweep: its tab, its run from the window or the batch command
// "ct_cor_sweep", and the files it writes.
#include "Body.h"

#include "CorSweepPanel.h"
#include "CtCalc.h"
#include "CtImageData.h"
#include "Failures.h"
#include "FieldText.h"
#include "HSgm.h"
#include "ImgDatas.h"
#include "PopDockBase.h"
#include "ProcCtrl.h"
#include "Sinogram.h"
#include "TextUtil.h"
#include "WholeFile.h"

#include <QDir>
#include <QLineEdit>

namespace {

double numberOf(const QLineEdit *edit)
{
    bool ok = false;
    const double v = edit->text().toDouble(&ok);
    return ok ? v : 0.0;
}

} // namespace

void Body::setupCorSweep()
{
    corSweep = new CorSweepPanel;
    auto *base = new PopDockBase;
    base->setObjectName("CorSweepBase");
    base->setWidget(corSweep, tr("Centre of Rotation Sweep"));
    ImgsTab->addTab(base, tr("CoR Sweep"));
    connect(corSweep, &CorSweepPanel::sweepRequested, this,
        [this](double from, double to, double step) { corSweepRun(from, to, step); });
    connect(corSweep, &CorSweepPanel::corChosen, this, [this](double cor) {
        setProcCor(cor);
        notice(tr("Centre of rotation %1 taken from the sweep").arg(cor, 0, 'g', 6));
    });
}

int Body::corSweepRun(double from, double to, double step, const QString &dir)
{
    const std::vector<double> cors = CorSweep::cors(from, to, step);
    if (cors.empty()) {
        recordFailure(Failures::Command,
            QString("A CoR sweep from %1 to %2 by %3 holds no centre (or more than %4)")
                .arg(from)
                .arg(to)
                .arg(step)
                .arg(CorSweep::MaxSlices));
        return 0;
    }
    if (runKind != RunKind::None || workersInFlight() > 0 || ctCalc->running) {
        recordFailure(Failures::Command, "No CoR sweep while a reconstruction runs");
        return 0;
    }
    // A copy of the run's parameters as a start would fill them; the sweep changes nothing of
    // the window's own.
    CtParams p = ctParams;
    procCtrl->fillCtParams(p, true, false);
    p.imageAnglesDeg = imageAngles();
    p.upperLimit = numberOf(DataUpperLimit);
    p.lowerLimit = numberOf(DataLowerLimit);
    p.dataOffset = numberOf(DataOffset);
    const bool rotAxIsV = procCtrl->rotAxIsV();
    const int slice = procCtrl->slice();
    // The sinogram the single-slice panel would reconstruct at that centre; a refused one
    // leaves the record empty.
    const CorSweep::SinogramFn sgm = [&](HSgm &h, double cor) {
        h.sgm.reset();
        h.rawSgm.reset();
        sinogram->genSinogram0(&h, rotAxIsV, cor, slice);
        return h.hasData();
    };
    corSweep->setRange(from, to, step);
    const int made = corSweep->run(sgm, p, cors);
    for (int i = 0; i < ImgsTab->count(); ++i)
        if (ImgsTab->widget(i)->isAncestorOf(corSweep))
            ImgsTab->setCurrentIndex(i);
    if (made == 0) {
        recordFailure(Failures::Slice,
            QString("The CoR sweep of slice %1 made no slice: %2")
                .arg(slice)
                .arg(sliceRefusal(rotAxIsV, cors.front(), slice)));
        return 0;
    }
    const CorSweep::Slice &best = corSweep->slices()[size_t(corSweep->bestIndex())];
    notice(tr("CoR sweep of slice %1: %2 slices, the least total variation at CoR %3")
               .arg(slice)
               .arg(made)
               .arg(best.cor, 0, 'g', 6));
    if (dir.isEmpty())
        return made;
    if (!QDir().mkpath(dir)) {
        recordFailure(Failures::Folder, "Cannot make the folder " + dir);
        return 0;
    }
    int written = 0;
    for (const CorSweep::Slice &s : corSweep->slices()) {
        const QString name
            = QString("slice%1_cor%2.dat").arg(slice, 5, 10, QChar('0')).arg(s.cor, 0, 'f', 2);
        const QByteArray bytes = makeCtImageData(s.values.data(), s.n, s.n, 0, 0, s.n, s.n, p);
        if (saveWholeFile(QDir(dir).filePath(name), bytes))
            ++written;
    }
    logLine(QString("CoR sweep: %1 slice files written to").arg(written), dir);
    return written == made ? made : 0;
}
