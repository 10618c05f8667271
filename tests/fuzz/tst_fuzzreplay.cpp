// Replays every seed, every input that fuzzing ever found, and the hostile
// corpus through the fuzz targets, so the ordinary test run covers them
// without clang. A target aborts on a broken invariant, which fails this test.

#include "fuzztargets.h"

#include <QDirIterator>
#include <QtTest>

class TestFuzzReplay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void replay_data();
    void replay();
};

void TestFuzzReplay::initTestCase()
{
    fuzzInitialize();
}

void TestFuzzReplay::replay_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("target");
    int count = 0;
    for (int t = 0; t < 6; ++t) {
        const QString name = QString::fromLatin1(fuzzTargets[t].name);
        for (const QString &root :
             {QStringLiteral(VORLAND_SEEDS), QStringLiteral(VORLAND_REGRESSIONS)}) {
            QDirIterator it(root + QLatin1Char('/') + name, QDir::Files);
            while (it.hasNext()) {
                const QString file = it.next();
                QTest::addRow("%s", qPrintable(QDir(root).relativeFilePath(file))) << file << t;
                ++count;
            }
        }
    }
    // The hostile corpus, by extension.
    const QMap<QString, int> byExtension{
        {"refp", 0}, {"big", 1}, {"png", 2}, {"tga", 3}, {"tpi", 4}};
    QDirIterator it(QStringLiteral(VORLAND_HOSTILE), QDir::Files);
    while (it.hasNext()) {
        const QString file = it.next();
        const int target = byExtension.value(QFileInfo(file).suffix(), -1);
        if (target >= 0) {
            QTest::addRow("hostile/%s", qPrintable(QFileInfo(file).fileName())) << file << target;
            ++count;
        }
    }
    if (count < 40)
        qFatal("only %d corpus files found", count);
}

void TestFuzzReplay::replay()
{
    QFETCH(QString, file);
    QFETCH(int, target);
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QCOMPARE(fuzzTargets[target].run(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                     size_t(bytes.size())),
             0);
}

QTEST_GUILESS_MAIN(TestFuzzReplay)
#include "tst_fuzzreplay.moc"
