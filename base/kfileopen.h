// SPDX-License-Identifier: MIT
#pragma once

// A file's name as the user gave it, handed to the system as the system spells
// names: on Windows in UTF-16, since no 8-bit code page spells every folder's
// name. Free of Qt, so that the Windows backend's own check compiles it too.

#include <string>

namespace KHID {

// What stat() says `name` is (links followed): false with errno set.
bool fileModeByName(const std::u16string &name, unsigned *mode);

// open() of `name` with `flags` (O_RDONLY, O_WRONLY | O_APPEND | O_CREAT...),
// never blocking, in binary, not inherited by child processes; -1 with errno set.
int openByName(const std::u16string &name, int flags);

} // namespace KHID
