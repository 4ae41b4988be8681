#include "ClosableBase.h"
#include "PopDockBase.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

class TestPopDockBase : public QObject
{
    Q_OBJECT
private slots:
    void popAndDock();
    void closingReturnsContent();
    void setPopped();
    void withoutContent();
    void contentGoesWithContainer();
};

void TestPopDockBase::popAndDock()
{
    PopDockBase p;
    auto *content = new QLabel("content");
    p.setWidget(content, "Measured Raw Image");
    p.show();
    QCOMPARE(content->parentWidget(), &p);
    QCOMPARE(p.popWindow()->windowTitle(), QString("Measured Raw Image"));

    QSignalSpy popped(&p, &PopDockBase::popped);
    QTest::mouseClick(p.findChild<QPushButton *>("PopDock"), Qt::LeftButton);
    QVERIFY(p.isPopped());
    QVERIFY(p.popWindow()->isVisible());
    QCOMPARE(content->parentWidget(), p.popWindow());
    QVERIFY(content->isVisible());
    QCOMPARE(popped.count(), 1);
    QCOMPARE(popped.at(0).at(0).toBool(), true);

    QTest::mouseClick(p.findChild<QPushButton *>("PopDock"), Qt::LeftButton);
    QVERIFY(!p.isPopped());
    QVERIFY(!p.popWindow()->isVisible());
    QCOMPARE(content->parentWidget(), &p);
    QVERIFY(content->isVisible());
    QCOMPARE(popped.count(), 2);
    QCOMPARE(popped.at(1).at(0).toBool(), false);
}

void TestPopDockBase::closingReturnsContent()
{
    PopDockBase p;
    auto *content = new QLabel("content");
    p.setWidget(content);
    p.show();
    p.moveToPopBase();
    QVERIFY(p.popWindow()->isVisible());
    QCOMPARE(content->parentWidget(), p.popWindow());

    QSignalSpy popped(&p, &PopDockBase::popped);
    QSignalSpy closed(&p, &PopDockBase::closed);
    QVERIFY(p.popWindow()->close());
    QCOMPARE(closed.count(), 1);
    QCOMPARE(popped.count(), 1);
    QCOMPARE(popped.at(0).at(0).toBool(), false);
    QVERIFY(!p.isPopped());
    QCOMPARE(content->parentWidget(), &p);
    QVERIFY(content->isVisible());

    // It can be popped out again after a close.
    p.popDock();
    QVERIFY(p.isPopped());
    QCOMPARE(content->parentWidget(), p.popWindow());
}

void TestPopDockBase::setPopped()
{
    PopDockBase p;
    p.setWidget(new QLabel("x"));
    QSignalSpy popped(&p, &PopDockBase::popped);
    p.setPopped(false);
    QCOMPARE(popped.count(), 0);
    p.setPopped(true);
    p.setPopped(true);
    QCOMPARE(popped.count(), 1);
    QVERIFY(p.isPopped());
    p.setPopped(false);
    QCOMPARE(popped.count(), 2);
    QVERIFY(!p.isPopped());
}

void TestPopDockBase::withoutContent()
{
    PopDockBase p;
    QSignalSpy popped(&p, &PopDockBase::popped);
    p.popDock();
    p.popDock();
    QCOMPARE(popped.count(), 2);
    QVERIFY(!p.widget());
}

void TestPopDockBase::contentGoesWithContainer()
{
    QPointer<QLabel> content = new QLabel("x");
    QPointer<ClosableBase> window;
    {
        PopDockBase p;
        p.setWidget(content);
        p.moveToPopBase();
        window = p.popWindow();
    }
    QVERIFY(content.isNull());
    QVERIFY(window.isNull());
}

QTEST_MAIN(TestPopDockBase)
#include "tst_PopDockBase.moc"
