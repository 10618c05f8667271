// Reading BIG archives: headers, directories good and bad, whole-file
// compression, entry data, and the folder tree built from the paths.

#include "archivefolder.h"
#include "atomicfile.h"
#include "bigarchive.h"
#include "bigbuilder.h"
#include "entrydata.h"
#include "entrypattern.h"
#include "gfxcorecodec.h"
#include "heldfile.h"
#include "safepath.h"
#include "testdata.h"

#include <QtTest>

#if !defined(Q_OS_WIN)
#include <sys/resource.h>
#endif

Q_DECLARE_METATYPE(EntryForm)
Q_DECLARE_METATYPE(UnpackResult)
Q_DECLARE_METATYPE(BigArchive::Status)

class TestBigArchive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void headerAndDirectory();
    void refused_data();
    void refused();
    void damagedDirectories_data();
    void damagedDirectories();
    void entryData_data();
    void entryData();
    void readsOnlyTheDirectory();
    void wholeFileCompressed();
    void wholeFileBeyondTheLimitIsNotRead();
    void damagedWholeFileLeavesTheArchive();
    void directoryOnly_data();
    void directoryOnly();
    void directoryOnlyKeepsNoImage();
    void fromMemory();
    void longPathsAreLeftOut();
    void unpackEntries_data();
    void unpackEntries();
    void folderTree();
    void safePaths_data();
    void safePaths();
    void patterns_data();
    void patterns();

private:
    QString file(const QString &name, const QByteArray &bytes);
    std::unique_ptr<QTemporaryDir> dir;
};

void TestBigArchive::initTestCase()
{
    QVERIFY(GfxCoreCodec::load());
}

void TestBigArchive::cleanupTestCase()
{
    GfxCoreCodec::unload();
}

void TestBigArchive::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

QString TestBigArchive::file(const QString &name, const QByteArray &bytes)
{
    const QString path = dir->filePath(name);
    if (!writeFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestBigArchive::headerAndDirectory()
{
    const QByteArray bytes =
        makeBig({{"a\\b.tga", "1234"}, {"c.ini", "xy"}, {"\xE9t\xE9.txt", ""}});
    BigArchive archive;
    QCOMPARE(archive.open(file("x.big", bytes)), BigArchive::Status::Ok);
    QCOMPARE(archive.entryCount, 3u);
    QCOMPARE(archive.archiveSize, quint32(bytes.size()));
    QCOMPARE(archive.headerLength, quint32(16 + 3 * 8 + 8 + 6 + 8));
    QCOMPARE(archive.fileSize, quint64(bytes.size()));
    QCOMPARE(archive.imageSize, quint64(bytes.size()));
    QVERIFY(!archive.compressed);
    QCOMPARE(int(archive.entries.size()), 3);
    QCOMPARE(archive.entries[0].path, QByteArray("a\\b.tga"));
    QCOMPARE(archive.entries[0].offset, qint32(archive.headerLength));
    QCOMPARE(archive.entries[0].size, 4);
    QCOMPARE(archive.entries[1].offset, qint32(archive.headerLength + 4));
    // Bytes 0x80-0xFF are the characters U+0080-U+00FF.
    QCOMPARE(archive.entries[2].pathText(), QString::fromUtf8("été.txt"));
}

void TestBigArchive::refused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");
    const int notBig = int(BigArchive::Status::NotBig);
    QTest::newRow("empty file") << QByteArray() << notBig;
    QTest::newRow("three bytes") << QByteArray("BIG") << notBig;
    QTest::newRow("wrong signature") << bigHeader(0, 0, 0, "BIGX") << notBig;
    QTest::newRow("lower case") << bigHeader(0, 0, 0, "bigf") << notBig;
    QTest::newRow("Refp stream declaring nothing")
        << QByteArray("\x10\xFB\x00\x00\x00\xFC", 6) << notBig;
    QTest::newRow("compressed, not an archive inside") << refpCompress("hello, world") << notBig;
    QTest::newRow("damaged whole-file stream") << refpCompress(makeBig({{"a", "b"}})).chopped(3)
                                               << int(BigArchive::Status::DamagedCompression);
    QTest::newRow("whole-file stream declaring more than it can hold")
        << QByteArray("\x90\xFB\xFF\xFF\xFF\xFF\xFC", 7)
        << int(BigArchive::Status::DamagedCompression);
}

void TestBigArchive::refused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    BigArchive archive;
    QCOMPARE(int(archive.open(file("bad.big", bytes))), status);
    QVERIFY(archive.entries.empty());
    QVERIFY(archive.path.isEmpty());

    QCOMPARE(archive.open(dir->filePath("missing.big")), BigArchive::Status::CannotOpen);
}

void TestBigArchive::damagedDirectories_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint32>("count");
    QTest::addColumn<QList<QByteArray>>("paths");

    const QByteArray two = bigRecord(0, 0, "one") + bigRecord(0, 0, "two");
    QTest::newRow("header only, 0 entries") << bigHeader(0) << 0u << QList<QByteArray>{};
    QTest::newRow("signature only") << QByteArray("BIGF") << 0u << QList<QByteArray>{};
    QTest::newRow("count cut short")
        << QByteArray("BIGF\0\0\0\0\0\0", 10) << 0u << QList<QByteArray>{};
    QTest::newRow("fewer entries than announced")
        << bigHeader(5) + two << 5u << QList<QByteArray>{"one", "two"};
    QTest::newRow("record cut inside offset and size")
        << bigHeader(3) + two + QByteArray(7, '\0') << 3u << QList<QByteArray>{"one", "two"};
    QTest::newRow("path cut by the end") << bigHeader(3) + two + bigRecord(0, 0, "thr", false) << 3u
                                         << QList<QByteArray>{"one", "two", "thr"};
    QTest::newRow("empty path at the end") << bigHeader(3) + two + bigRecord(0, 0, "", false) << 3u
                                           << QList<QByteArray>{"one", "two", ""};
    QTest::newRow("4,294,967,295 announced on a tiny file")
        << bigHeader(0xFFFFFFFFu) + two << 0xFFFFFFFFu << QList<QByteArray>{"one", "two"};
    QTest::newRow("more entries than announced are not read")
        << bigHeader(1) + two << 1u << QList<QByteArray>{"one"};
}

void TestBigArchive::damagedDirectories()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint32, count);
    QFETCH(QList<QByteArray>, paths);
    for (bool whole : {false, true}) {
        BigArchive archive;
        QCOMPARE(archive.open(file("d.big", whole ? refpCompress(bytes) : bytes)),
                 BigArchive::Status::Ok);
        QCOMPARE(archive.compressed, whole);
        QCOMPARE(archive.entryCount, count);
        QList<QByteArray> read;
        for (const BigEntry &entry : archive.entries)
            read << entry.path;
        QCOMPARE(read, paths);
    }
}

void TestBigArchive::entryData_data()
{
    QTest::addColumn<quint32>("offset");
    QTest::addColumn<quint32>("size");
    QTest::addColumn<int>("read");
    QTest::addColumn<int>("from"); // where the bytes read start in the file
    QTest::addColumn<int>("count");
    const int whole = int(EntryRead::Whole), truncated = int(EntryRead::Truncated);
    QTest::newRow("inside") << 56u << 300u << whole << 56 << 300;
    QTest::newRow("empty") << 56u << 0u << whole << 0 << 0;
    // Past the end: the bytes that exist, and no more.
    QTest::newRow("past the end") << 346u << 50u << truncated << 346 << 10;
    QTest::newRow("starting past the end") << 2000u << 8u << truncated << 0 << 0;
    QTest::newRow("offset above 2 GiB") << 0x80000000u << 4u << truncated << 0 << 0;
    QTest::newRow("larger than the archive") << 0u << 0xFFFFFFFFu << truncated << 0 << 356;
}

void TestBigArchive::entryData()
{
    QFETCH(quint32, offset);
    QFETCH(quint32, size);
    QFETCH(int, read);
    QFETCH(int, from);
    QFETCH(int, count);
    QByteArray bytes = bigHeader(4) + bigRecord(0, 0, "a") + bigRecord(0, 0, "b") +
                       bigRecord(0, 0, "c") + bigRecord(0, 0, "d");
    QCOMPARE(bytes.size(), 56);
    bytes += testdata::randomBytes(300, 3);
    BigArchive archive;
    QCOMPARE(archive.open(file("e.big", bytes)), BigArchive::Status::Ok);
    QByteArray out = "untouched";
    QCOMPARE(int(archive.readEntry(offset, size, out)), read);
    QCOMPARE(out, bytes.mid(from, count));

    // Another file put in its place: entries still come from the file whose
    // directory was read, and the name no longer stands for it.
    QVERIFY(archive.file()->isNamedBy(archive.path));
    const QByteArray other(bytes.size(), 'x');
    QString problem;
    QVERIFY2(writeFileAtomically(archive.path, other.constData(), size_t(other.size()), problem),
             qPrintable(problem));
    QVERIFY(!archive.file()->isNamedBy(archive.path));
    out = "untouched";
    QCOMPARE(int(archive.readEntry(offset, size, out)), read);
    QCOMPARE(out, bytes.mid(from, count));
}

void TestBigArchive::readsOnlyTheDirectory()
{
    // 4 MiB of entry data behind a small directory.
    QVector<SampleEntry> entries;
    for (int i = 0; i < 64; ++i)
        entries.append(
            {QByteArray("folder\\file") + QByteArray::number(i), QByteArray(65536, char(i))});
    const QByteArray bytes = makeBig(entries);
    BigArchive archive;
    QCOMPARE(archive.open(file("big.big", bytes)), BigArchive::Status::Ok);
    QCOMPARE(int(archive.entries.size()), 64);
    QCOMPARE(archive.bytesRead, quint64(archive.headerLength));
    const quint32 directoryEnd = archive.headerLength;

    // A header length that lies costs more reads, not a wrong directory.
    QByteArray lying = bytes;
    lying[15] = 20;
    lying[14] = 0;
    QCOMPARE(archive.open(file("lying.big", lying)), BigArchive::Status::Ok);
    QCOMPARE(int(archive.entries.size()), 64);
    QCOMPARE(archive.entries.back().path, QByteArray("folder\\file63"));
    QVERIFY(archive.bytesRead < quint64(bytes.size()));

    // One that claims a 2.75 GiB directory in a 3 GiB (sparse) file costs at
    // most a fixed read-ahead beyond the directory, not what it claims.
    QFile sparse(dir->filePath("sparse.big"));
    QVERIFY(sparse.open(QIODevice::WriteOnly));
    QVERIFY(sparse.write(bytes.left(int(directoryEnd))) == directoryEnd);
    QVERIFY(sparse.resize(qint64(3) << 30));
    sparse.close();
    lying = bytes.left(16);
    lying.replace(12, 4, QByteArray("\xB0\x00\x00\x00", 4));
    QVERIFY(sparse.open(QIODevice::ReadWrite) && sparse.write(lying) == 16);
    sparse.close();
    QCOMPARE(archive.open(sparse.fileName()), BigArchive::Status::Ok);
    QCOMPARE(int(archive.entries.size()), 64);
    QVERIFY2(archive.bytesRead <= directoryEnd + (1 << 20),
             qPrintable(QString::number(archive.bytesRead)));
}

void TestBigArchive::wholeFileCompressed()
{
    const QByteArray plain = makeBig({{"dir\\note.txt", "hello from inside"}, {"x.bin", "xyz"}});
    const QString path = file("whole.big", refpCompress(plain));
    BigArchive archive;
    QCOMPARE(archive.open(path), BigArchive::Status::Ok);
    QVERIFY(archive.compressed);
    QCOMPARE(archive.imageSize, quint64(plain.size()));
    QCOMPARE(archive.fileSize, quint64(QFileInfo(path).size()));
    QCOMPARE(int(archive.entries.size()), 2);
    // Entries come from the kept image, read only while the file is there.
    QByteArray out;
    QCOMPARE(archive.readEntry(archive.entries[0], out), EntryRead::Whole);
    QCOMPARE(out, QByteArray("hello from inside"));
    QCOMPARE(archive.readEntry(0, quint32(plain.size()) + 1, out), EntryRead::Truncated);
    QCOMPARE(out, plain);
    QVERIFY(archive.file()->isNamedBy(path));
}

void TestBigArchive::wholeFileBeyondTheLimitIsNotRead()
{
    // 512 MiB (sparse) of a stream declaring 4 GiB, under a 64 MiB limit:
    // refused from its header, without reading the file into memory.
    const QString path = file("huge-whole.big", QByteArray("\x90\xFB\xFF\xFF\xFF\xFF", 6));
    QVERIFY(QFile::resize(path, qint64(512) << 20));
    BigArchive archive;
    archive.imageLimit = 64 << 20;
#if defined(Q_OS_WIN)
    QCOMPARE(archive.open(path), BigArchive::Status::TooLarge); // no peak size to read here
#else
    struct rusage before, after;
    ::getrusage(RUSAGE_SELF, &before);
    QCOMPARE(archive.open(path), BigArchive::Status::TooLarge);
    ::getrusage(RUSAGE_SELF, &after);
    QVERIFY2(after.ru_maxrss - before.ru_maxrss < 64 * 1024,
             qPrintable(QString::number(after.ru_maxrss - before.ru_maxrss) + " KiB more"));
#endif
}

void TestBigArchive::damagedWholeFileLeavesTheArchive()
{
    BigArchive archive;
    QCOMPARE(archive.open(file("good.big", makeBig({{"a", "1"}}))), BigArchive::Status::Ok);
    QByteArray stream = refpCompress(makeBig({{"b", "2"}, {"c", "3"}}));
    stream[stream.size() - 1] = '\x00'; // the stop command becomes a cut-short command
    QCOMPARE(archive.open(file("bad.big", stream)), BigArchive::Status::DamagedCompression);
    QCOMPARE(int(archive.entries.size()), 1);
    QCOMPARE(archive.entries[0].path, QByteArray("a"));
    QVERIFY(archive.path.endsWith("good.big"));
}

void TestBigArchive::directoryOnly_data()
{
    // 6,000 entries: a directory of 190 KB, unpacked in several steps; then
    // 2 MB of data, some of it Refp-compressed within the archive.
    QVector<SampleEntry> many;
    for (int i = 0; i < 6000; ++i)
        many.append({QByteArray("folder\\entry") + QByteArray::number(i) + ".ini",
                     testdata::randomBytes(300 + i % 97, uint(i)), i % 3 == 0});
    const QByteArray plain = makeBig(many);
    const QByteArray stream = refpCompress(plain);
    QByteArray notBig = plain;
    notBig[0] = 'X';
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<BigArchive::Status>("status");
    QTest::addColumn<bool>("readable"); // the entries' data too
    QTest::newRow("whole") << stream << BigArchive::Status::Ok << true;
    QTest::newRow("damaged past the directory")
        << stream.left(stream.size() * 3 / 4) << BigArchive::Status::Ok << false;
    QTest::newRow("damaged in the directory")
        << stream.left(stream.size() / 20) << BigArchive::Status::DamagedCompression << false;
    QTest::newRow("not an archive inside")
        << refpCompress(notBig) << BigArchive::Status::NotBig << false;
}

void TestBigArchive::directoryOnly()
{
    // The same directory and the same entries as when the image is kept,
    // from a stream unpacked only as far as each read needs.
    QFETCH(QByteArray, stream);
    QFETCH(BigArchive::Status, status);
    QFETCH(bool, readable);
    const QString path = file("whole.big", stream);
    BigArchive archive;
    archive.directoryOnly = true;
    QCOMPARE(archive.open(path), status);
    if (status != BigArchive::Status::Ok)
        return;
    QVERIFY(archive.compressed && !archive.keptImage());
    QCOMPARE(int(archive.entries.size()), 6000);
    std::vector<const BigEntry *> chosen;
    for (size_t i = 0; i < archive.entries.size(); i += 7)
        chosen.push_back(&archive.entries[archive.entries.size() - 1 - i]); // not in order
    std::vector<QByteArray> starts;
    QCOMPARE(archive.readEntryStarts(chosen, 16, starts), readable);
    QByteArray last;
    QCOMPARE(archive.readEntry(archive.entries.back(), last),
             readable ? EntryRead::Whole : EntryRead::Unreadable);
    if (!readable)
        return;
    BigArchive whole;
    QCOMPARE(whole.open(path), BigArchive::Status::Ok);
    std::vector<QByteArray> expected;
    for (size_t i = 0; i < archive.entries.size(); ++i) {
        QCOMPARE(archive.entries[i].path, whole.entries[i].path);
        QCOMPARE(archive.entries[i].offset, whole.entries[i].offset);
    }
    QVERIFY(whole.readEntryStarts(chosen, 16, expected));
    QVERIFY(starts == expected);
    QByteArray kept;
    QCOMPARE(whole.readEntry(whole.entries.back(), kept), EntryRead::Whole);
    QCOMPARE(last, kept);
}

void TestBigArchive::directoryOnlyKeepsNoImage()
{
    // 96 MiB of image from a 390 KB stream: its directory and an entry at
    // its end read in a few MiB.
    const QByteArray plain =
        makeBig({{"zeros.bin", QByteArray(96 << 20, '\0')}, {"end.ini", "k=v"}});
    const QString path = file("zeros.big", refpCompress(plain));
    BigArchive archive;
    archive.directoryOnly = true;
#if !defined(Q_OS_WIN)
    struct rusage before, after;
    ::getrusage(RUSAGE_SELF, &before);
#endif
    QCOMPARE(archive.open(path), BigArchive::Status::Ok);
    QByteArray out;
    QCOMPARE(archive.readEntry(archive.entries[1], out), EntryRead::Whole);
    QCOMPARE(out, QByteArray("k=v"));
#if !defined(Q_OS_WIN)
    ::getrusage(RUSAGE_SELF, &after);
    QVERIFY2(after.ru_maxrss - before.ru_maxrss < 16 * 1024,
             qPrintable(QString::number(after.ru_maxrss - before.ru_maxrss) + " KiB more"));
#endif
}

void TestBigArchive::fromMemory()
{
    const QByteArray plain = makeBig({{"a\\b.ini", "k=v"}, {"c", "xyz"}});
    for (const QByteArray &bytes : {plain, refpCompress(plain)}) {
        BigArchive archive;
        QCOMPARE(archive.openMemory(bytes), BigArchive::Status::Ok);
        QCOMPARE(archive.compressed, bytes != plain);
        QCOMPARE(archive.imageSize, quint64(plain.size()));
        QCOMPARE(int(archive.entries.size()), 2);
        QByteArray out;
        QCOMPARE(archive.readEntry(archive.entries[1], out), EntryRead::Whole);
        QCOMPARE(out, QByteArray("xyz"));
        QVERIFY(archive.path.isEmpty());
    }
    BigArchive archive;
    QCOMPARE(archive.openMemory("BIG"), BigArchive::Status::NotBig);
    QCOMPARE(archive.openMemory(refpCompress(plain).chopped(2)),
             BigArchive::Status::DamagedCompression);
}

void TestBigArchive::longPathsAreLeftOut()
{
    const QByteArray longest(int(BigArchive::kMaxPathLength), 'k');
    const QByteArray plain =
        makeBig({{"a", "1"}, {longest + "x", "2"}, {longest, "3"}, {"b", "4"}});
    for (const QByteArray &bytes : {plain, refpCompress(plain)}) {
        BigArchive archive;
        QCOMPARE(archive.open(file("long.big", bytes)), BigArchive::Status::Ok);
        QCOMPARE(archive.longPaths, 1u);
        QCOMPARE(archive.entryCount, 4u);
        QCOMPARE(int(archive.entries.size()), 3);
        QCOMPARE(archive.entries[1].path, longest);
        QCOMPARE(archive.entries[2].path, QByteArray("b"));
    }
}

void TestBigArchive::unpackEntries_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<EntryForm>("form");
    QTest::addColumn<UnpackResult>("result");
    QTest::addColumn<QByteArray>("after");

    const QByteArray text = testdata::text(5000);
    const QByteArray packed = refpCompress(text);
    const QByteArray undecodable("\x10\xFB\x00\x00\x08\xE0xyzw", 10);
    const QByteArray implausible("\x90\xFB\xFF\xFF\xFF\xFF\xE0xyzw", 11);
    const QByteArray empty("\x10\xFB\x00\x00\x00\xFC", 6);
    QTest::newRow("plain") << QByteArray("not compressed") << EntryForm::Stored
                           << UnpackResult::Plain << QByteArray("not compressed");
    QTest::newRow("header cut short") << QByteArray("\x10\xFB\x00", 3) << EntryForm::Stored
                                      << UnpackResult::Plain << QByteArray("\x10\xFB\x00", 3);
    QTest::newRow("declares nothing") << empty << EntryForm::Stored << UnpackResult::Plain << empty;
    QTest::newRow("stream") << packed << EntryForm::Compressed << UnpackResult::Unpacked << text;
    QTest::newRow("stream cut short") << packed.chopped(1) << EntryForm::Compressed
                                      << UnpackResult::Undecodable << packed.chopped(1);
    QTest::newRow("does not decode")
        << undecodable << EntryForm::Compressed << UnpackResult::Undecodable << undecodable;
    QTest::newRow("declares too much")
        << implausible << EntryForm::Undecodable << UnpackResult::Undecodable << implausible;
}

void TestBigArchive::unpackEntries()
{
    QFETCH(QByteArray, bytes);
    QFETCH(EntryForm, form);
    QFETCH(UnpackResult, result);
    QFETCH(QByteArray, after);
    QCOMPARE(entryForm(bytes.constData(), size_t(qMin(bytes.size(), 16)), quint64(bytes.size())),
             form);
    QCOMPARE(unpackIfCompressed(bytes), result);
    QCOMPARE(bytes, after);
}

void TestBigArchive::folderTree()
{
    BigEntries entries;
    for (const char *path : {"a\\x", "a\\y", "b\\z", "a\\w", "a\\deep\\v", "top", "\\lead", "A\\u"})
        entries.push_back({1, 2, path});
    ArchiveFolder root(true, nullptr, "$root$");
    buildFolderTree(root, entries);

    QStringList folders;
    for (ArchiveFolder *f : root.folders)
        folders << f->name;
    QCOMPARE(folders, (QStringList{"a", "b", "", "A"}));
    // A folder met again after another is the same folder.
    ArchiveFolder *a = root.findFolder("a");
    QStringList names;
    for (ArchiveFile *f : a->files)
        names << f->name;
    QCOMPARE(names, (QStringList{"x", "y", "w"}));
    QCOMPARE(a->findFolder("deep")->files.first()->name, QString("v"));
    QCOMPARE(root.files.size(), 1);
    QCOMPARE(root.files.first()->folder, &root);
    QCOMPARE(root.findFolder("")->files.first()->name, QString("lead"));
    QCOMPARE(a->files.first()->offset, 1);
    QCOMPARE(a->files.first()->size, 2);
}

void TestBigArchive::safePaths_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QStringList>("parts");
    QTest::newRow("plain") << QByteArray("a\\b\\c.txt") << QStringList{"a", "b", "c.txt"};
    QTest::newRow("forward slashes") << QByteArray("a/b") << QStringList{"a", "b"};
    QTest::newRow("dots inside names") << QByteArray("..a\\b..") << QStringList{"..a", "b.."};
    QTest::newRow("8-bit name") << QByteArray("\xE9t\xE9") << QStringList{QString::fromUtf8("été")};
    const QStringList refused;
    for (const char *bad : {"..\\..\\x", "a\\..\\..\\x", "\\x", "/x", "C:\\x", "c:x", "a\\\\b",
                            ".\\x", "a\\.", "a\\", "", "a\\b\x01", "tab\there", "del\x7F"})
        QTest::addRow("refused: %s", bad) << QByteArray(bad) << refused;
}

void TestBigArchive::safePaths()
{
    QFETCH(QByteArray, path);
    QFETCH(QStringList, parts);
    const std::optional<QStringList> result = safeEntryPath(path);
    if (parts.isEmpty())
        QVERIFY(!result);
    else
        QCOMPARE(result.value_or(QStringList{"<refused>"}), parts);
}

void TestBigArchive::patterns_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("matches");
    QTest::newRow("name, exact") << "data/a.tga" << QByteArray("data\\a.tga") << true;
    QTest::newRow("name, other case") << "DATA/a.tga" << QByteArray("data\\a.tga") << false;
    QTest::newRow("name, part of a path") << "a.tga" << QByteArray("data\\a.tga") << false;
    QTest::newRow("star crosses folders") << "*.tga" << QByteArray("data\\art\\a.tga") << true;
    QTest::newRow("pattern ignores case") << "DATA\\*.TGA" << QByteArray("data\\a.tga") << true;
    QTest::newRow("8-bit letters fold")
        << QString::fromUtf8("*É*") << QByteArray("caf\xE9") << true;
    QTest::newRow("whole path") << "data" << QByteArray("data\\a.tga") << false;
    QTest::newRow("question mark") << "?.ini" << QByteArray("a.ini") << true;
    QTest::newRow("question mark, two") << "?.ini" << QByteArray("ab.ini") << false;
    QTest::newRow("set") << "[abc].ini" << QByteArray("b.ini") << true;
    QTest::newRow("range") << "t[0-9].tpi" << QByteArray("t7.tpi") << true;
    QTest::newRow("negated set") << "t[!0-9].tpi" << QByteArray("t7.tpi") << false;
    QTest::newRow("bracket first in a set") << "[]a]" << QByteArray("]") << true;
    QTest::newRow("unclosed bracket is itself") << "a[b*" << QByteArray("a[bc") << true;
    QTest::newRow("stars backtrack") << "*a*b*c" << QByteArray("xxaxxbxxbxc") << true;
    QTest::newRow("stars fail") << "*a*b*c" << QByteArray("xxaxxcxxb") << false;
    QTest::newRow("beyond 8 bits") << QString::fromUtf8("名*") << QByteArray("a") << false;
}

void TestBigArchive::patterns()
{
    QFETCH(QString, pattern);
    QFETCH(QByteArray, path);
    QFETCH(bool, matches);
    QCOMPARE(EntryPattern(pattern).matches(path), matches);
}

QTEST_GUILESS_MAIN(TestBigArchive)
#include "tst_bigarchive.moc"
