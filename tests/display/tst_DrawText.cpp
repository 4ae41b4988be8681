#include "DrawText.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QtTest>

namespace {

QImage canvas()
{
    QImage img(300, 300, QImage::Format_RGB32);
    img.fill(Qt::white);
    return img;
}

// Height of a line of text at the given point size on the image.
double lineHeight(QPaintDevice *dev, double pt)
{
    QFont f;
    f.setPointSizeF(pt);
    return QFontMetricsF(f, dev).height();
}

} // namespace

class TestDrawText : public QObject
{
    Q_OBJECT
private slots:
    void fitting_data();
    void fitting();
    void rotatedBoxLandsAtCentre_data();
    void rotatedBoxLandsAtCentre();
    void painterIsRestored();
};

void TestDrawText::fitting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("length");
    QTest::addColumn<double>("maxPt");
    QTest::addColumn<int>("relation"); // -1 smaller than 10 pt, 0 exactly 10 pt, 1 larger
    QTest::newRow("long text shrinks") << "0.000123456 and more text" << 95.0 << 10.0 << -1;
    QTest::newRow("short text capped") << "1" << 95.0 << 10.0 << 0;
    QTest::newRow("short text, no cap, grows") << "1" << 95.0 << 0.0 << 1;
    QTest::newRow("negative length counts") << "0.000123456 and more text" << -95.0 << 10.0 << -1;
}

void TestDrawText::fitting()
{
    QFETCH(QString, text);
    QFETCH(double, length);
    QFETCH(double, maxPt);
    QFETCH(int, relation);
    QImage img = canvas();
    QPainter p(&img);
    DrawText dt;
    const QRectF used = dt.drawBoxText(&p, 90, QRectF(150, 150, length, 30), QFont(),
        Qt::AlignLeft | Qt::AlignVCenter, true, text, maxPt, false, QColor());
    const double ten = lineHeight(&img, 10);
    switch (relation) {
    case -1:
        QVERIFY2(used.height() < ten * 0.95, qPrintable(QString::number(used.height())));
        // The size is scaled linearly from the 10 pt measure; hinting makes small fonts a
        // few per cent wider than that, whereas an unfitted text would be twice as long.
        QVERIFY(used.width() <= std::abs(length) * 1.1);
        break;
    case 0:
        QVERIFY(qAbs(used.height() - ten) < 1);
        break;
    default:
        QVERIFY(used.height() > ten * 1.5);
        QVERIFY(used.height() <= 30 + 1); // still fits the box width
    }
}

void TestDrawText::rotatedBoxLandsAtCentre_data()
{
    QTest::addColumn<double>("angle");
    QTest::addColumn<QPoint>("inside1");
    QTest::addColumn<QPoint>("inside2");
    QTest::addColumn<QPoint>("outside1");
    QTest::addColumn<QPoint>("outside2");
    // Box centred at (100, 150), 80 long and 20 wide.
    QTest::newRow("0 degrees") << 0.0 << QPoint(65, 150) << QPoint(135, 145) << QPoint(100, 165)
                               << QPoint(145, 150);
    QTest::newRow("90 degrees") << 90.0 << QPoint(100, 115) << QPoint(95, 185) << QPoint(115, 150)
                                << QPoint(100, 195);
    QTest::newRow("-90 degrees") << -90.0 << QPoint(100, 115) << QPoint(105, 185) << QPoint(85, 150)
                                 << QPoint(100, 105);
    QTest::newRow("180 degrees") << 180.0 << QPoint(65, 150) << QPoint(135, 155) << QPoint(100, 135)
                                 << QPoint(55, 150);
}

void TestDrawText::rotatedBoxLandsAtCentre()
{
    QFETCH(double, angle);
    QFETCH(QPoint, inside1);
    QFETCH(QPoint, inside2);
    QFETCH(QPoint, outside1);
    QFETCH(QPoint, outside2);
    QImage img = canvas();
    {
        QPainter p(&img);
        p.translate(0, 0);
        DrawText dt;
        dt.drawBoxText(&p, angle, QRectF(100, 150, 80, 20), QFont(), Qt::AlignCenter, true, "", 10,
            true, QColor(255, 0, 0));
    }
    QCOMPARE(img.pixel(100, 150), qRgb(255, 0, 0));
    QCOMPARE(img.pixel(inside1), qRgb(255, 0, 0));
    QCOMPARE(img.pixel(inside2), qRgb(255, 0, 0));
    QCOMPARE(img.pixel(outside1), qRgb(255, 255, 255));
    QCOMPARE(img.pixel(outside2), qRgb(255, 255, 255));
}

void TestDrawText::painterIsRestored()
{
    QImage img = canvas();
    QPainter p(&img);
    p.translate(10, 20);
    QFont f;
    f.setPointSizeF(13);
    p.setFont(f);
    const QTransform before = p.transform();
    DrawText dt;
    dt.drawBoxText(&p, 90, QRectF(50, 50, 95, 30), QFont(), Qt::AlignLeft, true, "12.5", 10, true,
        QColor(0, 0, 0));
    QCOMPARE(p.transform(), before);
    QCOMPARE(p.font().pointSizeF(), 13.0);
    p.end();
    // With the painter moved by (10, 20) the box is centred at (60, 70) on the image.
    QCOMPARE(img.pixel(60, 70), qRgb(0, 0, 0));
    QCOMPARE(img.pixel(60, 70 + 45), qRgb(0, 0, 0));
    QCOMPARE(img.pixel(60 + 20, 70), qRgb(255, 255, 255));
}

QTEST_MAIN(TestDrawText)
#include "tst_DrawText.moc"
