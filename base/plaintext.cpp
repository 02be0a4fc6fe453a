// SPDX-License-Identifier: MIT
#include "base/plaintext.h"

QString plain(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const ushort u = c.unicode();
        // Marks that turn the rest of the line around, and line breaks of their own.
        const bool direction = u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E)
            || (u >= 0x2066 && u <= 0x2069) || u == 0x2028 || u == 0x2029;
        const bool pair = c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        if (c == QLatin1Char('\\'))
            result += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            result += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            result += QLatin1String("\\r");
        else if (c == QLatin1Char('\t'))
            result += QLatin1String("\\t");
        else if (u < 0x20 || (u >= 0x7F && u < 0xA0))
            result += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else if (direction || (c.isSurrogate() && !pair))
            result += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else if (pair)
            result += text.mid(i++, 2);
        else
            result += c;
    }
    return result;
}

QString plainExcerpt(const QString &text, int limit)
{
    const QString shown = plain(text.left(limit));
    return text.size() > limit ? shown + QStringLiteral("...") : shown;
}
