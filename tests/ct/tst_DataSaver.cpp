#include "DataSaver.h"
#include "Failures.h"
#include "PngFile.h"
#include "ResultSaver.h"
#include "SaveNaming.h"

#include <QDirIterator>
#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

#include <unistd.h>

namespace {

// Sends records the way a worker does: by queued signals from its own thread.
class Producer : public QObject
{
    Q_OBJECT
signals:
    void saveDataWDiscard(SavingData *data);
    void saveImgWDiscard(SavingImg *img);
};

SavingData *dataRecord(const QString &path, const QString &name, const QString &tag, int slice,
    const QByteArray &bytes)
{
    auto *d = new SavingData;
    d->path = path;
    d->name = name;
    d->tag = tag;
    d->no = saveSliceNo(slice);
    d->data = bytes;
    return d;
}

QImage picture(int seed)
{
    QImage img(7, 5, QImage::Format_Grayscale8);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, qRgb((x * 31 + y * 7 + seed) % 256, 0, 0));
    return img;
}

SavingImg *imageRecord(
    const QString &path, const QString &name, const QString &tag, int slice, const QImage &img)
{
    auto *r = new SavingImg;
    r->path = path;
    r->name = name;
    r->tag = tag;
    r->no = saveSliceNo(slice);
    r->img = img;
    return r;
}

// Distinct content per slice, large enough that writing takes real time.
QByteArray payload(int slice, int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char('a' + (i * 7 + slice) % 26);
    return b;
}

QStringList filesBelow(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A tmpfs of `kib` KiB mounted on `dir` for the life of the object (needs root).
struct SmallFileSystem
{
    SmallFileSystem(const QString &dir, int kib)
        : dir(dir)
    {
        mounted = geteuid() == 0
            && QProcess::execute(
                   "mount", { "-t", "tmpfs", "-o", QString("size=%1k").arg(kib), "tmpfs", dir })
                == 0;
    }
    ~SmallFileSystem()
    {
        if (mounted)
            QProcess::execute("umount", { dir });
    }
    QString dir;
    bool mounted = false;
};

// A picture whose PNG is some kilobytes: noise does not compress.
QImage noisyPicture(int side)
{
    QImage img(side, side, QImage::Format_RGB32);
    quint32 x = 12345;
    for (int y = 0; y < side; ++y)
        for (int i = 0; i < side; ++i) {
            x = x * 1664525u + 1013904223u;
            img.setPixel(i, y, x >> 8);
        }
    return img;
}

// A saver on a started thread of its own, closed down by the test.
struct SaverOnThread
{
    SaverOnThread()
    {
        saver.moveToThread(&thread);
        thread.start();
    }
    ~SaverOnThread()
    {
        if (thread.isRunning())
            saver.shutDown();
    }
    QThread thread;
    DataSaver saver;
};

} // namespace

class TestDataSaver : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void writesToTheFlaggedFolders_data();
    void writesToTheFlaggedFolders();
    void keepingSlotsLeaveTheRecordToTheCaller();
    void failuresAreReportedAndTheRunGoesOn_data();
    void failuresAreReportedAndTheRunGoesOn();
    void fullDiskLeavesNoPartialFile_data();
    void fullDiskLeavesNoPartialFile();
    void emptyFolderMeansWorkingFolder();
    void shutDownWritesEveryQueuedRecord_data();
    void shutDownWritesEveryQueuedRecord();
    void producersWaitWhenTheQueueIsFull_data();
    void producersWaitWhenTheQueueIsFull();
    void headlessPicturesAreTheWindows_data();
    void headlessPicturesAreTheWindows();

private:
    int liveData = 0;
    int liveImg = 0;
};

void TestDataSaver::init()
{
    liveData = SavingData::liveCount();
    liveImg = SavingImg::liveCount();
}

void TestDataSaver::cleanup()
{
    QCOMPARE(SavingData::liveCount(), liveData);
    QCOMPARE(SavingImg::liveCount(), liveImg);
}

void TestDataSaver::writesToTheFlaggedFolders_data()
{
    QTest::addColumn<bool>("inSub");
    QTest::addColumn<bool>("ofEnergy");
    QTest::addColumn<bool>("ofSlice");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("flat with name")
        << false << false << false << "scan" << QStringList { "scan-7112eV-00042.dat" };
    QTest::newRow("flat without name")
        << false << true << true << "" << QStringList { "7112eV-00042.dat" };
    QTest::newRow("of energy") << true << true << false << "scan"
                               << QStringList { "7112eV/scan-7112eV-00042.dat" };
    QTest::newRow("of slice") << true << false << true << "scan"
                              << QStringList { "00042/scan-7112eV-00042.dat" };
    QTest::newRow("neither box") << true << false << false << "scan"
                                 << QStringList { "00042/scan-7112eV-00042.dat" };
    QTest::newRow("both boxes") << true << true << true << "scan"
                                << QStringList { "00042/scan-7112eV-00042.dat",
                                       "7112eV/scan-7112eV-00042.dat" };
}

void TestDataSaver::writesToTheFlaggedFolders()
{
    QFETCH(bool, inSub);
    QFETCH(bool, ofEnergy);
    QFETCH(bool, ofSlice);
    QFETCH(QString, name);
    QFETCH(QStringList, files);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + "/out"; // not there yet: the saver makes it
    const QByteArray bytes = "#VEXA-CTImg\n0\t0\t10\n";
    {
        SaverOnThread s;
        s.saver.inSubFolders = inSub;
        s.saver.ofEnergy = ofEnergy;
        s.saver.ofSlice = ofSlice;
        Producer producer;
        connect(&producer, &Producer::saveDataWDiscard, &s.saver, &DataSaver::saveDataWDiscard);
        connect(&producer, &Producer::saveImgWDiscard, &s.saver, &DataSaver::saveImgWDiscard);
        emit producer.saveDataWDiscard(dataRecord(root, name, "7112eV", 42, bytes));
        emit producer.saveImgWDiscard(imageRecord(root, name, "7112eV", 42, picture(42)));
        s.saver.shutDown();
    }
    // The saver of the headless tools files the same records in the same places, with the
    // same bytes.
    const QString headlessRoot = dir.path() + "/headless";
    {
        ResultSaver saver;
        saver.inSubFolders = inSub;
        saver.ofEnergy = ofEnergy;
        saver.ofSlice = ofSlice;
        QVERIFY(saver.start());
        ResultRecord data;
        data.path = headlessRoot;
        data.name = name;
        data.tag = "7112eV";
        data.no = saveSliceNo(42);
        data.data = bytes;
        ResultRecord pic = data;
        pic.ext = "png";
        pic.data.clear();
        const QImage img = picture(42);
        pic.width = img.width();
        pic.height = img.height();
        for (int y = 0; y < img.height(); ++y)
            pic.grey.insert(
                pic.grey.end(), img.constScanLine(y), img.constScanLine(y) + img.width());
        pic.dotsPerMetre = img.dotsPerMeterX();
        saver.post(data);
        saver.post(pic);
        saver.finish();
        QCOMPARE(saver.written(), qint64(2 * files.size()));
    }
    QStringList all;
    for (const QString &f : files)
        all << f << QString(f).replace(".dat", ".png");
    all.sort();
    QCOMPARE(filesBelow(root), all);
    QCOMPARE(filesBelow(headlessRoot), all);
    for (const QString &f : std::as_const(all))
        QVERIFY2(contentOf(headlessRoot + "/" + f) == contentOf(root + "/" + f), qPrintable(f));
    for (const QString &f : files) {
        QCOMPARE(contentOf(root + "/" + f), bytes);
        const QImage back(root + "/" + QString(f).replace(".dat", ".png"));
        QCOMPARE(back.convertToFormat(QImage::Format_Grayscale8), picture(42));
    }
}

void TestDataSaver::keepingSlotsLeaveTheRecordToTheCaller()
{
    QTemporaryDir dir;
    DataSaver saver;
    saver.inSubFolders = false;
    std::unique_ptr<SavingData> data(dataRecord(dir.path(), "n", "t", 1, "first"));
    std::unique_ptr<SavingImg> img(imageRecord(dir.path(), "n", "t", 1, picture(1)));
    saver.saveData(data.get());
    saver.saveImg(img.get());
    // Still the caller's: reusable after the call, and an existing file is replaced.
    data->data = "second";
    saver.saveData(data.get());
    QCOMPARE(contentOf(dir.path() + "/n-t-00001.dat"), QByteArray("second"));
    QCOMPARE(
        QImage(dir.path() + "/n-t-00001.png").convertToFormat(QImage::Format_Grayscale8), img->img);
    QCOMPARE(filesBelow(dir.path()), QStringList({ "n-t-00001.dat", "n-t-00001.png" }));
}

void TestDataSaver::failuresAreReportedAndTheRunGoesOn_data()
{
    QTest::addColumn<bool>("blockFolder");
    QTest::newRow("folder cannot be made") << true;
    QTest::newRow("file cannot be written") << false;
}

void TestDataSaver::failuresAreReportedAndTheRunGoesOn()
{
    QFETCH(bool, blockFolder);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/00001";
    const QString target = folder + "/n-t-00001.dat";
    if (blockFolder) {
        QFile plain(folder); // a file where the slice folder should go
        QVERIFY(plain.open(QIODevice::WriteOnly));
        QTest::ignoreMessage(QtDebugMsg, qPrintable("Cannot create the folder " + folder));
    } else {
        QVERIFY(QDir().mkpath(target)); // a folder where the file should go
    }
    QTest::ignoreMessage(QtDebugMsg, qPrintable("Cannot write the file " + target));

    DataSaver saver;
    saver.inSubFolders = true;
    saver.ofEnergy = false;
    saver.ofSlice = true;
    saver.saveDataWDiscard(dataRecord(dir.path(), "n", "t", 1, "lost"));
    saver.saveDataWDiscard(dataRecord(dir.path(), "n", "t", 2, "kept"));
    QCOMPARE(contentOf(dir.path() + "/00002/n-t-00002.dat"), QByteArray("kept"));
    // cleanup() checks that the failed record was deleted too.
}

void TestDataSaver::fullDiskLeavesNoPartialFile_data()
{
    QTest::addColumn<bool>("picture");
    QTest::newRow("data file") << false;
    QTest::newRow("picture") << true;
}

void TestDataSaver::fullDiskLeavesNoPartialFile()
{
    QFETCH(bool, picture);
    QTemporaryDir dir;
    SmallFileSystem fs(dir.path(), 64);
    if (!fs.mounted)
        QSKIP("needs root to mount a small tmpfs");
    {
        // Leaves one page free: smaller than the file, which is smaller than any write buffer.
        QFile filler(dir.path() + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        QCOMPARE(filler.write(QByteArray(60 * 1024, 'f')), 60 * 1024);
    }
    const QString target = dir.path() + (picture ? "/n-t-00001.png" : "/n-t-00001.dat");
    QTest::ignoreMessage(QtDebugMsg, qPrintable("Cannot write the file " + target));
    Failures::instance().reset();

    DataSaver saver;
    saver.inSubFolders = false;
    if (picture)
        saver.saveImgWDiscard(imageRecord(dir.path(), "n", "t", 1, noisyPicture(64)));
    else
        saver.saveDataWDiscard(dataRecord(dir.path(), "n", "t", 1, payload(1, 12000)));
    QCOMPARE(filesBelow(dir.path()), QStringList { "filler" });
    QCOMPARE(Failures::instance().count(Failures::FileWrite), 1);
}

void TestDataSaver::emptyFolderMeansWorkingFolder()
{
    QTemporaryDir dir;
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    DataSaver saver;
    saver.inSubFolders = true;
    saver.ofEnergy = true;
    saver.ofSlice = false;
    saver.saveDataWDiscard(dataRecord("", "", "Fe", 5, "x"));
    QDir::setCurrent(before);
    QCOMPARE(filesBelow(dir.path()), QStringList { "Fe/Fe-00005.dat" });
}

void TestDataSaver::shutDownWritesEveryQueuedRecord_data()
{
    QTest::addColumn<bool>("started");
    QTest::newRow("saver thread running") << true;
    QTest::newRow("saver thread never started") << false;
}

void TestDataSaver::shutDownWritesEveryQueuedRecord()
{
    QFETCH(bool, started);
    QTemporaryDir dir;
    const int perProducer = 60;
    const int size = 256 * 1024;

    QThread saverThread;
    DataSaver saver;
    saver.inSubFolders = false;
    saver.moveToThread(&saverThread);
    QSemaphore gate;
    if (started) {
        saverThread.start();
        // Hold the saver until everything is queued, so that close-down meets a full queue.
        QMetaObject::invokeMethod(
            &saver, [&gate] { gate.acquire(); }, Qt::QueuedConnection);
    }

    auto produce = [&](int first) {
        Producer producer;
        connect(&producer, &Producer::saveDataWDiscard, &saver, &DataSaver::saveDataWDiscard);
        connect(&producer, &Producer::saveImgWDiscard, &saver, &DataSaver::saveImgWDiscard);
        for (int i = first; i < first + perProducer; ++i) {
            emit producer.saveDataWDiscard(dataRecord(dir.path(), "s", "t", i, payload(i, size)));
            emit producer.saveImgWDiscard(imageRecord(dir.path(), "s", "t", i, picture(i)));
        }
    };
    std::unique_ptr<QThread> a(QThread::create(produce, 0));
    std::unique_ptr<QThread> b(QThread::create(produce, perProducer));
    a->start();
    b->start();
    QVERIFY(a->wait(60000));
    QVERIFY(b->wait(60000));
    QCOMPARE(filesBelow(dir.path()), QStringList()); // all of it still queued
    QCOMPARE(SavingData::liveCount(), liveData + 2 * perProducer);

    gate.release();
    saver.shutDown();
    QVERIFY(saverThread.isFinished());

    const QStringList files = filesBelow(dir.path());
    QCOMPARE(files.size(), 4 * perProducer);
    for (int i = 0; i < 2 * perProducer; ++i) {
        const QString stem = dir.path() + "/s-t-" + saveSliceNo(i);
        QCOMPARE(contentOf(stem + ".dat"), payload(i, size));
        QCOMPARE(QImage(stem + ".png").convertToFormat(QImage::Format_Grayscale8), picture(i));
    }
    // cleanup() checks that no record is left alive.
}

void TestDataSaver::producersWaitWhenTheQueueIsFull_data()
{
    QTest::addColumn<bool>("headless");
    QTest::newRow("window's saver") << false;
    QTest::newRow("saver of the tools") << true;
}

// A producer that waits for room never has more than the limit of records queued; the saver
// catching up lets it go on, and every record is written.
void TestDataSaver::producersWaitWhenTheQueueIsFull()
{
    QFETCH(bool, headless);
    QTemporaryDir dir;
    const int limit = 4;
    const int records = 20;
    if (headless) {
        // Records wait until the writer starts.
        ResultSaver saver;
        saver.inSubFolders = false;
        saver.setQueueLimit(limit);
        std::atomic<int> made { 0 };
        std::unique_ptr<QThread> producerThread(QThread::create([&] {
            for (int i = 0; i < records; ++i) {
                saver.waitForRoom();
                ResultRecord r;
                r.path = dir.path();
                r.name = "q";
                r.tag = "t";
                r.no = saveSliceNo(i);
                r.data = payload(i, 1024);
                saver.post(std::move(r));
                ++made;
            }
        }));
        producerThread->start();
        QTRY_COMPARE(made.load(), limit);
        QTest::qWait(200);
        QCOMPARE(made.load(), limit);
        QCOMPARE(filesBelow(dir.path()).size(), 0);
        QVERIFY(saver.start());
        QVERIFY(producerThread->wait(60000));
        saver.finish();
        QCOMPARE(made.load(), records);
        QCOMPARE(saver.written(), qint64(records));
        QCOMPARE(filesBelow(dir.path()).size(), records);
        for (int i = 0; i < records; ++i)
            QCOMPARE(contentOf(dir.filePath("q-t-" + saveSliceNo(i) + ".dat")), payload(i, 1024));
        return;
    }
    QThread saverThread;
    DataSaver saver;
    saver.inSubFolders = false;
    saver.moveToThread(&saverThread);
    saverThread.start();
    QSemaphore gate;
    QMetaObject::invokeMethod(
        &saver, [&gate] { gate.acquire(); }, Qt::QueuedConnection);

    SavingData::setQueueLimit(liveData + limit);
    std::atomic<int> made { 0 };
    std::unique_ptr<QThread> producerThread(QThread::create([&] {
        Producer producer;
        connect(&producer, &Producer::saveDataWDiscard, &saver, &DataSaver::saveDataWDiscard);
        for (int i = 0; i < records; ++i) {
            SavingData::waitForRoom();
            emit producer.saveDataWDiscard(dataRecord(dir.path(), "q", "t", i, payload(i, 1024)));
            ++made;
        }
    }));
    producerThread->start();
    // The producer stops at the limit while the saver is held.
    QTRY_COMPARE(made.load(), limit);
    QTest::qWait(200);
    QCOMPARE(made.load(), limit);
    QCOMPARE(SavingData::liveCount(), liveData + limit);

    gate.release();
    QVERIFY(producerThread->wait(60000));
    saver.shutDown();
    SavingData::setQueueLimit(0);
    QCOMPARE(made.load(), records);
    QCOMPARE(filesBelow(dir.path()).size(), records);
}

void TestDataSaver::headlessPicturesAreTheWindows_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("noisy");
    QTest::addColumn<int>("dotsPerMetre");
    QTest::newRow("one pixel") << QSize(1, 1) << false << 3780;
    QTest::newRow("gradient") << QSize(7, 5) << false << 3780;
    // Noise does not compress: the image data run over several chunks.
    QTest::newRow("noise, several chunks") << QSize(400, 300) << true << 3780;
    QTest::newRow("another resolution") << QSize(64, 48) << true << 3937;
}

// The PNG files the tools write without Qt Gui are those the window's saver writes of the
// same grey picture, byte for byte; a file cut short or damaged does not decode whole.
void TestDataSaver::headlessPicturesAreTheWindows()
{
    QFETCH(QSize, size);
    QFETCH(bool, noisy);
    QFETCH(int, dotsPerMetre);
    QImage img(size, QImage::Format_Grayscale8);
    img.setDotsPerMeterX(dotsPerMetre);
    img.setDotsPerMeterY(dotsPerMetre);
    quint32 x = 12345;
    for (int y = 0; y < size.height(); ++y) {
        uchar *row = img.scanLine(y);
        for (int i = 0; i < size.width(); ++i) {
            x = x * 1664525u + 1013904223u;
            row[i] = noisy ? uchar(x >> 24) : uchar((i * 31 + y * 7) % 256);
        }
    }
    QTemporaryDir dir;
    DataSaver saver;
    saver.inSubFolders = false;
    saver.saveImgWDiscard(imageRecord(dir.path(), "w", "t", 1, img));
    const QString path = dir.filePath("w-t-00001.png");
    const QByteArray window = contentOf(path);
    QVERIFY(!window.isEmpty());

    std::vector<unsigned char> grey;
    for (int y = 0; y < size.height(); ++y)
        grey.insert(grey.end(), img.constScanLine(y), img.constScanLine(y) + size.width());
    const QByteArray headless
        = PngFile::grey(grey.data(), size.width(), size.height(), dotsPerMetre);
    QCOMPARE(headless.size(), window.size());
    QVERIFY(headless == window);

    QVERIFY(PngFile::decodes(path));
    // Cut at the end chunk, in the image data, and one byte short; a flipped bit in the image
    // data fails its checksum.
    const QString damaged = dir.filePath("damaged.png");
    const qsizetype dataAt = window.indexOf("IDAT") + 8;
    for (const QByteArray &bytes : { window.left(window.size() - 12),
             window.left(dataAt + (window.size() - 12 - dataAt) / 2), window.chopped(1),
             QByteArray(window).replace(
                 dataAt, 1, QByteArray(1, char(window.at(dataAt) ^ 0x10))) }) {
        QFile f(damaged);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        QVERIFY2(!PngFile::decodes(damaged), qPrintable(QString::number(bytes.size())));
    }
}

QTEST_GUILESS_MAIN(TestDataSaver)
#include "tst_DataSaver.moc"
