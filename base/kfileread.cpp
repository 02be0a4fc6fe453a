// SPDX-License-Identifier: MIT
#include "base/kfileread.h"

#include "base/kfileopen.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace KHID {

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString kindOf(unsigned mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a directory");
#ifdef S_ISFIFO
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
#endif
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
#ifdef S_ISBLK
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
#endif
#ifdef S_ISSOCK
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
#endif
    return QStringLiteral("a special file");
}

QString sizeText(qint64 bytes)
{
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
        return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024));
    if (bytes >= 1024 && bytes % 1024 == 0)
        return QStringLiteral("%1 KiB").arg(bytes / 1024);
    return QStringLiteral("%1 bytes").arg(bytes);
}

bool setReason(QString *reason, const QString &text)
{
    if (reason)
        *reason = text;
    return false;
}

// Reads up to limit + 1 bytes, so that a file that grew past the limit after
// its size was checked (or a pipe on standard input) is still caught.
bool readBounded(int fd, qint64 limit, QByteArray &content, QString *reason)
{
    QByteArray buffer;
    qint64 total = 0;
    char chunk[16384];
    for (;;) {
        const qint64 want = std::min<qint64>(sizeof chunk, limit + 1 - total);
        if (want <= 0)
            break;
        const ssize_t got = ::read(fd, chunk, static_cast<size_t>(want));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return setReason(reason, systemReason(errno));
        }
        if (got == 0)
            break;
        buffer.append(chunk, static_cast<int>(got));
        total += got;
    }
    if (total > limit)
        return setReason(reason, QStringLiteral("larger than %1").arg(sizeText(limit)));
    content = buffer;
    return true;
}

// Opens `path` only when it names a regular file, and never waits doing so.
int openRegular(const QString &path, int flags, QString *reason, bool mayCreate)
{
    const std::u16string name = path.toStdU16String();
    unsigned before = 0;
    if (!fileModeByName(name, &before)) {
        if (!(mayCreate && errno == ENOENT)) {
            setReason(reason, systemReason(errno));
            return -1;
        }
    } else if (!S_ISREG(before)) {
        setReason(reason, QStringLiteral("not a regular file (%1)").arg(kindOf(before)));
        return -1;
    }
    // Checked again on the open file: the name may have changed in between.
    const int fd = openByName(name, flags);
    if (fd < 0) {
        setReason(reason, systemReason(errno));
        return -1;
    }
    struct stat after {};
    if (::fstat(fd, &after) != 0) {
        setReason(reason, systemReason(errno));
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(after.st_mode)) {
        setReason(reason, QStringLiteral("not a regular file (%1)").arg(kindOf(after.st_mode)));
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

bool readFileCapped(const QString &path, qint64 limit, QByteArray &content, QString *reason, bool allowStdin)
{
    if (allowStdin && path == QLatin1String("-"))
        return readBounded(STDIN_FILENO, limit, content, reason);
    if (path.isEmpty())
        return setReason(reason, QStringLiteral("no file name"));
    // Embedded resources live in memory: nothing there can block, only be too big.
    if (path.startsWith(QLatin1Char(':')) || path.startsWith(QLatin1String("qrc:"))) {
        QFile resource(path);
        if (!resource.open(QIODevice::ReadOnly))
            return setReason(reason, resource.errorString());
        if (resource.size() > limit)
            return setReason(reason, QStringLiteral("larger than %1").arg(sizeText(limit)));
        content = resource.readAll();
        return true;
    }
    const int fd = openRegular(path, O_RDONLY, reason, false);
    if (fd < 0)
        return false;
    struct stat status {};
    bool ok = false;
    if (::fstat(fd, &status) == 0 && status.st_size > limit)
        setReason(reason, QStringLiteral("larger than %1").arg(sizeText(limit)));
    else
        ok = readBounded(fd, limit, content, reason);
    ::close(fd);
    return ok;
}

bool appendToRegularFile(const QString &path, const QByteArray &data, QString *reason)
{
    const int fd = openRegular(path, O_WRONLY | O_APPEND | O_CREAT, reason, true);
    if (fd < 0)
        return false;
    const char *next = data.constData();
    qint64 left = data.size();
    bool ok = true;
    while (left > 0) {
        const ssize_t written = ::write(fd, next, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            ok = setReason(reason, systemReason(errno));
            break;
        }
        next += written;
        left -= written;
    }
    ::close(fd);
    return ok;
}

} // namespace KHID
