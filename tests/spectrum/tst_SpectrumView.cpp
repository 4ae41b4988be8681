// The Spectrum view offscreen: a stack file written here, a real click on a voxel of the
// image, and the plotted series read back from the chart.
#include "DispB.h"
#include "ImgDispWCBar.h"
#include "SpectrumView.h"
#include "xafs/ModelStack.h"

#include <QChart>
#include <QLineSeries>
#include <QtTest>

using namespace modelstack;

class tst_SpectrumView : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void clickShowsTheVoxelsSpectrum_data();
    void clickShowsTheVoxelsSpectrum();
    void fitPinsAndCsv();
    void mapsAsImages_data();
    void mapsAsImages();

private:
    void click(SpectrumView &v, int row, int column);
    QTemporaryDir dir_;
    QString stack_, refA_, refB_;
};

void tst_SpectrumView::initTestCase()
{
    stack_ = dir_.filePath("stack.h5");
    refA_ = dir_.filePath("FeA.txt");
    refB_ = dir_.filePath("FeB.txt");
    QVERIFY(writeStack(stack_, 0));
    QVERIFY(writeReference(refA_, kA));
    QVERIFY(writeReference(refB_, kB));
}

// A left click at the screen position of the voxel's pixel centre.
void tst_SpectrumView::click(SpectrumView &v, int row, int column)
{
    ImgDispWCBar *d = v.imageView();
    DispB *canvas = d->dispB();
    const QRectF shown = d->shownRect();
    const double k = shown.width() / canvas->width();
    const QPoint p(int((column + 0.5 - shown.x()) / k), int((row + 0.5 - shown.y()) / k));
    QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier, p);
}

void tst_SpectrumView::clickShowsTheVoxelsSpectrum_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::newRow("species A") << 1 << 2;
    QTest::newRow("species B") << 4 << 3;
    QTest::newRow("a mixture") << 2 << 4;
    QTest::newRow("corner") << 5 << 0;
}

void tst_SpectrumView::clickShowsTheVoxelsSpectrum()
{
    QFETCH(int, row);
    QFETCH(int, column);
    SpectrumView v;
    v.resize(1000, 700);
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    QVERIFY2(v.loadStack(stack_), qPrintable(v.lastError()));
    QSignalSpy shown(&v, &SpectrumView::spectrumShown);
    click(v, row, column);
    QCOMPARE(shown.count(), 1);
    const int s = v.slice();
    QCOMPARE(
        shown.first().first().toString(), QString("voxel %1 %2 %3").arg(s).arg(row).arg(column));
    QLineSeries *mu = v.series("mu");
    QVERIFY(mu);
    const std::vector<double> energies = scanEnergies();
    QCOMPARE(mu->count(), int(energies.size()));
    for (int i = 0; i < mu->count(); ++i) {
        QCOMPARE(mu->at(i).x(), energies[std::size_t(i)]);
        QVERIFY(std::abs(mu->at(i).y() - voxelMu(s, row, column, energies[std::size_t(i)])) < 1e-5);
    }
    QVERIFY(v.series("pre-edge"));
    QVERIFY(v.series("post-edge"));
}

void tst_SpectrumView::fitPinsAndCsv()
{
    SpectrumView v;
    v.resize(1000, 700);
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    QVERIFY(v.loadStack(stack_));
    QVERIFY2(v.loadReferences({ refA_, refB_ }), qPrintable(v.lastError()));
    v.setNormalised(true);
    click(v, 3, 4); // 60 % A, 40 % B
    QLineSeries *norm = v.series("normalised");
    QLineSeries *fit = v.series("fit");
    QLineSeries *a = v.series("FeA");
    QVERIFY(norm && fit && a);
    QCOMPARE(fit->count(), norm->count());
    for (int i = 0; i < fit->count(); ++i)
        QVERIFY(std::abs(fit->at(i).y() - norm->at(i).y()) < 0.02);
    QVERIFY(std::abs(v.current().weights[0] - 0.6) < 0.02);
    // The component is the weighted reference: at the last energy, 0.6 x about 1.
    QVERIFY(std::abs(a->at(a->count() - 1).y()
                - 0.6 * fit->at(fit->count() - 1).y()
                    / (v.current().weights[0] + v.current().weights[1]))
        < 0.05);

    v.pinCurrent();
    click(v, 0, 2);
    QVERIFY(v.series(QString("voxel %1 3 4").arg(v.slice())));
    QVERIFY(v.series("normalised"));

    const QString csv = dir_.filePath("shown.csv");
    QVERIFY(v.exportCsv(csv));
    QFile f(csv);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().trimmed().split('\n');
    QCOMPARE(lines.size(), int(scanEnergies().size()) + 1);
    const QList<QByteArray> header = lines[0].split(',');
    const int muColumn = int(header.indexOf(QString("voxel %1 0 2 mu").arg(v.slice()).toUtf8()));
    QVERIFY(muColumn > 0);
    QVERIFY(header.contains(QString("voxel %1 3 4 FeB").arg(v.slice()).toUtf8()));
    const QList<QByteArray> last = lines.last().split(',');
    QCOMPARE(last[0].toDouble(), scanEnergies().back());
    QVERIFY(std::abs(last[muColumn].toDouble() - voxelMu(v.slice(), 0, 2, scanEnergies().back()))
        < 1e-5);
}

void tst_SpectrumView::mapsAsImages_data()
{
    QTest::addColumn<bool>("onThread");
    QTest::newRow("made in the call") << false;
    // The button's and the batch's way: the window goes on while the maps are made.
    QTest::newRow("made on a thread") << true;
}

void tst_SpectrumView::mapsAsImages()
{
    QFETCH(bool, onThread);
    SpectrumView v;
    v.resize(1000, 700);
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    QVERIFY(v.loadStack(stack_));
    const QString maps = dir_.filePath(onThread ? "maps-thread.h5" : "maps.h5");
    if (onThread) {
        QSignalSpy finished(&v, &SpectrumView::mapsFinished);
        QVERIFY2(v.startMaps(maps, { refA_, refB_ }), qPrintable(v.lastError()));
        // Returned at once: the result comes back through the event loop, and a second
        // request meanwhile is refused rather than run beside the first.
        QVERIFY(v.makingMaps());
        QVERIFY(v.mapNames().isEmpty());
        QVERIFY(!v.startMaps(dir_.filePath("other.h5"), {}));
        QVERIFY(v.lastError().contains("other.h5"));
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(!v.makingMaps());
        QVERIFY(!QFileInfo::exists(dir_.filePath("other.h5")));
    } else {
        QVERIFY2(v.makeMaps(maps, { refA_, refB_ }), qPrintable(v.lastError()));
    }
    QVERIFY(v.mapNames().contains("fraction_FeA"));
    QVERIFY(v.mapNames().contains("e0"));
    // The fraction map is shown: a mixture pixel is grey between the pure ones.
    const QImage img = v.imageView()->img;
    QCOMPARE(img.width(), kCols);
    QCOMPARE(img.height(), kRows);
    const int pureA = qGray(img.pixel(2, 0)), pureB = qGray(img.pixel(3, 0));
    const int mixed = qGray(img.pixel(4, 2));
    QVERIFY2(pureA > mixed && mixed > pureB,
        qPrintable(QString("%1 %2 %3").arg(pureA).arg(mixed).arg(pureB)));
    // Clicking a map pixel shows that voxel's spectrum.
    QSignalSpy shown(&v, &SpectrumView::spectrumShown);
    click(v, 2, 4);
    QCOMPARE(shown.count(), 1);
}

QTEST_MAIN(tst_SpectrumView)
#include "tst_SpectrumView.moc"
