// SPDX-License-Identifier: MIT
// Makes, from the receiver catalogue, the AppStream metainfo's list of the hardware it supports
// and the opt-in udev rule (an example the package ships, never installs) that opens the
// receivers' hidraw nodes to the seat's user on a system without polkit.
//
//   rulegen --catalogue DeviceConfig.json --rules OUT.rules
//           [--metainfo-template IN.xml --metainfo OUT.xml]
//
// An entry counts exactly as Bondara counts it: the program's own check keeps or leaves it
// out, its ids are read with the program's own conversion, and a later entry with the same
// product id replaces an earlier one. An entry the program leaves out gets no rule: the
// program could never match a receiver by it, and a rule on a wrong id would open someone
// else's device.

#include "config/cataloguecheck.h"
#include "config/devicedetail.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "rulegen: %s\n", qPrintable(message));
    std::exit(1);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size()
        || !file.flush())
        fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}

QMap<int, DeviceDetail> readCatalogue(const QString &path)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(readFile(path), &error);
    if (error.error != QJsonParseError::NoError)
        fail(QStringLiteral("%1 is not JSON: %2").arg(path, error.errorString()));
    const CatalogueCheck check = checkCatalogue(document);
    if (!check.error.isEmpty())
        fail(QStringLiteral("%1: %2").arg(path, check.error));
    for (const QString &warning : check.warnings)
        std::fprintf(stderr, "rulegen: %s: %s\n", qPrintable(path), qPrintable(warning));

    QMap<int, DeviceDetail> receivers;
    for (const QJsonValue &element : check.entries) {
        const DeviceDetail receiver(element.toObject());
        receivers.insert(receiver.pid, receiver);
    }
    return receivers;
}

QString hex(int value, bool upper)
{
    const QString text = QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
    return upper ? text.toUpper() : text;
}

// A name goes into a comment line: nothing in it may start a new line.
QString oneLine(QString text)
{
    for (QChar &c : text)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    return text.simplified();
}

QByteArray udevRules(const QMap<int, DeviceDetail> &receivers)
{
    QString out = QStringLiteral(
        "# Bondara, opt-in, for a system without polkit, where the pairing service refuses\n"
        "# every request: lets the user at the seat open every hidraw node of the receivers\n"
        "# that Bondara's catalogue lists, without the service. Every program of that user\n"
        "# can then read the receivers' raw reports, keystrokes included, and write to them.\n"
        "# To opt in, as root: copy this file to /etc/udev/rules.d/, then\n"
        "#   udevadm control --reload-rules\n"
        "#   udevadm trigger --subsystem-match=hidraw --action=change\n"
        "# Generated from the catalogue when Bondara was built; a receiver added to\n"
        "# /etc/bondara/DeviceConfig.json needs a line of its own, and the file's number\n"
        "# must stay below 73 (see bondara(1)).\n");
    for (const DeviceDetail &receiver : receivers) {
        // sysfs spells USB ids in lower case, four digits.
        out += QStringLiteral("\n# %1\n").arg(oneLine(receiver.name));
        out += QStringLiteral("SUBSYSTEM==\"hidraw\", KERNEL==\"hidraw*\", ATTRS{idVendor}==\"%1\", "
                              "ATTRS{idProduct}==\"%2\", TAG+=\"uaccess\"\n")
                   .arg(hex(receiver.vid, false), hex(receiver.pid, false));
    }
    return out.toUtf8();
}

// The template's line holding @BONDARA_MODALIASES@ becomes one <modalias> per receiver, indented
// alike; the kernel writes USB modaliases with upper-case hexadecimal digits.
QByteArray metainfo(const QString &templatePath, const QMap<int, DeviceDetail> &receivers)
{
    const QString marker = QStringLiteral("@BONDARA_MODALIASES@");
    const QStringList lines = QString::fromUtf8(readFile(templatePath)).split(QLatin1Char('\n'));
    QStringList out;
    int markers = 0;
    for (const QString &line : lines) {
        const int at = line.indexOf(marker);
        if (at < 0) {
            out << line;
            continue;
        }
        ++markers;
        const QString indent = line.left(at);
        for (const DeviceDetail &receiver : receivers)
            out << QStringLiteral("%1<modalias>usb:v%2p%3d*</modalias>")
                       .arg(indent, hex(receiver.vid, true), hex(receiver.pid, true));
    }
    if (markers != 1)
        fail(QStringLiteral("%1 must hold %2 once, on a line of its own").arg(templatePath, marker));
    return out.join(QLatin1Char('\n')).toUtf8();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QString catalogue, rules, metainfoTemplate, metainfoOut;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (i + 1 >= args.size())
            fail("missing value after " + arg);
        const QString value = args.at(++i);
        if (arg == QLatin1String("--catalogue"))
            catalogue = value;
        else if (arg == QLatin1String("--rules"))
            rules = value;
        else if (arg == QLatin1String("--metainfo-template"))
            metainfoTemplate = value;
        else if (arg == QLatin1String("--metainfo"))
            metainfoOut = value;
        else
            fail("unknown option " + arg);
    }
    if (catalogue.isEmpty() || rules.isEmpty() || metainfoTemplate.isEmpty() != metainfoOut.isEmpty())
        fail("usage: rulegen --catalogue FILE --rules OUT [--metainfo-template IN --metainfo OUT]");

    const QMap<int, DeviceDetail> receivers = readCatalogue(catalogue);
    writeFile(rules, udevRules(receivers));
    if (!metainfoOut.isEmpty())
        writeFile(metainfoOut, metainfo(metainfoTemplate, receivers));
    return 0;
}
