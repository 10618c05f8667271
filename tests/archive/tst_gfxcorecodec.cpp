// GfxCoreCodec: loading the library by name, and what it answers when the
// library is there and when it is not.

#include "gfxcorecodec.h"
#include "reportrecorder.h"
#include "testdata.h"

#include <QtTest>

#include <vector>

class TestGfxCoreCodec : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void roundTripWhenLoaded();
    void failedLoad_data();
    void failedLoad();
    void unloadIsHarmless();

private:
    QString defaultName;
};

namespace {

// A small valid stream for the input "xyxyxy".
const QByteArray sampleStream("\x10\xFB\x00\x00\x06"
                              "\x80\x80\x01"
                              "xy"
                              "\xFC",
                              11);

} // namespace

void TestGfxCoreCodec::init()
{
    defaultName = GfxCoreCodec::libraryName();
}

void TestGfxCoreCodec::cleanup()
{
    GfxCoreCodec::unload();
    GfxCoreCodec::setLibraryName(defaultName);
}

void TestGfxCoreCodec::roundTripWhenLoaded()
{
    ReportRecorder recorder;
    QVERIFY(GfxCoreCodec::load());
    QVERIFY(GfxCoreCodec::isLoaded());
    QVERIFY(recorder.messages.isEmpty());
    // Loading again keeps the library and says nothing.
    QVERIFY(GfxCoreCodec::load());
    QVERIFY(recorder.messages.isEmpty());

    QCOMPARE(GfxCoreCodec::unpackedSize(sampleStream.constData(), size_t(sampleStream.size())), 6u);
    QVERIFY(GfxCoreCodec::isCompressed(sampleStream.constData(), size_t(sampleStream.size())));
    QCOMPARE(GfxCoreCodec::unpackedSize("BIGF\0\0\0\0", 8), 0u);
    QVERIFY(!GfxCoreCodec::isCompressed("BIGF\0\0\0\0", 8));

    char out[6];
    QVERIFY(GfxCoreCodec::unpack(sampleStream.constData(), size_t(sampleStream.size()), out, 6));
    QCOMPARE(QByteArray(out, 6), QByteArray("xyxyxy"));
    QVERIFY(
        !GfxCoreCodec::unpack(sampleStream.constData(), size_t(sampleStream.size()) - 1, out, 6));

    const QByteArray input = testdata::text(100000);
    std::vector<char> stream(GfxCoreCodec::compressBound(size_t(input.size())));
    const size_t length = GfxCoreCodec::compress(input.constData(), size_t(input.size()),
                                                 stream.data(), stream.size());
    QVERIFY(length > 0 && length < size_t(input.size()));
    QCOMPARE(GfxCoreCodec::unpackedSize(stream.data(), length), uint32_t(input.size()));
    std::vector<char> back(size_t(input.size()));
    QVERIFY(GfxCoreCodec::unpack(stream.data(), length, back.data(), back.size()));
    QVERIFY(QByteArray(back.data(), int(back.size())) == input);
}

void TestGfxCoreCodec::failedLoad_data()
{
    QTest::addColumn<QString>("library");
    QTest::newRow("library missing") << QStringLiteral("libNoSuchGfxCore.so");
    QTest::newRow("functions missing") << QStringLiteral("libIncompleteGfxCore.so");
}

void TestGfxCoreCodec::failedLoad()
{
    QFETCH(QString, library);
    GfxCoreCodec::setLibraryName(library);
    ReportRecorder recorder;
    QVERIFY(!GfxCoreCodec::load());
    QVERIFY(!GfxCoreCodec::isLoaded());
    QCOMPARE(recorder.messages, QStringList{QStringLiteral("Initialisation error: GfxCore.dll")});

    // Without the library every block counts as plain and nothing unpacks.
    const char *s = sampleStream.constData();
    const size_t n = size_t(sampleStream.size());
    QCOMPARE(GfxCoreCodec::unpackedSize(s, n), 0u);
    QVERIFY(!GfxCoreCodec::isCompressed(s, n));
    char out[6];
    QVERIFY(!GfxCoreCodec::unpack(s, n, out, 6));
    QCOMPARE(GfxCoreCodec::compressBound(10), size_t(0));
    QCOMPARE(GfxCoreCodec::compress("0123456789", 10, out, 6), size_t(0));
}

void TestGfxCoreCodec::unloadIsHarmless()
{
    ReportRecorder recorder;
    GfxCoreCodec::unload();
    QVERIFY(GfxCoreCodec::load());
    GfxCoreCodec::unload();
    GfxCoreCodec::unload();
    QVERIFY(!GfxCoreCodec::isLoaded());
    QCOMPARE(GfxCoreCodec::unpackedSize(sampleStream.constData(), size_t(sampleStream.size())), 0u);
    // It can be loaded again afterwards.
    QVERIFY(GfxCoreCodec::load());
    QCOMPARE(GfxCoreCodec::unpackedSize(sampleStream.constData(), size_t(sampleStream.size())), 6u);
    QVERIFY(recorder.messages.isEmpty());
}

QTEST_GUILESS_MAIN(TestGfxCoreCodec)
#include "tst_gfxcorecodec.moc"
