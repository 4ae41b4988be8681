// The centre-of-rotation sweep: its tab, its run from the window or the batch command
// "ct_cor_sweep", and the files it writes.
#include "Body.h"

#include "Batch.h"
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
    connect(corSweep, &CorSweepPanel::sweepFinished, this, &Body::corSweepEnded);
}

bool Body::corSweepRun(double from, double to, double step, const QString &dir, bool holdBatch)
{
    const std::vector<double> cors = CorSweep::cors(from, to, step);
    if (cors.empty()) {
        recordFailure(Failures::Command,
            QString("A CoR sweep from %1 to %2 by %3 holds no centre (or more than %4)")
                .arg(from)
                .arg(to)
                .arg(step)
                .arg(CorSweep::MaxSlices));
        return false;
    }
    if (corSweep->sweeping()) {
        recordFailure(Failures::Command, "A CoR sweep is running already: the new one is refused");
        return false;
    }
    if (runKind != RunKind::None || workersInFlight() > 0 || ctCalc->running || calculating) {
        recordFailure(Failures::Command, "No CoR sweep while a reconstruction runs");
        return false;
    }
    if (loading) {
        recordFailure(Failures::Command, "No CoR sweep while images are being loaded");
        return false;
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
    // The sinogram the single-slice panel would reconstruct at that centre, built on the
    // sweep's threads: it reads the image set and its I0/BG readers, which stay as they are
    // until the sweep has ended (loads and reference changes wait for it, as for the workers).
    // A refused one leaves the record empty.
    Sinogram *sg = sinogram;
    const CorSweep::SinogramFn sgm = [sg, rotAxIsV, slice](HSgm &h, double cor) {
        h.sgm.reset();
        h.rawSgm.reset();
        sg->genSinogram0(&h, rotAxIsV, cor, slice);
        return h.hasData();
    };
    corSweep->setRange(from, to, step);
    if (!corSweep->start(sgm, p, cors, std::max(1, procCtrl->threads()))) {
        recordFailure(Failures::Other, "The CoR sweep cannot start: the system gives no thread");
        return false;
    }
    sweep = SweepRun { slice, rotAxIsV, cors.front(), int(cors.size()), dir, holdBatch, p };
    updateReferenceLock();
    for (int i = 0; i < ImgsTab->count(); ++i)
        if (ImgsTab->widget(i)->isAncestorOf(corSweep))
            ImgsTab->setCurrentIndex(i);
    notice(tr("CoR sweep of slice %1: %2 centres of rotation").arg(slice).arg(cors.size()));
    return true;
}

void Body::corSweepEnded(int made)
{
    const SweepRun run = sweep;
    sweep = SweepRun {};
    updateReferenceLock();
    bool ok = made > 0;
    if (corSweep->wasCancelled()) {
        recordFailure(Failures::RunStopped,
            QString("The CoR sweep of slice %1 was stopped before its end: %2 of %3 slices made")
                .arg(run.slice)
                .arg(made)
                .arg(run.count));
        ok = false;
    } else if (made == 0) {
        recordFailure(Failures::Slice,
            QString("The CoR sweep of slice %1 made no slice: %2")
                .arg(run.slice)
                .arg(sliceRefusal(run.rotAxIsV, run.firstCor, run.slice)));
    } else {
        const CorSweep::Slice &best = corSweep->slices()[size_t(corSweep->bestIndex())];
        notice(tr("CoR sweep of slice %1: %2 slices, the least total variation at CoR %3")
                   .arg(run.slice)
                   .arg(made)
                   .arg(best.cor, 0, 'g', 6));
    }
    if (made > 0 && !run.dir.isEmpty()) {
        if (!QDir().mkpath(run.dir)) {
            recordFailure(Failures::Folder, "Cannot make the folder " + run.dir);
            ok = false;
        } else {
            int written = 0;
            for (const CorSweep::Slice &s : corSweep->slices()) {
                const QString name = QString("slice%1_cor%2.dat")
                                         .arg(run.slice, 5, 10, QChar('0'))
                                         .arg(s.cor, 0, 'f', 2);
                const QByteArray bytes
                    = makeCtImageData(s.values.data(), s.n, s.n, 0, 0, s.n, s.n, run.params);
                if (saveWholeFile(QDir(run.dir).filePath(name), bytes))
                    ++written;
            }
            logLine(QString("CoR sweep: %1 slice files written to").arg(written), run.dir);
            ok = ok && written == made;
        }
    }
    if (run.holdsBatch && batch) {
        // The interpreter reads lastOk only after this completion reaches it.
        batch->lastOk = ok;
        emit callBatchCheckEnd();
    }
    // Loads and starts that waited for the sweep go on.
    runIdleActions();
}
