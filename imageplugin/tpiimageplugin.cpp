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
    QByteArray bytes;
    try {
        bytes = device()->readAll();
    } catch (const std::bad_alloc &) {
        return false;
    }
    TpiDecoder decoder;
    if (!decoder.load(reinterpret_cast<const uchar *>(bytes.constData()), quint32(bytes.size())))
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
