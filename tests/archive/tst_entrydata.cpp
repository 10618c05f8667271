// Sending an entry on: when the archive is cut short while it is read, the
// result says how many stored bytes really came, whichever way the entry
// was read.

#include "bigbuilder.h"
#include "entrydata.h"
#include "gfxcorecodec.h"
#include "testdata.h"

#include <QtTest>

class TestEntryData : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(GfxCoreCodec::load()); }
    void cleanupTestCase() { GfxCoreCodec::unload(); }
    void archiveCutShortWhileRead_data();
    void archiveCutShortWhileRead();
};

void TestEntryData::archiveCutShortWhileRead_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("raw");
    QTest::addColumn<int>("kind");
    const int truncated = EntryResult::Truncated, undecodable = EntryResult::Undecodable;
    QTest::newRow("small, stored") << testdata::randomBytes(5028, 2) << false << truncated;
    QTest::newRow("small, as stored") << testdata::randomBytes(5028, 2) << true << truncated;
    QTest::newRow("large, stored") << testdata::randomBytes(3 << 20, 3) << false << truncated;
    // A stream cut short does not decode: it is sent as the bytes there are.
    QTest::newRow("compressed") << refpCompress(testdata::randomBytes(6000, 4)) << false
                                << undecodable;
}

void TestEntryData::archiveCutShortWhileRead()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, raw);
    QFETCH(int, kind);
    QTemporaryDir dir;
    const QString name = dir.filePath("a.big");
    const QByteArray bytes = makeBig({{"e", data}});
    QVERIFY(writeFile(name, bytes));
    BigArchive archive;
    QCOMPARE(archive.open(name), BigArchive::Status::Ok);
    const BigEntry &entry = archive.entries.at(0);
    const quint64 kept = 1106;
    QVERIFY(QFile::resize(name, qint64(quint32(entry.offset) + kept)));

    QByteArray sent;
    const EntryResult result = sendEntry(archive, entry, raw, [&](const char *p, size_t n) {
        sent.append(p, int(n));
        return true;
    });
    QCOMPARE(int(result.kind), kind);
    QCOMPARE(sent, data.left(int(kept)));
    QCOMPARE(result.present, kept);
    const QString said = describeEntryResult(result, entry);
    QVERIFY2(said.contains(QStringLiteral("1106 of ")) &&
                 said.contains(QString::number(data.size())),
             qPrintable(said));
}

QTEST_GUILESS_MAIN(TestEntryData)
#include "tst_entrydata.moc"
