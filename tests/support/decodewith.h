#pragma once

#include "reportrecorder.h"

#include <QByteArray>
#include <QImage>
#include <QStringList>

// What a decoder made of some bytes, and what it told the user.
struct DecodeResult
{
    bool ok;
    QImage image;
    QStringList messages;
    int width, height;
    QString format;
};

template <typename Decoder> DecodeResult decodeWith(const QByteArray &bytes)
{
    ReportRecorder recorder;
    Decoder decoder;
    const bool ok =
        decoder.load(reinterpret_cast<const uchar *>(bytes.constData()), quint32(bytes.size()));
    return {ok,
            decoder.toImage(),
            recorder.messages,
            decoder.width(),
            decoder.height(),
            decoder.formatName()};
}
