#include "Body.h"

#include <QApplication>
#include <QTranslator>
#include <QtTest>

class TestBody : public QObject
{
    Q_OBJECT
private slots:
    void closingEmitsFinishing();
    void embeddedTranslationLoads();
};

void TestBody::closingEmitsFinishing()
{
    Body body;
    QCOMPARE(body.windowTitle(), QString("Vexa2"));
    QSignalSpy spy(&body, &Body::finishing);
    body.show();
    body.resize(1, 1);
    QVERIFY(QTest::qWaitForWindowExposed(&body));
    QVERIFY(body.close());
    QCOMPARE(spy.count(), 1);
}

void TestBody::embeddedTranslationLoads()
{
    QTranslator tr;
    QVERIFY(tr.load(":Vexa2_ja_JP", QCoreApplication::applicationDirPath()));
    const QString ja = tr.translate("Body", "Vexa2 CT reconstruction");
    QVERIFY(!ja.isEmpty());
    QVERIFY(ja != "Vexa2 CT reconstruction");
}

QTEST_MAIN(TestBody)
#include "tst_Body.moc"
