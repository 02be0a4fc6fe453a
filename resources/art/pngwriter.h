// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QImage>

namespace art {

// The window decodes some thirty pictures while it starts, and libpng undoes the
// adaptive row filters that QImage::save leaves it to choose at about half the speed
// of unfiltered rows. So the pictures are written with unfiltered rows at full
// compression, and an opaque picture without alpha, so that it loads as RGB32 and
// needs no premultiplying.
QByteArray encodePng(const QImage &image);

} // namespace art
