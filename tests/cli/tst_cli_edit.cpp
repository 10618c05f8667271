// vorland-cli add, remove and rename on archives built by the tests, plain
// and whole-file compressed: what the directory holds afterwards, that the
// entries not touched keep their stored bytes, and that every failure leaves
// the archive byte for byte as it was.

#include "bigbuilder.h"
#include "clirunner.h"
#include "resourcelimits.h"
#include "testdata.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

class TestCliEdit : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void add_data();
    void add();
    void remove_data();
    void remove();
    void rename_data();
    void rename();
    void namesAreTakenLiterally_data();
    void namesAreTakenLiterally();
    void damagedArchivesAreRefused();

private:
    // Writes the sample archive (whole-file compressed when asked) and the
    // files add takes; returns the archive's path.
    QString prepare(bool whole);
    // Runs the verb in the test folder; "@A" stands for the archive.
    CliRun run(const QStringList &arguments, const QString &archive) const;
    // The stored paths, in directory order.
    QStringList paths(const QString &archive) const;
    QByteArray raw(const QString &archive, const QString &entry) const;
    QByteArray read(const QString &name) const;
    // Checks the result of a verb: its status and what the directory holds;
    // after a failure, that the archive did not change at all.
    void check(const QString &archive, const QByteArray &before, const CliRun &result, int exitCode,
               const QStringList &expected, const QByteArray &message);
    QString path(const QString &name) const { return dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> dir;
};

namespace {

const QByteArray text = testdata::text(20000);
const QStringList samplePaths{"data\\art\\logo.tga", "data\\notes.txt", "readme"};

} // namespace

void TestCliEdit::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

QString TestCliEdit::prepare(bool whole)
{
    const QByteArray plain = makeBig(
        {{"data\\art\\logo.tga", "TGA bytes"}, {"data\\notes.txt", text, true}, {"readme", "x"}});
    const QString archive = path("a.big");
    if (!writeFile(archive, whole ? refpCompress(plain) : plain))
        qFatal("cannot write the archive");
    QDir().mkpath(path("new/sub"));
    writeFile(path("new/one.tga"), "one");
    writeFile(path("new/sub/two.ini"), text);
    writeFile(path("logo.tga"), "new logo");
    return archive;
}

CliRun TestCliEdit::run(const QStringList &arguments, const QString &archive) const
{
    QStringList args = arguments;
    args.replaceInStrings("@A", archive);
    // Relative paths are taken from the test folder, as a user would give them.
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir->path());
    const CliRun result = runCli(args);
    QDir::setCurrent(previous);
    return result;
}

QStringList TestCliEdit::paths(const QString &archive) const
{
    QStringList out;
    const CliRun listed = runCli({"list", "--json", archive});
    for (const QJsonValue v : QJsonDocument::fromJson(listed.out).object()["entries"].toArray())
        out << v.toObject()["path"].toString();
    return out;
}

QByteArray TestCliEdit::raw(const QString &archive, const QString &entry) const
{
    return runCli({"cat", "--raw", archive, entry}).out;
}

QByteArray TestCliEdit::read(const QString &name) const
{
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void TestCliEdit::check(const QString &archive, const QByteArray &before, const CliRun &result,
                        int exitCode, const QStringList &expected, const QByteArray &message)
{
    QVERIFY2(result.exitCode == exitCode, result.err.constData());
    QVERIFY2(result.err.contains(message), result.err.constData());
    if (exitCode != 0) {
        QCOMPARE(result.err.count('\n'), 1);
        QVERIFY(read(QFileInfo(archive).fileName()) == before);
    } else {
        QCOMPARE(paths(archive), expected);
    }
    // Nothing is left behind beside the archive.
    QVERIFY(QDir(dir->path()).entryList({".vorland-*"}, QDir::Files | QDir::Hidden).isEmpty());
}

void TestCliEdit::add_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("expected"); // the directory afterwards
    QTest::addColumn<QByteArray>("message");
    const QStringList all = samplePaths;
    QTest::newRow("a file") << QStringList{"add", "@A", "new/one.tga"} << 0
                            << all + QStringList{"new\\one.tga"}
                            << QByteArray("added 1, replaced 0");
    QTest::newRow("from a folder with -C")
        << QStringList{"add", "@A", "-C", "new", "sub/two.ini", "one.tga"} << 0
        << all + QStringList{"sub\\two.ini", "one.tga"} << QByteArray("added 2, replaced 0");
    QTest::newRow("replaced through -C")
        << QStringList{"add",      "@A",       "-C",        "@D", "logo.tga",
                       "--prefix", "data/art", "--replace", "-q"}
        << 0 << all << QByteArray();
    QTest::newRow("--replace that replaced nothing")
        << QStringList{"add", "@A", "new/one.tga", "--replace"} << 0
        << all + QStringList{"new\\one.tga"} << QByteArray("--replace replaced nothing");
    QTest::newRow("a folder, compressed")
        << QStringList{"add", "--compress", "@A", "./new/"} << 0
        << all + QStringList{"new\\one.tga", "new\\sub\\two.ini"} << QByteArray();
    QTest::newRow("with a prefix")
        << QStringList{"add", "@A", "new", "--prefix", "mods/x"} << 0
        << all + QStringList{"mods\\x\\new\\one.tga", "mods\\x\\new\\sub\\two.ini"} << QByteArray();
    QTest::newRow("as another name") << QStringList{"add", "@A", "logo.tga", "--as", "z/y.tga"} << 0
                                     << all + QStringList{"z\\y.tga"} << QByteArray();
    QTest::newRow("replaced in place")
        << QStringList{"add", "@A", "logo.tga", "--as", "data/art/logo.tga", "--replace"} << 0
        << all << QByteArray();
    QTest::newRow("to another file") << QStringList{"add", "@A", "new/one.tga", "-o", "out.big"}
                                     << 0 << all + QStringList{"new\\one.tga"} << QByteArray();
    QTest::newRow("exists already")
        << QStringList{"add", "@A", "logo.tga", "--as", "readme"} << 1 << QStringList{}
        << QByteArray("holds readme already (--replace replaces it)");
    QTest::newRow("missing file") << QStringList{"add", "@A", "new/none.tga"} << 1 << QStringList{}
                                  << QByteArray("cannot read new/none.tga");
    QTest::newRow("absolute path") << QStringList{"add", "@A", "@D/logo.tga"} << 1 << QStringList{}
                                   << QByteArray("absolute path");
    QTest::newRow("parent folder") << QStringList{"add", "@A", "new/../logo.tga"} << 1
                                   << QStringList{} << QByteArray("extraction would refuse");
    QTest::newRow("control character in --as")
        << QStringList{"add", "@A", "logo.tga", "--as", "a\x1b.tga"} << 1 << QStringList{}
        << QByteArray("extraction would refuse");
    QTest::newRow("the archive itself") << QStringList{"add", "@A", "a.big"} << 1 << QStringList{}
                                        << QByteArray("the archive being");
    QTest::newRow("a file where a folder is")
        << QStringList{"add", "@A", "logo.tga", "--as", "data/art"} << 1 << QStringList{}
        << QByteArray("cannot store data\\art: the archive has a folder of that name");
    QTest::newRow("below a file") << QStringList{"add", "@A", "logo.tga", "--as", "readme/x"} << 1
                                  << QStringList{}
                                  << QByteArray("cannot store readme\\x: readme is a file");
    QTest::newRow("disk full") << QStringList{"@FSIZE", "add", "@A", "new"} << 1 << QStringList{}
                               << QByteArray("File too large");
}

void TestCliEdit::add()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, expected);
    QFETCH(QByteArray, message);
    for (bool whole : {false, true}) {
        const QString archive = prepare(whole);
        const QByteArray before = read("a.big");
        const QByteArray notes = raw(archive, "data/notes.txt");
        arguments.replaceInStrings("@D", dir->path());
        CliRun result;
        if (arguments.first() == "@FSIZE") {
            // The new archive outgrows the file-size limit: a write fails as
            // it would on a full disk.
            QProcess process;
            process.setWorkingDirectory(dir->path());
            QStringList args = arguments.mid(1);
            args.replaceInStrings("@A", archive);
            QString program = VORLAND_CLI;
            if (!underLimits(program, args, {"--fsize=" + QString::number(before.size() + 100)}))
                QSKIP("no file-size limit to set here");
            process.start(program, args);
            QVERIFY(process.waitForFinished(60000));
            result.exitCode = process.exitCode();
            result.err = process.readAllStandardError();
        } else {
            result = run(arguments, archive);
        }
        const bool toOut = arguments.contains("-o");
        check(toOut ? path("out.big") : archive, before, result, exitCode, expected, message);
        if (exitCode != 0)
            continue;
        const QString changed = toOut ? path("out.big") : archive;
        if (toOut)
            QVERIFY(read("a.big") == before);
        // An entry not touched keeps its stored bytes; the archive keeps its kind.
        QVERIFY(raw(changed, "data/notes.txt") == notes);
        QVERIFY(
            runCli({"info", changed}).out.contains(whole ? "compressed: yes" : "compressed: no"));
        QCOMPARE(runCli({"extract", changed, "-o", path("x")}).exitCode, 0);
        QVERIFY(read("x/data/notes.txt") == text);
        if (expected.contains("new\\sub\\two.ini"))
            QVERIFY(read("x/new/sub/two.ini") == text);
        if (arguments.contains("--replace") && !message.contains("nothing"))
            QCOMPARE(read("x/data/art/logo.tga"), QByteArray("new logo"));
        QDir(path("x")).removeRecursively();
    }
}

void TestCliEdit::remove_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("a name") << QStringList{"remove", "@A", "readme"} << 0
                            << QStringList(samplePaths.mid(0, 2)) << QByteArray();
    QTest::newRow("a pattern, any case") << QStringList{"remove", "@A", "DATA/*.TGA"} << 0
                                         << QStringList(samplePaths.mid(1)) << QByteArray();
    QTest::newRow("everything") << QStringList{"remove", "@A", "*"} << 0 << QStringList{}
                                << QByteArray();
    QTest::newRow("a pattern matching nothing")
        << QStringList{"remove", "@A", "readme", "*.png"} << 1 << QStringList{}
        << QByteArray("no entry matches *.png");
}

void TestCliEdit::remove()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, expected);
    QFETCH(QByteArray, message);
    for (bool whole : {false, true}) {
        const QString archive = prepare(whole);
        const QByteArray before = read("a.big");
        const QByteArray notes = raw(archive, "data/notes.txt");
        check(archive, before, run(arguments, archive), exitCode, expected, message);
        if (exitCode == 0 && expected.contains("data\\notes.txt"))
            QVERIFY(raw(archive, "data/notes.txt") == notes);
    }
}

void TestCliEdit::rename_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("into another folder")
        << QStringList{"rename", "@A", "data/notes.txt", "docs/notes.txt"} << 0
        << QStringList{"data\\art\\logo.tga", "docs\\notes.txt", "readme"} << QByteArray();
    QTest::newRow("missing") << QStringList{"rename", "@A", "nothing", "x"} << 1 << QStringList{}
                             << QByteArray("no entry nothing");
    QTest::newRow("onto an entry") << QStringList{"rename", "@A", "readme", "data/notes.txt"} << 1
                                   << QStringList{} << QByteArray("holds data/notes.txt already");
    QTest::newRow("refused name") << QStringList{"rename", "@A", "readme", "../x"} << 1
                                  << QStringList{} << QByteArray("extraction would refuse");
    QTest::newRow("onto a folder") << QStringList{"rename", "@A", "readme", "data"} << 1
                                   << QStringList{} << QByteArray("has a folder of that name");
    QTest::newRow("below a file") << QStringList{"rename", "@A", "data/notes.txt", "readme/n"} << 1
                                  << QStringList{} << QByteArray("readme is a file");
    QTest::newRow("to a name with wildcards")
        << QStringList{"rename", "@A", "data/notes.txt", "n[1]*.txt"} << 0
        << QStringList{"data\\art\\logo.tga", "n[1]*.txt", "readme"} << QByteArray();
}

void TestCliEdit::namesAreTakenLiterally_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("rename a name with brackets")
        << QStringList{"rename", "@A", "a[1].txt", "c.txt"} << 0
        << QStringList{"c.txt", "a1.txt", "b*.txt"} << QByteArray();
    QTest::newRow("rename onto a name with brackets")
        << QStringList{"rename", "@A", "a1.txt", "a[1].txt"} << 1 << QStringList{}
        << QByteArray("holds a[1].txt already");
    QTest::newRow("rename a name with a star")
        << QStringList{"rename", "@A", "b*.txt", "b.txt"} << 0
        << QStringList{"a[1].txt", "a1.txt", "b.txt"} << QByteArray();
    QTest::newRow("remove the named entry only") << QStringList{"remove", "@A", "a[1].txt"} << 0
                                                 << QStringList{"a1.txt", "b*.txt"} << QByteArray();
    QTest::newRow("add as a name that exists")
        << QStringList{"add", "@A", "logo.tga", "--as", "b*.txt"} << 1 << QStringList{}
        << QByteArray("holds b*.txt already");
}

void TestCliEdit::namesAreTakenLiterally()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, expected);
    QFETCH(QByteArray, message);
    prepare(false);
    const QString archive = path("n.big");
    QVERIFY(writeFile(archive,
                      makeBig({{"a[1].txt", "bracket"}, {"a1.txt", "plain"}, {"b*.txt", "star"}})));
    QCOMPARE(runCli({"cat", archive, "a[1].txt"}).out, QByteArray("bracket"));
    const QByteArray before = read("n.big");
    check(archive, before, run(arguments, archive), exitCode, expected, message);
}

void TestCliEdit::rename()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, expected);
    QFETCH(QByteArray, message);
    for (bool whole : {false, true}) {
        const QString archive = prepare(whole);
        const QByteArray before = read("a.big");
        const QByteArray notes = raw(archive, "data/notes.txt");
        check(archive, before, run(arguments, archive), exitCode, expected, message);
        if (exitCode == 0)
            QVERIFY(raw(archive, arguments[3]) == notes);
    }
}

void TestCliEdit::damagedArchivesAreRefused()
{
    const QByteArray cut = bigHeader(3) + bigRecord(40, 4, "a") + bigRecord(44, 4, "b");
    const QByteArray past = bigHeader(1) + bigRecord(20, 100, "a") + "abc";
    const QByteArray overlapping = bigHeader(1) + bigRecord(0, 8, "a") + "abcdefgh";
    for (const QByteArray &bytes : {cut, past, overlapping}) {
        QVERIFY(writeFile(path("d.big"), bytes));
        const CliRun result = runCli({"remove", path("d.big"), "a"});
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.contains("is damaged, and is not rewritten"), result.err.constData());
        QVERIFY(read("d.big") == bytes);
    }
}

QTEST_GUILESS_MAIN(TestCliEdit)
#include "tst_cli_edit.moc"
