// SPDX-License-Identifier: MIT
#pragma once

// What the fuzz targets of the Qt readers share.

#include "require.h"

#include <QtGlobal>

// The readers log every entry and every refusal: at thousands of inputs a
// second that would be all the fuzzer does.
inline void silenceQtLog()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
}
