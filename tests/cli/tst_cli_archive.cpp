// vorland-cli info, list, cat and pack on archives built by the tests,
// hostile ones included.

#include "bigbuilder.h"
#include "clirunner.h"
#include "testdata.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#if !defined(Q_OS_WIN)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

class TestCliArchive : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void info();
    void list();
    void listJson();
    void cat_data();
    void cat();
    void badArchives_data();
    void badArchives();
    void truncatedEntries();
    void namesAreEscaped();
    void packExtractRoundTrip();
    void packFromAFolder();
    void packLeavesOutItsOwnOutput();
    void packRefuses_data();
    void packRefuses();

private:
    QString path(const QString &name) const { return dir->filePath(name); }
    QString archive(const QString &name, const QByteArray &bytes)
    {
        return writtenFile(path(name), bytes);
    }
    QByteArray read(const QString &name) const { return readFile(path(name)); }
    std::unique_ptr<QTemporaryDir> dir;
};

namespace {

const QByteArray text = sampleText();

} // namespace

void TestCliArchive::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestCliArchive::info()
{
    const QByteArray plain = makeBig(sampleEntries());
    const QString packed = archive("packed.big", refpCompress(plain));
    const CliRun run = runCli({"info", "--json", packed});
    QCOMPARE(run.exitCode, 0);
    const QJsonObject o = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(o.value("entryCount").toInt(), 4);
    QCOMPARE(o.value("compressed").toBool(), true);
    QCOMPARE(o.value("archiveSize").toInt(), plain.size());
    QCOMPARE(o.value("headerLength").toInt(), 16 + 4 * 9 + 17 + 14 + 6 + 9);
    QCOMPARE(o.value("fileSize").toInt(), int(QFileInfo(packed).size()));
    QCOMPARE(o.value("imageSize").toInt(), plain.size());
    QCOMPARE(o.value("compressedEntries").toInt(), 1);
    QCOMPARE(o.value("unpackedSize").toInt(), 9 + 20000 + 5);

    const CliRun textRun = runCli({"info", archive("plain.big", plain)});
    QCOMPARE(textRun.exitCode, 0);
    QVERIFY(textRun.out.contains("entryCount: 4\n"));
    QVERIFY(textRun.out.contains("compressed: no\n"));
}

void TestCliArchive::list()
{
    const QString a = archive("a.big", makeBig(sampleEntries()));
    const CliRun run = runCli({"list", a});
    QCOMPARE(run.exitCode, 0);
    const QList<QByteArray> lines = run.out.split('\n');
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[0].split('\t').mid(2), (QList<QByteArray>{"TGA Image", "data\\art\\logo.tga"}));
    QCOMPARE(lines[2].split('\t').at(0), QByteArray("5"));
    QCOMPARE(lines[2].split('\t').mid(2), (QList<QByteArray>{"File", "readme"}));
    QCOMPARE(lines[3].split('\t').mid(2), (QList<QByteArray>{"MP3 File", "music.mp3"}));

    // The Type column looks at the last name only; alike extensions in a row
    // and ones that differ in case each get their own.
    const QList<QByteArray> typed =
        runCli({"list", archive("t.big", makeBig({{"a.mp3\\name", ""},
                                                  {"b.tga", ""},
                                                  {"c.tga", ""},
                                                  {"d.TGA", ""},
                                                  {"e.", ""},
                                                  {"f.x\\g.ini", ""}}))})
            .out.split('\n');
    const QList<QByteArray> types{"File",      "TGA Image", "TGA Image",
                                  "TGA Image", "File",      "INI Settings"};
    for (int i = 0; i < types.size(); ++i)
        QCOMPARE(typed.at(i).split('\t').at(2), types.at(i));

    // Patterns pick entries, in directory order; one that picks nothing fails.
    const CliRun picked = runCli({"list", a, "music*", "DATA/*"});
    QCOMPARE(picked.exitCode, 0);
    QCOMPARE(picked.out.count('\n'), 3);
    QVERIFY(picked.out.endsWith("music.mp3\n"));
    const CliRun none = runCli({"list", a, "*.png"});
    QCOMPARE(none.exitCode, 1);
    QVERIFY(none.err.contains("no entry matches *.png"));

    // The long listing: sizes from the Refp header, method, saving, total.
    const QList<QByteArray> rows = runCli({"list", "--long", a}).out.split('\n');
    QCOMPARE(rows.size(), 9);
    QCOMPARE(rows[3].simplified(),
             QByteArray::number(refpCompress(text).size()) + " 20000 refp " +
                 QByteArray::number(100.0 * (20000 - refpCompress(text).size()) / 20000, 'f', 1) +
                 "% TXT File data\\notes.txt");
    QCOMPARE(rows[4].simplified(), QByteArray("5 5 stored 0.0% File readme"));
    QVERIFY(rows[7].simplified().endsWith(
        " 20014 " +
        QByteArray::number(100.0 * (20014 - (9 + refpCompress(text).size() + 5)) / 20014, 'f', 1) +
        "% 4 entries"));
}

void TestCliArchive::listJson()
{
    // A negative size and an offset above 2 GiB are unsigned; 8-bit path
    // bytes come out as U+0080-U+00FF.
    const QByteArray bytes = bigHeader(2) + bigRecord(qint32(0x90000000u), -1, "caf\xE9.ini") +
                             bigRecord(16, 0, "x\\y.TTF");
    const CliRun run = runCli({"list", "--json", archive("j.big", bytes)});
    QCOMPARE(run.exitCode, 0);
    const QJsonObject o = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(o.value("entryCount").toInt(), 2);
    const QJsonArray entries = o.value("entries").toArray();
    QCOMPARE(entries.size(), 2);
    const QJsonObject first = entries[0].toObject();
    QCOMPARE(first.value("path").toString(), QString::fromUtf8("café.ini"));
    QCOMPARE(first.value("offset").toDouble(), double(0x90000000u));
    QCOMPARE(first.value("size").toDouble(), 4294967295.0);
    QCOMPARE(first.value("type").toString(), QString("INI Settings"));
    QCOMPARE(first.value("compressed").toBool(), false);
    QCOMPARE(first.value("unpackedSize").toDouble(), 4294967295.0);
    QCOMPARE(entries[1].toObject().value("path").toString(), QString("x\\y.TTF"));
    QCOMPARE(entries[1].toObject().value("type").toString(), QString("TrueType Font"));
}

void TestCliArchive::cat_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("backslashes") << QStringList{"data\\art\\logo.tga"} << 0
                                 << QByteArray("TGA bytes");
    QTest::newRow("slashes") << QStringList{"data/art/logo.tga"} << 0 << QByteArray("TGA bytes");
    QTest::newRow("unpacked") << QStringList{"data/notes.txt"} << 0 << text;
    QTest::newRow("raw") << QStringList{"--raw", "data/notes.txt"} << 0 << refpCompress(text);
    QTest::newRow("empty entry") << QStringList{"music.mp3"} << 0 << QByteArray();
    QTest::newRow("missing") << QStringList{"nothing"} << 1 << QByteArray();
    QTest::newRow("wrong case") << QStringList{"README"} << 1 << QByteArray();
    QTest::newRow("pattern picking one") << QStringList{"*.TXT"} << 0 << text;
    QTest::newRow("pattern picking two") << QStringList{"data/*"} << 1 << QByteArray();
}

void TestCliArchive::cat()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    const QString a = archive("a.big", makeBig(sampleEntries()));
    arguments.insert(arguments.size() - 1, a);
    const CliRun run = runCli(QStringList{"cat"} + arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY(run.out == out);
    QCOMPARE(run.err.isEmpty(), exitCode == 0);
}

void TestCliArchive::badArchives_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("empty file") << QByteArray() << QByteArray("'BIGF' signature missed");
    QTest::newRow("3 bytes") << QByteArray("BIG") << QByteArray("'BIGF' signature missed");
    QTest::newRow("wrong signature")
        << bigHeader(1, 0, 0, "XXXX") << QByteArray("signature missed");
    QTest::newRow("damaged whole file")
        << refpCompress(makeBig(sampleEntries())).chopped(4) << QByteArray("damaged");
}

void TestCliArchive::badArchives()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, message);
    const QString a = archive("bad.big", bytes);
    for (const QStringList &args :
         {QStringList{"info", a}, QStringList{"list", a}, QStringList{"cat", a, "x"},
          QStringList{"extract", a, "-o", path("out")}}) {
        const CliRun run = runCli(args);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(message), run.err.constData());
        QCOMPARE(run.err.count('\n'), 1);
    }
}

void TestCliArchive::packExtractRoundTrip()
{
    const QMap<QString, QByteArray> files{{"b/z.ini", "[s]\nk=v\n"},
                                          {"a.txt", text},
                                          {"b/c/d.bin", testdata::randomBytes(5000)},
                                          {".hidden", "h"},
                                          {"empty", ""}};
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QVERIFY(QDir().mkpath(QFileInfo(path("src/" + it.key())).path()));
        QVERIFY(writeFile(path("src/" + it.key()), it.value()));
    }
#if defined(Q_OS_WIN)
    const QByteArray leftOut; // QFile::link makes a shortcut file there, not a link
#else
    QVERIFY(QFile::link(path("src/a.txt"), path("src/link.txt")));
    const QByteArray leftOut =
        "vorland-cli: warning: left out symbolic link " + path("src/link.txt").toUtf8() + "\n";
#endif

    for (const QString &mode : {QString(), QString("--compress")}) {
        QStringList args{"pack", path("src"), "-o", path("p.big")};
        if (!mode.isEmpty())
            args << mode;
        const CliRun packing = runCli(args);
        QCOMPARE(packing.exitCode, 0);
        QCOMPARE(packing.err, leftOut);

        const CliRun listed = runCli({"list", "--json", path("p.big")});
        QStringList stored;
        for (const QJsonValue v :
             QJsonDocument::fromJson(listed.out).object().value("entries").toArray())
            stored << v.toObject().value("path").toString();
        QCOMPARE(stored, (QStringList{".hidden", "a.txt", "b\\c\\d.bin", "b\\z.ini", "empty"}));

        const QByteArray packed = read("p.big");
        QCOMPARE(packed.left(4), QByteArray("BIGF"));
        const quint32 size = quint32(uchar(packed[4])) | quint32(uchar(packed[5])) << 8 |
                             quint32(uchar(packed[6])) << 16 | quint32(uchar(packed[7])) << 24;
        QCOMPARE(size, quint32(packed.size()));
        const QString out = "out" + mode;
        QCOMPARE(runCli({"extract", path("p.big"), "-o", path(out)}).exitCode, 0);
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            QVERIFY2(read(out + "/" + it.key()) == it.value(), qPrintable(it.key()));
        if (!mode.isEmpty())
            QVERIFY(packed.size() < text.size());
    }
}

void TestCliArchive::packFromAFolder()
{
    // As tar -C: the folder named is found there, and the names start with it.
    QVERIFY(QDir().mkpath(path("work/images")));
    QVERIFY(writeFile(path("work/images/sky.tga"), "sky"));
    QCOMPARE(runCli({"pack", "-C", path("work"), "images", "-o", path("c.big")}).exitCode, 0);
    QVERIFY(runCli({"list", path("c.big")}).out.endsWith("\timages\\sky.tga\n"));
}

void TestCliArchive::packLeavesOutItsOwnOutput()
{
    QVERIFY(QDir().mkpath(path("src")));
    QVERIFY(writeFile(path("src/a.ini"), "a=1"));
    for (int run = 0; run < 2; ++run)
        QCOMPARE(runCli({"pack", path("src"), "-o", path("src/out.big")}).exitCode, 0);
    const CliRun listed = runCli({"list", path("src/out.big")});
    QCOMPARE(listed.out.count('\n'), 1);
    QVERIFY(listed.out.endsWith("\ta.ini\n"));
}

void TestCliArchive::packRefuses_data()
{
    QTest::addColumn<QByteArray>("name"); // a file name in src/, as bytes
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("beyond 8 bits")
        << QString::fromUtf8("名前.txt").toUtf8() << QByteArray("beyond 8 bits");
    QTest::newRow("backslash") << QByteArray("a\\b.txt") << QByteArray("folder separator");
    QTest::newRow("newline") << QByteArray("two\nlines") << QByteArray("control character");
    QTest::newRow("escape") << QByteArray("\x1b[31mred") << QByteArray("control character");
    QTest::newRow("not UTF-8") << QByteArray("caf\xE9") << QByteArray("not valid");
    QTest::newRow("unreadable folder") << QByteArray() << QByteArray("cannot read folder");
}

void TestCliArchive::packRefuses()
{
    // The file is named in the message (escaped), and no archive is written.
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, message);
    QVERIFY(QDir().mkpath(path("src/sub")));
    QVERIFY(writeFile(path("src/sub/fine.txt"), "fine"));
    const QByteArray folder = QFile::encodeName(path("src"));
#if defined(Q_OS_WIN)
    // Names are UTF-16 there and cannot hold control characters or a "\",
    // and folders have no POSIX permissions.
    if (!QString::fromUtf8(name).contains(QChar(0x540D)))
        QSKIP("a name or permission Windows cannot have");
    QVERIFY(writeFile(QString::fromUtf8(folder + '/' + name), ""));
#else
    if (name.isEmpty()) {
        if (::geteuid() == 0)
            QSKIP("root reads every folder");
        QVERIFY(QFile::setPermissions(path("src/sub"), QFileDevice::WriteOwner));
    } else {
        const int fd = ::open((folder + '/' + name).constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0 && ::close(fd) == 0);
    }
#endif
    const CliRun run = runCli({"pack", path("src"), "-o", path("w.big")});
    QFile::setPermissions(path("src/sub"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(message), run.err.constData());
    QCOMPARE(run.err.count('\n'), 1);
    QVERIFY(!run.err.contains('\x1b'));
    QVERIFY(!QFile::exists(path("w.big")));
}

void TestCliArchive::truncatedEntries()
{
    // The bytes that exist, a warning naming the shortfall, and status 1.
    const QByteArray bytes = bigHeader(1) + bigRecord(28, 10, "cut") + "abcd";
    const QString a = archive("t.big", bytes);
    const CliRun cat = runCli({"cat", a, "cut"});
    QCOMPARE(cat.exitCode, 1);
    QCOMPARE(cat.out, QByteArray("abcd"));
    QVERIFY2(cat.err.contains("only 4 of its 10 bytes exist"), cat.err.constData());
    const CliRun extract = runCli({"extract", a, "-o", path("out")});
    QCOMPARE(extract.exitCode, 1);
    QVERIFY(extract.err.contains("cut written short"));
    QCOMPARE(read("out/cut"), QByteArray("abcd"));
}

void TestCliArchive::namesAreEscaped()
{
    const QString a = archive("e.big", makeBig({{"a\x1b[31m\nb\r.ini", "x"}}));
    const CliRun list = runCli({"list", a});
    QCOMPARE(list.exitCode, 0);
    QVERIFY(list.out.endsWith("\ta\\x1b[31m\\nb\\r.ini\n"));
    // The Type column comes from the name too.
    const QString b = archive("t.big", makeBig({{"b.\x1b[2J", "x"}}));
    for (const QStringList &arguments : {QStringList{"list", b}, {"list", "--long", b}}) {
        const CliRun typed = runCli(arguments);
        QVERIFY(!typed.out.contains('\x1b'));
        QVERIFY(typed.out.contains("\\x1b[2J File"));
    }
    const CliRun missing = runCli({"cat", a, "no\x1bthing"});
    QCOMPARE(missing.exitCode, 1);
    QCOMPARE(missing.err.count('\n'), 1);
    QVERIFY(missing.err.contains("no\\x1bthing"));
}

QTEST_GUILESS_MAIN(TestCliArchive)
#include "tst_cli_archive.moc"
