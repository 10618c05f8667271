// The rules for names that Windows would write somewhere other than they say:
// pure functions, so the same table runs on every system.

#include "pathrules.h"

#include <QtTest>

class TestPathRules : public QObject
{
    Q_OBJECT

private slots:
    void windowsNames_data();
    void windowsNames();
    void caseClashes();
};

void TestPathRules::windowsNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("problem"); // a word of the reason; empty: accepted
    for (const char *fine : {"readme.txt", "console.ini", "nul_", "com0", "com10", "lpt", "a.b.c",
                             "CONtext.dat", ".hidden", "caf\xc3\xa9", "x..y", " lead"})
        QTest::addRow("fine: %s", fine) << QString::fromUtf8(fine) << QString();
    for (const char *device : {"CON", "con", "Nul", "aux.txt", "PRN.tar.gz", "COM1", "com9.log",
                               "LPT1", "lpt9", "CONIN$", "conout$.x", " nul", "com\xc2\xb9"})
        QTest::addRow("device: %s", device) << QString::fromUtf8(device) << "device";
    QTest::newRow("drive-relative") << "C:file"
                                    << "\":\"";
    QTest::newRow("data stream") << "name:stream"
                                 << "\":\"";
    QTest::newRow("stream type") << "file::$DATA"
                                 << "\":\"";
    QTest::newRow("trailing dot") << "name."
                                  << "trailing";
    QTest::newRow("trailing dots") << "name..."
                                   << "trailing";
    QTest::newRow("trailing space") << "name "
                                    << "trailing";
    QTest::newRow("only dots") << "..."
                               << "trailing";
    for (const char *bad : {"a<b", "a>b", "say\"hi\"", "a|b", "what?", "*.txt"})
        QTest::addRow("character: %s", bad) << QString(bad) << "cannot hold";
}

void TestPathRules::windowsNames()
{
    QFETCH(QString, name);
    QFETCH(QString, problem);
    const QString found = windowsNameProblem(name);
    if (problem.isEmpty())
        QCOMPARE(found, QString());
    else
        QVERIFY2(found.contains(problem), qPrintable(found));
}

void TestPathRules::caseClashes()
{
    CaseClashes folding(true), exact(false);
    const QStringList first{"Data", "Art", "Sky.tga"};
    QCOMPARE(folding.clash(first), QString());
    QCOMPARE(folding.clash(first), QString()); // the same path again is no clash
    QCOMPARE(folding.clash({"data", "art", "sky.TGA"}), QString("Data\\Art\\Sky.tga"));
    QCOMPARE(folding.clash({"Data", "Art", "Sky2.tga"}), QString());
    QCOMPARE(folding.clash({QString::fromUtf8("\xc3\x89T\xc3\x89")}), QString());
    QCOMPARE(folding.clash({QString::fromUtf8("\xc3\xa9t\xc3\xa9")}),
             QString::fromUtf8("\xc3\x89T\xc3\x89"));
    QCOMPARE(exact.clash(first), QString());
    QCOMPARE(exact.clash({"data", "art", "sky.tga"}), QString());
}

QTEST_GUILESS_MAIN(TestPathRules)
#include "tst_pathrules.moc"
