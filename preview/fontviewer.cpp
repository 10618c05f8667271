#include "fontviewer.h"

#include <QFontDatabase>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

QWidget *createFontViewer(const char *data, int size, int &fontId)
{
    auto *sheet = new QWidget;
    auto *layout = new QVBoxLayout;
    layout->setAlignment(Qt::AlignTop);
    sheet->setLayout(layout);

    if (fontId != -1)
        QFontDatabase::removeApplicationFont(fontId);
    fontId = QFontDatabase::addApplicationFontFromData(QByteArray(data, size));

    static const QString sample =
        QStringLiteral("ABCDEFGHIJKLMN\nOPQRSTUVWXYZ\nabcdefghijklmn\nopqrstuvwxyz\n1234567890");
    for (const QString &family : QFontDatabase::applicationFontFamilies(fontId)) {
        auto *name = new QLabel(family);
        name->setAlignment(Qt::AlignCenter);
        layout->addWidget(name);
        auto *text = new QLabel(sample);
        QFont font(family);
        font.setPointSize(48);
        text->setFont(font);
        text->setAlignment(Qt::AlignCenter);
        layout->addWidget(text);
    }
    return sheet;
}
