#include "DataSaver.h"
#include "Failures.h"
#include "SaveNaming.h"
#include "TextUtil.h"
#include "WholeFile.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QStringList>
#include <QThread>

#include <memory>

DataSaver::DataSaver(QObject *parent)
    : QObject(parent)
{
    registerTypes();
}

void DataSaver::registerTypes()
{
    qRegisterMetaType<SavingData *>("SavingData*");
    qRegisterMetaType<SavingImg *>("SavingImg*");
}

void DataSaver::shutDown()
{
    QThread *t = thread();
    if (t == QThread::currentThread()) {
        finish(); // no thread of its own: the records are delivered right here
        return;
    }
    if (!t->isRunning())
        t->start();
    if (!t->isRunning()) {
        // Nothing would ever deliver the records: waiting for them would hang.
        recordFailure(Failures::FileWrite,
            "The files queued for writing are lost: the saver's thread cannot be started");
        return;
    }
    // Queued behind every record already posted, so all of them are written when it returns.
    QMetaObject::invokeMethod(this, &DataSaver::finish, Qt::BlockingQueuedConnection);
    t->quit();
    t->wait();
}

void DataSaver::finish()
{
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

QStringList DataSaver::prepareFolders(const QString &path, const QString &tag, const QString &no)
{
    return makeSaveFolders(path, tag, no, inSubFolders.load(), ofEnergy.load(), ofSlice.load());
}

void DataSaver::saveData(SavingData *data)
{
    if (!data)
        return;
    const QString fileName = saveFileName(data->name, data->tag, data->no, data->ext);
    const bool slice = data->ext == QLatin1String("tif");
    bool ok = false;
    const int no = data->no.toInt(&ok);
    for (const QString &folder : prepareFolders(data->path, data->tag, data->no)) {
        const QString path = joinSaveFolder(folder, fileName);
        if (saveWholeFile(path, data->data)) {
            ++written;
            if (slice && ok && !runTiffSlices.contains(no))
                runTiffSlices.insert(no, path);
        }
    }
}

void DataSaver::saveDataWDiscard(SavingData *data)
{
    std::unique_ptr<SavingData> owned(data);
    saveData(data);
}

void DataSaver::saveImg(SavingImg *img)
{
    if (!img)
        return;
    const QString fileName = saveFileName(img->name, img->tag, img->no, "png");
    // Encoded once in memory, so that each copy is written and checked as a whole.
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!img->img.save(&buffer, "png"))
            png.clear();
    }
    for (const QString &folder : prepareFolders(img->path, img->tag, img->no)) {
        const QString path = joinSaveFolder(folder, fileName);
        if (png.isEmpty())
            recordFailure(Failures::FileWrite, "Cannot write the file " + path);
        else if (saveWholeFile(path, png))
            ++written;
    }
}

void DataSaver::saveImgWDiscard(SavingImg *img)
{
    std::unique_ptr<SavingImg> owned(img);
    saveImg(img);
}
