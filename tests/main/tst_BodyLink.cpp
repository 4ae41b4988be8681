// The main window driving a stand-in viewer: a real TCP server on 127.0.0.1 that reads the
// requests and answers with the viewer's busy reports.
#include "Body.h"

#include "Config.h"
#include "QuoltLink.h"
#include "RawDisp.h"
#include "link/LinkTestServer.h"

#include <QtTest>

namespace {

const QString IdleStyle = "background-color: rgb(213, 245, 255);";
const QString BusyStyle = "background-color: rgb(255, 192, 192);";
const QString NotBusyStyle = "background-color: rgb(211, 255, 241);";

} // namespace

class TestBodyLink : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void clickedSliceSendsItsFiles_data();
    void clickedSliceSendsItsFiles();
    void loadCompletionLeadsTo2dA_data();
    void loadCompletionLeadsTo2dA();
    void continuous2dAWalksTheRange_data();
    void continuous2dAWalksTheRange();
    void requestWhileBusyResetsDriving();
    void linkThatFailsIsSaid();

private:
    // A window linked to the viewer and greeted, its data files saved below T/d by the layout
    // given, with the (empty) files named relative to T made.
    void open(const QStringList &files, bool subFolders, bool ofEnergy, bool ofSlice);
    // The next request line, or an empty text after `ms` without one.
    QString nextLine(int ms = 5000);
    void reply(const QByteArray &line) { QVERIFY(server->write(line + '\n')); }
    void clickSlice(int slice)
    {
        emit body->rawDisp->selectedAPoint(3.2, slice + 0.6, MouseC::Left);
    }

    std::unique_ptr<QTemporaryDir> t;
    std::unique_ptr<LinkTestServer> server;
    qsizetype read = 0;
    std::unique_ptr<Body> body;
};

void TestBodyLink::init()
{
    t = std::make_unique<QTemporaryDir>();
    server = std::make_unique<LinkTestServer>();
    read = 0;
    QVERIFY(server->listen());
    config.set("2dQuolt", "127.0.0.1", QString("127.0.0.1 %1").arg(server->port()));
}

void TestBodyLink::cleanup()
{
    body.reset();
    server.reset();
    config.set("2dQuolt", "localhost", "localhost 6078");
}

void TestBodyLink::open(const QStringList &files, bool subFolders, bool ofEnergy, bool ofSlice)
{
    for (const QString &f : files) {
        QVERIFY(QDir(t->path()).mkpath(QFileInfo(f).path()));
        QFile file(t->filePath(f));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    body = std::make_unique<Body>();
    QCOMPARE(nextLine(), QString("myName Vexa2"));
    body->procCtrl->findChild<QRadioButton *>("RotAxV")->click();
    body->SelectDataSaveDir->setFilePath(t->filePath("d"));
    body->SaveInSubFolders->setChecked(subFolders);
    body->SubOfEnergy->setChecked(ofEnergy);
    body->SubOfSlice->setChecked(ofSlice);
}

QString TestBodyLink::nextLine(int ms)
{
    QDeadlineTimer deadline(ms);
    for (;;) {
        const QByteArray all = server->lastReceived();
        const qsizetype end = all.indexOf('\n', read);
        if (end >= 0) {
            const QString line = QString::fromLatin1(all.mid(read, end - read));
            read = end + 1;
            return line;
        }
        if (deadline.hasExpired())
            return QString();
        QTest::qWait(5);
    }
}

void TestBodyLink::clickedSliceSendsItsFiles_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("sendMsg");
    QTest::addColumn<bool>("subFolders");
    QTest::addColumn<bool>("ofEnergy");
    QTest::addColumn<bool>("ofSlice");
    QTest::addColumn<QString>("request"); // %1: T
    // Neither the save folder's own files nor its parent's belong to an energy.
    const QStringList perEnergy { "d/09000eV/s-09000eV-00007.dat", "d/08990eV/s-08990eV-00007.dat",
        "d/08990eV/s-08990eV-00008.dat", "d/s-flat-00007.dat", "decoy-00007.dat" };
    QTest::newRow("per energy") << perEnergy << true << true << true << false
                                << "LOAD_I1_FILES new %1/d/08990eV/s-08990eV-00007.dat "
                                   "%1/d/09000eV/s-09000eV-00007.dat";
    QTest::newRow("sub folders of neither kind")
        << QStringList { "d/00007/s-t-00007.dat", "d/00008/s-t-00008.dat" } << true << true << false
        << false << "LOAD_I1_FILES new %1/d/00007/s-t-00007.dat";
    QTest::newRow("per slice and energy") << QStringList {} << true << true << true << true
                                          << "LOAD_I1_FILES_OF_PATTERN new %1/d/00007/ *.dat";
    QTest::newRow("no sub folders") << QStringList { "d/b-t-00007.dat", "d/a-t-00007.dat",
        "d/a-t-100007.dat", "d/e/a-e-00007.dat" }
                                    << true << false << false << false
                                    << "LOAD_I1_FILES new %1/d/a-t-00007.dat %1/d/b-t-00007.dat";
    QTest::newRow("send msg unchecked") << perEnergy << false << true << true << false << "";
}

void TestBodyLink::clickedSliceSendsItsFiles()
{
    QFETCH(QStringList, files);
    QFETCH(bool, sendMsg);
    QFETCH(bool, subFolders);
    QFETCH(bool, ofEnergy);
    QFETCH(bool, ofSlice);
    QFETCH(QString, request);
    open(files, subFolders, ofEnergy, ofSlice);
    body->SendMsg2Quolt->setChecked(sendMsg);
    clickSlice(7);
    QCOMPARE(body->procCtrl->slice(), 7);
    QCOMPARE(nextLine(request.isEmpty() ? 200 : 5000), request.arg(t->path()));
    QCOMPARE(body->qlkState, sendMsg ? 1 : 0);
    QCOMPARE(body->QLKIsBusy->styleSheet(), sendMsg ? BusyStyle : NotBusyStyle);
}

void TestBodyLink::loadCompletionLeadsTo2dA_data()
{
    QTest::addColumn<bool>("with2dA");
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<int>("state"); // after the report; 2 when the 2DA request went out
    QTest::newRow("w 2DA") << true << QByteArray("ISBUSY 0 LOAD_I1_FILES") << 2;
    QTest::newRow("lower case report") << true << QByteArray("isbusy 0 load_i1_files") << 2;
    QTest::newRow("without 2DA") << false << QByteArray("ISBUSY 0 LOAD_I1_FILES") << 0;
    QTest::newRow("report naming no command") << true << QByteArray("ISBUSY 0") << 1;
    QTest::newRow("report naming another command")
        << true << QByteArray("ISBUSY 0 ANALYZER_EXEC_2DA") << 1;
}

void TestBodyLink::loadCompletionLeadsTo2dA()
{
    QFETCH(bool, with2dA);
    QFETCH(QByteArray, report);
    QFETCH(int, state);
    open({ "d/e1/s-e1-00042.dat" }, true, true, false);
    body->SendMsg2Quolt->setChecked(true);
    body->With2DA->setChecked(with2dA);
    clickSlice(42);
    QVERIFY(nextLine().startsWith("LOAD_I1_FILES new "));
    reply("ISBUSY 1");
    reply(report);
    QCOMPARE(nextLine(state == 2 ? 5000 : 200), state == 2 ? "ANALYZER_EXEC_2DA 00042" : "");
    QTRY_COMPARE(body->QLKIsBusy->styleSheet(), state == 2 ? BusyStyle : NotBusyStyle);
    QCOMPARE(body->qlkState, state);
    if (state != 2)
        return;
    reply("ISBUSY 0 ANALYZER_EXEC_2DA");
    QTRY_COMPARE(body->qlkState, 0);
    QCOMPARE(body->QLKIsBusy->styleSheet(), NotBusyStyle);
    QCOMPARE(nextLine(200), QString());
}

void TestBodyLink::continuous2dAWalksTheRange_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("step");
    QTest::addColumn<QList<int>>("slices");
    QTest::newRow("100 to 110 by 5") << 100 << 110 << 5 << QList<int> { 100, 105, 110 };
    QTest::newRow("step past the end") << 100 << 111 << 5 << QList<int> { 100, 105, 110 };
    QTest::newRow("step 0 taken as 1") << 3 << 5 << 0 << QList<int> { 3, 4, 5 };
    QTest::newRow("descending") << 5 << 3 << 1 << QList<int> { 5, 4, 3 };
}

void TestBodyLink::continuous2dAWalksTheRange()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, step);
    QFETCH(QList<int>, slices);
    open({}, true, false, true);
    body->procCtrl->setSliceFrom(from);
    body->procCtrl->setSliceTo(to);
    body->procCtrl->setSliceStep(step);
    body->Cont2DA->click();
    QVERIFY(body->Cont2DA->styleSheet() != IdleStyle);

    // The viewer answers every request until none comes any more.
    QStringList expected, requests;
    for (int s : slices) {
        const QString no = QString("%1").arg(s, 5, 10, QChar('0'));
        expected << QString("LOAD_I1_FILES_OF_PATTERN new %1/d/%2/ *.dat").arg(t->path(), no)
                 << "ANALYZER_EXEC_2DA " + no;
    }
    for (QString line = nextLine(); !line.isEmpty() && requests.size() < 20; line = nextLine(300)) {
        requests << line;
        reply("ISBUSY 1");
        reply("ISBUSY 0 " + line.section(' ', 0, 0).toLatin1());
    }
    QCOMPARE(requests, expected);
    QCOMPARE(body->Cont2DA->styleSheet(), IdleStyle);
    QCOMPARE(body->qlkState, 0);
}

void TestBodyLink::requestWhileBusyResetsDriving()
{
    open({}, true, false, true);
    body->procCtrl->setSliceFrom(1);
    body->procCtrl->setSliceTo(9);
    body->Cont2DA->click();
    QVERIFY(nextLine().startsWith("LOAD_I1_FILES_OF_PATTERN new "));
    // The viewer has not reported yet: the 2DA request is dropped and the link starts over.
    body->Exec2DA->click();
    QCOMPARE(nextLine(), QString("myName Vexa2"));
    QCOMPARE(body->qlkState, 0);
    QCOMPARE(body->Cont2DA->styleSheet(), IdleStyle);
    QCOMPARE(body->QLKIsBusy->styleSheet(), NotBusyStyle);
    // A late report of the dropped load moves nothing; with the viewer free, 2DA goes out.
    reply("ISBUSY 0 LOAD_I1_FILES_OF_PATTERN");
    QCOMPARE(nextLine(200), QString());
    body->procCtrl->setSliceNo(4);
    body->Exec2DA->click();
    QCOMPARE(nextLine(), QString("ANALYZER_EXEC_2DA 00004"));
    QCOMPARE(body->qlkState, 0);
}

void TestBodyLink::linkThatFailsIsSaid()
{
    // No viewer listens on the configured port.
    const quint16 port = server->port();
    server->stopListening();
    body = std::make_unique<Body>();
    // The attempt at start-up is not the user's: the line stays free for what is.
    QTest::qWait(300);
    QCOMPARE(body->StatusLine->text(), QString());
    // Every click on "Link 2dQuolt" is answered, the same failure as before included.
    const QString said = QString("No link to 2dQuolt at 127.0.0.1:%1: ").arg(port);
    for (int click = 0; click < 2; ++click) {
        body->StatusLine->clear();
        body->Link2dQuolt->click();
        QTRY_VERIFY2(
            body->StatusLine->text().startsWith(said), qPrintable(body->StatusLine->text()));
    }
}

QTEST_MAIN(TestBodyLink)
#include "tst_BodyLink.moc"
