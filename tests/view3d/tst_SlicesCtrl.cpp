#include "CtTiffData.h"
#include "ExLabel.h"
#include "SliceDatas.h"
#include "SlicesCtrl.h"
#include "View3dTestUtil.h"
#include "display/DisplayTestUtil.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestSlicesCtrl : public QObject
{
    Q_OBJECT
private slots:
    void thresholdFieldsFollowEachOther_data();
    void thresholdFieldsFollowEachOther();
    void emptyRangeLeavesPerCent();
    void alphaIsKeptInRange_data();
    void alphaIsKeptInRange();
    void histogramMarkers_data();
    void histogramMarkers();
    void fixedDirectionKeepsTheNormal_data();
    void fixedDirectionKeepsTheNormal();
    void loadFillsTheFields();
    void selectTakesAFolder();
    void collapsesToOneButton();
    void destroyedWhileLoading();
};

namespace {

QLineEdit *edit(SlicesCtrl &c, const char *name)
{
    return c.findChild<QLineEdit *>(name);
}

// Types the text and finishes the edit with Return, as the user does.
void type(QLineEdit *e, const QString &text)
{
    e->clear();
    QTest::keyClicks(e, text);
    QTest::keyClick(e, Qt::Key_Return);
}

void setRange(SlicesCtrl &c, double lo, double hi)
{
    edit(c, "rMinV_")->setText(QString::number(lo));
    edit(c, "rMaxV_")->setText(QString::number(hi));
}

} // namespace

void TestSlicesCtrl::thresholdFieldsFollowEachOther_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("other");
    QTest::addColumn<QString>("expected");
    // Range 0 ... 2.
    QTest::newRow("lower per cent") << "minThPC_"
                                    << "50"
                                    << "minTh_"
                                    << "1";
    QTest::newRow("upper per cent") << "maxThPC_"
                                    << "25"
                                    << "maxTh_"
                                    << "0.5";
    QTest::newRow("lower value") << "minTh_"
                                 << "0.5"
                                 << "minThPC_"
                                 << "25";
    QTest::newRow("upper value") << "maxTh_"
                                 << "1.5"
                                 << "maxThPC_"
                                 << "75";
    QTest::newRow("beyond the range") << "maxTh_"
                                      << "3"
                                      << "maxThPC_"
                                      << "150";
    QTest::newRow("not a number") << "minThPC_"
                                  << "abc"
                                  << "minTh_"
                                  << "0";
}

void TestSlicesCtrl::thresholdFieldsFollowEachOther()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, other);
    QFETCH(QString, expected);
    SlicesCtrl c;
    setRange(c, 0, 2);
    QSignalSpy repaint(&c, &SlicesCtrl::paintPImg);
    type(edit(c, qPrintable(field)), text);
    QCOMPARE(edit(c, qPrintable(other))->text(), expected);
    QVERIFY(repaint.count() >= 1);
    // The edited field keeps what was typed.
    QCOMPARE(edit(c, qPrintable(field))->text(), text);
}

void TestSlicesCtrl::emptyRangeLeavesPerCent()
{
    SlicesCtrl c; // range 0 ... 0 until a set is loaded
    type(edit(c, "minTh_"), "5");
    QCOMPARE(edit(c, "minThPC_")->text(), QString("0.0"));
    c.setMaxTh(7, false);
    QCOMPARE(edit(c, "maxThPC_")->text(), QString("100.0"));
}

void TestSlicesCtrl::alphaIsKeptInRange_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("above") << "300"
                           << "255";
    QTest::newRow("below") << "-5"
                           << "0";
    QTest::newRow("inside") << "128"
                            << "128";
    QTest::newRow("edge") << "255"
                          << "255";
    QTest::newRow("not a number") << "abc"
                                  << "0";
}

void TestSlicesCtrl::alphaIsKeptInRange()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    SlicesCtrl c;
    QSignalSpy repaint(&c, &SlicesCtrl::paintPImg);
    type(edit(c, "alpha_"), text);
    QCOMPARE(edit(c, "alpha_")->text(), shown);
    QCOMPARE(c.alpha(), shown.toInt());
    QCOMPARE(repaint.count(), 1);
    c.setAlpha(text.toInt());
    QCOMPARE(c.alpha(), shown.toInt());
}

void TestSlicesCtrl::histogramMarkers_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("mods");
    QTest::addColumn<int>("pressX");
    QTest::addColumn<int>("moveX");
    QTest::addColumn<QString>("minPC");
    QTest::addColumn<QString>("maxPC");
    // Markers at 30 % and 70 %; the label is 202 pixels wide, so pixel x is x / 2 per cent.
    QTest::newRow("half-way grabs the upper") << int(Qt::LeftButton) << 0 << 100 << 160 << "30"
                                              << "80";
    QTest::newRow("nearer the lower") << int(Qt::LeftButton) << 0 << 80 << 20 << "10"
                                      << "70";
    QTest::newRow("nearer the upper") << int(Qt::LeftButton) << 0 << 150 << 190 << "30"
                                      << "95";
    QTest::newRow("right button grabs nothing") << int(Qt::RightButton) << 0 << 60 << 10 << "30"
                                                << "70";
    QTest::newRow("shift grabs nothing")
        << int(Qt::LeftButton) << int(Qt::ShiftModifier) << 60 << 10 << "30"
        << "70";
}

void TestSlicesCtrl::histogramMarkers()
{
    QFETCH(int, button);
    QFETCH(int, mods);
    QFETCH(int, pressX);
    QFETCH(int, moveX);
    QFETCH(QString, minPC);
    QFETCH(QString, maxPC);
    SlicesCtrl c;
    setRange(c, 0, 2);
    c.setMinThPC(30, false);
    c.setMaxThPC(70, false);
    auto *h = c.findChild<ExLabel *>("dispH_");
    h->setFixedSize(202, 100);
    const auto b = Qt::MouseButton(button);
    const auto m = Qt::KeyboardModifiers(mods);
    QSignalSpy repaint(&c, &SlicesCtrl::paintPImg);
    disptest::press(h, QPoint(pressX, 50), b, m);
    disptest::move(h, QPoint(moveX, 40), m);
    disptest::release(h, QPoint(moveX, 40), b, m);
    QCOMPARE(edit(c, "minThPC_")->text(), minPC);
    QCOMPARE(edit(c, "maxThPC_")->text(), maxPC);
    // The value fields follow the markers.
    QCOMPARE(c.minTh(), 2 * minPC.toDouble() / 100);
    QCOMPARE(c.maxTh(), 2 * maxPC.toDouble() / 100);
    QCOMPARE(c.grabbed, -1);
    QVERIFY(repaint.count() >= (button == Qt::LeftButton ? 1 : 0));
}

void TestSlicesCtrl::fixedDirectionKeepsTheNormal_data()
{
    QTest::addColumn<bool>("fixed");
    QTest::newRow("free") << false;
    QTest::newRow("fixed") << true;
}

void TestSlicesCtrl::fixedDirectionKeepsTheNormal()
{
    QFETCH(bool, fixed);
    SlicesCtrl c;
    QSignalSpy slider(&c, &SlicesCtrl::changedSliderStat);
    c.initNz(Vec3(0, 0, 1));
    c.findChild<QCheckBox *>("csFixDir_")->setChecked(fixed);
    QCOMPARE(slider.count(), fixed ? 1 : 0);
    c.newNz(Vec3(0, 1, 0));
    QCOMPARE(c.csNormal, fixed ? Vec3(0, 0, 1) : Vec3(0, 1, 0));
}

void TestSlicesCtrl::loadFillsTheFields()
{
    QTemporaryDir tmp;
    const QStringList files = v3test::writeCtVolume(
        tmp.path(), 6, 4, 3, [](int x, int y, int j) { return 0.25 * (x + y + j) - 0.5; });
    SlicesCtrl c;
    c.resize(320, 400);
    c.show();
    type(edit(c, "minThPC_"), "25");
    type(edit(c, "maxThPC_"), "75");
    QSignalSpy repaint(&c, &SlicesCtrl::paintPImg);
    QVERIFY(QMetaObject::invokeMethod(
        c.sliceDatas(), "filesSelected", Qt::QueuedConnection, Q_ARG(QStringList, files)));
    QTRY_COMPARE(edit(c, "rMaxV_")->text(), QString("2"));
    QCOMPARE(edit(c, "rMinV_")->text(), QString("-0.5"));
    // The thresholds follow the per cent values: a quarter and three quarters of -0.5 ... 2.
    QCOMPARE(edit(c, "minTh_")->text(), QString("0.125"));
    QCOMPARE(edit(c, "maxTh_")->text(), QString("1.375"));
    QCOMPARE(edit(c, "minThPC_")->text(), QString("25"));
    QVERIFY(repaint.count() >= 1);
    auto *names = c.findChild<QComboBox *>("nameList_");
    QCOMPARE(names->count(), 3);
    QCOMPARE(names->itemText(2), files.at(2));

    // The histogram is drawn with the two red markers at 25 % and 75 % of the width.
    auto *h = c.findChild<ExLabel *>("dispH_");
    h->setFixedSize(202, 100);
    const QImage shot = h->grab().toImage();
    const auto isRed = [&](int x) { return shot.pixel(x, 50) == qRgb(255, 0, 0); };
    QVERIFY(isRed(50));
    QVERIFY(isRed(150));
    QVERIFY(!isRed(100));
    bool bars = false;
    for (int x = 0; x < shot.width(); ++x)
        bars = bars || shot.pixel(x, shot.height() - 2) == qRgb(0, 220, 160);
    QVERIFY(bars);

    // A new selection empties the list before it fills it again.
    QVERIFY(QMetaObject::invokeMethod(
        c.sliceDatas(), "filesSelected", Qt::QueuedConnection, Q_ARG(QStringList, files.mid(1))));
    QTRY_COMPARE(names->count(), 2);
}

void TestSlicesCtrl::selectTakesAFolder()
{
    // A stack as saved, one sub folder per slice, plus what does not belong to it.
    QTemporaryDir tmp;
    QStringList stack;
    for (int slice : { 10, 2, 1 }) {
        const QString no = QString("%1").arg(slice, 5, 10, QChar('0'));
        QVERIFY(QDir(tmp.path()).mkpath("stack/" + no));
        stack << v3test::writeCtSlice(tmp.filePath("stack/" + no), "scan-t-" + no + ".dat", 4, 3,
            [slice](int x, int y) { return x + y + slice; });
    }
    QVERIFY(QDir(tmp.path()).mkpath("stack/t"));
    const QString again = v3test::writeCtSlice(
        tmp.filePath("stack/t"), "scan-t-00002.dat", 4, 3, [](int x, int) { return x; });
    const QString notes = v3test::writeCtSlice(
        tmp.filePath("stack"), "notes.dat", 4, 3, [](int x, int) { return x; });
    std::sort(stack.begin(), stack.end()); // 00001, 00002, 00010: slice order

    SlicesCtrl c;
    QSignalSpy noticed(&c, &SlicesCtrl::notice);
    c.findChild<QPushButton *>("selectB_")->click();
    auto *dialog = c.findChild<QFileDialog *>();
    QVERIFY(dialog);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^3 slice data files found, 2 refused"));
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression(QRegularExpression::escape(notes) + ".*no slice number"));
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression(QRegularExpression::escape(again) + ".*slice 2 again"));
    dialog->selectFile(tmp.filePath("stack"));
    static_cast<QDialog *>(dialog)->accept(); // "Open"
    auto *names = c.findChild<QComboBox *>("nameList_");
    QTRY_COMPARE(names->count(), 3);
    QTRY_COMPARE(edit(c, "rMaxV_")->text(), QString("15"));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(names->itemText(i), stack.at(i));
    // The panel tells what the folder gave.
    const QStringList told = names->toolTip().split('\n');
    QCOMPARE(told.size(), 3);
    QCOMPARE(told.first(), QString("3 slice data files found, 2 refused"));
    QVERIFY(told.at(1).startsWith(notes) || told.at(2).startsWith(notes));
    QVERIFY(told.at(1).startsWith(again) || told.at(2).startsWith(again));
    // Refused files are told at once, where the window shows its problems.
    QCOMPARE(noticed.count(), 1);
    QVERIFY(noticed.first().first().toString().startsWith(
        "3D view: 3 slice data files found, 2 refused"));

    // A folder of float TIFF slices alone (the data files not kept) gives those.
    QVERIFY(QDir(tmp.path()).mkpath("tiffs"));
    for (int slice : { 4, 3 }) {
        std::vector<double> values(12, double(slice));
        values[5] += 0.5; // a slice of one value only is skipped
        CtTiffData::Info info;
        info.x1 = 4;
        info.z1 = 3;
        QVERIFY(v3test::writeFile(tmp.filePath(QString("tiffs/s-%1.tif").arg(slice, 5, 10,
                                      QChar('0'))),
            CtTiffData::make(values.data(), 3, 4, info, false)));
    }
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^2 slice data files found, 0 refused"));
    c.findChild<QPushButton *>("selectB_")->click();
    dialog = c.findChild<QFileDialog *>();
    dialog->selectFile(tmp.filePath("tiffs"));
    static_cast<QDialog *>(dialog)->accept();
    QTRY_COMPARE(names->count(), 2);
    QVERIFY(names->itemText(0).endsWith("s-00003.tif"));
    QCOMPARE(noticed.count(), 1); // nothing refused, nothing to tell
}

void TestSlicesCtrl::collapsesToOneButton()
{
    SlicesCtrl c;
    c.setSetNo(3);
    auto *showB = c.findChild<QPushButton *>("showB_");
    auto *showB2 = c.findChild<QPushButton *>("showB2_");
    auto *body = c.findChild<QFrame *>("slicesCtrlFrame_");
    QCOMPARE(showB->text(), QString("Show Setup 3"));
    QCOMPARE(showB2->text(), QString("Show Setup 3"));
    QVERIFY(showB->isHidden());
    QVERIFY(!body->isHidden());
    showB2->click();
    QVERIFY(!showB->isChecked());
    QVERIFY(!showB->isHidden());
    QVERIFY(body->isHidden());
    showB->click();
    QVERIFY(showB2->isChecked());
    QVERIFY(showB->isHidden());
    QVERIFY(!body->isHidden());
}

void TestSlicesCtrl::destroyedWhileLoading()
{
    QTemporaryDir tmp;
    const QStringList files = v3test::writeCtVolume(
        tmp.path(), 64, 64, 40, [](int x, int y, int j) { return double(x * y + j); });
    auto *c = new SlicesCtrl;
    QVERIFY(QMetaObject::invokeMethod(
        c->sliceDatas(), "filesSelected", Qt::QueuedConnection, Q_ARG(QStringList, files)));
    QTest::qWait(20);
    QElapsedTimer t;
    t.start();
    delete c; // stops after the file being read and waits for the thread
    QVERIFY(t.elapsed() < 5000);
}

QTEST_MAIN(TestSlicesCtrl)
#include "tst_SlicesCtrl.moc"
