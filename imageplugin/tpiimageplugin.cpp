#include "tpiimageplugin.h"

#include "decoder.h"
#include "gfxcorecodec.h"
#include "report.h"
#include "tpidecoder.h"

#include <QVariant>

#include <mutex>

namespace {

constexpr char kMagic[] = "1IPT";

// Once per process: no messages, and the Refp codec for compressed blocks,
// found beside this plug-in's private library folder.
void prepare()
{
    static std::once_flag once;
    std::call_once(once, [] {
        vorland::setReporter([](const QString &) {});
        GfxCoreCodec::load();
    });
}

unsigned little16(const QByteArray &bytes, int at)
{
    return unsigned(uchar(bytes[at])) | unsigned(uchar(bytes[at + 1])) << 8;
}

} // namespace

bool TpiImageHandler::canRead(QIODevice *device)
{
    return device && device->peek(4) == QByteArray(kMagic);
}

bool TpiImageHandler::canRead() const
{
    if (!canRead(device()))
        return false;
    setFormat("tpi");
    return true;
}

bool TpiImageHandler::read(QImage *image)
{
    prepare();
    // No more than a TPI of the header's size can use: its records and block
    // headers, and a few bytes for each pixel (a block never needs more than
    // four, compressed or not), with some slack.
    const QByteArray head = device()->peek(20);
    qint64 useful = 20;
    if (head.size() == 20)
        useful += qint64(little16(head, 16)) * 24 +
                  qint64(little16(head, 12)) * qint64(little16(head, 14)) * 8 + (1 << 20);
    QByteArray bytes;
    try {
        bytes = device()->read(useful);
    } catch (const std::bad_alloc &) {
        return false;
    }
    TpiDecoder decoder;
    if (!decoder.load(reinterpret_cast<const uchar *>(bytes.constData()), quint32(bytes.size())) ||
        !decoder.damage().isEmpty())
        return false;
    const QImage decoded = decoder.toImage();
    if (decoded.isNull() || decoded.width() == 0 || decoded.height() == 0)
        return false;
    *image = decoded;
    return true;
}

bool TpiImageHandler::supportsOption(ImageOption option) const
{
    return option == Size || option == ImageFormat;
}

QVariant TpiImageHandler::option(ImageOption option) const
{
    if (option == ImageFormat)
        return QImage::Format_ARGB32;
    if (option != Size || !device())
        return QVariant();
    // The header alone says it, and peeking leaves the device where it was.
    const QByteArray header = device()->peek(16);
    if (header.size() < 16 || !header.startsWith(kMagic))
        return QVariant();
    return QSize(int(little16(header, 12)), int(little16(header, 14)));
}

QImageIOPlugin::Capabilities TpiImagePlugin::capabilities(QIODevice *device,
                                                          const QByteArray &format) const
{
    if (format == "tpi")
        return CanRead;
    if (!format.isEmpty())
        return {};
    return device && device->isReadable() && TpiImageHandler::canRead(device) ? CanRead
                                                                              : Capabilities();
}

QImageIOHandler *TpiImagePlugin::create(QIODevice *device, const QByteArray &format) const
{
    auto *handler = new TpiImageHandler;
    handler->setDevice(device);
    handler->setFormat(format.isEmpty() ? QByteArray("tpi") : format);
    return handler;
}
