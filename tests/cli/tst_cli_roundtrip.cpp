// Every file that pack and add store comes back byte for byte, including
// files whose first bytes read as a Refp header (about one in 16,000 random
// files): through extract, cat, the mount's reading and the window's
// reading of an entry. Foreign entries that look compressed but do not
// decode are written as stored, with a warning.

#include "bigarchive.h"
#include "bigbuilder.h"
#include "clirunner.h"
#include "entrydata.h"
#include "gfxcorecodec.h"
#include "testdata.h"

#include <QtTest>

class TestCliRoundTrip : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(GfxCoreCodec::load()); }
    void init();
    void everyFileComesBack_data();
    void everyFileComesBack();
    void foreignUndecodableEntry();

private:
    QString path(const QString &name) const { return dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> dir;
};

#if defined(VORLAND_HAVE_MOUNT)
#include "archivefs.h"

namespace {

// What the mount serves as FOLDER/NAME of `archive`, whose size it must show
// as the length served.
QByteArray servedByMount(const BigArchive &archive, const char *folder, const char *name)
{
    ArchiveFs fs(archive, false);
    const int file = fs.child(fs.child(0, folder), name);
    if (file <= 0)
        return "<missing>";
    std::shared_ptr<const ArchiveFs::Bytes> unpacked;
    int error = 0;
    if (fs.storage(file).compressed)
        unpacked = fs.unpacked(file, error);
    QByteArray served(int(fs.storage(file).size), '\0');
    const int64_t n = fs.read(file, unpacked.get(), served.data(), uint64_t(served.size()), 0);
    return n == served.size() ? served : QByteArray("<short>");
}

} // namespace
#endif

void TestCliRoundTrip::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestCliRoundTrip::everyFileComesBack_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("writer");

    const QByteArray tail = testdata::text(5000);
    const QList<QByteArray> files{
        // Each header, declaring a size its bytes could produce and one they could not.
        QByteArray("\x10\xFB\x00\x10\x00", 5) + tail,
        QByteArray("\x10\xFB\xFF\xFF\xFF", 5) + tail,
        QByteArray("\x11\xFB\x00\x10\x00\x00\x10\x00", 8) + tail,
        QByteArray("\x11\xFB\xFF\xFF\xFF\x00\x00\x01", 8) + tail,
        QByteArray("\x90\xFB\x00\x00\x10\x00", 6) + tail,
        QByteArray("\x90\xFB\xFF\xFF\xFF\xFF", 6) + tail,
        QByteArray("\x91\xFB\x00\x00\x10\x00\x00\x00\x10\x00", 10) + tail,
        QByteArray("\x91\xFB\xFF\xFF\xFF\xFF\x00\x00\x00\x01", 10) + tail,
        // Past the size a stored file is read whole at.
        QByteArray("\x10\xFB\x00\x10\x00", 5) + testdata::text(70000),
        // Written past the small pieces gathered before it (the directory's room).
        testdata::randomBytes(600000, 23),
        // A whole valid stream, and a stream of nothing.
        refpCompress(tail),
        QByteArray("\x10\xFB\x00\x00\x00\xFC", 6),
    };
    const QList<QStringList> writers{
        {"pack"}, {"pack", "--compress"}, {"add"}, {"add", "--compress"}, {"add", "--replace"}};
    for (int f = 0; f < files.size(); ++f) {
        for (const QStringList &writer : writers) {
            QTest::addRow("%02x%02x %d, %s", uchar(files[f][0]), uchar(files[f][1]), f,
                          qPrintable(writer.join(' ')))
                << files[f] << writer;
        }
    }
    // Files compressed as one stream in parts: one that begins like a stream
    // and does not shrink (kept a stream), one that does not shrink (stored
    // as it is after all), one that does.
    const int parted = 8 << 20;
    const QList<QPair<const char *, QByteArray>> large{
        {"Refp-looking noise",
         QByteArray("\x10\xFB\x00\x10\x00", 5) + testdata::randomBytes(parted, 20)},
        {"noise", testdata::randomBytes(parted + 3, 21)},
        {"text", testdata::text(parted + 1, 22)},
    };
    for (const auto &file : large) {
        for (const char *writer : {"pack", "add"})
            QTest::addRow("%s of %d bytes, %s --compress", file.first, int(file.second.size()),
                          writer)
                << file.second << QStringList{writer, "--compress"};
    }
}

void TestCliRoundTrip::everyFileComesBack()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, writer);
    QDir().mkpath(path("tree/sub"));
    QVERIFY(writeFile(path("tree/sub/f.bin"), bytes));
    const QString archive = path("a.big");
    if (writer[0] == "pack") {
        QStringList arguments = writer;
        arguments << path("tree") << "-o" << archive;
        const CliRun packed = runCli(arguments);
        QVERIFY2(packed.exitCode == 0, packed.err);
    } else {
        QVector<SampleEntry> entries{{"x", "y"}};
        if (writer.contains("--replace"))
            entries.append(SampleEntry{"sub\\f.bin", "old"});
        QVERIFY(writeFile(archive, makeBig(entries)));
        QStringList arguments = writer;
        arguments << archive << path("tree/sub/f.bin") << "--as"
                  << "sub/f.bin";
        const CliRun added = runCli(arguments);
        QVERIFY2(added.exitCode == 0, added.err);
    }

    const CliRun cat = runCli({"cat", archive, "sub/f.bin"});
    QCOMPARE(cat.err, QByteArray());
    QCOMPARE(cat.exitCode, 0);
    QVERIFY(cat.out == bytes);

    const CliRun extracted = runCli({"extract", archive, "-o", path("out")});
    QCOMPARE(extracted.err, QByteArray());
    QCOMPARE(extracted.exitCode, 0);
    QFile back(path("out/sub/f.bin"));
    QVERIFY2(
        back.open(QIODevice::ReadOnly),
        qPrintable(back.errorString() + " in a folder of " +
                   QDir(path("out/sub")).entryList(QDir::AllEntries | QDir::Hidden).join(' ')));
    QVERIFY(back.readAll() == bytes);

    // The window: the entry's stored bytes, unpacked when they are a stream.
    BigArchive opened;
    QCOMPARE(opened.open(archive), BigArchive::Status::Ok);
    const BigEntry *entry = nullptr;
    for (const BigEntry &each : opened.entries)
        entry = each.path == "sub\\f.bin" ? &each : entry;
    QVERIFY(entry);
    QByteArray shown;
    QCOMPARE(opened.readEntry(*entry, shown), EntryRead::Whole);
    QVERIFY(unpackIfCompressed(shown) <= UnpackResult::Unpacked);
    QVERIFY(shown == bytes);

#if defined(VORLAND_HAVE_MOUNT)
    // The mount: the size it shows and the bytes it serves.
    QCOMPARE(servedByMount(opened, "sub", "f.bin"), bytes);
#endif
}

void TestCliRoundTrip::foreignUndecodableEntry()
{
    // An archive made elsewhere, whose entry begins like a stream but is not one.
    const QByteArray stored = QByteArray("\x10\xFB\x00\x00\x08\xE0", 6) + "abcd";
    const QString archive = path("f.big");
    QVERIFY(writeFile(archive, makeBig({{"odd.bin", stored}})));
    const QByteArray warning = "odd.bin written as stored: it looks Refp-compressed but does "
                               "not decode\n";

    const CliRun extracted = runCli({"extract", archive, "-o", path("out")});
    QCOMPARE(extracted.exitCode, 1);
    QVERIFY2(extracted.err.endsWith(warning), extracted.err);
    QCOMPARE(extracted.err.count('\n'), 1);
    QFile back(path("out/odd.bin"));
    QVERIFY(back.open(QIODevice::ReadOnly));
    QCOMPARE(back.readAll(), stored);

    const CliRun raw = runCli({"extract", "--raw", archive, "-o", path("raw")});
    QCOMPARE(raw.exitCode, 0);
    QCOMPARE(raw.err, QByteArray());

    const CliRun cat = runCli({"cat", archive, "odd.bin"});
    QCOMPARE(cat.exitCode, 1);
    QCOMPARE(cat.out, stored);
    QVERIFY(cat.err.contains("looks Refp-compressed but does not decode"));

    // Carried over by an edit as it is stored.
    QCOMPARE(runCli({"rename", archive, "odd.bin", "even.bin"}).exitCode, 0);
    QCOMPARE(runCli({"cat", "--raw", archive, "even.bin"}).out, stored);
}

QTEST_GUILESS_MAIN(TestCliRoundTrip)
#include "tst_cli_roundtrip.moc"
