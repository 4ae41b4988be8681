#include "Batch.h"

#include <QtTest>

#include <QMetaMethod>
#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>

// Debug-log capture shared with the interpreter's thread.
namespace {

// Runs the GUI thread's event loop until the condition holds. Unlike QTest::qWaitFor it
// does not sleep between rounds, so thousands of command round trips stay quick.
template <typename Cond> bool waitFor(Cond cond, int timeoutMs = 30000)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (cond())
            loop.quit();
    });
    poll.start(1);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!cond())
        loop.exec();
    return cond();
}

QMutex logMutex;
QStringList logLines; // first lines only, so a spinning batch cannot fill the memory
std::atomic<int> echoCount { 0 };
QtMessageHandler previousHandler = nullptr;

void captureLog(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    if (msg.startsWith(":echo"))
        ++echoCount;
    const QMutexLocker lock(&logMutex);
    if (logLines.size() < 1000)
        logLines.append(msg);
}

QStringList loggedLines()
{
    const QMutexLocker lock(&logMutex);
    return logLines;
}

} // namespace

// Stands in for the main window: receives each command on the GUI thread, answers
// "seq_exec_next" through lastOk and reports completion with callBatchCheckEnd(), right
// away, from the event loop, or only when the test says so.
class Executor : public QObject
{
    Q_OBJECT
public:
    enum Mode { Immediate, Deferred, Held };

    explicit Executor(Batch *b)
        : batch(b)
    { }

    Batch *batch;
    Mode mode = Immediate;
    QList<bool> nextResults;
    QList<BatchCmd> received;
    int outstanding = 0;
    bool overlapped = false;

    QStringList receivedLines() const
    {
        QStringList l;
        for (const BatchCmd &c : received)
            l << c.line;
        return l;
    }

    void complete()
    {
        --outstanding;
        emit callBatchCheckEnd();
    }

signals:
    void callBatchLoad(QString fname);
    void callBatchExec();
    void callBatchCheckEnd();

public slots:
    void batchExCmd(BatchCmd cmd)
    {
        if (outstanding > 0)
            overlapped = true;
        ++outstanding;
        received.append(cmd);
        if (cmd.is("seq_exec_next"))
            batch->lastOk = nextResults.isEmpty() ? true : nextResults.takeFirst();
        if (mode == Immediate)
            complete();
        else if (mode == Deferred)
            QTimer::singleShot(0, this, [this] { complete(); });
    }
};

class TestBatch : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void metaObjectOrder();
    void loading_data();
    void loading();
    void unreadableFileKeepsOldLines();
    void running_data();
    void running();
    void echoAndCommandsAreLogged();
    void execTwiceStartsThenStops();
    void restartWaitsForOutstandingCommand();
    void loadWhileRunningReplacesLines();
    void longFileRunsStrictlyInOrder();
    void longChainOfControlLines();
    void controlCycleEndsOnStop();

private:
    QString writeFile(const QString &content);
    void load(const QString &content);
    bool runToEnd();
    void sync();
    QStringList batchLines();

    QTemporaryDir dir;
    int fileNo = 0;
    QThread *thread = nullptr;
    Batch *batch = nullptr;
    Executor *ex = nullptr;
};

void TestBatch::initTestCase()
{
    QVERIFY(dir.isValid());
    previousHandler = qInstallMessageHandler(captureLog);
}

void TestBatch::cleanupTestCase()
{
    qInstallMessageHandler(previousHandler);
}

void TestBatch::init()
{
    {
        const QMutexLocker lock(&logMutex);
        logLines.clear();
    }
    echoCount = 0;

    thread = new QThread;
    // A small stack, as a nesting chain of steps would overflow it quickly.
    thread->setStackSize(1024 * 1024);
    batch = new Batch;
    batch->moveToThread(thread);
    connect(thread, &QThread::finished, batch, &QObject::deleteLater);
    ex = new Executor(batch);
    // The main window's wiring: everything crosses the threads queued.
    connect(batch, &Batch::batchExCmd, ex, &Executor::batchExCmd, Qt::QueuedConnection);
    connect(ex, &Executor::callBatchLoad, batch, &Batch::batchLoad, Qt::QueuedConnection);
    connect(ex, &Executor::callBatchExec, batch, &Batch::batchExec, Qt::QueuedConnection);
    connect(ex, &Executor::callBatchCheckEnd, batch, &Batch::batchCheckEnd, Qt::QueuedConnection);
    thread->start();
}

void TestBatch::cleanup()
{
    QMetaObject::invokeMethod(batch, "batchStop", Qt::QueuedConnection);
    thread->quit();
    QVERIFY(thread->wait(10000));
    delete thread;
    delete ex;
    thread = nullptr;
    batch = nullptr;
    ex = nullptr;
}

QString TestBatch::writeFile(const QString &content)
{
    const QString path = dir.filePath(QString("batch%1.txt").arg(++fileNo));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(content.toUtf8());
    return path;
}

// Runs an empty call on the interpreter's thread: every queued call sent before it has
// then been handled.
void TestBatch::sync()
{
    QMetaObject::invokeMethod(
        batch, [] {}, Qt::BlockingQueuedConnection);
}

QStringList TestBatch::batchLines()
{
    QStringList lines;
    QMetaObject::invokeMethod(
        batch, [&] { lines = batch->batchLines; }, Qt::BlockingQueuedConnection);
    return lines;
}

void TestBatch::load(const QString &content)
{
    emit ex->callBatchLoad(writeFile(content));
    sync();
}

bool TestBatch::runToEnd()
{
    emit ex->callBatchExec();
    sync();
    return waitFor([this] { return !batch->running; });
}

void TestBatch::metaObjectOrder()
{
    const QMetaObject *mo = batch->metaObject();
    const int off = mo->methodOffset();
    const QList<QPair<QByteArray, QMetaMethod::MethodType>> expected {
        { "batchExecNext()", QMetaMethod::Signal },
        { "batchFinishALine()", QMetaMethod::Signal },
        { "batchExCmd(BatchCmd)", QMetaMethod::Signal },
        { "batchStart()", QMetaMethod::Slot },
        { "batchStop()", QMetaMethod::Slot },
        { "batchNext()", QMetaMethod::Slot },
        { "batchLoad(QString)", QMetaMethod::Slot },
        { "batchExec()", QMetaMethod::Slot },
        { "batchCheckEnd()", QMetaMethod::Slot },
    };
    QCOMPARE(mo->methodCount() - off, expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaMethod m = mo->method(off + i);
        QCOMPARE(m.methodSignature(), expected.at(i).first);
        QCOMPARE(m.methodType(), expected.at(i).second);
    }
    QVERIFY(QMetaType::fromName("BatchCmd").isValid());
    QCOMPARE(QMetaType::fromName("BatchCmd"), QMetaType::fromType<BatchCmd>());
    QVERIFY(!batch->running);
    QVERIFY(batch->lastOk);
}

void TestBatch::loading_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty") << "" << QStringList();
    QTest::newRow("comments only") << "# one\n#two\n" << QStringList();
    QTest::newRow("comments cut, empty dropped, blanks kept")
        << "a 1 # note\n\n# only\n  \nb" << QStringList { "a 1 ", "  ", "b" };
    QTest::newRow("hash in quotes")
        << "images_load \"/d/#1\" # x" << QStringList { "images_load \"/d/#1\" " };
    QTest::newRow("windows line ends") << "a 1\r\nb\r\n" << QStringList { "a 1", "b" };
    QTest::newRow("continued line") << "a 1 \\\n  2 # c\nb" << QStringList { "a 1 2 ", "b" };
    QTest::newRow("three parts, blanks after backslash")
        << "a \\\nb \\  \n c" << QStringList { "a b c" };
    QTest::newRow("backslash inside comment") << "a # \\\nb" << QStringList { "a ", "b" };
    QTest::newRow("continued by a comment line") << "a \\\n# note\nb" << QStringList { "a", "b" };
    QTest::newRow("backslash on the last line") << "a\nb \\" << QStringList { "a", "b" };
    QTest::newRow("backslash alone") << "\\\nx" << QStringList { "x" };
}

void TestBatch::loading()
{
    QFETCH(QString, content);
    QFETCH(QStringList, lines);
    load(content);
    QCOMPARE(batchLines(), lines);
    QVERIFY(!batch->running);
}

void TestBatch::unreadableFileKeepsOldLines()
{
    load("a\nb");
    const QString missing = dir.filePath("no-such-batch.txt");
    emit ex->callBatchLoad(missing);
    QCOMPARE(batchLines(), (QStringList { "a", "b" }));
    QVERIFY(loggedLines().contains("Can't open batch file " + missing));

    // The old lines are still runnable.
    QVERIFY(runToEnd());
    QTRY_COMPARE(ex->receivedLines(), (QStringList { "a", "b" }));
}

void TestBatch::running_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QList<bool>>("nextResults");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("lastOk");

    const QList<bool> none;
    QTest::newRow("empty file") << "" << none << QStringList() << true;
    QTest::newRow("comments only") << "# a\n#b" << none << QStringList() << true;
    QTest::newRow("sequence") << "a 1\nb 2\nc" << none << QStringList { "a 1", "b 2", "c" } << true;
    QTest::newRow("blank line is sent")
        << "a\n \nb" << none << QStringList { "a", " ", "b" } << true;
    QTest::newRow(":end") << "a\n:end\nb" << none << QStringList { "a" } << true;
    QTest::newRow(":STOP") << "a\n:STOP\nb" << none << QStringList { "a" } << true;
    QTest::newRow(":goto skips to the label line")
        << "a\n:goto skip\nb\nskip\nc" << none << QStringList { "a", "skip", "c" } << true;
    QTest::newRow(":goto takes the first matching line")
        << "a\n:goto L\nL 1\nL 2" << none << QStringList { "a", "L 1", "L 2" } << true;
    QTest::newRow(":goto label of other case")
        << "a\n:goto Skip\nb\nskip\nc" << none << QStringList { "a", "b", "skip", "c" } << true;
    QTest::newRow(":GOTO exact label")
        << "a\n:GOTO Skip\nb\nSkip\nc" << none << QStringList { "a", "Skip", "c" } << true;
    QTest::newRow(":goto missing label")
        << "a\n:goto nowhere\nb" << none << QStringList { "a", "b" } << true;
    QTest::newRow(":goto without label ignores blank lines")
        << " \na\n:goto\nb" << none << QStringList { " ", "a", "b" } << true;
    QTest::newRow("loop over data sets")
        << "lbl\nseq_exec_next\n:ifok :goto lbl\ndone" << QList<bool> { true, true, false }
        << QStringList { "lbl", "seq_exec_next", "lbl", "seq_exec_next", "lbl", "seq_exec_next",
               ":ifok :goto lbl", "done" }
        << true;
    QTest::newRow(":ifng :end after failed next")
        << "seq_exec_next\n:ifng :end\nafter" << QList<bool> { false }
        << QStringList { "seq_exec_next" } << false;
    QTest::newRow(":IFNG :END after failed next")
        << "seq_exec_next\n:IFNG :END\nafter" << QList<bool> { false }
        << QStringList { "seq_exec_next" } << false;
    QTest::newRow(":ifok :goto sent unchanged after failed next")
        << "seq_exec_next\n:ifok :goto lbl\nafter\nlbl" << QList<bool> { false }
        << QStringList { "seq_exec_next", ":ifok :goto lbl", "after", "lbl" } << true;
    QTest::newRow(":IFOK :GOTO after good next")
        << "seq_exec_next\n:IFOK :GOTO lbl\nskipped\nlbl" << QList<bool> { true }
        << QStringList { "seq_exec_next", "lbl" } << true;
    QTest::newRow(":ifng sent unchanged while ok")
        << "a\n:ifng :end\nb" << none << QStringList { "a", ":ifng :end", "b" } << true;
    QTest::newRow("quoted argument split again")
        << ":ifok images_load \"/data/run 7\" *.img" << none
        << QStringList { "images_load /data/run 7 *.img" } << true;
    QTest::newRow(":echo is not sent") << ":echo hi\na" << none << QStringList { "a" } << true;
    QTest::newRow("continued command")
        << "a 1 \\\n 2\nb" << none << QStringList { "a 1 2", "b" } << true;
}

void TestBatch::running()
{
    QFETCH(QString, content);
    QFETCH(QList<bool>, nextResults);
    QFETCH(QStringList, expected);
    QFETCH(bool, lastOk);

    ex->nextResults = nextResults;
    load(content);
    QVERIFY(runToEnd());
    QCoreApplication::processEvents();
    QCOMPARE(ex->receivedLines(), expected);
    QCOMPARE(bool(batch->lastOk), lastOk);
    QVERIFY(!ex->overlapped);
}

void TestBatch::echoAndCommandsAreLogged()
{
    load(":echo  hello   world # c\nimages_load x");
    QVERIFY(runToEnd());
    const QStringList log = loggedLines();
    const QStringList expected { "cmd :echo", ":echo  hello   world ", "cmd images_load" };
    QCOMPARE(log, expected);
    QCOMPARE(ex->receivedLines(), QStringList { "images_load x" });
}

void TestBatch::execTwiceStartsThenStops()
{
    load("a\nb\nc");
    emit ex->callBatchExec();
    emit ex->callBatchExec();
    sync();
    QVERIFY(!batch->running);
    QTest::qWait(50); // let the first command's completion arrive
    QCOMPARE(ex->receivedLines(), QStringList { "a" });
    QVERIFY(!batch->running);

    // A later start runs the whole file from its first line.
    QVERIFY(runToEnd());
    QCOMPARE(ex->receivedLines(), (QStringList { "a", "a", "b", "c" }));
}

void TestBatch::restartWaitsForOutstandingCommand()
{
    ex->mode = Executor::Held;
    load("a\nb\nc");
    emit ex->callBatchExec();
    QTRY_COMPARE(ex->received.size(), 1);

    emit ex->callBatchExec(); // stop while "a" is being carried out
    emit ex->callBatchExec(); // and start again at once
    sync();
    QVERIFY(batch->running);
    QTest::qWait(20);
    QCOMPARE(ex->received.size(), 1);

    // The old command's completion lets the new run begin, one command at a time.
    ex->mode = Executor::Immediate;
    ex->complete();
    QTRY_VERIFY(!batch->running);
    QCoreApplication::processEvents();
    QCOMPARE(ex->receivedLines(), (QStringList { "a", "a", "b", "c" }));
    QVERIFY(!ex->overlapped);
}

void TestBatch::loadWhileRunningReplacesLines()
{
    ex->mode = Executor::Held;
    load("a\nb\nc");
    emit ex->callBatchExec();
    QTRY_COMPARE(ex->received.size(), 1);
    load("x\ny\nz");
    ex->mode = Executor::Immediate;
    ex->complete();
    QTRY_VERIFY(!batch->running);
    QCoreApplication::processEvents();
    QCOMPARE(ex->receivedLines(), (QStringList { "a", "y", "z" }));
}

void TestBatch::longFileRunsStrictlyInOrder()
{
    ex->mode = Executor::Deferred;
    const int n = 3000;
    QString content;
    QStringList expected;
    for (int i = 0; i < n; ++i) {
        const QString line = QString("ct_proc_slice %1").arg(i);
        content += line + (i % 7 == 0 ? "\n:echo x\n" : "\n");
        expected << line;
    }
    load(content);
    QVERIFY(runToEnd());
    QCoreApplication::processEvents();
    QCOMPARE(ex->received.size(), n);
    for (int i = 0; i < n; ++i)
        QCOMPARE(ex->received.at(i).argInt(0), i);
    QCOMPARE(ex->receivedLines(), expected);
    QVERIFY(!ex->overlapped);
}

void TestBatch::longChainOfControlLines()
{
    // Each control line hands on to the next; nested calls would exhaust the stack.
    const int n = 50000;
    QString content;
    for (int i = 0; i < n; ++i)
        content += ":echo step\n";
    content += ":goto last\nskipped\nlast";
    load(content);
    QVERIFY(runToEnd());
    QCoreApplication::processEvents();
    QCOMPARE(echoCount.load(), n);
    QCOMPARE(ex->receivedLines(), QStringList { "last" });
}

void TestBatch::controlCycleEndsOnStop()
{
    load(":echo spin\n:goto :echo\nnever");
    emit ex->callBatchExec();
    QTRY_VERIFY_WITH_TIMEOUT(echoCount > 1000, 10000);
    QVERIFY(batch->running);
    // The thread still answers while it spins.
    sync();

    QMetaObject::invokeMethod(batch, "batchStop", Qt::QueuedConnection);
    QTRY_VERIFY(!batch->running);
    sync();
    const int spun = echoCount;
    QTest::qWait(50);
    QCOMPARE(echoCount.load(), spun);
    QVERIFY(ex->received.isEmpty());
}

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_Batch.moc"
