#include "ItexWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <vector>

// The writer's byte layout is checked directly here, independently of the reader, so that
// a symmetric mistake in both cannot go unnoticed.
class tst_ItexWriter : public QObject
{
    Q_OBJECT

private slots:
    void layout_data();
    void layout();
    void refusesBadArguments_data();
    void refusesBadArguments();
    void failsOnUnwritableFolder();

private:
    QTemporaryDir dir;
};

void tst_ItexWriter::layout_data()
{
    QTest::addColumn<int>("bytesPerPixel");
    QTest::addColumn<double>("expTime");
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QByteArray>("comment");

    QTest::newRow("16-bit, no exposure") << 2 << -1.0 << QString()
                                         << QByteArray("Prop_ImageWidth=3,Prop_ImageHeight=2,"
                                                       "BytesPerPixel=2,");
    QTest::newRow("32-bit with exposure and extra")
        << 4 << 0.25 << QString("Note=a,b")
        << QByteArray("Prop_ImageWidth=3,Prop_ImageHeight=2,BytesPerPixel=4,"
                      "Prop_ExposureTime1=0.25,Note=a,b,");
    QTest::newRow("extra already ends in comma")
        << 2 << 0.0 << QString("X=1,")
        << QByteArray("Prop_ImageWidth=3,Prop_ImageHeight=2,BytesPerPixel=2,"
                      "Prop_ExposureTime1=0,X=1,");
}

void tst_ItexWriter::layout()
{
    QFETCH(int, bytesPerPixel);
    QFETCH(double, expTime);
    QFETCH(QString, extra);
    QFETCH(QByteArray, comment);

    const std::vector<quint32> px32 = { 0, 1, 0x01020304u, 65535, 0xffffffffu, 7 };
    const std::vector<quint16> px16 = { 0, 1, 0x0102, 65535, 0x8000, 7 };
    const void *src = bytesPerPixel == 2 ? static_cast<const void *>(px16.data())
                                         : static_cast<const void *>(px32.data());
    const QString path = dir.filePath("layout.img");
    QVERIFY(writeItexFile(path, 3, 2, bytesPerPixel, src, expTime, extra));

    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray all = f.readAll();
    QCOMPARE(all.size(), 64 + comment.size() + 6 * bytesPerPixel);
    QCOMPARE(all.left(2), QByteArray("IM"));
    QCOMPARE(qFromLittleEndian<quint16>(all.constData() + 2), quint16(comment.size()));
    QCOMPARE(qFromLittleEndian<quint16>(all.constData() + 4), quint16(3));
    QCOMPARE(qFromLittleEndian<quint16>(all.constData() + 6), quint16(2));
    QCOMPARE(qFromLittleEndian<quint16>(all.constData() + 12), quint16(bytesPerPixel == 2 ? 2 : 3));
    for (int i = 8; i < 64; ++i)
        if (i != 12 && i != 13)
            QCOMPARE(int(all.at(i)), 0);
    QCOMPARE(all.mid(64, comment.size()), comment);

    const char *p = all.constData() + 64 + comment.size();
    for (int i = 0; i < 6; ++i) {
        if (bytesPerPixel == 2)
            QCOMPARE(qFromLittleEndian<quint16>(p + 2 * i), px16[i]);
        else
            QCOMPARE(qFromLittleEndian<quint32>(p + 4 * i), px32[i]);
    }
}

void tst_ItexWriter::refusesBadArguments_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("bytesPerPixel");
    QTest::addColumn<bool>("nullPixels");
    QTest::addColumn<QString>("extra");

    QTest::newRow("zero width") << 0 << 2 << 2 << false << QString();
    QTest::newRow("negative height") << 2 << -1 << 2 << false << QString();
    QTest::newRow("width beyond header field") << 70000 << 1 << 2 << false << QString();
    QTest::newRow("3 bytes per pixel") << 2 << 2 << 3 << false << QString();
    QTest::newRow("no pixels") << 2 << 2 << 2 << true << QString();
    QTest::newRow("comment too long") << 2 << 2 << 2 << false << QString(70000, u'x');
}

void tst_ItexWriter::refusesBadArguments()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, bytesPerPixel);
    QFETCH(bool, nullPixels);
    QFETCH(QString, extra);

    const std::vector<quint32> px(16, 5);
    const QString path = dir.filePath("bad.img");
    QVERIFY(!writeItexFile(
        path, width, height, bytesPerPixel, nullPixels ? nullptr : px.data(), -1.0, extra));
    QVERIFY(!QFile::exists(path));
}

void tst_ItexWriter::failsOnUnwritableFolder()
{
    const quint16 px[4] = { 1, 2, 3, 4 };
    QVERIFY(!writeItexFile(dir.filePath("no-such-folder/x.img"), 2, 2, 2, px));
}

QTEST_GUILESS_MAIN(tst_ItexWriter)
#include "tst_ItexWriter.moc"
