// Opening archives through the main window, as the user sees it: title,
// file count, path field, table, and what survives a failed open.

#include "bigarchive.h"
#include "bigarchivemodel.h"
#include "bigbuilder.h"
#include "reportrecorder.h"
#include "vorland.h"

#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QtTest>

class TestOpenArchive : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void opensAndShowsTheRoot();
    void emptyArchive();
    void wholeFileCompressed();
    void failuresLeaveTheOpenArchive_data();
    void failuresLeaveTheOpenArchive();
    void unreadableFileIsSilent();
    void secondOpenReplacesTheFirst();
    void currentRowSurvivesAnOpen();

private:
    QStringList rows() const;
    QString file(const QString &name, const QByteArray &bytes);
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ReportRecorder> recorder;
    std::unique_ptr<Vorland> window;
};

void TestOpenArchive::init()
{
    dir = std::make_unique<QTemporaryDir>();
    recorder = std::make_unique<ReportRecorder>();
    window = std::make_unique<Vorland>();
}

void TestOpenArchive::cleanup()
{
    window.reset();
    recorder.reset();
}

QString TestOpenArchive::file(const QString &name, const QByteArray &bytes)
{
    const QString path = dir->filePath(name);
    if (!writeFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QStringList TestOpenArchive::rows() const
{
    QStringList names;
    for (int row = 0; row < window->model->rowCount(); ++row)
        names << window->model->data(window->model->index(row, 0)).toString();
    return names;
}

void TestOpenArchive::opensAndShowsTheRoot()
{
    const QString path = file("english.big", makeBig({{"data\\art\\a.tga", "1"},
                                                      {"data\\b.ini", "2"},
                                                      {"readme", "3"},
                                                      {"Data\\c.xml", "4"}}));
    window->openArchiveFile(path);
    QVERIFY(recorder->messages.isEmpty());
    QCOMPARE(window->windowTitle(), QString("Vorland - english.big"));
    QCOMPARE(window->fileCountLabel->text(), QString("Number of files: 4"));
    QCOMPARE(window->pathEdit->text(), QString(":\\"));
    QCOMPARE(window->archivePath, path);
    QCOMPARE(rows(), (QStringList{"data", "Data", "readme"}));
    QCOMPARE(window->model->currentFolder, &window->model->rootFolder);

    window->enterFolder(window->model->index(0, 0));
    QCOMPARE(rows(), (QStringList{"art", "b.ini"}));
    QCOMPARE(window->pathEdit->text(), QString(":\\data\\"));
}

void TestOpenArchive::emptyArchive()
{
    window->openArchiveFile(file("empty.big", bigHeader(0, 16, 16)));
    QCOMPARE(window->fileCountLabel->text(), QString("Number of files: 0"));
    QCOMPARE(window->model->rowCount(), 0);
    QCOMPARE(window->windowTitle(), QString("Vorland - empty.big"));
}

void TestOpenArchive::wholeFileCompressed()
{
    window->openArchiveFile(file("packed.big", refpCompress(makeBig({{"x\\y.png", "p"}}))));
    QVERIFY(recorder->messages.isEmpty());
    QCOMPARE(rows(), QStringList{"x"});
    QVERIFY(window->archive && window->archive->compressed);
    // The count comes from the header, even when the directory is cut short.
    window->openArchiveFile(file("short.big", bigHeader(7) + bigRecord(0, 0, "only")));
    QCOMPARE(window->fileCountLabel->text(), QString("Number of files: 7"));
    QCOMPARE(rows(), QStringList{"only"});
}

void TestOpenArchive::failuresLeaveTheOpenArchive_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    const QString notBig = "Not a proper BIG file. 'BIGF' signature missed.";
    QTest::newRow("empty file") << QByteArray() << notBig;
    QTest::newRow("three bytes") << QByteArray("BIG") << notBig;
    QTest::newRow("wrong signature") << bigHeader(0, 0, 0, "FGIB") << notBig;
    QTest::newRow("damaged whole-file stream")
        << refpCompress(makeBig({{"z", "9"}})).chopped(2)
        << "The archive is compressed, but its data is damaged and cannot be unpacked.";
}

void TestOpenArchive::failuresLeaveTheOpenArchive()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    const QString first = file("first.big", makeBig({{"a\\b", "1"}, {"c", "2"}}));
    window->openArchiveFile(first);
    window->enterFolder(window->model->index(0, 0));

    window->openArchiveFile(file("second.big", bytes));
    QCOMPARE(recorder->messages, QStringList{message});
    QCOMPARE(window->windowTitle(), QString("Vorland - first.big"));
    QCOMPARE(window->fileCountLabel->text(), QString("Number of files: 2"));
    QCOMPARE(window->pathEdit->text(), QString(":\\a\\"));
    QCOMPARE(window->archivePath, first);
    QCOMPARE(rows(), QStringList{"b"});
    window->goUp();
    QCOMPARE(rows(), (QStringList{"a", "c"}));
}

void TestOpenArchive::unreadableFileIsSilent()
{
    window->openArchiveFile(file("first.big", makeBig({{"a", "1"}})));
    window->openArchiveFile(dir->filePath("does-not-exist.big"));
    window->openArchiveFile(dir->path()); // a folder
    QVERIFY(recorder->messages.isEmpty());
    QCOMPARE(window->windowTitle(), QString("Vorland - first.big"));
    QCOMPARE(rows(), QStringList{"a"});
}

void TestOpenArchive::secondOpenReplacesTheFirst()
{
    window->openArchiveFile(file("one.big", makeBig({{"d1\\x", "1"}, {"f1", "2"}})));
    window->enterFolder(window->model->index(0, 0));
    window->openArchiveFile(file("two.big", makeBig({{"f2", "3"}})));
    QCOMPARE(window->model->currentFolder, &window->model->rootFolder);
    QCOMPARE(window->pathEdit->text(), QString(":\\"));
    QCOMPARE(rows(), QStringList{"f2"});
    QCOMPARE(window->fileCountLabel->text(), QString("Number of files: 1"));
    QCOMPARE(window->windowTitle(), QString("Vorland - two.big"));
}

void TestOpenArchive::currentRowSurvivesAnOpen()
{
    QSignalSpy current(window->tableView->selectionModel(),
                       &QItemSelectionModel::currentRowChanged);
    window->openArchiveFile(file("one.big", makeBig({{"a", "1"}, {"b", "2"}, {"c", "3"}})));
    window->tableView->setCurrentIndex(window->model->index(1, 0));
    QCOMPARE(current.count(), 1);
    window->openArchiveFile(file("two.big", makeBig({{"x", "1"}, {"y", "2"}})));
    // The selection is left alone: row 1 stays current, and no signal came.
    QCOMPARE(window->tableView->currentIndex().row(), 1);
    QCOMPARE(current.count(), 1);
}

QTEST_MAIN(TestOpenArchive)
#include "tst_openarchive.moc"
