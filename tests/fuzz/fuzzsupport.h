// SPDX-License-Identifier: MIT
#pragma once

// What the fuzz targets of the Qt readers share.

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

#define REQUIRE(cond)                                                                  \
    do {                                                                               \
        if (!(cond)) {                                                                 \
            std::fprintf(stderr, "invariant broken at line %d: %s\n", __LINE__, #cond); \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

// The readers log every entry and every refusal: at thousands of inputs a
// second that would be all the fuzzer does.
inline void silenceQtLog()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
}
