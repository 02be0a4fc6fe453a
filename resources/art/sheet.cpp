// SPDX-License-Identifier: MIT
// Review images: every picture on one contact sheet, and the two pages put together with the
// window's geometry, so that the art can be judged where it will stand.

#include "resources/art/paint.h"
#include "resources/art/palette.h"
#include "resources/art/pictures.h"

#include <QFontMetricsF>

using namespace palette;

namespace {

const QImage &picture(const std::map<QString, QImage> &pictures, const QString &name)
{
    const auto it = pictures.find(name);
    if (it == pictures.end())
        paint::fail("preview needs " + name);
    return it->second;
}

int textWidth(const QString &text, int pixelSize)
{
    return int(QFontMetricsF(paint::font(pixelSize)).horizontalAdvance(text));
}

void label(QPainter &p, const QRect &rect, const QString &text, int pixelSize, const QColor &colour,
           int flags = Qt::AlignLeft | Qt::AlignVCenter)
{
    p.setFont(paint::font(pixelSize));
    p.setPen(colour);
    p.drawText(rect, flags, text);
}

void titleBar(QPainter &p, const std::map<QString, QImage> &pictures, int theme)
{
    const char *strips[] = {"title", "title2", "title3"};
    p.drawImage(0, 0, picture(pictures, strips[theme]));
    const QString set = theme == 2 ? "2" : "";
    p.drawImage(990, 20, picture(pictures, "modifyLan" + set));
    p.drawImage(1040, 20, picture(pictures, "modifyColor" + set + "_ov"));
    p.drawImage(1090, 20, picture(pictures, "minimize" + set));
    p.drawImage(1140, 20, picture(pictures, "close" + set));
}

QColor titleColour(int theme)
{
    return theme == 2 ? inkSoft : paper;
}

} // namespace

QImage previewHome(const std::map<QString, QImage> &pictures, const Art &art, int theme, bool zh, bool popups)
{
    QImage image = paint::canvas({1200, 700}, QColor(0xEF, 0xEF, 0xEF));
    QPainter p;
    paint::begin(p, image);
    const char *backgrounds[] = {"home_page4", "home_page6", "home_page5"};
    p.drawImage(0, 0, picture(pictures, backgrounds[theme]));
    titleBar(p, pictures, theme);
    p.drawImage(76, 26, picture(pictures, theme == 2 ? "logo3" : "logo"));
    label(p, QRect(221, 26, 221, 22), art.text("Welcome!", zh), 22, titleColour(theme));

    p.drawImage(83, 154, picture(pictures, "keymouse"));
    p.drawImage(635, 154, picture(pictures, "keyboard"));

    // Card buttons, widened as the window widens them for long texts.
    const QString card = QStringList{"mouseCode", "mouseCode1", "mouseCode2"}[theme];
    const QString keyboardText = art.text("Keyboard connect", zh);
    QRect mouseButton(229, 126, 202, 56);
    QRect keyboardButton(781, 126, 202, 56);
    const int w = textWidth(keyboardText, 20);
    if (w >= 0.7 * 202) {
        const int n = int(w * 1.5);
        const int x = (494 - n) / 2;
        keyboardButton = QRect(x + 635, 126, n, 56);
        mouseButton = QRect(x + 83, 126, n, 56);
    }
    p.drawImage(mouseButton, picture(pictures, card + "_ov"));
    p.drawImage(keyboardButton, picture(pictures, card));
    label(p, mouseButton, art.text("Mouse connect", zh), 20, paper, Qt::AlignCenter);
    label(p, keyboardButton, keyboardText, 20, paper, Qt::AlignCenter);

    const QString status = art.text(theme == 1 ? "Status:Connected" : "Status:Not connected", zh);
    const int sw = textWidth(status, 16);
    for (int x : {(464 - sw) / 2 + 83, (464 - sw) / 2 + 635}) {
        p.fillRect(QRect(x, 544, 201, 16), paper);
        p.drawImage(x, 544, picture(pictures, theme == 1 ? "connected" : "not_connected"));
        label(p, QRect(x + 24, 544, 181, 16), status, 16, theme == 1 ? QColor(0xA1, 0xA3, 0xDB) : coral);
    }

    if (popups) {
        // Language popup with the current language marked, and the theme popup beside it.
        p.drawImage(965, 57, picture(pictures, "modifyLan_back"));
        p.drawImage(QRect(965, 57 + (zh ? 10 : 34), 83, 24), picture(pictures, zh ? "modifyLan_zh" : "modifyLan_en"));
        label(p, QRect(965, 67, 83, 24), QString::fromUtf8("中文"), 16, QColor(0x00, 0x0B, 0x3E), Qt::AlignCenter);
        label(p, QRect(965, 91, 83, 24), "English", 16, QColor(0x00, 0x0B, 0x3E), Qt::AlignCenter);
        p.drawImage(1060, 120, picture(pictures, "modify_label"));
        p.drawImage(1060 + 13, 120 + 18, picture(pictures, "modify_black"));
        p.drawImage(1060 + 51, 120 + 18, picture(pictures, "modify_blue_ov"));
        p.drawImage(1060 + 90, 120 + 18, picture(pictures, "modify_skyblue"));
    }
    return image;
}

QImage previewPairing(const std::map<QString, QImage> &pictures, const Art &art, int theme, bool zh, bool keyboard)
{
    QImage image = paint::canvas({1200, 700}, QColor(0xEF, 0xEF, 0xEF));
    QPainter p;
    paint::begin(p, image);
    titleBar(p, pictures, theme);
    p.drawImage(68, 26, picture(pictures, theme == 2 ? "Return_ov" : "Return"));
    p.drawImage(540, 24, picture(pictures, theme == 2 ? "logo3" : "logo"));
    label(p, QRect(95, 24, 221, 22), art.text(keyboard ? "Keyboard connect" : "Mouse connect", zh), 22,
          titleColour(theme));

    p.translate(0, 70);
    p.fillRect(QRect(0, 0, 1200, 630), paper);
    const QString status = art.text("Status:Connected", zh);
    const int sw = textWidth(status, 16);
    p.drawImage((1132 - sw) / 2, 20, picture(pictures, "connected"));
    label(p, QRect((1132 - sw) / 2 + 24, 20, 171, 16), status, 16, QColor(0xA1, 0xA3, 0xDB));

    const QString tips = art.text("Don't unplug the receiver during matching code", zh);
    const QRect tipsRect = textWidth(tips, 12) >= 0.9 * 147 ? QRect(445, 50, 310, 24) : QRect(516, 50, 147, 24);
    p.drawImage(tipsRect, picture(pictures, art.text("tips_en.png", zh).chopped(4)));
    label(p, tipsRect, tips, 12, coral, Qt::AlignCenter);

    const QString family = keyboard ? "keyboard" : "mouse";
    const int xs[] = {40, 266, 492, 718, 944};
    for (int i = 0; i < 5; ++i) {
        const QString name = art.text(QString("%1%2_en.png").arg(family).arg(i + 1), zh).chopped(4);
        p.drawImage(xs[i], 96, picture(pictures, name));
    }

    const QString pair = art.text("Matching code", zh);
    const int pw = textWidth(pair, 18);
    QRect button(527, 480, 146, 40);
    QString face = "code";
    if (pw >= 0.7 * 146) {
        const int n = int(pw * 1.5);
        button = QRect((1200 - n) / 2, 480, n, 40);
        face = "code_en";
    }
    p.drawImage(button, picture(pictures, face));
    label(p, button, pair, 18, paper, Qt::AlignCenter);

    const QString result = art.text("Matched successfully", zh);
    const int rw = textWidth(result, 16);
    QRect bubble(520, 540, 141, 45);
    QRect text(50, 11, 81, 21);
    if (rw > 81) {
        bubble = QRect((1200 - (rw + 60)) / 2, 540, rw + 60, 45);
        text = QRect(50, 11, rw, 21);
    }
    p.drawImage(bubble, picture(pictures, "statusWidget"));
    p.drawImage(bubble.x() + 18, bubble.y() + 10, picture(pictures, "paired_success"));
    label(p, text.translated(bubble.topLeft()), result, 16, muted);
    return image;
}

QImage contactSheet(const std::map<QString, QImage> &pictures, const QStringList &order)
{
    const int sheetWidth = 1640;
    const int gap = 16;
    const int captionHeight = 18;
    struct Cell {
        QString name;
        QRect rect;
    };
    std::vector<Cell> cells;
    int x = gap, y = gap, rowHeight = 0;
    for (const QString &name : order) {
        const QImage &image = picture(pictures, name);
        const qreal scale = image.width() > 600 ? 0.4 : 1.0;
        const QSize size = (QSizeF(image.size()) * scale).toSize();
        const int cellWidth = qMax(size.width(), textWidth(name + "  0000 x 000", 11));
        if (x + cellWidth > sheetWidth - gap) {
            x = gap;
            y += rowHeight + captionHeight + gap;
            rowHeight = 0;
        }
        cells.push_back({name, QRect(QPoint(x, y), size)});
        x += cellWidth + gap;
        rowHeight = qMax(rowHeight, size.height());
    }
    QImage sheet = paint::canvas({sheetWidth, y + rowHeight + captionHeight + gap}, QColor(0xD9, 0xDE, 0xE8));
    QPainter p;
    paint::begin(p, sheet);
    for (const Cell &cell : cells) {
        const QImage &image = picture(pictures, cell.name);
        // A checkerboard shows where a picture is transparent.
        for (int cy = 0; cy < cell.rect.height(); cy += 8)
            for (int cx = 0; cx < cell.rect.width(); cx += 8)
                p.fillRect(QRect(cell.rect.x() + cx, cell.rect.y() + cy, qMin(8, cell.rect.width() - cx),
                                 qMin(8, cell.rect.height() - cy)),
                           ((cx + cy) / 8) % 2 ? QColor(0xC4, 0xC9, 0xD6) : QColor(0xB3, 0xB9, 0xC8));
        p.drawImage(cell.rect, image);
        label(p, QRect(cell.rect.left(), cell.rect.bottom() + 3, 400, 14),
              QString("%1  %2 x %3").arg(cell.name).arg(image.width()).arg(image.height()), 11, ink);
    }
    return sheet;
}
