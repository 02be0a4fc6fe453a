// SPDX-License-Identifier: MIT
#include "base/privatedir.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Ours and closed to everyone else: nobody else can create our lock first,
// nor put a socket of theirs in its place.
bool isPrivateDirectory(const QString &dir)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(dir).constData(), &status) == 0 && S_ISDIR(status.st_mode)
        && status.st_uid == ::geteuid() && (status.st_mode & 077) == 0;
}

} // namespace

QString privateDirectory()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateDirectory(runtime))
        return runtime;
    // Never a shared temporary directory: a name there can be taken by anyone.
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    QDir().mkpath(base);
    const QString dir = base + QStringLiteral("/bondara");
    const QByteArray name = QFile::encodeName(dir);
    if (::mkdir(name.constData(), 0700) != 0 && errno == EEXIST) {
        struct stat status {};
        // Ours but too open (made by hand, or by an older version): close it.
        if (::lstat(name.constData(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid())
            ::chmod(name.constData(), 0700);
    }
    return isPrivateDirectory(dir) ? dir : QString();
}
