// Opens 200 archives in a row, plain and whole-file compressed, previewing
// every entry of each, and checks that memory does not grow with them.

#include "bigarchivemodel.h"
#include "bigbuilder.h"
#include "reportrecorder.h"
#include "vorland.h"

#include <QTableView>
#include <QtTest>

namespace {

// Resident memory in bytes.
qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * 4096 : -1;
}

QByteArray fontBytes()
{
    QFile file(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestStress : public QObject
{
    Q_OBJECT

private slots:
    void manyArchivesDoNotGrowMemory();
};

void TestStress::manyArchivesDoNotGrowMemory()
{
    QTemporaryDir dir;
    const QDir workingFolder = QDir::current();
    QDir::setCurrent(dir.path()); // for fsh_image.fsh
    const QImage picture = patternImage(96, 64, true);
    QByteArray bgra;
    for (int y = 0; y < picture.height(); ++y)
        bgra += QByteArray(reinterpret_cast<const char *>(picture.constScanLine(y)),
                           picture.width() * 4);
    const QVector<SampleEntry> entries{
        {"t\\a.ini", "[s]\nk=v\n"},
        {"t\\b.csv", "a\tb\n1\t2\n"},
        {"t\\c.xml", "<?xml version=\"1.0\"?>\n<a b=\"c\"/>\n"},
        {"t\\d.ini", QByteArray("packed=yes\n").repeated(100), true},
        {"f\\e.ttf", fontBytes()},
        {"i\\f.png", makePng(picture, {6})},
        {"i\\g.tga", makeTga(10, 32, 96, 64, 0, tgaRle(tgaPixels(picture, 32, false), 4))},
        {"i\\h.tpi", makeTpi(96, 64, {{0x7D, 96, 64, bgra}, tpiBlockOf(picture, 0x62)}, true)},
        {"i\\bad.png", "not a png"},
        {"m\\i.fsh", "fsh"},
        {"m\\j.bmp", "BM"},
    };
    const QString plain = dir.filePath("plain.big"), packed = dir.filePath("packed.big");
    QVERIFY(writeFile(plain, makeBig(entries)));
    QVERIFY(writeFile(packed, refpCompress(makeBig(entries))));

    ReportRecorder recorder;
    Vorland window;
    int previews = 0;
    auto openAndPreviewAll = [&](const QString &path) {
        window.openArchiveFile(path);
        const int folders = window.model->rowCount();
        for (int folder = 0; folder < folders; ++folder) {
            window.enterFolder(window.model->index(folder, 0));
            for (int row = 0; row < window.model->rowCount(); ++row) {
                window.tableView->setCurrentIndex(window.model->index(row, 0));
                ++previews;
            }
            window.goUp();
        }
        QCoreApplication::processEvents();
    };

    openAndPreviewAll(plain);
    const qint64 afterFirst = residentBytes();
    for (int i = 1; i < 200; ++i)
        openAndPreviewAll(i % 2 ? packed : plain);
    const qint64 afterLast = residentBytes();

    QDir::setCurrent(workingFolder.path());
    qInfo("resident memory: %lld KiB after the first archive, %lld KiB after the last",
          afterFirst / 1024, afterLast / 1024);
    QCOMPARE(previews, 200 * 11);
    QCOMPARE(recorder.messages.size(), 200); // the bad PNG, once per archive
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer holds freed memory back in its quarantine, so resident
    // memory says nothing here; LeakSanitizer checks for leaks at exit instead.
    QSKIP("resident memory is not comparable under AddressSanitizer");
#endif
    QVERIFY2(afterLast <= afterFirst + afterFirst / 10,
             qPrintable(QString("%1 KiB after the first archive, %2 KiB after the last")
                            .arg(afterFirst / 1024)
                            .arg(afterLast / 1024)));
}

QTEST_MAIN(TestStress)
#include "tst_stress.moc"
