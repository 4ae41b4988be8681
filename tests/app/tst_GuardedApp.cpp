#include "Failures.h"
#include "GuardedApp.h"

#include <QThread>
#include <QtTest>

#include <new>
#include <stdexcept>

namespace {

// A worker whose step fails in the way the row asks, and which counts the steps it finished.
class Stepper : public QObject
{
    Q_OBJECT
public:
    QAtomicInt done = 0;
public slots:
    void step(int how)
    {
        if (how == 1)
            throw std::bad_alloc();
        if (how == 2)
            throw std::runtime_error("the disk went away");
        ++done;
    }
};

} // namespace

class tst_GuardedApp : public QObject
{
    Q_OBJECT
private slots:
    void failedStepIsCountedAndTheProgramGoesOn_data();
    void failedStepIsCountedAndTheProgramGoesOn();
};

void tst_GuardedApp::failedStepIsCountedAndTheProgramGoesOn_data()
{
    QTest::addColumn<bool>("worker");
    QTest::addColumn<int>("how");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("why");
    QTest::newRow("memory, GUI thread")
        << false << 1 << int(Failures::Memory) << "not enough memory";
    QTest::newRow("memory, worker thread")
        << true << 1 << int(Failures::Memory) << "not enough memory";
    QTest::newRow("other fault, worker thread")
        << true << 2 << int(Failures::Other) << "the disk went away";
}

void tst_GuardedApp::failedStepIsCountedAndTheProgramGoesOn()
{
    QFETCH(bool, worker);
    QFETCH(int, how);
    QFETCH(int, kind);
    QFETCH(QString, why);
    int argc = 1;
    char name[] = "tst_GuardedApp";
    char *argv[] = { name, nullptr };
    GuardedApp<QCoreApplication> app(argc, argv);
    Failures::instance().reset();

    QThread thread;
    Stepper stepper;
    if (worker) {
        stepper.moveToThread(&thread);
        thread.start();
    }
    QMetaObject::invokeMethod(&stepper, "step", Qt::QueuedConnection, Q_ARG(int, 0));
    QMetaObject::invokeMethod(&stepper, "step", Qt::QueuedConnection, Q_ARG(int, how));
    QMetaObject::invokeMethod(&stepper, "step", Qt::QueuedConnection, Q_ARG(int, 0));
    // The failed step is recorded, and the steps after it still run on the same thread.
    QTRY_COMPARE(stepper.done.loadRelaxed(), 2);
    QCOMPARE(Failures::instance().count(), 1);
    QCOMPARE(Failures::instance().count(Failures::Kind(kind)), 1);
    QCOMPARE(Failures::instance().last(),
        QString("A step of Stepper was abandoned (%1); its results are missing").arg(why));
    if (worker) {
        thread.quit();
        QVERIFY(thread.wait(5000));
    }
}

QTEST_APPLESS_MAIN(tst_GuardedApp)
#include "tst_GuardedApp.moc"
