// The mount's tree without FUSE: the root listed before the rest is built,
// what it allows itself to unpack, alone and with a cache shared, what a
// read gives once the archive has changed under it, and several archives
// laid over each other.

#include "archivefs.h"
#include "bigarchive.h"
#include "bigbuilder.h"
#include "gfxcorecodec.h"
#include "overlayfs.h"
#include "testdata.h"

#include <QtTest>

#include <cerrno>
#include <functional>
#include <memory>
#include <thread>

using Archives = QVector<QVector<SampleEntry>>;
Q_DECLARE_METATYPE(Archives)

class TestArchiveFs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(GfxCoreCodec::load()); }
    void theRootComesBeforeTheRest();
    void namesBelowTheRootWhileTheTreeIsBuilt();
    void unpackedBytesStayWithinTheCache();
    void aShrunkArchiveReadsAsAnError();
    void overlaid_data();
    void overlaid();

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

    // Trees that share a cache share its bound, and keep their files apart:
    // node 1 of each is "a", with other bytes.
    const QString otherPath = dir.filePath("d.big");
    QVERIFY(writeFile(otherPath, makeBig({{"a", text.mid(1000, 5000), true}})));
    BigArchive other;
    QCOMPARE(other.open(otherPath), BigArchive::Status::Ok);
    const auto shared = std::make_shared<UnpackCache>(8000);
    ArchiveFs one(archive, false, shared), two(other, false, shared);
    auto held = one.unpacked(one.child(0, "a"), error);
    QVERIFY(held);
    QVERIFY(!two.unpacked(two.child(0, "a"), error));
    QCOMPARE(error, ENOMEM);
    held.reset();
    const auto theirs = two.unpacked(two.child(0, "a"), error);
    QVERIFY(theirs);
    QCOMPARE(QByteArray(theirs->data.get(), int(theirs->size)), text.mid(1000, 5000));
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

// Each file of the overlay as "path=bytes@archive", in listing order, then
// each warning.
void TestArchiveFs::overlaid_data()
{
    QTest::addColumn<Archives>("archives");
    QTest::addColumn<bool>("firstWins");
    QTest::addColumn<QStringList>("expected");
    const Archives twoSpellings{{{"data\\ini\\w.ini", "a", true}, {"data\\b.txt", "b"}},
                                {{"DATA\\INI\\W.INI", "b"}, {"Data\\c.txt", "c"}}};
    QTest::newRow("the later wins, case folded")
        << twoSpellings << false
        << QStringList{"data/ini/W.INI=b@1", "data/b.txt=b@0", "data/c.txt=c@1"};
    QTest::newRow("--first-wins") << twoSpellings << true
                                  << QStringList{"data/ini/w.ini=a@0", "data/b.txt=b@0",
                                                 "data/c.txt=c@1"};
    // In directory order, where the tree lists "A" before "a".
    QTest::newRow("within an archive, the first entry")
        << Archives{{{"A\\x", "1"}, {"a\\y", "2"}, {"a\\x", "3"}, {"A\\y", "4"}, {"z", "5"}},
                    {{"Z", "6"}}}
        << false << QStringList{"A/x=1@0", "A/y=2@0", "Z=6@1"};
    QTest::newRow("a folder keeps its name against a file")
        << Archives{{{"readme", "file"}}, {{"README\\note", "n"}}, {{"readme", "later"}}} << false
        << QStringList{"README/note=n@1", "readme~1=later@2",
                       "<0>: readme is shown as readme~1: its name is taken",
                       "<2>: readme is shown as readme~1: its name is taken"};
    QTest::newRow("refused in one archive, fine in another")
        << Archives{{{"data\\x.ini", "fine"}}, {{"data/x.ini", "refused"}, {"..\\y", "no"}}}
        << false
        << QStringList{"data/x.ini=fine@0",
                       "<1>: left out data/x.ini: extract would refuse its name",
                       "<1>: left out ..\\y: extract would refuse its name"};
}

void TestArchiveFs::overlaid()
{
    QFETCH(Archives, archives);
    QFETCH(bool, firstWins);
    QFETCH(QStringList, expected);
    std::vector<std::unique_ptr<BigArchive>> opened;
    std::vector<std::unique_ptr<ArchiveFs>> trees;
    OverlayFs fs(firstWins ? Overlay::Rule::FirstWins : Overlay::Rule::LaterWins);
    const auto cache = std::make_shared<UnpackCache>(1 << 20);
    for (int i = 0; i < archives.size(); ++i) {
        const QString path = dir.filePath(QString("layer%1.big").arg(i));
        QVERIFY(writeFile(path, makeBig(archives[i])));
        opened.push_back(std::make_unique<BigArchive>());
        QCOMPARE(opened.back()->open(path), BigArchive::Status::Ok);
        trees.push_back(std::make_unique<ArchiveFs>(*opened.back(), false, cache));
        fs.add({QString("<%1>").arg(i), opened.back().get(), trees.back().get()});
    }
    fs.finish();

    QStringList got;
    std::function<void(int, const QString &)> walk = [&](int folder, const QString &prefix) {
        size_t count = 0;
        const int *children = fs.children(folder, count);
        for (size_t i = 0; i < count; ++i) {
            const int node = children[i];
            const QString path = prefix + QString::fromUtf8(fs.name(node));
            QCOMPARE(fs.child(folder, fs.name(node)), node);
            QCOMPARE(fs.parent(node), folder);
            if (fs.isFolder(node)) {
                walk(node, path + "/");
                continue;
            }
            int error = 0;
            const auto bytes = fs.storage(node).compressed ? fs.unpacked(node, error) : nullptr;
            QByteArray read(int(fs.storage(node).size), '\0');
            QCOMPARE(fs.read(node, bytes.get(), read.data(), uint64_t(read.size()), 0),
                     int64_t(read.size()));
            got << QString("%1=%2@%3").arg(path, QString::fromLatin1(read)).arg(fs.source(node));
        }
    };
    walk(0, QString());
    QCOMPARE(fs.child(0, "no such name"), -1);
    QCOMPARE(got + fs.warnings, expected);
}

QTEST_GUILESS_MAIN(TestArchiveFs)
#include "tst_archivefs.moc"
