// SPDX-License-Identifier: MIT
#pragma once

#include <QMetaType>
#include <QString>

// How a pairing run ended, and why.
struct PairOutcome {
    enum Reason {
        Paired,      // the receiver reported a device
        NoReceiver,  // no receiver was handed over
        Unplugged,   // the receiver went away during the run
        OpenFailed,  // the receiver could not be opened (detail: the system's words)
        WriteFailed, // a report could not be written (detail: the system's words)
        ReadFailed,  // a reply could not be read (detail: the system's words)
        NoAnswer,    // the receiver kept waiting: no device answered within the poll
        Refused,     // the receiver answered with something other than waiting (detail: its reply)
        Stopped,     // the program is closing, or the user stopped the run
        Busy,        // another program is pairing on this receiver
        NotAuthorised // the pairing service was not allowed to pair for this user, or the
                      // authentication was cancelled
    };

    Reason reason = NoReceiver;
    QString detail;

    bool ok() const { return reason == Paired; }
    // A stable name for scripts: "paired", "no-receiver", "unplugged", ...
    static QString key(Reason reason);
    // The reason a key names; false for none.
    static bool fromKey(const QString &key, Reason *reason);
    // The words the window shows, in English: the key its translation is looked up by,
    // with "%1" where the detail goes.
    static const char *words(Reason reason);
    // The words with the detail put in, as the command line prints them.
    QString describe() const;
    // As describe(), with the words given (a translation of words(reason)).
    QString describe(const QString &words) const;
};
Q_DECLARE_METATYPE(PairOutcome)
