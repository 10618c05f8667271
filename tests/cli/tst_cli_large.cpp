// An archive of nearly 4 GiB (sparse), whose last entry lies past 2^31 and
// 2^32 - 2^28: the offsets a 32-bit build must carry in 64 bits wherever it
// reads or writes, through every verb that reaches that entry.

#include "bigbuilder.h"
#include "clirunner.h"

#include <QtTest>

namespace {

constexpr quint32 kLastOffset = 0xF8000000u; // 3.875 GiB
const QByteArray kFirst = "the first entry\n";
const QByteArray kLast = "[last]\nkey=value past 2^32 - 2^28\n";

} // namespace

class TestCliLarge : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void verbs_data();
    void verbs();
    void replaceKeepsTheFarEntry();

private:
    QString path(const QString &name) const { return dir.filePath(name); }
    QTemporaryDir dir;
    QString archive;
};

void TestCliLarge::initTestCase()
{
    QVERIFY(dir.isValid());
    const int first = 16 + 2 * 9 + 9 + 12; // header and the two records
    const QByteArray directory = bigRecord(first, kFirst.size(), "first.txt") +
                                 bigRecord(qint32(kLastOffset), kLast.size(), "far\\last.ini");
    const quint32 end = kLastOffset + quint32(kLast.size());
    QByteArray head = bigHeader(2, end, first) + directory;
    QCOMPARE(head.size(), first);
    head += kFirst;
    archive = path("large.big");
    QFile file(archive);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(head) == head.size());
    if (!file.resize(kLastOffset) || !file.seek(kLastOffset) || file.write(kLast) != kLast.size())
        QSKIP("no room for a sparse file of 4 GiB here");
    file.close();
    QCOMPARE(QFileInfo(archive).size(), qint64(end));
}

void TestCliLarge::verbs_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("output"); // contained in stdout
    QTest::newRow("list") << QStringList{"list", "@A@"}
                          << QByteArray::number(kLast.size()) + "\t" +
                                 QByteArray::number(kLastOffset) + "\tINI Settings\tfar\\last.ini";
    QTest::newRow("list --json") << QStringList{"list", "--json", "@A@", "far/last.ini"}
                                 << "\"offset\": " + QByteArray::number(kLastOffset);
    QTest::newRow("cat") << QStringList{"cat", "@A@", "far/last.ini"} << kLast;
    QTest::newRow("test") << QStringList{"test", "@A@"} << QByteArray("2 entries, 0 problems");
    QTest::newRow("info") << QStringList{"info", "@A@"}
                          << "archiveSize: " + QByteArray::number(kLastOffset + kLast.size());
}

void TestCliLarge::verbs()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, output);
    arguments.replaceInStrings("@A@", archive);
    const CliRun run = runCli(arguments);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QVERIFY2(run.out.contains(output), run.out.constData());
}

void TestCliLarge::replaceKeepsTheFarEntry()
{
    // Extracted from past 2^32 - 2^28, then put back in place of the first
    // entry: the archive is written again, the far entry copied (last, since
    // the archive is small afterwards).
    const QString out = path("out");
    CliRun run = runCli({"extract", archive, "far/last.ini", "-o", out});
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QCOMPARE(readFile(out + "/far/last.ini"), kLast);
    run = runCli({"add", archive, out + "/far/last.ini", "--as", "first.txt", "--replace"});
    QVERIFY2(run.exitCode == 0, run.err.constData());
    for (const QString &name : {QStringLiteral("first.txt"), QStringLiteral("far/last.ini")}) {
        run = runCli({"cat", archive, name});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, kLast);
    }
    QCOMPARE(runCli({"test", archive}).exitCode, 0);
}

QTEST_GUILESS_MAIN(TestCliLarge)
#include "tst_cli_large.moc"
