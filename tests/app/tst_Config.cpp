#include "Config.h"
#include "Failures.h"
#include "StartUp.h"
#include "TextUtil.h"

#include <QtTest>

namespace {
void writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}
} // namespace

class TestConfig : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void parseArgs_data();
    void parseArgs();
    void laterSettingWins();
    void lookupsAndCase();
    void readFileKeepsLines();
    void readFileMissing();
    void includeInsertsLinesInOrder();
    void includeCycleIsStopped();
    void includeDepthIsBounded();
    void overlongTextIsCut_data();
    void overlongTextIsCut();
    void startOptions_data();
    void startOptions();
    void configIntReadsOnly32BitDecimals_data();
    void configIntReadsOnly32BitDecimals();

private:
    QTemporaryDir tmp;
    QString oldCwd;
};

void TestConfig::init()
{
    QVERIFY(tmp.isValid());
    dataRoot = defaultDataRoot();
    sgmImageMode = 2;
}

void TestConfig::parseArgs_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("rest");
    QTest::newRow("value and rest") << QStringList { "vexa2", "-b", "run.txt", "two", "words" }
                                    << "-b" << "run.txt" << "run.txt two words";
    QTest::newRow("option without value") << QStringList { "vexa2", "-nw" } << "-nw" << "" << "";
    QTest::newRow("next option is no value") << QStringList { "vexa2", "-b", "-x" } << "-b" << ""
                                             << "";
    QTest::newRow("negative number is a value") << QStringList { "vexa2", "-s", "-3" } << "-s"
                                                << "-3" << "";
    QTest::newRow("dot number is a value") << QStringList { "vexa2", "-s", "-.5" } << "-s"
                                           << "-.5" << "";
    // The negative value is examined again as an option of its own.
    QTest::newRow("negative value is also a key") << QStringList { "vexa2", "-s", "-3", "x" }
                                                  << "-3" << "x" << "x";
    QTest::newRow("program path is not an option") << QStringList { "/usr/bin/vexa2", "-e" }
                                                   << "-e" << "" << "";
}

void TestConfig::parseArgs()
{
    QFETCH(QStringList, args);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, rest);
    Config c;
    c.parseArgs(args);
    QVERIFY(c.contains(key));
    QCOMPARE(c.value(key, "absent"), value);
    QCOMPARE(c.restNoCase(key, "absent"), rest);
    QVERIFY(!c.contains("vexa2"));
    QVERIFY(!c.contains("two"));
}

void TestConfig::laterSettingWins()
{
    Config c;
    c.set("Key", "1", " 1");
    c.set("KEY", "2", " 2");
    // Exact-case table keeps both, the upper-cased table holds the last.
    QCOMPARE(c.keys.size(), 2);
    QCOMPARE(c.value("Key"), QString("1"));
    QCOMPARE(c.value("KEY"), QString("2"));
    QCOMPARE(c.valueNoCase("key"), QString("2"));
    c.set("Key", "3", " 3");
    QCOMPARE(c.keys.size(), 2);
    QCOMPARE(c.value("Key"), QString("3"));
    QCOMPARE(c.valueNoCase("kEy"), QString("3"));
}

void TestConfig::lookupsAndCase()
{
    const QString path = tmp.filePath("case.cfg");
    writeFile(path, "dataroot /wrong/case\nSHOW_ALL_CT2_IMAGES 1\n2dQuolt otherhost 7000\n");
    Config c;
    QVERIFY(c.readFile(path));
    QCOMPARE(c.value("DataRoot", "none"), QString("none"));
    QCOMPARE(c.valueNoCase("show_all_ct2_images", "0"), QString("1"));
    QCOMPARE(c.restNoCase("2DQUOLT", "localhost 6078"), QString(" otherhost 7000"));
    QVERIFY(!c.contains("show_all_ct2_images"));
    QVERIFY(c.contains("SHOW_ALL_CT2_IMAGES"));
}

void TestConfig::readFileKeepsLines()
{
    const QString path = tmp.filePath("lines.cfg");
    writeFile(path, "# only a comment\n"
                    "images_multi 3 4   # repeat\n"
                    "\n"
                    "   \t\n"
                    "Name \"with blank\" tail\n"
                    "-nw\n");
    Config c;
    QVERIFY(c.readFile(path));
    QCOMPARE(c.lines, QStringList({ "images_multi 3 4   ", "Name \"with blank\" tail", "-nw" }));
    QCOMPARE(c.value("images_multi"), QString("3"));
    QCOMPARE(c.restNoCase("images_multi"), QString(" 3 4   "));
    QCOMPARE(c.value("Name"), QString("with blank"));
    QVERIFY(c.contains("-nw"));
}

void TestConfig::readFileMissing()
{
    Config c;
    const QString path = tmp.filePath("absent.cfg");
    QTest::ignoreMessage(QtDebugMsg, qPrintable("Can't open config file : " + path));
    QVERIFY(!c.readFile(path));
    QTest::ignoreMessage(QtDebugMsg, "Can't open config file : ");
    QVERIFY(!c.readFile(QString()));
    QVERIFY(c.lines.isEmpty());
}

void TestConfig::includeInsertsLinesInOrder()
{
    const QString inner = tmp.filePath("inner.cfg");
    const QString outer = tmp.filePath("outer.cfg");
    writeFile(inner, "b 2\nshared inner\n");
    writeFile(outer, "a 1\ninclude " + inner.toUtf8() + "\nc 3\nshared outer\n");
    Config c;
    QVERIFY(c.readFile(outer));
    QCOMPARE(c.lines, QStringList({ "a 1", "include " + inner, "b 2", "shared inner", "c 3",
                                    "shared outer" }));
    QCOMPARE(c.value("shared"), QString("outer"));
    QVERIFY(!c.contains("include"));
}

void TestConfig::includeCycleIsStopped()
{
    const QString a = tmp.filePath("a.cfg");
    const QString b = tmp.filePath("b.cfg");
    writeFile(a, "ka 1\nINCLUDE " + b.toUtf8() + "\n");
    writeFile(b, "kb 2\nINCLUDE " + a.toUtf8() + "\nkb2 3\n");
    Config c;
    QTest::ignoreMessage(QtDebugMsg, qPrintable("Config file includes itself, INCLUDE ignored : " + a));
    QVERIFY(c.readFile(a));
    QCOMPARE(c.lines.size(), 5);
    QCOMPARE(c.value("kb2"), QString("3"));

    // A file may still be included twice one after the other.
    const QString twice = tmp.filePath("twice.cfg");
    const QString leaf = tmp.filePath("leaf.cfg");
    writeFile(leaf, "leaf 1\n");
    writeFile(twice, "INCLUDE " + leaf.toUtf8() + "\nINCLUDE " + leaf.toUtf8() + "\n");
    Config d;
    QVERIFY(d.readFile(twice));
    QCOMPARE(d.lines.count("leaf 1"), 2);
}

void TestConfig::includeDepthIsBounded()
{
    // A chain of distinct files longer than the limit stops at the limit.
    const int n = Config::MaxIncludeDepth + 5;
    for (int i = 0; i < n; ++i)
        writeFile(tmp.filePath(QString("d%1.cfg").arg(i)),
                  QString("k%1 %1\nINCLUDE %2\n").arg(i).arg(tmp.filePath(QString("d%1.cfg").arg(i + 1))).toUtf8());
    Config c;
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Config files nested too deeply"));
    QVERIFY(c.readFile(tmp.filePath("d0.cfg")));
    QVERIFY(c.contains(QString("k%1").arg(Config::MaxIncludeDepth)));
    QVERIFY(!c.contains(QString("k%1").arg(Config::MaxIncludeDepth + 1)));
}

void TestConfig::overlongTextIsCut_data()
{
    QTest::addColumn<QString>("included"); // empty: a file with one overlong line
    QTest::newRow("a line beyond the limit") << QString();
    QTest::newRow("INCLUDE of an endless device") << "/dev/zero";
}

void TestConfig::overlongTextIsCut()
{
    QFETCH(QString, included);
    if (included.isEmpty()) {
        included = tmp.filePath("long.cfg");
        writeFile(
            included, "before 1\nlong " + QByteArray(MaxTextLineLength, 'x') + "\nafter 2\n");
    }
    const QString outer = tmp.filePath("outer-long.cfg");
    writeFile(outer, "first 1\nINCLUDE " + included.toUtf8() + "\nlast 3\n");
    Failures::instance().reset();
    Config c;
    QTest::ignoreMessage(QtDebugMsg,
        QRegularExpression("^Config file " + QRegularExpression::escape(included)
            + " has a line of more than 4194304 characters"));
    QVERIFY(c.readFile(outer));
    // What comes before the overlong line and after the INCLUDE is kept; the rest is not.
    QVERIFY(c.contains("first"));
    QVERIFY(c.contains("last"));
    QVERIFY(!c.contains("long"));
    QVERIFY(!c.contains("after"));
    QCOMPARE(Failures::instance().count(Failures::Command), 1);
}

void TestConfig::startOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("fileC");      // content of c.cfg
    QTest::addColumn<QByteArray>("fileConfig"); // content of config2.cfg
    QTest::addColumn<QString>("expectRoot");
    QTest::addColumn<int>("expectMode");
    QTest::addColumn<bool>("noWindow");

    QTest::newRow("-config wins over -c")
        << QStringList { "vexa2", "-c", "c.cfg", "-config", "config2.cfg" }
        << QByteArray("DataRoot /from/c\n") << QByteArray("DataRoot /from/config\n")
        << "/from/config" << 2 << false;
    QTest::newRow("-d wins over DataRoot")
        << QStringList { "vexa2", "-c", "c.cfg", "-d", "/from/d" }
        << QByteArray("DataRoot /from/c\n") << QByteArray() << "/from/d" << 2 << false;
    QTest::newRow("DataRoot case matters") << QStringList { "vexa2", "-c", "c.cfg" }
                                           << QByteArray("DATAROOT /nope\n") << QByteArray()
                                           << defaultDataRoot() << 2 << false;
    QTest::newRow("-s negative") << QStringList { "vexa2", "-c", "c.cfg", "-s", "-1" }
                                 << QByteArray() << QByteArray() << defaultDataRoot() << -1
                                 << false;
    QTest::newRow("-s alone") << QStringList { "vexa2", "-c", "c.cfg", "-s" } << QByteArray()
                              << QByteArray() << defaultDataRoot() << 0 << false;
    QTest::newRow("-nw in the file") << QStringList { "vexa2", "-c", "c.cfg" }
                                     << QByteArray("-nw\n") << QByteArray() << defaultDataRoot()
                                     << 2 << true;
}

void TestConfig::startOptions()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, fileC);
    QFETCH(QByteArray, fileConfig);
    QFETCH(QString, expectRoot);
    QFETCH(int, expectMode);
    QFETCH(bool, noWindow);

    QStringList absArgs = args;
    for (QString &a : absArgs)
        if (a.endsWith(".cfg"))
            a = tmp.filePath(a);
    writeFile(tmp.filePath("c.cfg"), fileC);
    writeFile(tmp.filePath("config2.cfg"), fileConfig);

    Config c;
    c.parseArgs(absArgs);
    const StartOptions opt = applyStartOptions(c);
    QCOMPARE(dataRoot, expectRoot);
    QCOMPARE(sgmImageMode, expectMode);
    QCOMPARE(opt.noWindow, noWindow);
    if (args.contains("-config"))
        QVERIFY(c.lines.contains("DataRoot /from/config") && !c.lines.contains("DataRoot /from/c"));
}

void TestConfig::configIntReadsOnly32BitDecimals_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "12" << 12;
    QTest::newRow("negative") << "-7" << -7;
    QTest::newRow("hex is not decimal") << "0x10" << 0;
    QTest::newRow("too large") << "4294967296" << 0;
    QTest::newRow("text") << "abc" << 0;
    QTest::newRow("empty") << "" << 0;
}

void TestConfig::configIntReadsOnly32BitDecimals()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(configInt(text), value);
}

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_Config.moc"
