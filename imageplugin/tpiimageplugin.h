#pragma once

#include <QImageIOHandler>
#include <QImageIOPlugin>

// Lets every Qt program read TPI pictures through QImageReader, with
// Vorland's own decoder: format key "tpi", known by the bytes "1IPT" at the
// start. Pictures come as Format_ARGB32, exactly as vorland-cli render gives
// them. A damaged or hostile file makes read() return false; the decoder's
// messages go nowhere, since a plug-in must not speak in another program.
class TpiImageHandler : public QImageIOHandler
{
public:
    bool canRead() const override;
    bool read(QImage *image) override;
    bool supportsOption(ImageOption option) const override;
    QVariant option(ImageOption option) const override;

    // True when `device` starts with a TPI header (it is not moved).
    static bool canRead(QIODevice *device);
};

class TpiImagePlugin : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "tpi.json")

public:
    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override;
    QImageIOHandler *create(QIODevice *device, const QByteArray &format) const override;
};
