// SPDX-License-Identifier: MIT
// doctor: the findings of config/diagnosis, with the pairing service's, as text or one JSON object.

#include "cli/commands.h"
#include "cli/output.h"
#include "config/diagnosis.h"
#include "pairing/pairservicecheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace cli {

// Looks at what stands between this user and a pairing, without sending anything.
int doctorCommand(const QStringList &args)
{
    bool json = false;
    QString config;
    if (const int code = readJsonAndConfig(QStringLiteral("doctor"), args, json, config))
        return code;

    const QVector<Finding> findings = diagnose(config, examineService());
    const KHID::KCheck::Level worst = worstLevel(findings);

    if (json) {
        QJsonArray checks;
        for (const Finding &f : findings) {
            QJsonObject object{{"check", f.name}, {"level", levelName(f.level)}, {"text", f.text}};
            if (f.level != KHID::KCheck::Ok)
                object.insert(QStringLiteral("fix"), f.fix);
            checks.append(object);
        }
        out() << QJsonDocument(QJsonObject{{"schema", 1}, {"checks", checks}, {"result", levelName(worst)}})
                     .toJson(QJsonDocument::Indented);
    } else {
        for (const Finding &f : findings) {
            out() << levelName(f.level).leftJustified(8) << f.name.leftJustified(11) << plain(f.text);
            if (f.level != KHID::KCheck::Ok)
                out() << " -- fix: " << plain(f.fix);
            out() << '\n';
        }
    }
    out().flush();
    return worst == KHID::KCheck::Problem ? ExitNotFound : ExitOk;
}

} // namespace cli
