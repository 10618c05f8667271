// Start-up and shutdown: plug-in paths, the icons, and loading GfxCore
// around the main window's life.

#include "gfxcorecodec.h"
#include "reportrecorder.h"
#include "startup.h"
#include "vorland.h"

#include <QApplication>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void pluginPathsEndWithOurFour();
    void icons_data();
    void icons();
    void libraryLivesWithTheWindow();
    void missingLibraryIsToldBeforeTheWindow();
};

void TestStartup::pluginPathsEndWithOurFour()
{
    const QStringList before = QCoreApplication::libraryPaths();
    appendPluginPaths();
    const QStringList after = QCoreApplication::libraryPaths();
    QCOMPARE(after.mid(0, before.size()), before);
    const QString home = QCoreApplication::applicationDirPath();
    QCOMPARE(after.mid(before.size()), (QStringList{home, home + "/imageformats",
                                                    home + "/platforms", home + "/sqldrivers"}));
    for (const QString &path : after)
        QVERIFY2(QDir::isAbsolutePath(path), qPrintable(path));
}

void TestStartup::icons_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("side");
    QTest::addColumn<bool>("paletted");
    QTest::newRow("file") << ":/Vorland/file.png" << 16 << true;
    QTest::newRow("folder") << ":/Vorland/folder.png" << 16 << true;
    QTest::newRow("arrow-up") << ":/Vorland/arrow-up.png" << 32 << false;
}

void TestStartup::icons()
{
    QFETCH(QString, path);
    QFETCH(int, side);
    QFETCH(bool, paletted);
    const QImage image(path);
    QCOMPARE(image.size(), QSize(side, side));
    if (paletted)
        QCOMPARE(image.format(), QImage::Format_Indexed8);
    else
        QVERIFY(image.hasAlphaChannel() && image.format() != QImage::Format_Indexed8);
}

void TestStartup::libraryLivesWithTheWindow()
{
    ReportRecorder recorder;
    {
        Vorland window;
        QVERIFY(GfxCoreCodec::isLoaded());
    }
    QVERIFY(!GfxCoreCodec::isLoaded());
    QVERIFY(recorder.messages.isEmpty());
}

void TestStartup::missingLibraryIsToldBeforeTheWindow()
{
    const QString name = GfxCoreCodec::libraryName();
    GfxCoreCodec::setLibraryName("libNoSuchGfxCore.so");
    // Whether any window was showing when each message came.
    QList<bool> windowShowing;
    const vorland::Reporter previous = vorland::setReporter([&](const QString &message) {
        QCOMPARE(message, QString("Initialisation error: GfxCore.dll"));
        bool showing = false;
        for (QWidget *w : QApplication::topLevelWidgets())
            showing = showing || w->isVisible();
        windowShowing << showing;
    });
    {
        Vorland window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QString("Vorland"));
        QVERIFY(!GfxCoreCodec::isLoaded());
    }
    // Destroying the window after a failed load is harmless.
    QCOMPARE(windowShowing, QList<bool>{false});
    vorland::setReporter(previous);
    GfxCoreCodec::setLibraryName(name);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
