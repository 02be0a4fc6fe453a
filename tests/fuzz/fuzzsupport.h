// SPDX-License-Identifier: MIT
#pragma once

// What the fuzz targets of the Qt readers share; each target is one file.

#include "tests/fuzz/require.h"

#include <QByteArray>

// The readers log every entry and every refusal: at thousands of inputs a
// second that would be all the fuzzer does.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

inline QByteArray fuzzInput(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size));
}
