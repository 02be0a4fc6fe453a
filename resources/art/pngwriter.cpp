// SPDX-License-Identifier: MIT
#include "resources/art/pngwriter.h"

#include <array>

namespace art {
namespace {

quint32 crc32(const QByteArray &bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 c = 0xFFFFFFFFu;
    for (const char byte : bytes)
        c = table[(c ^ quint8(byte)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void appendBigEndian(QByteArray &out, quint32 value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xFF));
}

void appendChunk(QByteArray &out, const char *type, const QByteArray &data)
{
    const QByteArray body = QByteArray(type, 4) + data;
    appendBigEndian(out, quint32(data.size()));
    out += body;
    appendBigEndian(out, crc32(body));
}

bool opaque(const QImage &image)
{
    if (!image.hasAlphaChannel())
        return true;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(line[x]) != 255)
                return false;
    }
    return true;
}

} // namespace

QByteArray encodePng(const QImage &image)
{
    const bool alpha = !opaque(image);
    // PNG holds straight, not premultiplied, alpha.
    const QImage pixels = image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    const int rowBytes = pixels.width() * (alpha ? 4 : 3);
    QByteArray rows;
    rows.reserve((rowBytes + 1) * pixels.height());
    for (int y = 0; y < pixels.height(); ++y) {
        rows.append('\0'); // filter type None
        rows.append(reinterpret_cast<const char *>(pixels.constScanLine(y)), rowBytes);
    }

    QByteArray header;
    appendBigEndian(header, quint32(pixels.width()));
    appendBigEndian(header, quint32(pixels.height()));
    header.append(char(8));             // bits per channel
    header.append(char(alpha ? 6 : 2)); // RGBA or RGB
    header.append(3, '\0');             // deflate, filter method 0, no interlace

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", qCompress(rows, 9).mid(4)); // a zlib stream after qCompress's length
    appendChunk(png, "IEND", QByteArray());
    return png;
}

} // namespace art
