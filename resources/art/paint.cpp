// SPDX-License-Identifier: MIT
#include "resources/art/paint.h"

#include <QFontMetricsF>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace paint {

namespace {

QString gFamily;
qreal gScale = 1;

struct Line {
    QString text;
    qreal width;
};

std::vector<Line> layoutLines(const QString &text, const QFont &font, qreal width)
{
    std::vector<Line> lines;
    for (const QString &paragraph : text.split(QLatin1Char('\n'))) {
        QTextLayout layout(paragraph, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            lines.push_back({paragraph.mid(line.textStart(), line.textLength()).trimmed(), line.naturalTextWidth()});
        }
        layout.endLayout();
    }
    return lines;
}

// One pass of a box blur along rows (`step` 1) or columns (`step` the row length).
void boxPass(std::vector<quint32> &pixels, int count, int lines, int step, int lineStep, int radius)
{
    std::vector<quint32> out(count);
    const int window = 2 * radius + 1;
    for (int l = 0; l < lines; ++l) {
        const int base = l * lineStep;
        int sum[4] = {0, 0, 0, 0};
        auto at = [&](int i) { return pixels[base + std::clamp(i, 0, count - 1) * step]; };
        for (int i = -radius; i <= radius; ++i)
            for (int c = 0; c < 4; ++c)
                sum[c] += (at(i) >> (8 * c)) & 0xFF;
        for (int i = 0; i < count; ++i) {
            quint32 value = 0;
            for (int c = 0; c < 4; ++c)
                value |= quint32(sum[c] / window) << (8 * c);
            out[i] = value;
            for (int c = 0; c < 4; ++c)
                sum[c] += int((at(i + radius + 1) >> (8 * c)) & 0xFF) - int((at(i - radius) >> (8 * c)) & 0xFF);
        }
        for (int i = 0; i < count; ++i)
            pixels[base + i * step] = out[i];
    }
}

} // namespace

void setFamily(const QString &family)
{
    gFamily = family;
}

QFont font(qreal pixelSize, QFont::Weight weight)
{
    QFont f(gFamily);
    f.setPixelSize(qRound(pixelSize));
    f.setWeight(weight);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

void setScale(qreal scale)
{
    gScale = scale;
}

qreal scale()
{
    return gScale;
}

// Drawn in the sizes of the 1 x picture; the painter scales to the pixels.
QImage canvas(QSize size, const QColor &fill)
{
    QImage image(size * gScale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(gScale);
    image.fill(fill);
    return image;
}

void begin(QPainter &painter, QImage &image)
{
    painter.begin(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
}

QPainterPath roundRect(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QPainterPath circle(QPointF centre, qreal radius)
{
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    return path;
}

QImage blurred(const QImage &image, int radius)
{
    QImage result = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (radius < 1)
        return result;
    const int w = result.width();
    const int h = result.height();
    std::vector<quint32> pixels(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        std::copy_n(reinterpret_cast<const quint32 *>(result.constScanLine(y)), w, pixels.begin() + size_t(y) * w);
    for (int pass = 0; pass < 3; ++pass) {
        boxPass(pixels, w, h, 1, w, radius);
        boxPass(pixels, h, w, w, 1, radius);
    }
    for (int y = 0; y < h; ++y)
        std::copy_n(pixels.begin() + size_t(y) * w, w, reinterpret_cast<quint32 *>(result.scanLine(y)));
    return result;
}

void shadow(QPainter &painter, const QPainterPath &shape, QPointF offset, qreal blur, const QColor &colour)
{
    const int margin = int(std::ceil(blur * 2)) + 2;
    const QRectF bounds = shape.boundingRect().adjusted(-margin, -margin, margin, margin);
    QImage layer = canvas(bounds.size().toSize() + QSize(1, 1));
    {
        QPainter p;
        begin(p, layer);
        p.translate(-bounds.topLeft());
        p.fillPath(shape, colour);
    }
    // Three box passes of radius r spread about as far as a Gaussian of sigma r.
    layer = blurred(layer, qMax(1, int(std::round(blur * gScale / 1.7))));
    painter.drawImage(bounds.topLeft() + offset, layer);
}

QLinearGradient vertical(qreal top, qreal bottom, const QColor &from, const QColor &to)
{
    QLinearGradient gradient(0, top, 0, bottom);
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    return gradient;
}

qreal textHeight(const QString &text, const QFont &font, qreal width, qreal lineSpacing)
{
    return qreal(layoutLines(text, font, width).size()) * font.pixelSize() * lineSpacing;
}

void text(QPainter &painter, const QRectF &rect, int flags, const QString &text, const QFont &font,
          const QColor &colour, qreal embolden, qreal lineSpacing)
{
    const std::vector<Line> lines = layoutLines(text, font, rect.width());
    const qreal lineHeight = font.pixelSize() * lineSpacing;
    const qreal height = lineHeight * lines.size();
    if (height > rect.height() + 0.5)
        fail(QStringLiteral("text \"%1\" needs %2 px, has %3").arg(text).arg(height).arg(rect.height()));

    const QFontMetricsF metrics(font);
    qreal top = rect.top();
    if (flags & Qt::AlignBottom)
        top = rect.bottom() - height;
    else if (flags & Qt::AlignVCenter)
        top = rect.top() + (rect.height() - height) / 2;
    // Centre the glyphs' ascent and descent inside each line box.
    const qreal baselineInLine = (lineHeight + metrics.ascent() - metrics.descent()) / 2;

    painter.save();
    for (const Line &line : lines) {
        if (line.width > rect.width() + 0.5)
            fail(QStringLiteral("text line \"%1\" is %2 px wide, has %3").arg(line.text).arg(line.width).arg(rect.width()));
        qreal x = rect.left();
        if (flags & Qt::AlignRight)
            x = rect.right() - line.width;
        else if (flags & Qt::AlignHCenter)
            x = rect.left() + (rect.width() - line.width) / 2;
        const QPointF baseline(x, top + baselineInLine);
        if (embolden > 0) {
            QPainterPath path;
            path.addText(baseline, font, line.text);
            painter.setPen(QPen(colour, embolden, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.setBrush(colour);
            painter.drawPath(path);
        } else {
            painter.setPen(colour);
            painter.setFont(font);
            painter.drawText(baseline, line.text);
        }
        top += lineHeight;
    }
    painter.restore();
}

void fail(const QString &message)
{
    std::fprintf(stderr, "artgen: %s\n", qPrintable(message));
    std::exit(1);
}

} // namespace paint
