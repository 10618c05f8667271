#pragma once

#include <QList>
#include <QRegExp>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

// Colours XML markup one line at a time with regular expressions: tag names,
// delimiters, attribute names, one-line comments and attribute values, each
// pass over the whole line, later passes winning where they overlap. It keeps
// no state between lines, so a comment that spans lines is not coloured.
// Only the first kColouredLineLength characters of a line are coloured: on a
// line of markup megabytes long, thousands of coloured runs make Qt's layout
// take seconds.
class BasicXMLSyntaxHighlighter : public QSyntaxHighlighter
{
public:
    static constexpr int kColouredLineLength = 20000;

    // Attaches to the document of `parent` when it is a text editor.
    explicit BasicXMLSyntaxHighlighter(QObject *parent);
    ~BasicXMLSyntaxHighlighter() override;

protected:
    void highlightBlock(const QString &text) override;

public:
    QTextCharFormat delimiterFormat;
    QTextCharFormat tagNameFormat;
    QTextCharFormat attributeNameFormat;
    QTextCharFormat attributeValueFormat;
    QTextCharFormat commentFormat;
    QList<QRegExp> delimiterPatterns;
    QRegExp tagNamePattern;
    QRegExp attributeNamePattern;
    QRegExp attributeValuePattern;
    QRegExp commentPattern;

private:
    void formatMatches(const QString &text, QRegExp &pattern, const QTextCharFormat &format);
};
