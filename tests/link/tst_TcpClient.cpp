#include "LinkTestServer.h"
#include "TcpClient.h"

#include <QtTest>

namespace {

// Counts the reads the client makes, so a test can hand it one chunk per read.
class CountingClient : public TcpClient
{
public:
    int reads = 0;

protected:
    void readyRead() override
    {
        ++reads;
        TcpClient::readyRead();
    }
};

using Chunks = QList<QByteArray>;

} // namespace

class TestTcpClient : public QObject
{
    Q_OBJECT
private slots:
    void lineSplitting_data();
    void lineSplitting();
    void lineLengthBound_data();
    void lineLengthBound();
    void floodIsServedInPortions_data();
    void floodIsServedInPortions();
    void sendWritesLatin1OnlyWhileConnected();
    void failedFirstAttemptIsNotRetried();
    void reconnectsAfterPeerHangsUp();
    void reconnectsWhenViewerRestarts();
    void doDisconnectStopsReconnection_data();
    void doDisconnectStopsReconnection();

private:
    // Connects the client to the server and waits until both ends see the connection.
    static bool connectTo(TcpClient &client, LinkTestServer &server);
    // Sends each chunk so that the client reads it on its own, then collects the lines.
    static void feed(CountingClient &client, LinkTestServer &server, const Chunks &chunks);
};

bool TestTcpClient::connectTo(TcpClient &client, LinkTestServer &server)
{
    if (!server.listen())
        return false;
    client.setEndpoint("127.0.0.1", server.port());
    client.doConnect();
    return QTest::qWaitFor([&] { return client.isConnected() && server.connections() == 1; }, 5000);
}

void TestTcpClient::feed(CountingClient &client, LinkTestServer &server, const Chunks &chunks)
{
    for (const QByteArray &chunk : chunks) {
        const int before = client.reads;
        QVERIFY(server.write(chunk));
        QTRY_VERIFY(client.reads > before);
    }
}

void TestTcpClient::lineSplitting_data()
{
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<Chunks>("lines");
    QTest::addColumn<qsizetype>("pending");

    QTest::newRow("one line") << Chunks { "ISBUSY 1\n" } << Chunks { "ISBUSY 1" } << qsizetype(0);
    QTest::newRow("several lines in one read")
        << Chunks { "ISBUSY 1\nISBUSY 0 LOAD_I1_FILES\nx\n" }
        << Chunks { "ISBUSY 1", "ISBUSY 0 LOAD_I1_FILES", "x" } << qsizetype(0);
    QTest::newRow("one line over several reads")
        << Chunks { "IS", "BUSY 0 LOAD", "_I1_FILES\n" } << Chunks { "ISBUSY 0 LOAD_I1_FILES" }
        << qsizetype(0);
    QTest::newRow("line feed in a read of its own")
        << Chunks { "abc", "\n" } << Chunks { "abc" } << qsizetype(0);
    QTest::newRow("end of one line and start of the next")
        << Chunks { "a", "b\nc\nd", "e" } << Chunks { "ab", "c" } << qsizetype(2);
    QTest::newRow("empty lines are not reported")
        << Chunks { "\n\nx\n\n", "\n" } << Chunks { "x" } << qsizetype(0);
    QTest::newRow("carriage return stays with the line")
        << Chunks { "x\r\n" } << Chunks { "x\r" } << qsizetype(0);
    QTest::newRow("any byte value") << Chunks { QByteArray("\xff\0z\n", 4) }
                                    << Chunks { QByteArray("\xff\0z", 3) } << qsizetype(0);
}

void TestTcpClient::lineSplitting()
{
    QFETCH(Chunks, chunks);
    QFETCH(Chunks, lines);
    QFETCH(qsizetype, pending);

    LinkTestServer server;
    CountingClient client;
    Chunks got;
    connect(&client, &TcpClient::receiveAnMsg, this, [&](const QByteArray &l) { got << l; });
    QVERIFY(connectTo(client, server));

    feed(client, server, chunks);
    QCOMPARE(got, lines);
    QCOMPARE(client.pendingBytes(), pending);
}

void TestTcpClient::lineLengthBound_data()
{
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<Chunks>("lines");

    const QByteArray max(16, 'a');
    QTest::newRow("line of the bound's length") << Chunks { max + "\n" } << Chunks { max };
    QTest::newRow("line of the bound's length in pieces")
        << Chunks { max.left(10), max.mid(10), "\n" } << Chunks { max };
    QTest::newRow("one byte over, complete in one read")
        << Chunks { max + "b\nok\n" } << Chunks { "ok" };
    QTest::newRow("overlong line over several reads")
        << Chunks { max + "b", QByteArray(40, 'c'), "ddd\nok\n" } << Chunks { "ok" };
    QTest::newRow("overlong line ends in a read of its own")
        << Chunks { QByteArray(20, 'a'), "\n", "ok\n" } << Chunks { "ok" };
    QTest::newRow("lines around an overlong one")
        << Chunks { "x\n" + QByteArray(30, 'a'), "a\ny\nz", "\n" } << Chunks { "x", "y", "z" };
}

void TestTcpClient::lineLengthBound()
{
    QFETCH(Chunks, chunks);
    QFETCH(Chunks, lines);

    LinkTestServer server;
    CountingClient client;
    client.setMaxLineLength(16);
    Chunks got;
    connect(&client, &TcpClient::receiveAnMsg, this, [&](const QByteArray &l) { got << l; });
    QVERIFY(connectTo(client, server));

    for (const QByteArray &chunk : chunks) {
        feed(client, server, { chunk });
        QVERIFY2(client.pendingBytes() <= 16, "the buffer outgrew its bound");
    }
    QCOMPARE(got, lines);
}

namespace {

QStringList *received = nullptr;

void keepReceived(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    if (received && msg.startsWith("rec:"))
        received->append(msg);
}

} // namespace

void TestTcpClient::floodIsServedInPortions_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("length");
    QTest::newRow("busy toggles without pause") << 20000 << 8;
    QTest::newRow("one long line") << 1 << 20000;
}

void TestTcpClient::floodIsServedInPortions()
{
    QFETCH(int, lines);
    QFETCH(int, length);
    LinkTestServer server;
    CountingClient client;
    int got = 0;
    qsizetype longest = 0;
    connect(&client, &TcpClient::receiveAnMsg, this, [&](const QByteArray &l) {
        ++got;
        longest = std::max(longest, l.size());
    });
    QVERIFY(connectTo(client, server));
    // A pass of the event loop that comes between two portions of the flood. Its context
    // lives on this stack frame, so a pass that comes after the test has ended does nothing.
    bool otherWorkRan = false;
    QObject scope;
    connect(&client, &TcpClient::receiveAnMsg, &scope, [&] {
        if (got == 1)
            QTimer::singleShot(0, &scope, [&] { otherWorkRan = got < lines; });
    });

    QStringList logged;
    received = &logged;
    const QtMessageHandler previous = qInstallMessageHandler(keepReceived);
    QByteArray flood;
    for (int i = 0; i < lines; ++i)
        flood += QByteArray(length - 2, i % 2 ? '1' : '0') + " \n";
    QVERIFY(server.write(flood));
    QTRY_COMPARE_WITH_TIMEOUT(got, lines, 30000);
    qInstallMessageHandler(previous);
    received = nullptr;

    // Every line is delivered whole; the log has each in short and not every one of a flood.
    QCOMPARE(longest, qsizetype(length - 1));
    QVERIFY2(logged.size() <= 4 * TcpClient::LoggedLinesPerSecond,
        qPrintable(QString::number(logged.size())));
    for (const QString &l : std::as_const(logged))
        QVERIFY2(l.size() < TcpClient::LoggedLineLength + 40, qPrintable(l.left(300)));
    if (lines > TcpClient::MaxLinesPerPass)
        QVERIFY(otherWorkRan);
}

void TestTcpClient::sendWritesLatin1OnlyWhileConnected()
{
    LinkTestServer server;
    TcpClient client;
    QVERIFY(!client.send("lost\n"));

    QVERIFY(connectTo(client, server));
    QVERIFY(client.send(QString::fromUtf8("r\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC\n")));
    QTRY_COMPARE(server.received(0), QByteArray("r\xE9sum\xE9 ?\n"));

    client.doDisconnect();
    QTRY_VERIFY(!server.lastIsOpen());
    QVERIFY(!client.send("after\n"));
    QTest::qWait(100);
    QCOMPARE(server.received(0), QByteArray("r\xE9sum\xE9 ?\n"));
}

void TestTcpClient::failedFirstAttemptIsNotRetried()
{
    // A port that nobody listens on: take a free one and release it again.
    quint16 port = 0;
    {
        LinkTestServer probe;
        QVERIFY(probe.listen());
        port = probe.port();
    }
    TcpClient client;
    QSignalSpy stat(&client, &TcpClient::statChanged);
    client.setEndpoint("127.0.0.1", port);
    client.doConnect();
    QVERIFY(client.wantConnected());
    QCOMPARE(stat.count(), 2);

    QTest::qWait(1500);
    QVERIFY(!client.isConnected());
    QVERIFY(client.wantConnected());
    QVERIFY(!client.isReconnecting());
}

void TestTcpClient::reconnectsAfterPeerHangsUp()
{
    LinkTestServer server;
    TcpClient client;
    QVERIFY(connectTo(client, server));
    QSignalSpy stat(&client, &TcpClient::statChanged);

    server.dropAll();
    QTRY_VERIFY(!client.isConnected());
    QVERIFY(client.isReconnecting());
    QVERIFY(client.wantConnected());

    QTRY_VERIFY_WITH_TIMEOUT(client.isConnected(), 5000);
    QCOMPARE(server.connections(), 2);
    QVERIFY(!client.isReconnecting());
    QVERIFY(stat.count() >= 2); // lost, and found again
}

void TestTcpClient::reconnectsWhenViewerRestarts()
{
    LinkTestServer server;
    TcpClient client;
    QVERIFY(connectTo(client, server));
    const quint16 port = server.port();

    // The viewer exits; for a while every attempt is refused.
    server.stopListening();
    server.dropAll();
    QTRY_VERIFY(!client.isConnected());
    QTest::qWait(2500);
    QVERIFY(!client.isConnected());
    QVERIFY(client.isReconnecting());

    QVERIFY(server.listen(port));
    QTRY_VERIFY_WITH_TIMEOUT(client.isConnected(), 5000);
    QCOMPARE(server.connections(), 2);
    QVERIFY(server.lastIsOpen());
}

void TestTcpClient::doDisconnectStopsReconnection_data()
{
    QTest::addColumn<bool>("afterLoss");
    QTest::newRow("while connected") << false;
    QTest::newRow("while reconnecting") << true;
}

void TestTcpClient::doDisconnectStopsReconnection()
{
    QFETCH(bool, afterLoss);

    LinkTestServer server;
    TcpClient client;
    QVERIFY(connectTo(client, server));
    if (afterLoss) {
        server.dropAll();
        QTRY_VERIFY(!client.isConnected());
        QVERIFY(client.isReconnecting());
    }

    client.doDisconnect();
    QVERIFY(!client.wantConnected());
    QVERIFY(!client.isReconnecting());
    QTRY_VERIFY(!client.isConnected());
    QTRY_VERIFY(!server.lastIsOpen());

    QTest::qWait(2500);
    QCOMPARE(server.connections(), 1);
    QVERIFY(!client.isConnected());
}

QTEST_MAIN(TestTcpClient)
#include "tst_TcpClient.moc"
