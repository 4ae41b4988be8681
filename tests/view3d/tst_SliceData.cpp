#include "CtTiffData.h"
#include "Failures.h"
#include "SliceData.h"
#include "View3dTestUtil.h"

#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using v3test::writeCtSlice;
using v3test::writeFile;

class TestSliceData : public QObject
{
    Q_OBJECT
private slots:
    void ctImageData_data();
    void ctImageData();
    void ctImageDataNotAccepted_data();
    void ctImageDataNotAccepted();
    void datedText_data();
    void datedText();
    void picture();
    void badInput_data();
    void badInput();
    void longLinesAndCarriageReturns();

private:
    QTemporaryDir tmp;
    QString path(const QString &name) const { return tmp.filePath(name); }
};

namespace {

// A value that tells the source pixel of every cell.
double code(int x, int y)
{
    return x + 1000.0 * y + 0.25;
}

QByteArray lines(const QStringList &l)
{
    return (l.join('\n') + '\n').toLatin1();
}

} // namespace

void TestSliceData::ctImageData_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("x0");
    QTest::addColumn<int>("y0");
    QTest::addColumn<int>("tiff"); // 0: text data file, 1: float TIFF, 2: deflated float TIFF
    QTest::newRow("256 columns from 0") << 256 << 3 << 0 << 0 << 0;
    QTest::newRow("region at 100, 40") << 20 << 10 << 100 << 40 << 0;
    QTest::newRow("one row") << 7 << 2 << 5 << 1 << 0;
    QTest::newRow("float TIFF of a region at 100, 40") << 20 << 10 << 100 << 40 << 1;
    QTest::newRow("deflated float TIFF") << 256 << 3 << 0 << 0 << 2;
}

void TestSliceData::ctImageData()
{
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(int, x0);
    QFETCH(int, y0);
    QFETCH(int, tiff);
    QString f = tmp.filePath("ct.tif");
    if (tiff == 0) {
        f = writeCtSlice(tmp.path(), "ct.dat", w, h, code, x0, y0);
    } else {
        // The result holds the slice at (x0, y0); the file holds the region only.
        const int cols = x0 + w, rowCount = y0 + h;
        std::vector<double> result(size_t(cols) * rowCount, -1.0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                result[size_t(y0 + y) * cols + x0 + x] = code(x, y);
        CtTiffData::Info info;
        info.x0 = x0;
        info.z0 = y0;
        info.x1 = x0 + w;
        info.z1 = y0 + h;
        QVERIFY(writeFile(f, CtTiffData::make(result.data(), rowCount, cols, info, tiff == 2)));
    }
    SliceData s;
    QVERIFY(s.read(f));
    QVERIFY(!s.isImage);
    QCOMPARE(s.sw, w);
    QCOMPARE(s.sh, h);
    // The file's first data line, at (x0, y0), lands on grid position (0, 0).
    QCOMPARE(s.value(0, 0), code(0, 0));
    QCOMPARE(s.value(w - 1, h - 1), code(w - 1, h - 1));
    QCOMPARE(s.value(w / 2, h / 2), code(w / 2, h / 2));
    QCOMPARE(s.vMin, code(0, 0));
    QCOMPARE(s.vMax, code(w - 1, h - 1));
}

void TestSliceData::ctImageDataNotAccepted_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("sw");
    QTest::addColumn<int>("sh");
    QTest::addColumn<QStringList>("messages"); // FILE stands for the file's path
    const QStringList header = { "#VEXA-CTImg", "# Range_X0       : 0", "# Range_Y0       : 0",
        "# Range_X1       : 2", "# Range_Y1       : 1" };
    const QStringList points = { "0\t0\t5", "1\t0\t5", "2\t0\t5", "0\t1\t7", "1\t1\t7", "2\t1\t7" };
    QTest::newRow("plain") << lines(header + points) << true << 3 << 2 << QStringList();
    QTest::newRow("Range_X1 is 0")
        << lines({ "#VEXA-CTImg", "# Range_X0       : 0", "# Range_Y0       : 0",
               "# Range_X1       : 0", "# Range_Y1       : 1", "0\t0\t5", "0\t1\t6" })
        << false << 0 << 0 << QStringList { "without a usable range.*FILE" };
    // 0.5 is not an integer and counts as 0, so the grid runs from 0 to 2.
    QTest::newRow("fractional start")
        << lines(QStringList { "#VEXA-CTImg", "# Range_X0       : 0.5", "# Range_Y0       : 0",
               "# Range_X1       : 2", "# Range_Y1       : 1" }
            + points)
        << true << 3 << 2 << QStringList();
    QTest::newRow("no data lines") << lines(header) << false << 0 << 0
                                   << QStringList { "without a usable range.*FILE" };
    QTest::newRow("wrong first line")
        << lines(QStringList { "#VEXA-CT" } + header.mid(1) + points) << false << 0 << 0
        << QStringList();
    // A file cut short by a full disk: whole lines missing, or the last line cut in two.
    QTest::newRow("last point missing") << lines(header + points.mid(0, 5)) << false << 0 << 0
                                        << QStringList { "cut short.*FILE \\(5 of 6 points\\)" };
    QTest::newRow("cut inside the last line")
        << (header + points).join('\n').chopped(2).toLatin1() << false << 0 << 0
        << QStringList { "Malformed lines skipped.*FILE", "cut short.*FILE \\(5 of 6 points\\)" };
    QTest::newRow("a point given twice, another missing")
        << lines(header + points.mid(0, 5) + QStringList { "0\t0\t5" }) << false << 0 << 0
        << QStringList { "cut short.*FILE \\(5 of 6 points\\)" };
}

void TestSliceData::ctImageDataNotAccepted()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, accepted);
    QFETCH(int, sw);
    QFETCH(int, sh);
    QFETCH(QStringList, messages);
    const QString f = path("range.dat");
    QVERIFY(writeFile(f, text));
    for (const QString &m : messages)
        QTest::ignoreMessage(QtDebugMsg,
            QRegularExpression(QString(m).replace("FILE", QRegularExpression::escape(f))));
    const int failures = Failures::instance().count(Failures::Load);
    SliceData s;
    QCOMPARE(s.readCtImageData(f), accepted);
    QCOMPARE(s.sw, sw);
    QCOMPARE(s.sh, sh);
    // A file cut short is a damaged result: it counts as a failure of the load.
    const bool cut = messages.join(' ').contains("cut short");
    QCOMPARE(Failures::instance().count(Failures::Load), failures + (cut ? 1 : 0));
}

void TestSliceData::datedText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("sw");
    QTest::addColumn<int>("sh");
    QTest::addColumn<QList<double>>("row0");
    // "X-NUM" gives one more than the number of columns.
    QTest::newRow("blanks") << lines(
        { "## 240301 slice", "# X-NUM 4", "# Y-NUM 3", "# Format1 : XYV",
            "# Format2 : space-separated", "10 20 1.5", "11 20 2.5", "12 20 3.5", "10 21 4.5" })
                            << 3 << 2 << QList<double> { 1.5, 2.5, 3.5 };
    QTest::newRow("commas") << lines(
        { "## 240301", "# X-NUM, 4", "#Y-NUM : 3", "10,20,1.5", "11 ,20, 2.5", "12,20,3.5" })
                            << 3 << 2 << QList<double> { 1.5, 2.5, 3.5 };
    QTest::newRow("257 columns") << lines({ "## 240301", "# X-NUM 257", "# Y-NUM 2", "-5 -7 9",
        "250 -7 8" }) << 256 << 1 << QList<double> { 9 };
}

void TestSliceData::datedText()
{
    QFETCH(QByteArray, text);
    QFETCH(int, sw);
    QFETCH(int, sh);
    QFETCH(QList<double>, row0);
    const QString f = path("dated.txt");
    QVERIFY(writeFile(f, text));
    SliceData s;
    QVERIFY(s.read(f));
    QCOMPARE(s.sw, sw);
    QCOMPARE(s.sh, sh);
    for (int x = 0; x < row0.size(); ++x)
        QCOMPARE(s.value(x, 0), row0.at(x));
    // The first data point is the origin, whatever its coordinates.
    QCOMPARE(s.value(0, 0), row0.first());
}

void TestSliceData::picture()
{
    QImage img(100, 80, QImage::Format_RGB32);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 100; ++x)
            img.setPixel(x, y, qRgb(7, 9, (x * 3 + y) % 256));
    img.setPixel(0, 0, qRgb(0, 0, 0));
    img.setPixel(99, 79, qRgb(0, 0, 255));
    // The picture reader guesses the format from the content, not the name.
    const QString f = path("picture.dat");
    QVERIFY(img.save(f, "PNG"));
    SliceData s;
    QVERIFY(s.read(f));
    QVERIFY(s.isImage);
    QCOMPARE(s.sw, 100);
    QCOMPARE(s.sh, 80);
    QCOMPARE(s.vMin, 0.0);
    QCOMPARE(s.vMax, 255.0);
    QCOMPARE(s.value(10, 20), double((30 + 20) % 256));
    QCOMPARE(s.picture.size(), QSize(100, 80));

    QImage grey(4, 3, QImage::Format_Grayscale8);
    grey.fill(77);
    QVERIFY(grey.save(path("grey.png")));
    QVERIFY(s.read(path("grey.png")));
    QCOMPARE(s.value(3, 2), 77.0);
}

void TestSliceData::badInput_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("sw");
    QTest::addColumn<QList<double>>("row0");
    // Range_Y1 must be positive: two rows, of which the tests look at the first.
    const QStringList head
        = { "#VEXA-CTImg", "# Range_X0 : 0", "# Range_Y0 : 0", "# Range_X1 : 2", "# Range_Y1 : 1" };
    const QStringList row1 = { "0\t1\t0", "1\t1\t0", "2\t1\t0" };
    QTest::newRow("empty file") << QByteArray() << false << QString() << 0 << QList<double>();
    QTest::newRow("no header") << lines({ "0\t0\t5", "1\t0\t6" }) << false << QString() << 0
                               << QList<double>();
    QTest::newRow("binary") << QByteArray("\x89\x00\xff\x13garbage\x00\x01", 14) << false
                            << QString() << 0 << QList<double>();
    QTest::newRow("huge claimed size") << lines({ "#VEXA-CTImg", "# Range_X0 : 0", "# Range_Y0 : 0",
        "# Range_X1 : 2000000000", "# Range_Y1 : 2000000000", "0\t0\t1" })
                                       << false << "Slice size too large" << 0 << QList<double>();
    QTest::newRow("dated huge size")
        << lines({ "## 240301", "# X-NUM 100000", "# Y-NUM 100000", "0 0 1" }) << false
        << "Slice size too large" << 0 << QList<double>();
    QTest::newRow("data before the range") << lines(QStringList { "#VEXA-CTImg", "0\t0\t99" }
        + head.mid(1) + QStringList { "0\t0\t1", "1\t0\t2", "2\t0\t3" } + row1)
                                           << true << QString() << 3 << QList<double> { 1, 2, 3 };
    QTest::newRow("malformed lines") << lines(
        head + QStringList { "0\t0\t1", "1\t0", "x\t0\t7", "1\t0\tabc", "2\t0\tnan", "2\t0\t3",
        "1\t0\t2" } + row1)
                                     << true << "Malformed lines skipped" << 3
                                     << QList<double> { 1, 2, 3 };
    QTest::newRow("points outside the grid")
        << lines(head
               + QStringList { "0\t0\t1", "3\t0\t9", "-1\t0\t9", "0\t2\t9", "1\t0\t0", "2\t0\t3" }
               + row1)
        << true << "outside the slice grid" << 3 << QList<double> { 1, 0, 3 };
    QTest::newRow("dated without sizes") << lines({ "## 240301", "0 0 1", "1 0 2" }) << false
                                         << "without a usable size" << 0 << QList<double>();
    QTest::newRow("dated unreadable size")
        << lines({ "## 240301", "# X-NUM many", "# Y-NUM 3", "0 0 1" }) << false
        << "without a usable size" << 0 << QList<double>();
}

void TestSliceData::badInput()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, accepted);
    QFETCH(QString, message);
    QFETCH(int, sw);
    QFETCH(QList<double>, row0);
    const QString f = path("bad.dat");
    QVERIFY(writeFile(f, text));
    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg,
            QRegularExpression(
                QRegularExpression::escape(message) + ".*" + QRegularExpression::escape(f)));
    SliceData s;
    s.dataOffset = 0.0; // the values as they stand in the text
    QCOMPARE(s.read(f), accepted);
    QCOMPARE(s.sw, sw);
    QCOMPARE(s.isValid(), accepted);
    for (int x = 0; x < row0.size(); ++x)
        QCOMPARE(s.value(x, 0), row0.at(x));
}

void TestSliceData::longLinesAndCarriageReturns()
{
    // Lines ending in CR LF, and one line far too long to be a slice line.
    QByteArray text = "#VEXA-CTImg\r\n# Range_X0 : 0\r\n# Range_Y0 : 0\r\n# Range_X1 : 1\r\n"
                      "# Range_Y1 : 1\r\n0\t0\t1\r\n1\t0\t2\r\n";
    text += QByteArray(300000, '7') + "\r\n";
    text += "0\t1\t3\r\n1\t1\t4\r\n";
    const QString f = path("long.dat");
    QVERIFY(writeFile(f, text));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("Malformed lines skipped.*line 8"));
    SliceData s;
    s.dataOffset = 0.0; // the values as they stand in the text
    QVERIFY(s.read(f));
    QCOMPARE(s.value(0, 0), 1.0);
    QCOMPARE(s.value(1, 1), 4.0);
    QCOMPARE(s.vMax, 4.0);
}

QTEST_MAIN(TestSliceData)
#include "tst_SliceData.moc"
