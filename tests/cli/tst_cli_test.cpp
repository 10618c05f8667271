// vorland-cli test: every damaged file of the hostile corpus gives its
// problem line and exit status 1; a sound archive gives none.

#include "bigbuilder.h"
#include "clirunner.h"
#include "testdata.h"

#include <QtTest>

class TestCliTest : public QObject
{
    Q_OBJECT

private slots:
    void problems_data();
    void problems();

private:
    QTemporaryDir dir;
};

void TestCliTest::problems_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("line"); // a line of stdout, or its end

    const QString hostile = QStringLiteral(VORLAND_HOSTILE) + '/';
    auto row = [&](const char *file, const QByteArray &line, bool pictures = false) {
        QStringList arguments{"test"};
        if (pictures)
            arguments << "--pictures";
        QTest::addRow("%s%s", file, pictures ? ", pictures" : "")
            << (arguments << hostile + file) << 1 << line;
    };
    row("cut-directory.big", ": the directory is cut short: 2 of 5 entries");
    row("deep-path.big", ": 1 entries have paths longer than 64 KiB");
    row("entry-declares-4gib.big", "a.ini: it looks Refp-compressed but does not decode");
    row("entry-refp-damaged.big", "a.png: it looks Refp-compressed but does not decode");
    row("hostile-paths.big", "bell\\x07: extract would refuse its name");
    row("negative-sizes.big", "b.tga: it overlaps the directory");
    row("offsets-past-end.big", "a.ini: it reaches past the end of the archive (0 of its 16 "
                                "bytes exist)");
    row("shared-zero-width.big", "p1.tpi: it overlaps p0.tpi");
    row("offsets-past-end.big", "b.png: its picture does not decode: Not a PNG file!", true);

    const QString sound = dir.filePath("sound.big");
    const QString twice = dir.filePath("twice.big");
    writeFile(sound, makeBig({{"a\\b.ini", "x"}, {"c.tpi", makeTpi(2, 2, {}), true}}));
    writeFile(twice, makeBig({{"a", "1"},
                              {"a", "2"},
                              {"a\\b", "3"},
                              {"cut.tpi",
                               makeTpi(4, 2, {{0x7D, 4, 2, QByteArray(32, 'x')}}).chopped(3)}}));
    QTest::newRow("sound") << QStringList{"test", "--pictures", sound} << 0
                           << QByteArray("2 entries, 0 problems");
    QTest::newRow("a path given twice")
        << QStringList{"test", twice} << 1 << QByteArray("a: 2 entries have this path");
    QTest::newRow("a file and a folder")
        << QStringList{"test", twice} << 1 << QByteArray("a: it is also a folder of the archive");
    QTest::newRow("a picture cut short")
        << QStringList{"test", "--pictures", twice, "*.tpi"} << 1
        << QByteArray("cut.tpi: its picture is damaged: block 1 is 3 bytes short");
    // An archive of one empty entry, `past` bytes past its end, whose header
    // gives its size `slack` bytes too large (it has 26).
    auto lone = [&](const char *name, int past, int slack) {
        const QByteArray record = bigRecord(26 + past, 0, "z");
        writeFile(dir.filePath(name), bigHeader(1, 26 + slack, 26) + record);
        return dir.filePath(name);
    };
    QTest::newRow("a wrong size in the header")
        << QStringList{"test", lone("size.big", 0, 1)} << 1
        << QByteArray(": its header gives its size as 27 bytes, but it is 26");
    QTest::newRow("an empty entry past the end")
        << QStringList{"test", lone("past.big", 1, 0)} << 1
        << QByteArray("z: its offset lies past the end of the archive");
    const QString cases = dir.filePath("cases.big");
    writeFile(cases, makeBig({{"Data\\A.ini", "1"}, {"data\\b.ini", "2"}, {"data\\a.INI", "3"}}));
    QTest::newRow("paths that differ only in case")
        << QStringList{"test", cases} << 1
        << QByteArray("data\\a.INI: it differs only in case from Data\\A.ini: extract on "
                      "Windows, or into a folder that ignores case, writes only one");
    // Streams shared and overlapping: each is unpacked once, and together
    // they unpack no more than 257 times the archive's bytes.
    const QByteArray zeros = refpCompress(QByteArray(16 << 20, '\0'));
    auto overlapping = [&](int start) {
        QByteArray records;
        for (int i = 0; i < 24; ++i)
            records += bigRecord(start, zeros.size() + i, "z" + QByteArray::number(i) + ".ini");
        return records;
    };
    const int start = 16 + overlapping(0).size();
    writeFile(dir.filePath("overlap.big"), bigHeader(24, start + zeros.size() + 24, start) +
                                               overlapping(start) + zeros + QByteArray(24, 'x'));
    QTest::newRow("overlapping streams past the budget")
        << QStringList{"test", dir.filePath("overlap.big")} << 1
        << QByteArray("z16.ini: it is not unpacked: the entries before it unpacked all that the "
                      "archive's bytes can hold, overlapping");
    const QByteArray cut = refpCompress(testdata::text(5000)).chopped(2);
    const QByteArray two = bigRecord(44, cut.size(), "a.tpi") + bigRecord(44, cut.size(), "b.tpi");
    const QString shared = dir.filePath("shared.big");
    writeFile(shared, bigHeader(2, 44 + cut.size(), 44) + two + cut);
    QTest::newRow("a damaged stream, shared: the first")
        << QStringList{"test", "--pictures", shared} << 1
        << QByteArray("a.tpi: it looks Refp-compressed but does not decode");
    QTest::newRow("a damaged stream, shared: the second")
        << QStringList{"test", "--pictures", shared} << 1
        << QByteArray("b.tpi: it looks Refp-compressed but does not decode");
    QTest::newRow("JSON") << QStringList{"test", "--json", twice, "cut.tpi"} << 0
                          << QByteArray("    \"problems\": [");
}

void TestCliTest::problems()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, line);
    const CliRun run = runCli(arguments);
    QCOMPARE(run.exitCode, exitCode);
    bool found = false;
    for (const QByteArray &each : run.out.split('\n'))
        found = found || each.endsWith(line);
    QVERIFY2(found, run.out.constData());
    if (exitCode == 0)
        QCOMPARE(run.err, QByteArray());
    else
        QVERIFY2(run.err.endsWith(" problems\n"), run.err.constData());
}

QTEST_GUILESS_MAIN(TestCliTest)
#include "tst_cli_test.moc"
