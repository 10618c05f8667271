#include "basicxmlsyntaxhighlighter.h"

BasicXMLSyntaxHighlighter::BasicXMLSyntaxHighlighter(QObject *parent) : QSyntaxHighlighter(parent)
{
    tagNamePattern = QRegExp(QStringLiteral("<[\\s]*[/]?[\\s]*([^\\n]\\w*)(?=[\\s/>])"));
    attributeNamePattern = QRegExp(QStringLiteral("\\w+(?=\\=)"));
    attributeValuePattern = QRegExp(QStringLiteral("\"[^\\n\"]+\"(?=[\\s/>])"));
    commentPattern = QRegExp(QStringLiteral("<!--[^\\n]*-->"));
    for (const char *delimiter : {"<\\?", "/>", ">", "<", "</", "\\?>"})
        delimiterPatterns << QRegExp(QString::fromLatin1(delimiter));

    delimiterFormat.setForeground(Qt::blue);
    delimiterFormat.setFontWeight(QFont::Bold);
    tagNameFormat.setForeground(Qt::darkMagenta);
    tagNameFormat.setFontWeight(QFont::Bold);
    attributeNameFormat.setForeground(Qt::darkGreen);
    attributeNameFormat.setFontWeight(QFont::Bold);
    attributeNameFormat.setFontItalic(true);
    attributeValueFormat.setForeground(Qt::darkRed);
    commentFormat.setForeground(Qt::gray);
}

BasicXMLSyntaxHighlighter::~BasicXMLSyntaxHighlighter() = default;

void BasicXMLSyntaxHighlighter::highlightBlock(const QString &text)
{
    // Tag names: only the captured name is coloured.
    int index = tagNamePattern.indexIn(text);
    while (index >= 0) {
        const int start = tagNamePattern.pos(1);
        const int length = tagNamePattern.cap(1).length();
        setFormat(start, length, tagNameFormat);
        index = tagNamePattern.indexIn(text, start + length);
    }
    for (QRegExp &delimiter : delimiterPatterns)
        formatMatches(text, delimiter, delimiterFormat);
    formatMatches(text, attributeNamePattern, attributeNameFormat);
    formatMatches(text, commentPattern, commentFormat);
    formatMatches(text, attributeValuePattern, attributeValueFormat);
}

void BasicXMLSyntaxHighlighter::formatMatches(const QString &text, QRegExp &pattern,
                                              const QTextCharFormat &format)
{
    int index = pattern.indexIn(text);
    while (index >= 0) {
        const int length = pattern.matchedLength();
        setFormat(index, length, format);
        index = pattern.indexIn(text, index + qMax(length, 1));
    }
}
