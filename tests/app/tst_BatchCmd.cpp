#include "BatchCmd.h"

#include <QtTest>

#include <climits>

class TestBatchCmd : public QObject
{
    Q_OBJECT
private slots:
    void construction_data();
    void construction();
    void is_data();
    void is();
    void argReaders();
    void argInt_data();
    void argInt();
    void argDouble_data();
    void argDouble();
};

void TestBatchCmd::construction_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("cmd");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("empty") << ""
                           << "" << QStringList();
    QTest::newRow("blanks only") << " \t "
                                 << "" << QStringList();
    QTest::newRow("keyword only") << "images_clear"
                                  << "images_clear" << QStringList();
    QTest::newRow("blanks between items")
        << "  ct_set_calc_region\t1  2 3\t 4  "
        << "ct_set_calc_region" << QStringList { "1", "2", "3", "4" };
    QTest::newRow("quoted item keeps blanks")
        << "images_load \"/data/run 7\" *.img"
        << "images_load" << QStringList { "/data/run 7", "*.img" };
    QTest::newRow("empty quoted items dropped") << "seq_exec_file_pattern \"\" a \"\""
                                                << "seq_exec_file_pattern" << QStringList { "a" };
    QTest::newRow("quoted keyword") << "\"my label\" x"
                                    << "my label" << QStringList { "x" };
}

void TestBatchCmd::construction()
{
    QFETCH(QString, line);
    QFETCH(QString, cmd);
    QFETCH(QStringList, args);
    const BatchCmd c(line);
    QCOMPARE(c.line, line);
    QCOMPARE(c.cmd, cmd);
    QCOMPARE(c.args, args);
    QCOMPARE(c.argCount(), args.size());
}

void TestBatchCmd::is_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<bool>("matches");
    QTest::newRow("same") << "ct_cor 12"
                          << "ct_cor" << true;
    QTest::newRow("capitals in line") << "CT_COR 12"
                                      << "ct_cor" << true;
    QTest::newRow("capitals in keyword") << ":ifok x"
                                         << ":IFOK" << true;
    QTest::newRow("mixed") << ":GoTo x"
                           << ":goto" << true;
    QTest::newRow("prefix only") << "ct_cor_x 1"
                                 << "ct_cor" << false;
    QTest::newRow("argument is not keyword") << "x ct_cor"
                                             << "ct_cor" << false;
    QTest::newRow("empty line") << ""
                                << "ct_cor" << false;
}

void TestBatchCmd::is()
{
    QFETCH(QString, line);
    QFETCH(QString, keyword);
    QFETCH(bool, matches);
    QCOMPARE(BatchCmd(line).is(keyword), matches);
}

void TestBatchCmd::argReaders()
{
    const BatchCmd c("ct_recorded_cor_1 120 1023.5 \"a b\"");
    QCOMPARE(c.argCount(), 3);
    QCOMPARE(c.arg(0), QString("120"));
    QCOMPARE(c.arg(2), QString("a b"));
    QVERIFY(c.arg(3).isEmpty());
    QVERIFY(c.arg(-1).isEmpty());
    QCOMPARE(c.argInt(0), 120);
    QCOMPARE(c.argInt(1), 0); // not an integer
    QCOMPARE(c.argInt(5), 0);
    QCOMPARE(c.argDouble(), 120.0);
    QCOMPARE(c.argDouble(1), 1023.5);
    QCOMPARE(BatchCmd("show_orig").argDouble(), 0.0);
}

void TestBatchCmd::argInt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "42" << 42;
    QTest::newRow("negative") << "-3" << -3;
    QTest::newRow("plus sign") << "+7" << 7;
    QTest::newRow("decimal, not octal") << "010" << 10;
    QTest::newRow("hex is not decimal") << "0x10" << 0;
    QTest::newRow("fraction") << "1.5" << 0;
    QTest::newRow("trailing text") << "12a" << 0;
    QTest::newRow("largest") << "2147483647" << INT_MAX;
    QTest::newRow("smallest") << "-2147483648" << INT_MIN;
    QTest::newRow("beyond 32 bits") << "2147483648" << 0;
    QTest::newRow("below 32 bits") << "-2147483649" << 0;
}

void TestBatchCmd::argInt()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(BatchCmd("k \"" + text + "\"").argInt(0), value);
}

void TestBatchCmd::argDouble_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("plain") << "1023.25" << 1023.25;
    QTest::newRow("negative") << "-0.5" << -0.5;
    QTest::newRow("exponent") << "1.5e2" << 150.0;
    QTest::newRow("integer") << "7" << 7.0;
    QTest::newRow("decimal comma") << "1,5" << 0.0;
    QTest::newRow("text") << "abc" << 0.0;
    QTest::newRow("nan") << "nan" << 0.0;
    QTest::newRow("infinity") << "inf" << 0.0;
    QTest::newRow("overflow") << "1e400" << 0.0;
}

void TestBatchCmd::argDouble()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(BatchCmd("k " + text).argDouble(), value);
}

QTEST_APPLESS_MAIN(TestBatchCmd)
#include "tst_BatchCmd.moc"
