// SPDX-License-Identifier: MIT
#pragma once

#include <QFlags>
#include <QMetaType>

// What one pairing pairs. A receiver, or a state of the window, concerns a set
// of them (PairKinds): both is a mouse-and-keyboard set.
enum class PairKind { Mouse = 1, Keyboard = 2 };
Q_DECLARE_FLAGS(PairKinds, PairKind)
Q_DECLARE_OPERATORS_FOR_FLAGS(PairKinds)
Q_DECLARE_METATYPE(PairKind)

constexpr PairKinds kBothKinds = PairKinds(PairKind::Mouse) | PairKind::Keyboard;

// A value for each kind, looked up by the kind itself.
template <typename T>
class PerKind
{
public:
    T &operator[](PairKind kind) { return kind == PairKind::Keyboard ? mKeyboard : mMouse; }
    const T &operator[](PairKind kind) const { return kind == PairKind::Keyboard ? mKeyboard : mMouse; }

private:
    T mMouse{};
    T mKeyboard{};
};

class QString;

// A kind's word in every program's interface: the command line's argument,
// the pairing service's, the events' "kind".
QString pairKindWord(PairKind kind);
// False, and `kind` untouched, for a word that names no kind.
bool pairKindFromWord(const QString &word, PairKind *kind);
