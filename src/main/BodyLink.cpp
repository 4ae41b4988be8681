// Driving the companion viewer from the main window: send it the data files of a slice, ask
// for its two-dimensional analysis once the files are in, and walk a slice range that way.
#include "Body.h"

#include "QuoltLink.h"
#include "SaveNaming.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {

const QString IdleStyle = QStringLiteral("background-color: rgb(213, 245, 255);");
const QString RunningStyle = QStringLiteral("background-color: rgb(255, 255, 128);");
const QString BusyStyle = QStringLiteral("background-color: rgb(255, 192, 192);");
const QString NotBusyStyle = QStringLiteral("background-color: rgb(211, 255, 241);");

const QString LoadFilesOfPattern = QStringLiteral("LOAD_I1_FILES_OF_PATTERN");
const QString LoadFiles = QStringLiteral("LOAD_I1_FILES");
const QString Exec2dA = QStringLiteral("ANALYZER_EXEC_2DA");

void appendMatching(QStringList &files, const QString &folder, const QString &filter)
{
    const QFileInfoList found = QDir(folder).entryInfoList({ filter }, QDir::Files, QDir::Name);
    for (const QFileInfo &f : found)
        files << QDir::toNativeSeparators(f.absoluteFilePath());
}

} // namespace

void Body::setupQuoltLink()
{
    qlkInitFlags();
    quoltLink->doConnect();
}

void Body::setCont2dA(bool on)
{
    cont2dA = on;
    Cont2DA->setStyleSheet(on ? RunningStyle : IdleStyle);
}

void Body::qlkInitFlags()
{
    qlkState = 0;
    setCont2dA(false);
    qlkBusy = false;
    QLKIsBusy->setStyleSheet(NotBusyStyle);
    emit qlkStatChanged();
    contFrom = contTo = contSlice = 0;
}

void Body::qlkChangedIsBusy(bool f)
{
    if (f == qlkBusy)
        return;
    QLKIsBusy->setStyleSheet(f ? BusyStyle : NotBusyStyle);
    qlkBusy = f;
    emit qlkStatChanged();
}

QStringList Body::sliceDataFiles(int slice) const
{
    const QString folder = SelectDataSaveDir->filePath();
    const QString filter = saveFileName(QString(), QStringLiteral("*"), saveSliceNo(slice), "dat");
    QStringList files;
    if (!SaveInSubFolders->isChecked()) {
        appendMatching(files, folder, filter);
        return files;
    }
    // One folder per energy, in name order, which is energy order for zero-padded names. The
    // folder itself and its parent are not energies: their files belong to other runs.
    const QDir root(folder.isEmpty() ? QStringLiteral(".") : folder);
    const QFileInfoList subs = root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &sub : subs)
        appendMatching(files, sub.absoluteFilePath(), filter);
    return files;
}

void Body::sendSliceFiles(int slice)
{
    procCtrl->setSliceNo(slice);
    qlkState = 1;
    contSlice = slice;
    const QString no = saveSliceNo(slice);
    if (SaveInSubFolders->isChecked() && SubOfSlice->isChecked()) {
        const QString folder = SelectDataSaveDir->filePath();
        const QString base = QDir(folder.isEmpty() ? QStringLiteral(".") : folder).absolutePath();
        emit qlkLoadFilesOfPattern(QDir::toNativeSeparators(joinSaveFolder(base, no) + u'/'));
        return;
    }
    // An empty list is refused by the link, which resets the driving state.
    emit qlkLoadFiles(sliceDataFiles(slice));
}

void Body::qlkStageCtrl()
{
    if (qlkBusy)
        return;
    const QString last = quoltLink->lastMsg();
    switch (qlkState) {
    case 0:
        return;
    case 1:
        if (last != LoadFilesOfPattern && last != LoadFiles)
            return;
        if (With2DA->isChecked() || cont2dA) {
            qlkState = 2;
            emit exec2dA(saveSliceNo(contSlice));
        } else {
            qlkState = 0;
        }
        return;
    case 2: {
        if (last != Exec2dA)
            return;
        if (!cont2dA) {
            qlkState = 0;
            return;
        }
        const qint64 next = qint64(contSlice) + contStep;
        if (contStep > 0 ? next > contTo : next < contTo) {
            setCont2dA(false);
            qlkState = 0;
        } else {
            sendSliceFiles(int(next));
        }
        return;
    }
    default:
        qlkState = 0;
    }
}

void Body::qlkStartCont2dA()
{
    if (cont2dA) {
        setCont2dA(false);
        return;
    }
    setCont2dA(true);
    contFrom = procCtrl->sliceFrom();
    contTo = procCtrl->sliceTo();
    // A step of 0 would never get past the last slice; the walk goes towards contTo whatever
    // the sign typed, as the reconstruction of a range does.
    const qint64 magnitude
        = std::clamp<qint64>(std::abs(qint64(procCtrl->sliceStep())), 1, INT_MAX);
    contStep = int(contTo < contFrom ? -magnitude : magnitude);
    contSlice = contFrom;
    sendSliceFiles(contSlice);
}

void Body::exec2dA0()
{
    emit exec2dA(saveSliceNo(procCtrl->slice()));
}
