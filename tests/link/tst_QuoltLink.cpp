#include "Config.h"
#include "LinkTestServer.h"
#include "QuoltLink.h"

#include <QPushButton>
#include <QtTest>

namespace {

const QByteArray Greeting = "myName Vexa2\n";

// Counts the reads the link makes, so a test can hand it one chunk per read.
class CountingLink : public QuoltLink
{
public:
    int reads = 0;

protected:
    void readyRead() override
    {
        ++reads;
        QuoltLink::readyRead();
    }
};

using Bools = QList<bool>;

Bools busyValues(const QSignalSpy &spy)
{
    Bools v;
    for (const QList<QVariant> &args : spy)
        v << args.at(0).toBool();
    return v;
}

} // namespace

class TestQuoltLink : public QObject
{
    Q_OBJECT
private slots:
    void endpointFromConfig();
    void parseEndpoint_data();
    void parseEndpoint();
    void greetsOnConnectAndColoursButton();
    void greetsAgainAfterReconnect();
    void reAnnouncesOnRepeatedConnect();
    void requestBytes_data();
    void requestBytes();
    void refusedRequestReGreets_data();
    void refusedRequestReGreets();
    void requestWhileDisconnected();
    void busyReports_data();
    void busyReports();
    void busyReportsOverTheWire();

private:
    static bool connectTo(QuoltLink &link, LinkTestServer &server);
};

bool TestQuoltLink::connectTo(QuoltLink &link, LinkTestServer &server)
{
    if (!server.listen())
        return false;
    link.setEndpoint("127.0.0.1", server.port());
    link.doConnect();
    return QTest::qWaitFor(
        [&] { return link.isConnected() && server.received(0) == Greeting; }, 5000);
}

void TestQuoltLink::endpointFromConfig()
{
    // Runs first: nothing has set the key yet in this process.
    {
        QuoltLink link;
        QCOMPARE(link.host(), QString("localhost"));
        QCOMPARE(link.port(), 6078);
    }
    config.set("2DQUOLT", "192.168.10.5", " 192.168.10.5   7001 ");
    {
        QuoltLink link;
        QCOMPARE(link.host(), QString("192.168.10.5"));
        QCOMPARE(link.port(), 7001);
    }
    config.set("2dQuolt", "viewer", " viewer 6078x");
    {
        QuoltLink link;
        QCOMPARE(link.host(), QString("viewer"));
        QCOMPARE(link.port(), 0);
    }
}

void TestQuoltLink::parseEndpoint_data()
{
    QTest::addColumn<QString>("rest");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");

    QTest::newRow("host and port") << " 10.0.0.2 6100"
                                   << "10.0.0.2" << 6100;
    QTest::newRow("blanks and tabs") << "\t viewer-pc \t 80  trailing"
                                     << "viewer-pc" << 80;
    QTest::newRow("quoted host") << "\"my host\" 6079"
                                 << "my host" << 6079;
    QTest::newRow("host only: default port") << " beamline"
                                             << "beamline" << 6078;
    QTest::newRow("nothing: defaults") << "   "
                                       << "localhost" << 6078;
    QTest::newRow("port not a number") << "h abc"
                                       << "h" << 0;
    QTest::newRow("port with trailing text") << "h 60x"
                                             << "h" << 0;
    QTest::newRow("port in hexadecimal") << "h 0x10"
                                         << "h" << 0;
    QTest::newRow("port zero") << "h 0"
                               << "h" << 0;
    QTest::newRow("negative port") << "h -6078"
                                   << "h" << 0;
    QTest::newRow("port above 16 bits") << "h 71614"
                                        << "h" << 0;
    QTest::newRow("highest port") << "h 65535"
                                  << "h" << 65535;
}

void TestQuoltLink::parseEndpoint()
{
    QFETCH(QString, rest);
    QFETCH(QString, host);
    QFETCH(int, port);

    QString h;
    int p = -1;
    QuoltLink::parseEndpoint(rest, h, p);
    QCOMPARE(h, host);
    QCOMPARE(p, port);
}

void TestQuoltLink::greetsOnConnectAndColoursButton()
{
    LinkTestServer server;
    QVERIFY(server.listen());
    QuoltLink link;
    link.setEndpoint("127.0.0.1", server.port());
    QPushButton button;
    link.setLinkButton(&button);
    QCOMPARE(button.styleSheet(), QString("background-color: rgb(176, 192, 192);"));
    QSignalSpy conn(&link, &QuoltLink::connected);

    link.doConnect();
    QCOMPARE(button.styleSheet(), QString("background-color: rgb(255, 243, 162);"));
    QTRY_VERIFY(link.isConnected());
    QCOMPARE(button.styleSheet(), QString("background-color: rgb(211, 255, 241);"));
    QCOMPARE(conn.count(), 1);
    QTRY_COMPARE(server.received(0), Greeting);

    link.doDisconnect();
    QTRY_COMPARE(button.styleSheet(), QString("background-color: rgb(176, 192, 192);"));
    QTRY_VERIFY(!server.lastIsOpen());
    QCOMPARE(server.received(0), Greeting);
    QCOMPARE(conn.count(), 1);
}

void TestQuoltLink::greetsAgainAfterReconnect()
{
    LinkTestServer server;
    QuoltLink link;
    QPushButton *button = new QPushButton;
    link.setLinkButton(button);
    QVERIFY(connectTo(link, server));
    QSignalSpy conn(&link, &QuoltLink::connected);

    server.dropAll();
    QTRY_VERIFY(!link.isConnected());
    QCOMPARE(button->styleSheet(), QString("background-color: rgb(255, 243, 162);"));
    // The button may go before the link; the link must not touch it then.
    delete button;

    QTRY_VERIFY_WITH_TIMEOUT(server.connections() == 2 && server.received(1) == Greeting, 5000);
    QCOMPARE(conn.count(), 1);
    QCOMPARE(server.received(0), Greeting);
}

void TestQuoltLink::reAnnouncesOnRepeatedConnect()
{
    LinkTestServer server;
    QuoltLink link;
    QVERIFY(connectTo(link, server));
    QSignalSpy conn(&link, &QuoltLink::connected);

    link.doConnect();
    QTRY_COMPARE(server.received(0), Greeting + Greeting);
    QCOMPARE(conn.count(), 1);
    QCOMPARE(server.connections(), 1);
}

void TestQuoltLink::requestBytes_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("folder") << "pattern" << QStringList { "C:\\data\\ct\\00007\\" }
                            << QByteArray(
                                   "LOAD_I1_FILES_OF_PATTERN new C:\\data\\ct\\00007\\ *.dat\n");
    QTest::newRow("folder with percent signs and blanks")
        << "pattern" << QStringList { "/d/%1 %2/" }
        << QByteArray("LOAD_I1_FILES_OF_PATTERN new /d/%1 %2/ *.dat\n");
    QTest::newRow("folder in Latin-1") << "pattern"
                                       << QStringList { QString::fromUtf8("/donn\xC3\xA9"
                                                                          "es/") }
                                       << QByteArray("LOAD_I1_FILES_OF_PATTERN new /donn\xE9"
                                                     "es/ *.dat\n");
    QTest::newRow("one file") << "files" << QStringList { "/d/a-00012.dat" }
                              << QByteArray("LOAD_I1_FILES new /d/a-00012.dat\n");
    QTest::newRow("several files")
        << "files" << QStringList { "/d/E1/a-00012.dat", "/d/E2/b-00012.dat", "/d/E3/c-00012.dat" }
        << QByteArray("LOAD_I1_FILES new /d/E1/a-00012.dat /d/E2/b-00012.dat /d/E3/c-00012.dat\n");
    QTest::newRow("2DA") << "2da" << QStringList { "00042" }
                         << QByteArray("ANALYZER_EXEC_2DA 00042\n");
}

void TestQuoltLink::requestBytes()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, args);
    QFETCH(QByteArray, bytes);

    LinkTestServer server;
    QuoltLink link;
    QVERIFY(connectTo(link, server));
    QSignalSpy busy(&link, &QuoltLink::changedIsBusy);

    if (kind == "pattern")
        link.loadFilesOfPattern(args.at(0));
    else if (kind == "files")
        link.loadFiles(args);
    else
        link.exec2dA(args.at(0));

    QVERIFY(link.busy());
    QCOMPARE(busyValues(busy), Bools { true });
    QTRY_COMPARE(server.received(0), Greeting + bytes);
}

void TestQuoltLink::refusedRequestReGreets_data()
{
    QTest::addColumn<QString>("why");
    QTest::newRow("viewer busy") << "busy";
    QTest::newRow("empty file list") << "empty";
    QTest::newRow("line feed in a folder") << "lf-pattern";
    QTest::newRow("carriage return in a file name") << "cr-files";
    QTest::newRow("line feed in a slice number") << "lf-2da";
}

void TestQuoltLink::refusedRequestReGreets()
{
    QFETCH(QString, why);

    LinkTestServer server;
    QuoltLink link;
    QVERIFY(connectTo(link, server));
    QByteArray expected = Greeting;
    if (why == "busy") {
        link.exec2dA("00001");
        expected += "ANALYZER_EXEC_2DA 00001\n";
        QVERIFY(link.busy());
    }
    QSignalSpy busy(&link, &QuoltLink::changedIsBusy);
    QSignalSpy conn(&link, &QuoltLink::connected);

    if (why == "busy")
        link.loadFilesOfPattern("/d/");
    else if (why == "empty")
        link.loadFiles({});
    else if (why == "lf-pattern")
        link.loadFilesOfPattern("/d/x\nANALYZER_EXEC_2DA 00001/");
    else if (why == "cr-files")
        link.loadFiles({ "/d/a.dat", "/d/b\r.dat" });
    else
        link.exec2dA("00001\nLOAD_I1_FILES new /x");

    expected += Greeting;
    QTRY_COMPARE(server.received(0), expected);
    QTest::qWait(100);
    QCOMPARE(server.received(0), expected);
    QVERIFY(!link.busy());
    QCOMPARE(busyValues(busy), why == "busy" ? Bools { false } : Bools {});
    QCOMPARE(conn.count(), 1);
}

void TestQuoltLink::requestWhileDisconnected()
{
    LinkTestServer server;
    QVERIFY(server.listen());
    QuoltLink link;
    link.setEndpoint("127.0.0.1", server.port());
    QSignalSpy busy(&link, &QuoltLink::changedIsBusy);

    // Dropped, yet the viewer counts as busy until the next connection.
    link.loadFiles({ "/d/a-00001.dat" });
    QVERIFY(link.busy());
    link.exec2dA("00001");
    QVERIFY(link.busy());
    QCOMPARE(busyValues(busy), Bools { true });

    link.doConnect();
    QTRY_VERIFY(link.isConnected());
    QVERIFY(!link.busy());
    QCOMPARE(busyValues(busy), (Bools { true, false }));
    QTRY_COMPARE(server.received(0), Greeting);
    QTest::qWait(100);
    QCOMPARE(server.received(0), Greeting);
}

void TestQuoltLink::busyReports_data()
{
    QTest::addColumn<bool>("startBusy");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<Bools>("changes");
    QTest::addColumn<QString>("lastMsg");

    using L = QList<QByteArray>;
    QTest::newRow("busy") << false << L { "ISBUSY 1" } << Bools { true } << "";
    QTest::newRow("busy with a name keeps no name")
        << false << L { "ISBUSY 1 LOAD_I1_FILES" } << Bools { true } << "";
    QTest::newRow("finished") << true << L { "ISBUSY 0 LOAD_I1_FILES" } << Bools { false }
                              << "LOAD_I1_FILES";
    QTest::newRow("lower case") << true << L { "isbusy 0 load_i1_files" } << Bools { false }
                                << "LOAD_I1_FILES";
    QTest::newRow("mixed case, runs of blanks, carriage return")
        << true << L { "  IsBusy \t 0    analyzer_Exec_2DA  \r" } << Bools { false }
        << "ANALYZER_EXEC_2DA";
    QTest::newRow("any value but 1 means done") << true << L { "ISBUSY 2 LOAD_I1_FILES_OF_PATTERN" }
                                                << Bools { false } << "LOAD_I1_FILES_OF_PATTERN";
    QTest::newRow("value not a number means done")
        << true << L { "ISBUSY yes ANALYZER_EXEC_2DA" } << Bools { false } << "ANALYZER_EXEC_2DA";
    QTest::newRow("done without a name")
        << true << L { "ISBUSY 1", "ISBUSY 0" } << Bools { false } << "";
    QTest::newRow("signal only on change")
        << false << L { "ISBUSY 1", "ISBUSY 1", "ISBUSY 0 A", "ISBUSY 0 B", "ISBUSY 1" }
        << (Bools { true, false, true }) << "";
    QTest::newRow("lone keyword changes nothing but the name")
        << true << L { "ISBUSY" } << Bools {} << "";
    QTest::newRow("other lines are ignored")
        << true << L { "ISBUSY 0 FIRST", "ISBUSY 1", "HELLO 0 X", "ISBUSYX 0 Y", "0 ISBUSY 0 Z" }
        << (Bools { false, true }) << "";
    QTest::newRow("ignored lines keep the name")
        << true << L { "ISBUSY 0 FIRST", "STATUS 1", "isbusy_0 SECOND" } << Bools { false }
        << "FIRST";
}

void TestQuoltLink::busyReports()
{
    QFETCH(bool, startBusy);
    QFETCH(QList<QByteArray>, lines);
    QFETCH(Bools, changes);
    QFETCH(QString, lastMsg);

    QuoltLink link;
    if (startBusy)
        link.exec2dA("00001"); // not connected: dropped, but busy is set
    QCOMPARE(link.busy(), startBusy);
    QSignalSpy busy(&link, &QuoltLink::changedIsBusy);

    for (const QByteArray &line : lines)
        link.onReceiveAnMsg(line);
    QCOMPARE(busyValues(busy), changes);
    QCOMPARE(link.lastMsg(), lastMsg);
    QCOMPARE(link.busy(), changes.isEmpty() ? startBusy : changes.last());
}

void TestQuoltLink::busyReportsOverTheWire()
{
    LinkTestServer server;
    CountingLink link;
    QVERIFY(connectTo(link, server));
    link.loadFiles({ "/d/a-00003.dat" });
    QVERIFY(link.busy());

    // The viewer's last word must be current when the change is announced.
    QStringList seen;
    connect(&link, &QuoltLink::changedIsBusy, this,
        [&](bool f) { seen << QString("%1 %2").arg(f).arg(link.lastMsg()); });

    const QList<QByteArray> chunks { "isb", "usy 0 load_i1_files\nISBUSY 1\nIs", "Busy 0 ",
        "analyzer_exec_2da\n" };
    for (const QByteArray &chunk : chunks) {
        const int before = link.reads;
        QVERIFY(server.write(chunk));
        QTRY_VERIFY(link.reads > before);
    }
    QCOMPARE(seen, (QStringList { "0 LOAD_I1_FILES", "1 ", "0 ANALYZER_EXEC_2DA" }));
    QVERIFY(!link.busy());
}

QTEST_MAIN(TestQuoltLink)
#include "tst_QuoltLink.moc"
