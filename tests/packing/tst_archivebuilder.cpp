// Writing archives: a file comes back as it was read, whole or compressed in
// parts, also when it is no longer the size it had when it was chosen.

#include "archivebuilder.h"
#include "bigbuilder.h"
#include "entrydata.h"
#include "gfxcorecodec.h"
#include "testdata.h"

#include <QtTest>

class TestArchiveBuilder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(GfxCoreCodec::load()); }
    void cleanupTestCase() { GfxCoreCodec::unload(); }
    void changedFileComesBack_data();
    void changedFileComesBack();
    void replacesOnlyWhatItRead_data();
    void replacesOnlyWhatItRead();
};

void TestArchiveBuilder::changedFileComesBack_data()
{
    QTest::addColumn<qint64>("chosenSize"); // what the walk saw, against 12 MiB now
    QTest::addColumn<bool>("compress");
    QTest::addColumn<bool>("compressed");
    const qint64 now = 12 << 20;
    QTest::newRow("in parts, unchanged") << now << true << true;
    QTest::newRow("in parts, grown since") << now - (3 << 20) << true << false;
    QTest::newRow("in parts, shrunk since") << now + (3 << 20) << true << false;
    QTest::newRow("whole, grown since") << qint64(1000) << true << true;
    QTest::newRow("stored, grown since") << qint64(1000) << false << false;
    QTest::newRow("stored, shrunk since") << now + 5 << false << false;
}

void TestArchiveBuilder::changedFileComesBack()
{
    // No more than the size chosen is read, whatever the file grew to, and
    // a file that is not that size any more is named.
    QFETCH(qint64, chosenSize);
    QFETCH(bool, compress);
    QFETCH(bool, compressed);
    QTemporaryDir dir;
    const QByteArray bytes = testdata::text(12 << 20, 24);
    QVERIFY(writeFile(dir.filePath("f"), bytes));
    ArchiveBuilder builder;
    builder.level = 1;
    builder.entries.push_back({"f", dir.filePath("f"), nullptr, compress, quint64(chosenSize)});
    QString problem;
    QVERIFY2(builder.write(dir.filePath("a.big"), problem), qPrintable(problem));
    QCOMPARE(builder.changed,
             chosenSize == bytes.size() ? QStringList() : QStringList{dir.filePath("f")});

    BigArchive archive;
    QCOMPARE(archive.open(dir.filePath("a.big")), BigArchive::Status::Ok);
    QCOMPARE(archive.entries.size(), size_t(1));
    QByteArray back;
    QCOMPARE(archive.readEntry(archive.entries[0], back), EntryRead::Whole);
    QCOMPARE(back.size() < qMin<qint64>(chosenSize, bytes.size()), compressed);
    QVERIFY(unpackIfCompressed(back) <= UnpackResult::Unpacked);
    QVERIFY(back == bytes.left(int(chosenSize)));
}

void TestArchiveBuilder::replacesOnlyWhatItRead_data()
{
    QTest::addColumn<int>("change"); // to the archive after it was read
    QTest::addColumn<bool>("wholeFile");
    for (bool whole : {false, true}) {
        QTest::addRow("unchanged%s", whole ? ", compressed whole" : "") << 0 << whole;
        QTest::addRow("another renamed over it%s", whole ? ", compressed whole" : "") << 1 << whole;
        QTest::addRow("written in place%s", whole ? ", compressed whole" : "") << 2 << whole;
    }
}

void TestArchiveBuilder::replacesOnlyWhatItRead()
{
    QFETCH(int, change);
    QFETCH(bool, wholeFile);
    QTemporaryDir dir;
    const QString path = dir.filePath("a.big");
    QVERIFY(writeFile(path, makeBig({{"old", "was read"}})));
    auto archive = std::make_unique<BigArchive>();
    QCOMPARE(archive->open(path), BigArchive::Status::Ok);
    const QByteArray theirs = makeBig({{"theirs", "written meanwhile"}});
    if (change == 1) {
        QVERIFY(writeFile(dir.filePath("t.big"), theirs));
        QVERIFY(renameOver(dir.filePath("t.big"), path));
    } else if (change == 2) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(theirs) == theirs.size());
    }
    ArchiveBuilder builder;
    builder.source = archive.get();
    builder.wholeFile = wholeFile;
    builder.replaces = archive->file();
    builder.entries.push_back({"new", QString(), &archive->entries[0], false, 0});
    QString problem;
    QCOMPARE(builder.write(path, problem), change == 0);
    // What the edit replaced goes once nothing holds it open (on Windows,
    // its name stays till then).
    archive.reset();
    BigArchive after;
    QCOMPARE(after.open(path), BigArchive::Status::Ok);
    QCOMPARE(after.entries.at(0).path, change == 0 ? QByteArray("new") : QByteArray("theirs"));
    if (change != 0)
        QVERIFY2(problem.endsWith("was changed by another program meanwhile; nothing was written"),
                 qPrintable(problem));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.big"});
}

QTEST_GUILESS_MAIN(TestArchiveBuilder)
#include "tst_archivebuilder.moc"
