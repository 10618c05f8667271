// The mount's tree without FUSE: the root listed before the rest is built,
// what it allows itself to unpack, and what a read gives once the archive
// has changed under it.

#include "archivefs.h"
#include "bigarchive.h"
#include "bigbuilder.h"
#include "gfxcorecodec.h"
#include "testdata.h"

#include <QtTest>

#include <cerrno>
#include <thread>

class TestArchiveFs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(GfxCoreCodec::load()); }
    void theRootComesBeforeTheRest();
    void namesBelowTheRootWhileTheTreeIsBuilt();
    void unpackedBytesStayWithinTheCache();
    void aShrunkArchiveReadsAsAnError();

private:
    QTemporaryDir dir;
};

// The root's children as the whole tree has them, before it is built, for
// an archive whose last entry is in the root; a name below it comes once it
// is made.
void TestArchiveFs::theRootComesBeforeTheRest()
{
    const QString path = dir.filePath("root.big");
    QVERIFY(writeFile(path, makeBig({{"data\\a.ini", "x=1"},
                                     {"..\\evil", "no"},
                                     {"a\\b\\c.txt", "deep"},
                                     {"a", "a file named like a folder"},
                                     {"dup", "first"},
                                     {"data\\b.ini", "y=2"},
                                     {"dup", "second"},
                                     {"last.txt", "the last entry"}})));
    BigArchive archive;
    QCOMPARE(archive.open(path), BigArchive::Status::Ok);
    const QStringList expected{"data", "a", "a~1", "dup", "dup~1", "last.txt"};
    auto rootOf = [](const ArchiveFs &fs) {
        QStringList names;
        size_t count = 0;
        const int *children = fs.children(0, count);
        for (size_t i = 0; i < count; ++i)
            names << QString::fromUtf8(fs.name(children[i]));
        return names;
    };

    ArchiveFs later(archive, false, 1 << 20, {}, ArchiveFs::Build::Later);
    QCOMPARE(rootOf(later), expected);
    QVERIFY(later.warnings.isEmpty()); // said by build()
    const int last = later.child(0, "last.txt");
    QVERIFY(later.exists(last) && !later.isFolder(last));
    QCOMPARE(later.storage(last).size, uint64_t(14));
    QVERIFY(later.isFolder(later.child(0, "data")));
    QCOMPARE(later.child(0, "evil"), -1);

    // Built on another thread while this one looks below the root.
    std::thread builder([&] { later.build(); });
    const QStringList during = rootOf(later);
    const uint64_t lastSize = later.storage(later.child(0, "last.txt")).size;
    const int deep = later.child(later.child(later.child(0, "a"), "b"), "c.txt");
    builder.join();
    QCOMPARE(during, expected);
    QCOMPARE(lastSize, uint64_t(14));
    QVERIFY(deep > 0);
    QCOMPARE(later.storage(deep).size, uint64_t(4));

    // The same nodes, names and warnings as one built at once.
    ArchiveFs now(archive, false, 1 << 20);
    QCOMPARE(rootOf(later), expected);
    QCOMPARE(rootOf(now), expected);
    QCOMPARE(later.nodeCount(), now.nodeCount());
    for (const QString &name : expected)
        QCOMPARE(later.child(0, name.toUtf8()), now.child(0, name.toUtf8()));
    QCOMPARE(later.child(later.child(0, "data"), "b.ini"),
             now.child(now.child(0, "data"), "b.ini"));
    QCOMPARE(later.warnings, now.warnings);
    QCOMPARE(now.warnings, (QStringList{"left out ..\\evil: extract would refuse its name",
                                        "a is shown as a~1: its name is taken",
                                        "dup is shown as dup~1: its name is taken"}));
}

// A mount's first readers look below the root while build() adds the
// files: every name, looked up in directory order behind it or ahead of
// it, gives the node, kind and size of the finished tree.
void TestArchiveFs::namesBelowTheRootWhileTheTreeIsBuilt()
{
    QVector<SampleEntry> entries;
    for (int i = 0; i < 20000; ++i) {
        const QByteArray folder =
            "g" + QByteArray::number(i % 7) + "\\s" + QByteArray::number(i % 11);
        entries.append(SampleEntry{folder + "\\f" + QByteArray::number(i / 3) + ".ini",
                                   QByteArray(i % 5, 'x')});
        if (i % 1000 == 0) // a name that extract refuses, and one taken twice
            entries.append(SampleEntry{"g1\\..\\evil" + QByteArray::number(i), "no"});
        if (i % 1000 == 1)
            entries.append(SampleEntry{entries.last().path, "again"});
    }
    entries.append(SampleEntry{"g2\\s3", "a file named like a folder"});
    const QString path = dir.filePath("many.big");
    QVERIFY(writeFile(path, makeBig(entries)));
    BigArchive archive;
    QCOMPARE(archive.open(path), BigArchive::Status::Ok);
    const ArchiveFs now(archive, false, 1 << 20);

    auto lookUp = [](const ArchiveFs &fs, const QByteArray &path) {
        int node = 0;
        for (const QByteArray &name : path.split('\\'))
            node = node < 0 ? -1 : fs.child(node, name.constData());
        return node;
    };
    QStringList wrong;
    for (const bool ahead : {false, true}) {
        ArchiveFs later(archive, false, 1 << 20, {}, ArchiveFs::Build::Later);
        std::thread builder([&] { later.build(); });
        for (int i = 0; i < entries.size(); ++i) {
            const QByteArray &name = entries[ahead ? entries.size() - 1 - i : i].path;
            const int node = lookUp(later, name);
            if (node != lookUp(now, name) ||
                (node >= 0 && (!later.exists(node) || later.isFolder(node) != now.isFolder(node) ||
                               later.storage(node).size != now.storage(node).size)))
                wrong << QString::fromLatin1(name);
        }
        builder.join();
        QCOMPARE(later.warnings, now.warnings);
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.mid(0, 5).join(", ")));
    QVERIFY(lookUp(now, "g2\\s3~1") > 0);
}

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
