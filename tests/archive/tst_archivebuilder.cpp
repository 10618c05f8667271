// Writing archives: a large file compressed in parts comes back whole, also
// when it is no longer the size it had when it was chosen.

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
    void partedFileComesBack_data();
    void partedFileComesBack();
};

void TestArchiveBuilder::partedFileComesBack_data()
{
    QTest::addColumn<qint64>("chosenSize"); // what the walk saw, against 12 MiB now
    QTest::addColumn<bool>("compressed");
    const qint64 now = 12 << 20;
    QTest::newRow("unchanged") << now << true;
    QTest::newRow("grown since") << now - (3 << 20) << false;
    QTest::newRow("shrunk since") << now + (3 << 20) << false;
}

void TestArchiveBuilder::partedFileComesBack()
{
    QFETCH(qint64, chosenSize);
    QFETCH(bool, compressed);
    QTemporaryDir dir;
    const QByteArray bytes = testdata::text(12 << 20, 24);
    QVERIFY(writeFile(dir.filePath("f"), bytes));
    ArchiveBuilder builder;
    builder.level = 1;
    builder.entries.push_back({"f", dir.filePath("f"), nullptr, true, quint64(chosenSize)});
    QString problem;
    QVERIFY2(builder.write(dir.filePath("a.big"), problem), qPrintable(problem));

    BigArchive archive;
    QCOMPARE(archive.open(dir.filePath("a.big")), BigArchive::Status::Ok);
    QCOMPARE(archive.entries.size(), size_t(1));
    QByteArray back;
    QCOMPARE(archive.readEntry(archive.entries[0], back), EntryRead::Whole);
    QCOMPARE(back.size() < bytes.size(), compressed);
    QVERIFY(unpackIfCompressed(back) <= UnpackResult::Unpacked);
    QVERIFY(back == bytes);
}

QTEST_GUILESS_MAIN(TestArchiveBuilder)
#include "tst_archivebuilder.moc"
