// SPDX-License-Identifier: MIT
#include "base/kfileopen.h"

#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace KHID {

bool fileModeByName(const std::u16string &name, unsigned *mode)
{
    struct stat status {};
    if (::stat(QFile::encodeName(QString::fromStdU16String(name)).constData(), &status) != 0)
        return false;
    *mode = status.st_mode;
    return true;
}

int openByName(const std::u16string &name, int flags)
{
    // A FIFO would otherwise wait for a writer, a terminal become ours.
    return ::open(QFile::encodeName(QString::fromStdU16String(name)).constData(),
                  flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
}

} // namespace KHID
