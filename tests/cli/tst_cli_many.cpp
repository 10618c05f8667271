// vorland-cli find and diff: several archives, and archives against folders.

#include "bigbuilder.h"
#include "clirunner.h"

#include <QDir>
#include <QtTest>

using Entries = QVector<SampleEntry>;
Q_DECLARE_METATYPE(Entries)

class TestCliMany : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void find_data();
    void find();
    void diff_data();
    void diff();

private:
    QString path(const QString &name) const { return dir->filePath(name); }
    // `entries` as a folder of files, as extract would write them.
    QString folder(const QString &name, const Entries &entries)
    {
        for (const SampleEntry &entry : entries) {
            const QString file =
                path(name + "/" + QString::fromLatin1(entry.path).replace('\\', '/'));
            QDir().mkpath(QFileInfo(file).path());
            writtenFile(file, entry.data);
        }
        return path(name);
    }
    std::unique_ptr<QTemporaryDir> dir;
};

namespace {

QByteArray repeated(const QByteArray &text)
{
    return text.repeated(200);
}

QStringList lines(const QByteArray &out)
{
    return QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
}

} // namespace

void TestCliMany::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    writtenFile(path("base"), makeBig({{"data\\ini\\weapon.ini", "w1"},
                                       {"data\\ini\\armor.ini", "a1"},
                                       {"art\\logo.tga", "TGA"}}));
    writtenFile(path("patch"),
                makeBig({{"Data\\INI\\Weapon.ini", "w2"}, {"data\\ini\\weapon.ini", "w2b"}}));
    writtenFile(path("mod"), makeBig({{"data/ini/armor.ini", repeated("armor "), true}}));
}

void TestCliMany::find_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("a name in every case; the later archive wins, its first copy")
        << QStringList{"data\\ini\\weapon.ini", "base", "patch", "mod"}
        << QStringList{"base\tdata\\ini\\weapon.ini\t2\tstored\thidden",
                       "patch\tData\\INI\\Weapon.ini\t2\tstored\twins",
                       "patch\tdata\\ini\\weapon.ini\t3\tstored\thidden"}
        << 0;
    QTest::newRow("--first-wins") << QStringList{"--first-wins", "data/ini/WEAPON.ini", "--",
                                                 "base", "patch"}
                                  << QStringList{"base\tdata\\ini\\weapon.ini\t2\tstored\twins",
                                                 "patch\tData\\INI\\Weapon.ini\t2\tstored\thidden",
                                                 "patch\tdata\\ini\\weapon.ini\t3\tstored\thidden"}
                                  << 0;
    QTest::newRow("patterns, in the archives' order given; unpacked sizes")
        << QStringList{"*armor*", "*.tga", "--", "mod", "base"}
        << QStringList{"mod\tdata/ini/armor.ini\t1200\trefp\thidden",
                       "base\tdata\\ini\\armor.ini\t2\tstored\twins",
                       "base\tart\\logo.tga\t3\tstored\twins"}
        << 0;
    QTest::newRow("nothing matches")
        << QStringList{"nothing", "base", "patch"} << QStringList{} << 1;
    QTest::newRow("one name of two finds nothing")
        << QStringList{"*.tga", "nothing", "--", "base"}
        << QStringList{"base\tart\\logo.tga\t3\tstored\twins"} << 1;
    QTest::newRow("an archive that cannot be read")
        << QStringList{"*.tga", "--", "missing", "base"}
        << QStringList{"base\tart\\logo.tga\t3\tstored\twins"} << 1;
}

void TestCliMany::find()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, expected);
    QFETCH(int, exitCode);
    const QStringList names{"base", "patch", "mod", "missing"};
    const int dashes = arguments.indexOf("--");
    for (int i = dashes < 0 ? 1 : dashes + 1; i < arguments.size(); ++i)
        arguments[i] = path(arguments[i]);
    for (QString &line : expected) {
        const QString archive = line.section('\t', 0, 0);
        line = path(archive) + line.mid(archive.size());
    }
    const CliRun run = runCli(QStringList{"find"} + arguments);
    QCOMPARE(lines(run.out), expected);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.err.isEmpty(), exitCode == 0);
}

void TestCliMany::diff_data()
{
    QTest::addColumn<Entries>("older");
    QTest::addColumn<Entries>("newer");
    QTest::addColumn<bool>("newIsFolder");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("exitCode");
    const QByteArray text = repeated("text ");
    QTest::newRow("only compressed differently")
        << Entries{{"a\\t.txt", text}, {"b", "1"}} << Entries{{"b", "1"}, {"a/t.txt", text, true}}
        << false << QStringList{} << 0;
    QTest::newRow("added, removed and changed, in the order of the paths")
        << Entries{{"c", "same"}, {"b\\x", text, true}, {"a", "gone"}}
        << Entries{{"d", "new"}, {"c", "same"}, {"b\\x", text + "!", true}} << false
        << QStringList{"Only in OLD: a", "Files differ: b/x", "Only in NEW: d"} << 1;
    QTest::newRow("against its extracted folder")
        << Entries{{"data\\t.txt", text, true}, {"e", ""}, {"data\\x\\y", "y"}}
        << Entries{{"data\\t.txt", text}, {"e", ""}, {"data\\x\\y", "y"}} << true << QStringList{}
        << 0;
    QTest::newRow("one byte changed, same size")
        << Entries{{"data\\t.txt", text, true}} << Entries{{"data\\t.txt", "T" + text.mid(1)}}
        << true << QStringList{"Files differ: data/t.txt"} << 1;
    // A Refp header whose stream is cut: extract writes the stored bytes.
    QByteArray varied;
    for (int i = 0; i < 2000; ++i)
        varied += QByteArray::number(i * 7919 % 10007) + ' ';
    const QByteArray packed = refpCompress(varied), undecodable = packed.left(packed.size() / 2);
    for (const bool toFolder : {false, true})
        QTest::newRow(toFolder ? "an entry that does not decode, as stored, against a folder"
                               : "an entry that does not decode, as stored, in both")
            << Entries{{"t", undecodable}} << Entries{{"t", undecodable}} << toFolder
            << QStringList{} << 0;
    QTest::newRow("the first copy of a path is the one written")
        << Entries{{"x", "1"}, {"x", "2"}} << Entries{{"x", "1"}} << true << QStringList{} << 0;
#if defined(Q_OS_WIN)
    QTest::newRow("case, where folders ignore it")
        << Entries{{"Data\\A.ini", "a"}} << Entries{{"data\\a.ini", "a"}} << false << QStringList{}
        << 0;
#else
    QTest::newRow("case, where folders keep it")
        << Entries{{"Data\\A.ini", "a"}} << Entries{{"data\\a.ini", "a"}} << false
        << QStringList{"Only in OLD: Data/A.ini", "Only in NEW: data/a.ini"} << 1;
#endif
    QTest::newRow("a name extract refuses is trouble")
        << Entries{{"..\\evil", "x"}, {"ok", "1"}} << Entries{{"ok", "1"}} << true << QStringList{}
        << 2;
}

void TestCliMany::diff()
{
    QFETCH(Entries, older);
    QFETCH(Entries, newer);
    QFETCH(bool, newIsFolder);
    QFETCH(QStringList, expected);
    QFETCH(int, exitCode);
    const QString oldPath = writtenFile(path("old.big"), makeBig(older));
    const QString newPath =
        newIsFolder ? folder("new", newer) : writtenFile(path("new.big"), makeBig(newer));
    for (QString &line : expected)
        line.replace("OLD", oldPath).replace("NEW", newPath);
    const CliRun run = runCli({"diff", oldPath, newPath});
    QCOMPARE(lines(run.out), expected);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.err.isEmpty(), exitCode < 2);
    // Either way round.
    const CliRun back =
        runCli({"diff", newIsFolder ? newPath : oldPath, newIsFolder ? oldPath : newPath});
    QCOMPARE(back.exitCode, exitCode);
}

QTEST_GUILESS_MAIN(TestCliMany)
#include "tst_cli_many.moc"
