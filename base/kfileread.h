// SPDX-License-Identifier: MIT
#pragma once

// Reading the files a user names (scenes, catalogues, translations,
// descriptors) without letting them hang or bloat the program: only regular
// files are read, opening never blocks (a FIFO is refused, not waited on),
// and each kind of file has a size it may not exceed.

#include <QByteArray>
#include <QString>

namespace KHID {

// A report descriptor as bytes or as text of hex bytes.
constexpr qint64 kDescriptorFileLimit = 64 * 1024;
// A catalogue, a scene or a translation.
constexpr qint64 kDocumentFileLimit = 4 * 1024 * 1024;

// The whole content of the regular file `path`, at most `limit` bytes. With
// `allowStdin`, "-" reads standard input (also at most `limit` bytes). False
// with a short reason, without the path ("not a regular file (a FIFO)",
// "larger than 4 MiB", "No such file or directory"), which callers put after
// the file's name.
bool readFileCapped(const QString &path, qint64 limit, QByteArray &content, QString *reason,
                    bool allowStdin = false);

// Appends `data` to the regular file `path`, created when missing; anything
// else (a FIFO, a device, a directory) is refused without blocking.
bool appendToRegularFile(const QString &path, const QByteArray &data, QString *reason);

} // namespace KHID
