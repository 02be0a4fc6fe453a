// SPDX-License-Identifier: MIT
// descriptor: the top-level collections of a report descriptor file.

#include "base/kfileread.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "khid/kreportdescriptor.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace cli {

namespace {

// Printable text is taken as hex bytes; anything else as the raw descriptor.
bool readDescriptorFile(const QString &path, std::vector<uint8_t> &bytes, QString &error)
{
    QByteArray content;
    QString reason;
    if (!KHID::readFileCapped(path, KHID::kDescriptorFileLimit, content, &reason, true)) {
        error = QStringLiteral("%1: %2").arg(path, reason);
        return false;
    }
    bool text = !content.isEmpty();
    for (const char c : content) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (!(u == '\n' || u == '\r' || u == '\t' || (u >= 0x20 && u < 0x7F))) {
            text = false;
            break;
        }
    }
    if (text) {
        if (!KHID::parseHexBytes(content.toStdString(), bytes)) {
            error = QStringLiteral("%1: not a list of hexadecimal bytes").arg(path);
            return false;
        }
        return true;
    }
    bytes.assign(content.begin(), content.end());
    return true;
}

} // namespace

int descriptorCommand(const QStringList &args)
{
    bool json = false;
    QString path;
    for (const QString &arg : args) {
        if (arg == QLatin1String("--json"))
            json = true;
        else if (path.isEmpty())
            path = arg;
        else
            return fail(ExitBadInput, QStringLiteral("descriptor: unexpected argument \"%1\"").arg(arg));
    }
    if (path.isEmpty())
        return fail(ExitBadInput, QStringLiteral("descriptor: no file given"));

    std::vector<uint8_t> bytes;
    QString error;
    if (!readDescriptorFile(path, bytes, error))
        return fail(ExitBadInput, error);
    const KHID::KReportDescriptor descriptor = KHID::parseReportDescriptor(bytes.data(), bytes.size());
    if (!descriptor.ok)
        return fail(ExitBadInput, QStringLiteral("%1: bad descriptor: %2")
                                      .arg(path, QString::fromStdString(descriptor.error)));
    if (descriptor.collections.empty())
        return fail(ExitBadInput, QStringLiteral("%1: the descriptor has no top-level collection").arg(path));

    QJsonArray collections;
    int number = 0;
    for (const KHID::KTopCollection &collection : descriptor.collections) {
        QJsonArray ids;
        for (const KHID::KHidValueCaps &value : collection.featureValueCaps)
            ids.append(value.ReportID);
        collections.append(capsObject(collection.caps, ids));
        if (!json)
            out() << "collection " << ++number << ": " << capsText(collection.caps, ids) << '\n';
    }
    if (json)
        out() << QJsonDocument(QJsonObject{{"usesReportIds", descriptor.usesReportIds},
                                           {"collections", collections}})
                     .toJson(QJsonDocument::Indented);
    out().flush();
    return ExitOk;
}

} // namespace cli
