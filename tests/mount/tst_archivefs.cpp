// The mount's tree without FUSE: what it allows itself to unpack, and what
// a read gives once the archive has changed under it.

#include "archivefs.h"
#include "bigarchive.h"
#include "bigbuilder.h"
#include "gfxcorecodec.h"
#include "testdata.h"

#include <QtTest>

#include <cerrno>

class TestArchiveFs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(GfxCoreCodec::load()); }
    void unpackedBytesStayWithinTheCache();
    void aShrunkArchiveReadsAsAnError();

private:
    QTemporaryDir dir;
};

void TestArchiveFs::unpackedBytesStayWithinTheCache()
{
    // Two entries of 5000 bytes and one of 9000 in a cache of 8000 bytes.
    const QByteArray text = testdata::text(9000);
    const QString path = dir.filePath("c.big");
    QVERIFY(writeFile(path, makeBig({{"a", text.left(5000), true},
                                     {"b", text.right(5000), true},
                                     {"huge", text, true}})));
    BigArchive archive;
    QCOMPARE(archive.open(path), BigArchive::Status::Ok);
    QStringList reported;
    ArchiveFs fs(archive, false, 8000, [&](const QString &line) { reported << line; });
    QVERIFY(fs.warnings.isEmpty());
    // Said once, when the entry is first looked at.
    int error = 0;
    for (int i = 0; i < 2; ++i) {
        QVERIFY(!fs.unpacked(fs.child(0, "huge"), error));
        QCOMPARE(error, EFBIG);
    }
    QCOMPARE(fs.storage(fs.child(0, "huge")).size, uint64_t(9000));
    QCOMPARE(reported.size(), 1);
    QVERIFY(reported[0].startsWith("huge unpacks to 9000 bytes, more than the mount's cache"));

    // An open file keeps its bytes: the next one has no room until it lets go.
    auto a = fs.unpacked(fs.child(0, "a"), error);
    QVERIFY(a);
    QCOMPARE(QByteArray(a->data.get(), int(a->size)), text.left(5000));
    QVERIFY(!fs.unpacked(fs.child(0, "b"), error));
    QCOMPARE(error, ENOMEM);
    a.reset();
    const auto b = fs.unpacked(fs.child(0, "b"), error);
    QVERIFY(b);
    QCOMPARE(QByteArray(b->data.get(), int(b->size)), text.right(5000));

    // The stored copy an entry is unpacked from counts as well: 5000 bytes
    // and their stream do not fit in 5500.
    const quint64 stored = archive.presentBytes(archive.entries[0]);
    QVERIFY(stored > 500 && stored < 3000);
    ArchiveFs tight(archive, false, 5500, [](const QString &) {});
    QVERIFY(!tight.unpacked(tight.child(0, "a"), error));
    QCOMPARE(error, EFBIG);
    ArchiveFs room(archive, false, 5000 + stored, [](const QString &) {});
    QVERIFY(room.unpacked(room.child(0, "a"), error));
}

void TestArchiveFs::aShrunkArchiveReadsAsAnError()
{
    const QString path = dir.filePath("s.big");
    QVERIFY(
        writeFile(path, makeBig({{"x", QByteArray(100000, 'x')}, {"y", QByteArray(100000, 'y')}})));
    BigArchive archive;
    QCOMPARE(archive.open(path), BigArchive::Status::Ok);
    ArchiveFs fs(archive, false);
    QVERIFY(fs.warnings.isEmpty());
    QVERIFY(QFile::resize(path, 50000));
    QByteArray out(100000, '\0');
    for (const char *name : {"x", "y"})
        QCOMPARE(fs.read(fs.child(0, name), nullptr, out.data(), 100000, 0), int64_t(-EIO));
    // An entry already past the end when mounting is shown short, and said so.
    BigArchive reopened;
    QCOMPARE(reopened.open(path), BigArchive::Status::Ok);
    ArchiveFs later(reopened, false);
    QCOMPARE(later.warnings.size(), 2);
    QVERIFY(later.warnings[0].startsWith("x reaches past the end of the archive: only 49964 of "
                                         "its 100000 bytes exist"));
}

QTEST_GUILESS_MAIN(TestArchiveFs)
#include "tst_archivefs.moc"
