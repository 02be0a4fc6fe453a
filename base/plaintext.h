// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// Text from outside (a device's strings, a caller's arguments) as one line that
// shows what it holds: control characters, line breaks of their own and the
// marks that turn a line around are escaped (\n, \x1b, \u202e, \\).
QString plain(const QString &text);
// The same, of at most `limit` characters of the text, with "..." where it goes on.
QString plainExcerpt(const QString &text, int limit);
