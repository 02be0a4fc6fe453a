// SPDX-License-Identifier: MIT
// The widgets that follow the length of their texts in each language.
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "ui/themes.h"

#include <QDebug>

namespace {

// The width the pages are laid out in, and centred on.
constexpr int kPageWidth = 1200;

// Designed widths of the widgets that follow their texts.
constexpr int kCardWidth = 202;
constexpr int kPairWidth = 146;
constexpr int kTipsWidth = 147;

const char *const kWidePairSheet =
    "QPushButton{ background: transparent;border-image: url(:/newImage/code_en.png);outline: 0px;border: "
    "none;border-radius: 2px;font-size: 18px;color:#FFFFFF}QPushButton:hover{border-image: "
    "url(:/newImage/code_en_ov.png);outline: 0px;border: none;font-size: 18px;color:#FFFFFF}QPushButton:pressed{ "
    "border-image: url(:/newImage/code_en_click.png);outline: 0px;border: none;font-size: 18px;color:#FFFFFF;}";

} // namespace

void MainWindow::fitStatusRows()
{
    // A row is its dot (24 pixels with the gap) and its text, centred under its card.
    struct Row {
        QWidget *row;
        QLabel *text;
        int left;
        int span;
        int y;
    };
    const Row rows[] = {{ui->widMouseStatus, ui->mouseStatus, 83, 464, 544},
                        {ui->widKeyboardStatus, ui->keyboardStatus, 635, 464, 544},
                        {ui->widConnectStatus, ui->connectStatus, 0, 1132, 20}};
    for (const Row &row : rows) {
        row.text->ensurePolished();
        const int w = row.text->fontMetrics().horizontalAdvance(row.text->text());
        if (24 + w + 4 > row.row->width()) {
            row.row->resize(24 + w + 4, row.row->height());
            row.text->resize(w + 4, row.text->height());
        }
        row.row->move((row.span - w) / 2 + row.left, row.y);
    }
}

void MainWindow::fitTextWidths()
{
    // Measure in the font the style sheets give, also before the window was
    // first shown (start-up runs this first): until a widget is polished its
    // font is still the plain default.
    for (QWidget *widget : {static_cast<QWidget *>(ui->keyboardCode), static_cast<QWidget *>(ui->btnPair),
                            static_cast<QWidget *>(ui->connectStatus), static_cast<QWidget *>(ui->label_tips)})
        widget->ensurePolished();

    // Each text is held against the widget's designed width, not its current
    // one: against a width that an earlier pass widened, the same English text
    // would fall under the threshold and be squeezed back into the narrow
    // size on every second pass.
    qDebug() << ui->keyboardCode->text();
    int w = ui->keyboardCode->fontMetrics().horizontalAdvance(ui->keyboardCode->text());
    if (w >= 0.7 * kCardWidth) {
        const int n = static_cast<int>(w * 1.5);
        const int x = (494 - n) / 2;
        ui->keyboardCode->setGeometry(x + 635, 126, n, 56);
        ui->mouseCode->setGeometry(x + 83, 126, n, 56);
    } else {
        ui->mouseCode->setGeometry(229, 126, 202, 56);
        ui->keyboardCode->setGeometry(781, 126, 202, 56);
    }

    w = ui->btnPair->fontMetrics().horizontalAdvance(ui->btnPair->text());
    if (w >= 0.7 * kPairWidth) {
        setSheet(ui->btnPair, kWidePairSheet);
        const int n = static_cast<int>(w * 1.5);
        ui->btnPair->setGeometry((kPageWidth - n) / 2, 480, n, 40);
    } else {
        ui->btnPair->setGeometry(527, 480, 146, 40);
    }

    fitStatusRows();

    w = ui->label_tips->fontMetrics().horizontalAdvance(ui->label_tips->text());
    qDebug() << ui->label_tips->width();
    if (w >= 0.9 * kTipsWidth)
        ui->label_tips->setGeometry(445, 70, 310, 24);
    else
        ui->label_tips->setGeometry(516, 70, 147, 24);
}
