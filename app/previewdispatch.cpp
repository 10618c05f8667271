// Previewing the file of the current row: read its bytes, unpack them, and
// put the viewer its type calls for into the preview area.

#include "vorland.h"

#include "archivefolder.h"
#include "atomicfile.h"
#include "bigarchive.h"
#include "bigarchivemodel.h"
#include "entrydata.h"
#include "fontviewer.h"
#include "heldfile.h"
#include "pngdecoder.h"
#include "report.h"
#include "textviewers.h"
#include "tgadecoder.h"
#include "tpidecoder.h"

#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QTextEdit>

namespace {

// The image branch, the same for every decoder: the label goes in first, so
// the previous viewer is gone before decoding starts; a failed load has
// already told the user, and what the decoder reports is shown regardless.
template <typename Decoder> void showImage(Vorland &window, const QByteArray &bytes)
{
    auto *label = new QLabel;
    window.previewArea->setWidget(label);
    Decoder decoder;
    decoder.load(reinterpret_cast<const uchar *>(bytes.constData()), quint32(bytes.size()));
    const QPixmap pixmap = decoder.toPixmap();
    label->setFixedSize(pixmap.size());
    label->setPixmap(pixmap);
    window.imageInfoLabel->setText(QStringLiteral("%1x%2 %3")
                                       .arg(quint32(decoder.width()))
                                       .arg(quint32(decoder.height()))
                                       .arg(decoder.formatName()));
}

} // namespace

void Vorland::onCurrentRowChanged(const QModelIndex &current, const QModelIndex &)
{
    const int folderRows = model->currentFolder->folders.size();
    if (!current.isValid() || current.row() < folderRows)
        return;
    const int file = current.row() - folderRows;
    if (file < model->currentFolder->files.size())
        previewFile(model->currentFolder->files.at(file));
}

void Vorland::previewFile(ArchiveFile *file)
{
    // Event handlers must not throw: a buffer that does not fit in memory
    // ends this preview with a message and leaves the window as it was.
    const QString name = file->name; // a changed archive's new tree replaces `file`
    try {
        showPreview(file);
    } catch (const std::bad_alloc &) {
        vorland::report(QStringLiteral("Not enough memory to preview %1.").arg(name));
    }
}

void Vorland::showPreview(ArchiveFile *file)
{
    // The bytes come from the archive file (or from the kept image of a
    // whole-file compressed archive). An archive that can no longer be read
    // leaves the preview as it is; an entry that reaches past the end of the
    // archive shows the bytes that exist.
    QByteArray bytes;
    if (!archive)
        return;
    // Entries are read from the file whose directory the table shows. When
    // another program replaced or rewrote the archive, its directory is
    // read again first; an archive that is gone changes nothing.
    if (!archive->file()->isNamedBy(archivePath)) {
        const QString name = file->name; // `file` goes with the old tree
        if (QFileInfo::exists(archivePath))
            reloadChangedArchive(name);
        return;
    }
    switch (archive->readEntry(quint32(file->offset), quint32(file->size), bytes)) {
    case EntryRead::Whole:
    case EntryRead::Truncated: break;
    case EntryRead::Unreadable:
    case EntryRead::Stopped: return;
    case EntryRead::TooLarge:
        vorland::report(QStringLiteral("%1 is too large to preview (%2 bytes).")
                            .arg(file->name)
                            .arg(quint32(file->size)));
        return;
    case EntryRead::NoMemory:
        vorland::report(QStringLiteral("Not enough memory to read %1 (%2 bytes).")
                            .arg(file->name)
                            .arg(quint32(file->size)));
        return;
    }
    switch (unpackIfCompressed(bytes)) {
    case UnpackResult::Plain:
    case UnpackResult::Unpacked: break;
    case UnpackResult::Undecodable:
        // Most likely a stored file whose first bytes happen to read as a
        // Refp header: shown as stored, after saying so.
        vorland::report(QStringLiteral("%1 %2; its stored bytes are shown.")
                            .arg(file->name, undecodableText()));
        break;
    case UnpackResult::TooLarge:
        vorland::report(
            QStringLiteral("%1 unpacks to more than 2 GiB, too much to preview.").arg(file->name));
        return;
    case UnpackResult::NoMemory:
        vorland::report(QStringLiteral("Not enough memory to unpack %1.").arg(file->name));
        return;
    }

    switch (file->type) {
    case FileType::Ini:
    case FileType::Csv:
        previewArea->setWidget(createTextViewer(bytes.constData(), bytes.size()));
        break;
    case FileType::Xml:
        previewArea->setWidget(createXmlViewer(bytes.constData(), bytes.size()));
        break;
    case FileType::Ttf:
        previewArea->setWidget(createFontViewer(bytes.constData(), bytes.size(), fontId));
        break;
    case FileType::Png: showImage<PngDecoder>(*this, bytes); break;
    case FileType::Tga: showImage<TgaDecoder>(*this, bytes); break;
    case FileType::Tpi: showImage<TpiDecoder>(*this, bytes); break;
    case FileType::Fsh: {
        previewArea->setWidget(new QLabel);
        // Written for other tools to pick up; nothing here reads it back. A
        // temporary file renamed over the name replaces whatever stands
        // there, a symbolic link included, and never writes through it.
        QString ignored;
        writeFileAtomically(QStringLiteral("fsh_image.fsh"), bytes.constData(),
                            size_t(bytes.size()), ignored);
        break;
    }
    case FileType::Bmp:
    case FileType::O:
    case FileType::Other: break;
    }
}
