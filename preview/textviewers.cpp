#include "textviewers.h"

#include "basicxmlsyntaxhighlighter.h"

#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTextStream>

QString decodeText(const char *data, int size)
{
    QByteArray bytes;
    bytes.setRawData(data, uint(size));
    QTextStream stream(&bytes, QIODevice::ReadOnly);
    return stream.readAll();
}

QString previewText(const char *data, int size)
{
    if (size <= kTextPreviewLimit)
        return decodeText(data, size);
    int shown = kTextPreviewLimit;
    for (int back = 0; back < 3 && (uchar(data[shown]) & 0xC0) == 0x80; ++back)
        --shown;
    return decodeText(data, shown) +
           QStringLiteral("\n[The preview ends here: %1 more bytes are not shown.]")
               .arg(size - shown);
}

QFont viewerFont()
{
    QFont font;
    font.setFamily(QStringLiteral("Courier"));
    font.setStyleHint(QFont::Monospace, QFont::PreferDefault);
    font.setFixedPitch(true);
    font.setPointSize(10);
    return font;
}

QPlainTextEdit *createTextViewer(const char *data, int size)
{
    auto *editor = new QPlainTextEdit(previewText(data, size));
    editor->setFont(viewerFont());
    editor->setLineWrapMode(QPlainTextEdit::NoWrap);
    return editor;
}

QTextEdit *createXmlViewer(const char *data, int size)
{
    auto *editor = new QTextEdit;
    const QFont font = viewerFont();
    editor->setFont(font);
    editor->setLineWrapMode(QTextEdit::NoWrap);
    editor->setTabStopDistance(4 * QFontMetrics(font).horizontalAdvance(QLatin1Char(' ')));
    // Attached before the text arrives, so every line is coloured as it is laid out.
    new BasicXMLSyntaxHighlighter(editor);
    editor->setPlainText(previewText(data, size));
    return editor;
}
