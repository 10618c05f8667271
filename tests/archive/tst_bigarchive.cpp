// Reading BIG archives: headers, directories good and bad, whole-file
// compression, entry data, and the folder tree built from the paths.

#include "archivefolder.h"
#include "bigarchive.h"
#include "bigbuilder.h"
#include "gfxcorecodec.h"
#include "safepath.h"
#include "testdata.h"

#include <QtTest>

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
    void entryData();
    void readsOnlyTheDirectory();
    void wholeFileCompressed();
    void damagedWholeFileLeavesTheArchive();
    void fromMemory();
    void unpackEntries();
    void folderTree();
    void safePaths_data();
    void safePaths();

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

void TestBigArchive::entryData()
{
    const QByteArray body = testdata::randomBytes(300, 3);
    QByteArray bytes = bigHeader(4) + bigRecord(0, 0, "a") + bigRecord(0, 0, "b") +
                       bigRecord(0, 0, "c") + bigRecord(0, 0, "d");
    const qint32 dataAt = bytes.size();
    bytes += body;
    BigArchive archive;
    QCOMPARE(archive.open(file("e.big", bytes)), BigArchive::Status::Ok);

    QByteArray out;
    QVERIFY(archive.readEntry(quint32(dataAt), 300, out));
    QCOMPARE(out, body);
    // Past the end: the bytes that exist, then zeros.
    QVERIFY(archive.readEntry(quint32(bytes.size() - 10), 50, out));
    QCOMPARE(out, body.right(10) + QByteArray(40, '\0'));
    QVERIFY(archive.readEntry(quint32(bytes.size() + 1000), 8, out));
    QCOMPARE(out, QByteArray(8, '\0'));
    // Offsets above 2 GiB are unsigned, not negative.
    QVERIFY(archive.readEntry(0x80000000u, 4, out));
    QCOMPARE(out, QByteArray(4, '\0'));
    // Larger than the whole archive: not read, nothing allocated, out untouched.
    out = "kept";
    QVERIFY(!archive.readEntry(0, quint32(bytes.size()) + 1, out));
    QVERIFY(!archive.readEntry(0, quint32(-1), out));
    QCOMPARE(out, QByteArray("kept"));
    QVERIFY(archive.readEntry(0, quint32(bytes.size()), out));
    QCOMPARE(out, bytes);

    // The file removed after opening: entries can no longer be read.
    QVERIFY(QFile::remove(archive.path));
    QVERIFY(!archive.readEntry(quint32(dataAt), 300, out));
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

    // A header length that lies costs more reads, not a wrong directory.
    QByteArray lying = bytes;
    lying[15] = 20;
    lying[14] = 0;
    QCOMPARE(archive.open(file("lying.big", lying)), BigArchive::Status::Ok);
    QCOMPARE(int(archive.entries.size()), 64);
    QCOMPARE(archive.entries.back().path, QByteArray("folder\\file63"));
    QVERIFY(archive.bytesRead < quint64(bytes.size()));
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
    // Entries come from the kept image, even once the file is gone.
    QVERIFY(QFile::remove(path));
    QByteArray out;
    QVERIFY(archive.readEntry(archive.entries[0], out));
    QCOMPARE(out, QByteArray("hello from inside"));
    QVERIFY(!archive.readEntry(0, quint32(plain.size()) + 1, out));
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
        QVERIFY(archive.readEntry(archive.entries[1], out));
        QCOMPARE(out, QByteArray("xyz"));
        QVERIFY(archive.path.isEmpty());
    }
    BigArchive archive;
    QCOMPARE(archive.openMemory("BIG"), BigArchive::Status::NotBig);
    QCOMPARE(archive.openMemory(refpCompress(plain).chopped(2)),
             BigArchive::Status::DamagedCompression);
}

void TestBigArchive::unpackEntries()
{
    QByteArray plain("not compressed");
    QCOMPARE(unpackIfCompressed(plain), UnpackResult::Plain);
    QCOMPARE(plain, QByteArray("not compressed"));

    const QByteArray text = testdata::text(5000);
    QByteArray packed = refpCompress(text);
    QCOMPARE(unpackIfCompressed(packed), UnpackResult::Unpacked);
    QCOMPARE(packed, text);

    const QByteArray damaged = refpCompress(text).chopped(1);
    QByteArray bytes = damaged;
    QCOMPARE(unpackIfCompressed(bytes), UnpackResult::Damaged);
    QCOMPARE(bytes, damaged);
}

void TestBigArchive::folderTree()
{
    std::vector<BigEntry> entries;
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

QTEST_GUILESS_MAIN(TestBigArchive)
#include "tst_bigarchive.moc"
