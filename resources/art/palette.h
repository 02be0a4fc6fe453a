// SPDX-License-Identifier: MIT
#pragma once

// Every colour of the art. A change of colour is a change of one line here.

#include <QColor>

namespace palette {

// Shared by all themes.
inline const QColor ink{0x2B, 0x31, 0x52};        // dark text and device bodies
inline const QColor inkSoft{0x47, 0x4F, 0x6C};    // text on the light skyblue title strip
inline const QColor muted{0x83, 0x8C, 0xB7};      // secondary text, status text
inline const QColor caption{0x6B, 0x73, 0x94};    // guide captions
inline const QColor coral{0xFF, 0x84, 0x73};      // warnings and "not connected"
inline const QColor failure{0xFF, 0x6B, 0x5E};    // pairing failed
inline const QColor success{0x2F, 0xBF, 0x71};    // pairing succeeded, connected
inline const QColor idle{0xB5, 0xBA, 0xCB};       // not connected dot
inline const QColor accent{0x4C, 0x6F, 0xFF};     // brand blue: pairing button, badges, links
inline const QColor accentDeep{0x3A, 0x57, 0xE0};
inline const QColor led{0x3E, 0xA8, 0xFF};        // a device's indicator light
inline const QColor paper{0xFF, 0xFF, 0xFF};
inline const QColor panel{0xF5, 0xF7, 0xFD};      // guide picture background
inline const QColor halo{0xE8, 0xEE, 0xFF};       // backdrop disc behind devices
inline const QColor line{0xE3, 0xE7, 0xF3};       // hairlines and popup borders
inline const QColor keyCap{0xF7, 0xF8, 0xFC};
inline const QColor keyEdge{0xCF, 0xD4, 0xE4};
inline const QColor metal{0xC9, 0xCE, 0xD9};
inline const QColor skin{0xF6, 0xCB, 0xAA};
inline const QColor skinShade{0xE3, 0xA9, 0x86};
inline const QColor closeHover{0xFF, 0x5F, 0x57};
inline const QColor returnHover{0x1F, 0xA2, 0xEA}; // back arrow under the mouse; normal on skyblue

// Theme swatches of the theme popup.
inline const QColor swatchBlack{0x23, 0x26, 0x2F};
inline const QColor swatchBlue{0x2F, 0x5B, 0xFF};
inline const QColor swatchSkyblue{0x5C, 0xC3, 0xFF};

struct Theme {
    const char *name;
    bool light;              // light title strip: dark icons and text on it
    QColor backgroundTop, backgroundBottom;
    QColor glowA, glowB;     // soft light blobs on the background
    QColor waves;            // concentric "wireless" rings
    QColor titleTop, titleBottom, titleLine;
    QColor button, buttonHover, buttonPressed; // the card buttons
};

inline const Theme black{"black", false,
                         {0x20, 0x23, 0x2D}, {0x0C, 0x0E, 0x13},
                         {0x3B, 0x4F, 0x8F, 110}, {0x1E, 0x6A, 0x73, 80},
                         {0xFF, 0xFF, 0xFF, 16},
                         {0x14, 0x16, 0x1C}, {0x0F, 0x11, 0x16}, {0xFF, 0xFF, 0xFF, 20},
                         {0x33, 0x39, 0x4C}, {0x46, 0x4E, 0x68}, {0x1B, 0x1E, 0x28}};

inline const Theme blue{"blue", false,
                        {0x2B, 0x63, 0xF0}, {0x12, 0x33, 0x9C},
                        {0x7F, 0xA6, 0xFF, 120}, {0x38, 0xD0, 0xFF, 90},
                        {0xFF, 0xFF, 0xFF, 26},
                        {0x17, 0x44, 0xBD}, {0x13, 0x3B, 0xA8}, {0xFF, 0xFF, 0xFF, 30},
                        {0x3E, 0x6C, 0xFF}, {0x5C, 0x86, 0xFF}, {0x24, 0x48, 0xD0}};

inline const Theme skyblue{"skyblue", true,
                           {0xEC, 0xF7, 0xFF}, {0xB7, 0xE1, 0xFB},
                           {0xFF, 0xFF, 0xFF, 200}, {0x8C, 0xD3, 0xFF, 120},
                           {0x2E, 0x9C, 0xE6, 34},
                           {0xFF, 0xFF, 0xFF}, {0xF2, 0xF9, 0xFF}, {0xCF, 0xE5, 0xF6},
                           {0x2A, 0xAA, 0xF5}, {0x4D, 0xBE, 0xFF}, {0x17, 0x8B, 0xD3}};

} // namespace palette
