// SPDX-License-Identifier: MIT
#include "config/diagnosis.h"

#include "config/configcontroller.h"
#include "khid/khid.h"

#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace {

QString hex(int value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

Finding finding(const KHID::KCheck &check)
{
    return {check.level, QString::fromStdString(check.name), QString::fromStdString(check.text),
            QString::fromStdString(check.fix)};
}

QString idsText(const KHID::KHidDetail &detail)
{
    return QStringLiteral("%1:%2, usage %3:%4")
        .arg(hex(detail.VendorID), hex(detail.ProductID), hex(detail.capAbilities.UsagePage),
             hex(detail.capAbilities.Usage));
}

} // namespace

QString levelName(KHID::KCheck::Level level)
{
    switch (level) {
    case KHID::KCheck::Ok:
        return QStringLiteral("ok");
    case KHID::KCheck::Warning:
        return QStringLiteral("warning");
    case KHID::KCheck::Problem:
        break;
    }
    return QStringLiteral("problem");
}

KHID::KCheck::Level worstLevel(const QVector<Finding> &findings)
{
    KHID::KCheck::Level worst = KHID::KCheck::Ok;
    for (const Finding &f : findings)
        worst = std::max(worst, f.level);
    return worst;
}

QVector<Finding> accessFindings(const QString &path)
{
    QVector<Finding> findings;
    KHID::KHidPlatform &hid = KHID::platform();
    const std::u16string node = path.toStdU16String();
    std::string reason;
    const bool open = hid.probeAccess(node, &reason);
    if (open)
        findings.append({KHID::KCheck::Ok, "access",
                         QStringLiteral("this user can open %1 for reading and writing").arg(path), QString()});
    else
        findings.append({KHID::KCheck::Problem, "access",
                         QStringLiteral("this user cannot open %1: %2").arg(path, QString::fromStdString(reason)),
                         QString::fromStdString(hid.accessFix())});
    for (KHID::KCheck check : hid.nodeChecks(node)) {
        // With the node open to us, a missing grant only matters for other users.
        if (open && check.level == KHID::KCheck::Problem)
            check.level = KHID::KCheck::Warning;
        findings.append(finding(check));
    }
    return findings;
}

QVector<Finding> diagnose(const QString &config)
{
    QVector<Finding> findings;
    const QString addFix = QStringLiteral("add it to the catalogue (README: Adding a receiver)");

    ConfigController catalogue;
    bool usable = false;
    if (!QFileInfo::exists(config)) {
        findings.append({KHID::KCheck::Problem, "catalogue", QStringLiteral("no catalogue at %1").arg(config),
                         QStringLiteral("reinstall bondara, or name a catalogue with --config FILE")});
    } else if (!catalogue.loadConfig(config)) {
        findings.append({KHID::KCheck::Problem, "catalogue",
                         QStringLiteral("the catalogue %1 cannot be used: %2").arg(config, catalogue.errorString()),
                         QStringLiteral("correct the field named (README: Adding a receiver), or reinstall bondara "
                                        "to restore the shipped catalogue")});
    } else {
        usable = true;
        findings.append({KHID::KCheck::Ok, "catalogue",
                         QStringLiteral("the catalogue %1 lists %2 receivers").arg(config).arg(catalogue.devices().size()),
                         QString()});
        if (!catalogue.warnings().isEmpty())
            findings.append({KHID::KCheck::Warning, "catalogue",
                             QStringLiteral("the catalogue has entries left out or fields not used as written: %1")
                                 .arg(catalogue.warnings().join(QStringLiteral("; "))),
                             QStringLiteral("correct or remove the fields named (README: Adding a receiver)")});
    }

    QVector<KHID::KHidDetail> interfaces;
    KHID::enumHidDevices([&](KHID::KHidDetail detail, bool &) { interfaces.append(detail); });
    if (interfaces.isEmpty())
        findings.append({KHID::KCheck::Warning, "interfaces", QStringLiteral("no HID interface is seen"),
                         QStringLiteral("plug the receiver in")});
    else
        findings.append({KHID::KCheck::Ok, "interfaces",
                         (interfaces.size() == 1 ? QStringLiteral("1 HID interface is seen") : QStringLiteral("%1 HID interfaces are seen").arg(interfaces.size())), QString()});

    if (usable) {
        const QList<DeviceDetail> entries = catalogue.devices().values();
        QSet<QString> matchedIds;
        int receivers = 0;
        for (const KHID::KHidDetail &detail : interfaces) {
            const DeviceDetail *entry = catalogue.entryFor(detail);
            if (!entry)
                continue;
            ++receivers;
            matchedIds.insert(hex(detail.VendorID) + hex(detail.ProductID));
            findings.append({KHID::KCheck::Ok, "receiver",
                             QStringLiteral("%1 at %2 (%3)").arg(entry->name, detail.DevicePath, idsText(detail)),
                             QString()});
            findings += accessFindings(detail.DevicePath);
        }
        // Near misses: the vendor of a catalogue receiver, but no interface of that
        // product matching an entry. One finding per product.
        QSet<QString> reported;
        for (const KHID::KHidDetail &detail : interfaces) {
            const QString ids = hex(detail.VendorID) + hex(detail.ProductID);
            if (matchedIds.contains(ids) || reported.contains(ids))
                continue;
            for (const DeviceDetail &entry : entries) {
                if (entry.vid != detail.VendorID)
                    continue;
                // The vendor collection is the one an entry names; prefer it when the product has several.
                const KHID::KHidDetail *shown = &detail;
                for (const KHID::KHidDetail &other : interfaces) {
                    if (other.VendorID == detail.VendorID && other.ProductID == detail.ProductID
                        && other.capAbilities.UsagePage >= 0xFF00) {
                        shown = &other;
                        break;
                    }
                }
                const bool samePid = entry.pid == detail.ProductID;
                findings.append({KHID::KCheck::Warning, "near-miss",
                                 QStringLiteral("%1 (%2) has the vendor id of %3 but not its %4")
                                     .arg(shown->DevicePath, idsText(*shown), entry.name,
                                          samePid ? QStringLiteral("usage") : QStringLiteral("product id")),
                                 QStringLiteral("if this is your receiver, add an entry with \"vid\": \"%1\", \"pid\": "
                                                "\"%2\", \"usagePage\": \"%3\", \"usage\": \"%4\" to the catalogue "
                                                "(README: Adding a receiver)")
                                     .arg(hex(shown->VendorID), hex(shown->ProductID),
                                          hex(shown->capAbilities.UsagePage), hex(shown->capAbilities.Usage))});
                reported.insert(ids);
                break;
            }
        }
        if (receivers == 0)
            findings.append({KHID::KCheck::Problem, "receiver", QStringLiteral("no supported receiver is plugged in"),
                             reported.isEmpty() ? QStringLiteral("plug the receiver in; if it is plugged in, ") + addFix
                                                : QStringLiteral("see the near misses above, or plug the receiver in")});
    }

    for (const KHID::KCheck &check : KHID::platform().systemChecks())
        findings.append(finding(check));
    return findings;
}
