// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// udev rules that tag a receiver's hidraw node `uaccess`: the user at the seat
// then opens the raw node, and so does every program that user runs. The
// pairing service makes such a rule unneeded; one written by hand, or left by
// an older package, is reported.

struct UsbId {
    int vendor = 0;
    int product = 0;
};

// Whether one rule (continued lines joined) tags the hidraw nodes of `id`
// uaccess: it adds the tag, names the vendor with ATTRS{idVendor}, and no
// condition of its that we can judge rules the node out. Hex ids are compared
// without regard to case ("046D" was meant for the "046d" of sysfs); a rule
// that does not parse tags nothing.
bool tagsUaccess(const QString &rule, UsbId id);

struct UaccessRule {
    QString file;
    int line = 0;            // 1-based, the first line of a continued rule
    QVector<int> receivers;  // indices into the ids asked about
};

// The rules of `directories` that tag one of `ids` uaccess, by file name then
// line. A file name found in an earlier directory hides the later ones, as
// udev reads them (a link to /dev/null masks); files that are not regular,
// cannot be read or are too large are passed over.
QVector<UaccessRule> uaccessRules(const QStringList &directories, const QVector<UsbId> &ids);
