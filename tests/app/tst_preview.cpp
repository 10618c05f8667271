// Previews through the main window: which viewer each type gets, what the
// info line says, and what stays when nothing new can be shown.

#include "atomicfile.h"
#include "basicxmlsyntaxhighlighter.h"
#include "bigarchive.h"
#include "bigarchivemodel.h"
#include "bigbuilder.h"
#include "gfxcorecodec.h"
#include "pngdecoder.h"
#include "reportrecorder.h"
#include "vorland.h"

#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QTableView>
#include <QTextEdit>
#include <QtTest>

#include <cstdio>

class TestPreview : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void imagesWriteTheInfoLine();
    void textKeepsTheInfoLine();
    void unpreviewableTypesKeepEverything();
    void fshFilesGoToTheWorkingFolder();
    void compressedEntriesArriveUnpacked();
    void failedImageShowsItsMessageThenTheEmptyLabel();
    void damagedCompressedEntry();
    void deletedArchiveChangesNothing();
    void replacedArchiveIsReadAgain();
    void wholeFileCompressedArchive();
    void onlyAChangeOfFileRowPreviews();
    void entryPastTheEndOfTheFile();
    void labelShowsTheDecodedPixels();
    void fonts();

private:
    // Opens an archive of `entries` in the window and makes row `row` current.
    void open(const QVector<SampleEntry> &entries);
    void select(int row);
    QWidget *shown() const { return window->previewArea->widget(); }
    QString info() const { return window->imageInfoLabel->text(); }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ReportRecorder> recorder;
    std::unique_ptr<Vorland> window;
    QString workingFolder;
};

namespace {

QByteArray redPng(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::red);
    return makePng(image, {2});
}

QByteArray fontBytes(const QString &name)
{
    QFile file(QStringLiteral(VORLAND_FONTS "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void TestPreview::init()
{
    dir = std::make_unique<QTemporaryDir>();
    workingFolder = QDir::currentPath();
    QDir::setCurrent(dir->path());
    recorder = std::make_unique<ReportRecorder>();
    window = std::make_unique<Vorland>();
}

void TestPreview::cleanup()
{
    window.reset();
    recorder.reset();
    QDir::setCurrent(workingFolder);
}

void TestPreview::open(const QVector<SampleEntry> &entries)
{
    const QString path = dir->filePath("a.big");
    QVERIFY(writeFile(path, makeBig(entries)));
    window->openArchiveFile(path);
    QVERIFY(window->archive);
}

void TestPreview::select(int row)
{
    window->tableView->setCurrentIndex(window->model->index(row, 0));
}

void TestPreview::imagesWriteTheInfoLine()
{
    open({{"a.png", redPng(256, 128)},
          {"b.tga", makeTga(10, 24, 3, 2, 0x20, QByteArray("\x85\x01\x02\x03", 4))},
          {"c.tpi", makeTpi(4, 4, {}, false, QByteArray("888\0", 4))}});
    select(0);
    QCOMPARE(info(), QString("256x128 888"));
    auto *label = qobject_cast<QLabel *>(shown());
    QVERIFY(label);
    QCOMPARE(label->size(), QSize(256, 128));
    QCOMPARE(label->minimumSize(), QSize(256, 128));
    QCOMPARE(label->maximumSize(), QSize(256, 128));
    select(1);
    QCOMPARE(info(), QString("3x2 RLE_888"));
    select(2);
    QCOMPARE(info(), QString("4x4 888"));
    QVERIFY(recorder->messages.isEmpty());
}

void TestPreview::textKeepsTheInfoLine()
{
    open({{"a.png", redPng(2, 3)},
          {"b.ini", "[s]\nk=v\n"},
          {"c.csv", "a\tb\n"},
          {"d.xml", "<a x=\"1\"/>"}});
    select(0);
    select(1);
    auto *text = qobject_cast<QPlainTextEdit *>(shown());
    QVERIFY(text);
    QCOMPARE(text->toPlainText(), QString("[s]\nk=v\n"));
    QCOMPARE(text->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(text->font().family(), QString("Courier"));
    QCOMPARE(text->font().pointSize(), 10);
    QVERIFY(text->font().fixedPitch());
    QCOMPARE(info(), QString("2x3 888"));
    select(2);
    QVERIFY(qobject_cast<QPlainTextEdit *>(shown()));
    select(3);
    auto *xml = qobject_cast<QTextEdit *>(shown());
    QVERIFY(xml);
    QVERIFY(xml->findChild<BasicXMLSyntaxHighlighter *>());
    QCOMPARE(xml->toPlainText(), QString("<a x=\"1\"/>"));
    QCOMPARE(info(), QString("2x3 888"));
}

void TestPreview::unpreviewableTypesKeepEverything()
{
    open({{"a.png", redPng(5, 5)}, {"b.bmp", "BM"}, {"c.o", "obj"}, {"d.mp3", "id3"}, {"e", "x"}});
    select(0);
    QWidget *image = shown();
    for (int row = 1; row <= 4; ++row) {
        select(row);
        QCOMPARE(shown(), image);
        QCOMPARE(info(), QString("5x5 888"));
    }
}

void TestPreview::fshFilesGoToTheWorkingFolder()
{
    // A link planted under the name is replaced, and its target kept.
    QVERIFY(writeFile(dir->filePath("target"), "planted"));
    QVERIFY(QFile::link(dir->filePath("target"), dir->filePath("fsh_image.fsh")));
    open({{"a.png", redPng(1, 1)}, {"one.fsh", "first bytes, longer"}, {"two.fsh", "second"}});
    select(0);
    select(1);
    select(2);
    auto *label = qobject_cast<QLabel *>(shown());
    QVERIFY(label && label->pixmap(Qt::ReturnByValue).isNull() && label->text().isEmpty());
    QFile out(dir->filePath("fsh_image.fsh"));
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(out.readAll(), QByteArray("second"));
    QCOMPARE(info(), QString("1x1 888"));
    QVERIFY(!QFileInfo(out.fileName()).isSymLink());
    QFile target(dir->filePath("target"));
    QVERIFY(target.open(QIODevice::ReadOnly));
    QCOMPARE(target.readAll(), QByteArray("planted"));
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

void TestPreview::compressedEntriesArriveUnpacked()
{
    const QByteArray text = "[packed]\n" + QByteArray("value=1234567890\n").repeated(50);
    open({{"p.ini", text, true}, {"p.png", redPng(7, 9), true}, {"p.fsh", "fsh bytes", true}});
    select(0);
    QCOMPARE(qobject_cast<QPlainTextEdit *>(shown())->toPlainText(), QString::fromLatin1(text));
    select(1);
    QCOMPARE(info(), QString("7x9 888"));
    select(2);
    QFile out(dir->filePath("fsh_image.fsh"));
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(out.readAll(), QByteArray("fsh bytes"));
}

void TestPreview::failedImageShowsItsMessageThenTheEmptyLabel()
{
    open({{"good.png", redPng(4, 4)}, {"bad.png", "not a png at all"}});
    select(0);
    select(1);
    QCOMPARE(recorder->messages, QStringList{"Not a PNG file!"});
    auto *label = qobject_cast<QLabel *>(shown());
    QVERIFY(label);
    QVERIFY(label->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(label->size(), QSize(0, 0));
    QCOMPARE(info(), QString("0x0 8888"));
}

void TestPreview::damagedCompressedEntry()
{
    // Bytes that begin like a Refp stream but do not decode are shown as
    // they are stored, after one message.
    const QByteArray stored = QByteArray("\x10\xFB\x00\x00\x08", 5) + "[s]\nk=1\n";
    open({{"a.png", redPng(3, 3)}, {"b.ini", stored}});
    select(0);
    select(1);
    QCOMPARE(recorder->messages,
             QStringList{"b.ini looks Refp-compressed but does not decode; its stored bytes "
                         "are shown."});
    auto *text = qobject_cast<QPlainTextEdit *>(shown());
    QVERIFY(text);
    QVERIFY(text->toPlainText().endsWith("[s]\nk=1\n"));
}

void TestPreview::deletedArchiveChangesNothing()
{
#if defined(Q_OS_WIN)
    QSKIP("a deleted file that the window holds open keeps its name until it is closed");
#endif
    open({{"a.png", redPng(3, 3)}, {"b.ini", "x=1"}});
    select(0);
    QWidget *image = shown();
    QVERIFY(QFile::remove(dir->filePath("a.big")));
    select(1);
    QCOMPARE(shown(), image);
    QCOMPARE(info(), QString("3x3 888"));
    QVERIFY(recorder->messages.isEmpty());
}

void TestPreview::replacedArchiveIsReadAgain()
{
    open({{"dir\\a.ini", "a=old"}, {"dir\\b.ini", "b=old"}});
    window->enterFolder(window->model->index(0, 0));
    select(0);
    // Another program puts a new archive in its place, its entries elsewhere.
    const QByteArray replacement = makeBig({{"lead.bin", QByteArray(5000, 'z')},
                                            {"dir\\a.ini", "a=new"},
                                            {"dir\\b.ini", "b=new, longer"},
                                            {"other\\c.ini", "c"}});
    QString problem;
    QVERIFY2(writeFileAtomically(dir->filePath("a.big"), replacement.constData(),
                                 size_t(replacement.size()), problem),
             qPrintable(problem));
    select(1);
    auto *text = qobject_cast<QPlainTextEdit *>(shown());
    QVERIFY(text);
    QCOMPARE(text->toPlainText(), QString("b=new, longer"));
    QCOMPARE(window->pathEdit->text(), QString(":\\dir\\"));
    QCOMPARE(window->fileCountLabel->text(), QString("Number of files: 4"));
    QVERIFY(recorder->messages.isEmpty());
}

void TestPreview::wholeFileCompressedArchive()
{
    const QString path = dir->filePath("packed.big");
    QVERIFY(writeFile(path, refpCompress(makeBig({{"a.ini", "inside=yes"}, {"b.ini", ""}}))));
    window->openArchiveFile(path);
    select(0);
    auto *editor = qobject_cast<QPlainTextEdit *>(shown());
    QVERIFY(editor);
    QCOMPARE(editor->toPlainText(), QString("inside=yes"));
    // The entries come from the kept image, but only while the archive
    // file is there to be opened, as for any archive.
#if defined(Q_OS_WIN)
    QSKIP("a deleted file that the window holds open keeps its name until it is closed");
#endif
    QVERIFY(QFile::remove(path));
    select(1);
    QCOMPARE(shown(), editor);
}

void TestPreview::onlyAChangeOfFileRowPreviews()
{
    open({{"dir\\x.ini", "in dir"}, {"a.png", redPng(2, 2)}, {"b.png", redPng(6, 6)}});
    select(0); // a folder row: nothing
    QCOMPARE(shown(), nullptr);
    select(1);
    QWidget *first = shown();
    // The same row again, another cell of it: no new preview.
    window->tableView->setCurrentIndex(window->model->index(1, 2));
    QCOMPARE(shown(), first);
    // Entering and leaving a folder clears the current row without a preview.
    window->enterFolder(window->model->index(0, 0));
    window->goUp();
    QCOMPARE(shown(), first);
    QCOMPARE(info(), QString("2x2 888"));
    select(2);
    QCOMPARE(info(), QString("6x6 888"));
}

void TestPreview::entryPastTheEndOfTheFile()
{
    // Entries that claim more than the file holds show the bytes that exist,
    // whether they reach a little or far past the end.
    const QByteArray text = "abc";
    QByteArray bytes = bigHeader(3) + bigRecord(0, 0, "a.png") + bigRecord(0, 0, "b.ini") +
                       bigRecord(0, 0, "c.ini");
    const qint32 dataAt = bytes.size();
    bytes = bigHeader(3) + bigRecord(0, 0, "a.png") + bigRecord(dataAt, 6, "b.ini") +
            bigRecord(0, 1 << 30, "c.ini") + text;
    QVERIFY(writeFile(dir->filePath("odd.big"), bytes));
    window->openArchiveFile(dir->filePath("odd.big"));
    select(1);
    auto *editor = qobject_cast<QPlainTextEdit *>(shown());
    QVERIFY(editor);
    QCOMPARE(editor->toPlainText(), QString("abc"));
    select(2);
    editor = qobject_cast<QPlainTextEdit *>(shown());
    QVERIFY(editor);
    QCOMPARE(editor->toPlainText(), QString::fromLatin1(bytes.constData(), bytes.size()));
    QVERIFY(recorder->messages.isEmpty());
}

void TestPreview::labelShowsTheDecodedPixels()
{
    QImage image(5, 3, QImage::Format_ARGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            image.setPixel(x, y, qRgba(x * 50, y * 100, 200, 255));
    const QByteArray png = makePng(image, {6});
    open({{"p.png", png}});
    select(0);
    auto *label = qobject_cast<QLabel *>(shown());
    QVERIFY(label);
    PngDecoder decoder;
    QVERIFY(decoder.load(reinterpret_cast<const uchar *>(png.constData()), quint32(png.size())));
    const QImage shownPixels =
        label->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(shownPixels, decoder.toImage());
    QCOMPARE(shownPixels, image);
}

void TestPreview::fonts()
{
    const QByteArray sans = fontBytes("DejaVuSans.ttf");
    const QByteArray serif = fontBytes("DejaVuSerif.ttf");
    QVERIFY2(!sans.isEmpty() && !serif.isEmpty(), "the DejaVu fonts are not installed");
    open({{"a.ttf", sans},
          {"b.png", redPng(1, 1)},
          {"c.ttf", serif, true},
          {"d.ttf", "not a font"}});
    select(0);
    const int first = window->fontId;
    QVERIFY(first != -1);
    QCOMPARE(QFontDatabase::applicationFontFamilies(first), QStringList{"DejaVu Sans"});
    const QList<QLabel *> labels = shown()->findChildren<QLabel *>();
    QCOMPARE(labels.size(), 2);
    QCOMPARE(labels[0]->text(), QString("DejaVu Sans"));
    QCOMPARE(labels[0]->alignment(), Qt::AlignCenter);
    QCOMPARE(labels[1]->text(),
             QString("ABCDEFGHIJKLMN\nOPQRSTUVWXYZ\nabcdefghijklmn\nopqrstuvwxyz\n1234567890"));
    QCOMPARE(labels[1]->font().pointSize(), 48);
    QCOMPARE(labels[1]->font().family(), QString("DejaVu Sans"));

    // Font A stays registered through an image preview, and goes when font B
    // (here compressed) is previewed.
    select(1);
    QCOMPARE(QFontDatabase::applicationFontFamilies(first), QStringList{"DejaVu Sans"});
    select(2);
    const int second = window->fontId;
    QCOMPARE(QFontDatabase::applicationFontFamilies(second), QStringList{"DejaVu Serif"});
    // Font A is gone (its id may have been given to font B).
    QVERIFY(QFontDatabase::applicationFontFamilies(first) != QStringList{"DejaVu Sans"});
    // Bytes that are not a font: an empty sheet, no message, id -1.
    select(3);
    QVERIFY(shown()->findChildren<QLabel *>().isEmpty());
    QCOMPARE(window->fontId, -1);
    QVERIFY(QFontDatabase::applicationFontFamilies(second).isEmpty());
    QVERIFY(recorder->messages.isEmpty());
}

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
