// SPDX-License-Identifier: MIT
#include "config/diagnosis.h"

#include "config/configcontroller.h"
#include "config/uaccessrules.h"
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

// Rules that open a catalogue receiver's node to every program of the seat's user.
QVector<Finding> ruleFindings(const QList<DeviceDetail> &entries, const ServiceFacts &service)
{
    QStringList directories;
    for (const std::string &directory : KHID::platform().accessRuleDirectories())
        directories << QString::fromStdString(directory);
    QVector<UsbId> ids;
    for (const DeviceDetail &entry : entries)
        ids.append({entry.vid, entry.pid});
    QVector<Finding> findings;
    for (const UaccessRule &rule : uaccessRules(directories, ids)) {
        QStringList receivers;
        for (const int index : rule.receivers)
            receivers << QStringLiteral("%1 (%2:%3)").arg(entries.at(index).name, hex(ids.at(index).vendor),
                                                          hex(ids.at(index).product));
        const QFileInfo file(rule.file);
        // udev's own folders under /lib hold the packages' files; /etc and /run the administrator's.
        const QString removal =
            file.path().endsWith(QLatin1String("/lib/udev/rules.d"))
                ? QStringLiteral("the file comes with a package (dpkg -S %1 names it): upgrade or remove that package, "
                                 "or as root mask the file with ln -s /dev/null /etc/udev/rules.d/%2 and run udevadm "
                                 "control --reload")
                      .arg(rule.file, file.fileName())
                : QStringLiteral("as root, delete line %1 of %2 (or the file, if nothing else is in it) and run udevadm "
                                 "control --reload")
                      .arg(QString::number(rule.line), rule.file);
        findings.append({KHID::KCheck::Warning, "udev-rule",
                         QStringLiteral("%1 line %2 tags the raw node of %3 uaccess: every program of the seat's user "
                                        "can read that receiver's raw reports, keystrokes included")
                             .arg(rule.file, QString::number(rule.line), receivers.join(QStringLiteral(", "))),
                         removal + QStringLiteral(", then unplug the receiver and plug it in again; ")
                             + (service.pairs ? QStringLiteral("the pairing service pairs it without the rule")
                                              : QStringLiteral("keep the rule only where there is no pairing service "
                                                               "or no polkit: there it is the way to pair"))});
    }
    return findings;
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

QVector<Finding> accessFindings(const QString &path, const ServiceFacts &service)
{
    QVector<Finding> findings;
    KHID::KHidPlatform &hid = KHID::platform();
    const std::u16string node = path.toStdU16String();
    std::string reason;
    const bool open = hid.probeAccess(node, &reason);
    const QString closed = QStringLiteral("this user cannot open %1: %2").arg(path, QString::fromStdString(reason));
    const QString platformFix = QString::fromStdString(hid.accessFix());
    if (open)
        findings.append({KHID::KCheck::Ok, "access",
                         QStringLiteral("this user can open %1 for reading and writing").arg(path), QString()});
    else if (service.pairs)
        findings.append({KHID::KCheck::Ok, "access", closed + QStringLiteral("; pairing goes through the pairing service"),
                         QString()});
    else
        findings.append({KHID::KCheck::Problem, "access", closed,
                         service.missing.isEmpty() ? platformFix : service.missing + QStringLiteral("; or, ") + platformFix});
    for (KHID::KCheck check : hid.nodeChecks(node)) {
        // Through the service nobody needs the node; with it open to us, a
        // missing grant only matters for other users.
        if (service.pairs)
            check.level = KHID::KCheck::Ok;
        else if (open && check.level == KHID::KCheck::Problem)
            check.level = KHID::KCheck::Warning;
        Finding f = finding(check);
        if (f.level == KHID::KCheck::Ok)
            f.fix.clear();
        findings.append(f);
    }
    return findings;
}

namespace {

// Whether the catalogue can be used.
bool catalogueFindings(const QString &config, ConfigController &catalogue, QVector<Finding> &findings)
{
    if (!QFileInfo::exists(config)) {
        findings.append({KHID::KCheck::Problem, "catalogue", QStringLiteral("no catalogue at %1").arg(config),
                         QStringLiteral("reinstall bondara, or name a catalogue with --config FILE")});
        return false;
    }
    if (!catalogue.loadConfig(config)) {
        findings.append({KHID::KCheck::Problem, "catalogue",
                         QStringLiteral("the catalogue %1 cannot be used: %2").arg(config, catalogue.errorString()),
                         QStringLiteral("correct the field named (README: Adding a receiver), or reinstall bondara "
                                        "to restore the shipped catalogue")});
        return false;
    }
    findings.append({KHID::KCheck::Ok, "catalogue",
                     QStringLiteral("the catalogue %1 lists %2 receivers").arg(config).arg(catalogue.devices().size()),
                     QString()});
    if (!catalogue.warnings().isEmpty())
        findings.append({KHID::KCheck::Warning, "catalogue",
                         QStringLiteral("the catalogue has entries left out or fields not used as written: %1")
                             .arg(catalogue.warnings().join(QStringLiteral("; "))),
                         QStringLiteral("correct or remove the fields named (README: Adding a receiver)")});
    return true;
}

QVector<KHID::KHidDetail> interfaceFindings(QVector<Finding> &findings)
{
    QVector<KHID::KHidDetail> interfaces;
    KHID::enumHidDevices([&](KHID::KHidDetail detail, bool &) { interfaces.append(detail); });
    if (interfaces.isEmpty())
        findings.append({KHID::KCheck::Warning, "interfaces", QStringLiteral("no HID interface is seen"),
                         QStringLiteral("plug the receiver in")});
    else
        findings.append({KHID::KCheck::Ok, "interfaces",
                         (interfaces.size() == 1 ? QStringLiteral("1 HID interface is seen") : QStringLiteral("%1 HID interfaces are seen").arg(interfaces.size())), QString()});
    return interfaces;
}

// The vendor collection is the one an entry names; preferred when the product has several.
const KHID::KHidDetail &shownInterface(const KHID::KHidDetail &detail, const QVector<KHID::KHidDetail> &interfaces)
{
    for (const KHID::KHidDetail &other : interfaces) {
        if (other.VendorID == detail.VendorID && other.ProductID == detail.ProductID
            && other.capAbilities.UsagePage >= 0xFF00)
            return other;
    }
    return detail;
}

// Near misses: the vendor of a catalogue receiver, but no interface of that
// product matching an entry. One finding per product; whether there was any.
bool nearMissFindings(const QList<DeviceDetail> &entries, const QVector<KHID::KHidDetail> &interfaces,
                      const QSet<QString> &matchedIds, QVector<Finding> &findings)
{
    QSet<QString> reported;
    for (const KHID::KHidDetail &detail : interfaces) {
        const QString ids = hex(detail.VendorID) + hex(detail.ProductID);
        if (matchedIds.contains(ids) || reported.contains(ids))
            continue;
        for (const DeviceDetail &entry : entries) {
            if (entry.vid != detail.VendorID)
                continue;
            const KHID::KHidDetail *shown = &shownInterface(detail, interfaces);
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
    return !reported.isEmpty();
}

// Each supported receiver with the access to it, then the near misses.
void receiverFindings(const ConfigController &catalogue, const QVector<KHID::KHidDetail> &interfaces,
                      const ServiceFacts &service, QVector<Finding> &findings)
{
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
        findings += accessFindings(detail.DevicePath, service);
    }
    const bool nearMisses = nearMissFindings(catalogue.devices().values(), interfaces, matchedIds, findings);
    if (receivers == 0)
        findings.append({KHID::KCheck::Problem, "receiver", QStringLiteral("no supported receiver is plugged in"),
                         nearMisses ? QStringLiteral("see the near misses above, or plug the receiver in")
                                    : QStringLiteral("plug the receiver in; if it is plugged in, add it to the "
                                                     "catalogue (README: Adding a receiver)")});
}

} // namespace

QVector<Finding> diagnose(const QString &config, const ServiceFacts &service)
{
    QVector<Finding> findings;
    ConfigController catalogue;
    const bool usable = catalogueFindings(config, catalogue, findings);
    const QVector<KHID::KHidDetail> interfaces = interfaceFindings(findings);
    if (usable)
        receiverFindings(catalogue, interfaces, service, findings);

    findings += service.findings;
    if (usable)
        findings += ruleFindings(catalogue.devices().values(), service);

    for (const KHID::KCheck &check : KHID::platform().systemChecks())
        findings.append(finding(check));
    return findings;
}
