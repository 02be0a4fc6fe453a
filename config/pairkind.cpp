// SPDX-License-Identifier: MIT
#include "config/pairkind.h"

#include <QString>

namespace {

struct KindWord {
    PairKind kind;
    const char *word;
};
constexpr KindWord kWords[] = {{PairKind::Mouse, "mouse"}, {PairKind::Keyboard, "keyboard"}};

} // namespace

QString pairKindWord(PairKind kind)
{
    for (const KindWord &entry : kWords) {
        if (entry.kind == kind)
            return QLatin1String(entry.word);
    }
    return {};
}

bool pairKindFromWord(const QString &word, PairKind *kind)
{
    for (const KindWord &entry : kWords) {
        if (word == QLatin1String(entry.word)) {
            *kind = entry.kind;
            return true;
        }
    }
    return false;
}
