// SPDX-License-Identifier: MIT
#include "base/kfileopen.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace KHID {

namespace {

const wchar_t *wide(const std::u16string &name)
{
    return reinterpret_cast<const wchar_t *>(name.c_str());
}

} // namespace

bool fileModeByName(const std::u16string &name, unsigned *mode)
{
    struct _stat64 status {};
    if (::_wstat64(wide(name), &status) != 0)
        return false;
    *mode = status.st_mode;
    return true;
}

int openByName(const std::u16string &name, int flags)
{
    // Bytes as they are: text mode would turn CR LF into LF and stop at ^Z.
    return ::_wopen(wide(name), flags | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

} // namespace KHID
