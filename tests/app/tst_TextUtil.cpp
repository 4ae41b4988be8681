#include "TextUtil.h"

#include <QtTest>

class TestTextUtil : public QObject
{
    Q_OBJECT
private slots:
    void removeComment_data();
    void removeComment();
    void splitComment();
    void isBlankLine_data();
    void isBlankLine();
    void cutContinuation_data();
    void cutContinuation();
    void takeFirstItem_data();
    void takeFirstItem();
    void takeFirstItemWalksALine();
    void unbalancedQuotesAreReported();
    void itemsAfterKey_data();
    void itemsAfterKey();
    void padding_data();
    void padding();
};

void TestTextUtil::removeComment_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("kept");
    QTest::newRow("no comment") << "images_multi 3 4" << "images_multi 3 4";
    QTest::newRow("plain") << "key value # note" << "key value ";
    QTest::newRow("at start") << "# all comment" << "";
    QTest::newRow("hash in double quotes") << "key \"a#b\" # c" << "key \"a#b\" ";
    QTest::newRow("hash in single quotes") << "key 'a#b' # c" << "key 'a#b' ";
    // One apostrophe flips the flag for the rest of the line: no comment any more.
    QTest::newRow("lone apostrophe") << "it's # not a comment" << "it's # not a comment";
    // The two quote kinds share one flag: ' opens, " closes.
    QTest::newRow("mixed quotes") << "a 'b\" #c" << "a 'b\" ";
    // The digits of an energy pattern are written as '#'.
    QTest::newRow("energy pattern") << "add_inf_raw_i0_eng_ptn ####_#### # Fe K"
                                    << "add_inf_raw_i0_eng_ptn ####_#### ";
    QTest::newRow("energy pattern, I0 image") << "  ADD_INF_I0_I0_ENG_PTN ####"
                                              << "  ADD_INF_I0_I0_ENG_PTN ####";
    QTest::newRow("energy pattern quoted") << "add_inf_raw_i0_eng_ptn \"####_####\" # x"
                                           << "add_inf_raw_i0_eng_ptn \"####_####\" ";
}

void TestTextUtil::removeComment()
{
    QFETCH(QString, line);
    QFETCH(QString, kept);
    QCOMPARE(::removeComment(line), kept);
}

void TestTextUtil::splitComment()
{
    QString line = "cor 1023.5 # guessed \"today\"";
    QCOMPARE(::splitComment(line), QString(" guessed \"today\""));
    QCOMPARE(line, QString("cor 1023.5 "));

    QString plain = "slice 12";
    QCOMPARE(::splitComment(plain), QString());
    QCOMPARE(plain, QString("slice 12"));
}

void TestTextUtil::isBlankLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("blank");
    QTest::newRow("empty") << "" << true;
    QTest::newRow("blanks of every kind") << " \t\v\f\r\n" << true;
    QTest::newRow("comment only") << "   # comment" << true;
    QTest::newRow("text") << "  a" << false;
    QTest::newRow("quoted hash") << "\"#\"" << false;
}

void TestTextUtil::isBlankLine()
{
    QFETCH(QString, line);
    QFETCH(bool, blank);
    QCOMPARE(::isBlankLine(line), blank);
}

void TestTextUtil::cutContinuation_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("continued");
    QTest::addColumn<QString>("after");
    QTest::newRow("backslash at end") << "a b \\" << true << "a b ";
    QTest::newRow("backslash then blanks") << "a b\\ \t " << true << "a b";
    QTest::newRow("inner backslash") << "a\\b" << false << "a\\b";
    QTest::newRow("all blank") << "   " << false << "   ";
    QTest::newRow("empty") << "" << false << "";
    QTest::newRow("only backslash") << "\\" << true << "";
}

void TestTextUtil::cutContinuation()
{
    QFETCH(QString, line);
    QFETCH(bool, continued);
    QFETCH(QString, after);
    QCOMPARE(::cutContinuation(line), continued);
    QCOMPARE(line, after);
}

void TestTextUtil::takeFirstItem_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("rest");
    QTest::newRow("empty") << "" << "" << "";
    QTest::newRow("blanks only") << " \t " << "" << "";
    QTest::newRow("single") << "word" << "word" << "";
    QTest::newRow("two words") << "  one two" << "one" << " two";
    QTest::newRow("tab separated") << "one\ttwo" << "one" << "\ttwo";
    QTest::newRow("quoted with blank") << "  \"a b\" c" << "a b" << " c";
    QTest::newRow("empty quoted") << "\"\" x" << "" << " x";
    QTest::newRow("quote glued to next") << "\"a\"b" << "a" << "b";
}

void TestTextUtil::takeFirstItem()
{
    QFETCH(QString, text);
    QFETCH(QString, item);
    QFETCH(QString, rest);
    QString got;
    ::takeFirstItem(text, got);
    QCOMPARE(got, item);
    QCOMPARE(text, rest);
}

void TestTextUtil::takeFirstItemWalksALine()
{
    QString line = "calc \"C:/my data/x.img\" 12  -3.5 ";
    QStringList items;
    QString item;
    while (!line.isEmpty()) {
        ::takeFirstItem(line, item);
        items << item;
    }
    // The trailing blank is a remainder of its own and yields a final empty item.
    QCOMPARE(items, QStringList({ "calc", "C:/my data/x.img", "12", "-3.5", "" }));
}

void TestTextUtil::unbalancedQuotesAreReported()
{
    QString text = "key \"open ended";
    QString item;
    ::takeFirstItem(text, item); // "key"
    QTest::ignoreMessage(QtDebugMsg,
                         "In a line [ \"open ended] item is started from quote but not ended by quote");
    ::takeFirstItem(text, item);
    QCOMPARE(item, QString("open ended"));
    QVERIFY(text.isEmpty());

    QString closing = "abc\" next";
    QTest::ignoreMessage(QtDebugMsg,
                         "In a line [abc\" next] item is started from not quote but ended by quote");
    ::takeFirstItem(closing, item);
    QCOMPARE(item, QString("abc\""));
    QCOMPARE(closing, QString(" next"));

    QString last = "end\"";
    QTest::ignoreMessage(QtDebugMsg,
                         "In a line [end\"] item is started from not quote but ended by quote");
    ::takeFirstItem(last, item);
    QCOMPARE(item, QString("end\""));
    QVERIFY(last.isEmpty());
}

void TestTextUtil::itemsAfterKey_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("one value") << "Prop_ImageWidth=2048" << "Prop_ImageWidth=" << QStringList { "2048" };
    QTest::newRow("quoted") << "areSource=\"0 0 2048 2048\"" << "areSource="
                            << QStringList { "0 0 2048 2048" };
    QTest::newRow("several") << "k= 1 2 3" << "k=" << QStringList { "1", "2", "3" };
    QTest::newRow("nothing after key") << "k=" << "k=" << QStringList {};
    QTest::newRow("trailing blanks") << "k=1  " << "k=" << QStringList { "1", "" };
    QTest::newRow("blanks only") << "k=  " << "k=" << QStringList { "" };
}

void TestTextUtil::itemsAfterKey()
{
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(QStringList, items);
    QVERIFY(startsWithKey(text, key));
    QCOMPARE(::itemsAfterKey(text, key), items);
}

void TestTextUtil::padding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("length");
    QTest::newRow("pad to 10") << "abc" << 10 << 10;
    QTest::newRow("capped at 101 blanks") << "abc" << 200 << 104;
    QTest::newRow("already wide") << "abcdef" << 3 << 6;
    QTest::newRow("exact") << "abc" << 3 << 3;
    QTest::newRow("negative width") << "abc" << -5 << 3;
}

void TestTextUtil::padding()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(int, length);
    const QString padded = padRight(text, width);
    QCOMPARE(padded.size(), length);
    QVERIFY(padded.startsWith(text));
    QCOMPARE(padded.mid(text.size()).trimmed(), QString());
    QCOMPARE(blanks(5), QString("     "));
    QCOMPARE(blanks(1000).size(), 101);
    QCOMPARE(blanks(-1), QString());
}

QTEST_GUILESS_MAIN(TestTextUtil)
#include "tst_TextUtil.moc"
