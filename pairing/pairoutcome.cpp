// SPDX-License-Identifier: MIT
#include "pairing/pairoutcome.h"

#include <QtGlobal>

namespace {

struct Row {
    PairOutcome::Reason reason;
    const char *key;
    const char *words;
};

// One row per reason, window and command line alike.
constexpr Row kRows[] = {
    {PairOutcome::Paired, "paired", QT_TRANSLATE_NOOP("MainWindow", "Matched successfully")},
    {PairOutcome::NoReceiver, "no-receiver", QT_TRANSLATE_NOOP("MainWindow", "Matched failed")},
    {PairOutcome::Unplugged, "unplugged", QT_TRANSLATE_NOOP("MainWindow", "Matched failed: the receiver was unplugged")},
    {PairOutcome::OpenFailed, "open-failed",
     QT_TRANSLATE_NOOP("MainWindow", "Matched failed: the receiver could not be opened (%1)")},
    {PairOutcome::WriteFailed, "write-failed",
     QT_TRANSLATE_NOOP("MainWindow", "Matched failed: a report could not be sent to the receiver (%1)")},
    {PairOutcome::ReadFailed, "read-failed",
     QT_TRANSLATE_NOOP("MainWindow", "Matched failed: no reply could be read from the receiver (%1)")},
    {PairOutcome::NoAnswer, "no-answer", QT_TRANSLATE_NOOP("MainWindow", "Matched failed: no device answered in time")},
    {PairOutcome::Refused, "refused", QT_TRANSLATE_NOOP("MainWindow", "Matched failed: the receiver refused (%1)")},
    {PairOutcome::Stopped, "stopped", QT_TRANSLATE_NOOP("MainWindow", "Pairing stopped")},
    {PairOutcome::Busy, "busy",
     QT_TRANSLATE_NOOP("MainWindow", "Matched failed: another program is pairing with the receiver")},
    {PairOutcome::NotAuthorised, "not-authorised",
     QT_TRANSLATE_NOOP("MainWindow", "Matched failed: pairing was not authorised for this user")},
};

constexpr bool inReasonOrder()
{
    for (int i = 0; i < int(sizeof kRows / sizeof kRows[0]); ++i)
        if (int(kRows[i].reason) != i)
            return false;
    return true;
}
static_assert(inReasonOrder(), "one row per reason, in the order of the reasons");

// A reason from outside the table reads as stopped.
const Row &row(PairOutcome::Reason reason)
{
    const int index = int(reason);
    return index >= 0 && index < int(sizeof kRows / sizeof kRows[0]) ? kRows[index] : kRows[PairOutcome::Stopped];
}

} // namespace

QString PairOutcome::key(Reason reason)
{
    return QString::fromLatin1(row(reason).key);
}

bool PairOutcome::fromKey(const QString &key, Reason *reason)
{
    for (const Row &candidate : kRows) {
        if (key == QLatin1String(candidate.key)) {
            *reason = candidate.reason;
            return true;
        }
    }
    return false;
}

const char *PairOutcome::words(Reason reason)
{
    return row(reason).words;
}

QString PairOutcome::describe() const
{
    return describe(QString::fromLatin1(words(reason)));
}

QString PairOutcome::describe(const QString &text) const
{
    return text.contains(QLatin1String("%1")) ? text.arg(detail) : text;
}
