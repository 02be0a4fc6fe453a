// SPDX-License-Identifier: MIT
#include "ui/themes.h"

#include "resources/art/palette.h"

#include <QWidget>

namespace {

// Pictures of one colour theme.
struct ThemeArt {
    const char *background;
    const char *card;
    const char *close;
    const char *minimize;
    const char *modifyColor;
    const char *modifyLan;
    const char *title;
    const char *titleColor;
    const char *logo;
    const char *returnNormal;
    const char *returnHover;
};

const ThemeArt kThemes[] = {
    {"home_page4", "mouseCode", "close", "minimize", "modifyColor", "modifyLan", "title", "white", "logo", "Return",
     "Return_ov"},
    {"home_page6", "mouseCode1", "close", "minimize", "modifyColor", "modifyLan", "title2", "white", "logo", "Return",
     "Return_ov"},
    // Skyblue's light title strip takes the dark arrow as its normal face.
    {"home_page5", "mouseCode2", "close2", "minimize2", "modifyColor2", "modifyLan2", "title3", "#474F6C", "logo3",
     "Return_ov", "Return"},
};

QString titleBarSheet(const QString &base)
{
    return QStringLiteral("QPushButton{ background-color: transparent;background: url(:/newImage/%1.png);outline: "
                          "0px;border: none;border-radius: 2px;}QPushButton:hover{ background: "
                          "url(:/newImage/%1_ov.png);outline: 0px; border: none;}QPushButton:pressed{ background: "
                          "url(:/newImage/%1.png);outline: 0px;border: none;}")
        .arg(base);
}

QString backSheet(const QString &normal, const QString &hover)
{
    return QStringLiteral("QPushButton{ background-color: transparent;background: url(:/newImage/%1.png);outline: "
                          "0px;border: none;border-radius: 2px;}QPushButton:hover{ background: "
                          "url(:/newImage/%2.png);outline: 0px;border: none;}QPushButton:pressed{ background: "
                          "url(:/newImage/%1.png);outline: 0px;border: none;}")
        .arg(normal, hover);
}

QString cardSheet(const QString &base)
{
    return QStringLiteral("QPushButton{ background:transparent;border-image: url(:/newImage/%1.png);outline: "
                          "0px;border-radius: 2px;font-size:20px;color:#FFFFFF;font-weight: 500;}QPushButton:hover{ "
                          "border-image: url(:/newImage/%1_ov.png);outline: 0px;border-radius: "
                          "2px;font-size:20px;color:#FFFFFF;font-weight: 500;}QPushButton:pressed{ border-image: "
                          "url(:/newImage/%1_click.png);outline: 0px;border-radius: "
                          "2px;font-size:20px;color:#FFFFFF;font-weight: 500;}")
        .arg(base);
}

const palette::Theme *const kRunThemes[] = {&palette::black, &palette::blue, &palette::skyblue};

QString stopSheet(const palette::Theme &theme)
{
    return QStringLiteral("QPushButton{background:#FFFFFF;border:1px solid %1;border-radius:14px;font-size:14px;"
                          "color:%1;padding:0px 12px;}QPushButton:hover{background:%2;}"
                          "QPushButton:pressed{background:%1;color:#FFFFFF;}")
        .arg(theme.button.name(), palette::halo.name());
}

const QColor kRingColors[][2] = {
    {QColor(0x3E, 0xA8, 0xFF), QColor(0xFF, 0xFF, 0xFF)},
    {QColor(0x4C, 0x6F, 0xFF), QColor(0xFF, 0xFF, 0xFF)},
    {QColor(0x3A, 0x57, 0xE0), QColor(0xFF, 0xFF, 0xFF)},
};

} // namespace

ThemeSheets themeSheets(int theme)
{
    const ThemeArt &art = kThemes[theme];
    ThemeSheets sheets;
    sheets.background = QStringLiteral("background-image: url(:/newImage/%1.png);").arg(art.background);
    sheets.card = cardSheet(art.card);
    sheets.close = titleBarSheet(art.close);
    sheets.minimize = titleBarSheet(art.minimize);
    sheets.modify = titleBarSheet(art.modifyColor);
    sheets.language = titleBarSheet(art.modifyLan);
    sheets.titleBar = QStringLiteral("background: url(:/newImage/%1.png)").arg(art.title);
    sheets.titleText = QStringLiteral("background:transparent;font-size:22px;color:%1;").arg(art.titleColor);
    sheets.logo = QStringLiteral("background-image: url(:/newImage/%1.png)").arg(art.logo);
    sheets.back = backSheet(art.returnNormal, art.returnHover);
    sheets.ring = kRingColors[theme][0];
    sheets.ringHalo = kRingColors[theme][1];
    sheets.stop = stopSheet(*kRunThemes[theme]);
    sheets.progressFill = kRunThemes[theme]->button;
    sheets.progressTrack = palette::line;
    return sheets;
}

void setSheet(QWidget *widget, const QString &sheet)
{
    if (widget->styleSheet() != sheet)
        widget->setStyleSheet(sheet);
}
