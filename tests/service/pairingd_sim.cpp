// SPDX-License-Identifier: MIT
// The pairing service on a simulated machine, for the stages that run it on a
// private bus: bondara-pairingd's own logic, with a scene for its receivers and
// a trace of what they are sent. Never installed.

#include "service/servicemain.h"
#include "sim/ksimplatform.h"

int main(int argc, char *argv[])
{
    QString scene;
    QString trace;
    ServicePlatform simulated;
    simulated.usage = "  --simulate SCENE   pair on the simulated machine of SCENE (required)\n"
                      "  --trace FILE       append every written report to FILE\n"
                      "  --question-seconds N  refuse a password question unanswered for N seconds\n";
    simulated.takeOption = [&](const QStringList &arguments, int &i) {
        const QString &option = arguments.at(i);
        if (i + 1 >= arguments.size())
            return false;
        if (option == QLatin1String("--simulate"))
            scene = arguments.at(++i);
        else if (option == QLatin1String("--trace"))
            trace = arguments.at(++i);
        else if (option == QLatin1String("--question-seconds"))
            simulated.questionLimitMs = qBound(1, arguments.at(++i).toInt(), 3600) * 1000;
        else
            return false;
        return true;
    };
    simulated.install = [&](QString *error) {
        if (scene.isEmpty()) {
            *error = QStringLiteral("--simulate SCENE is required");
            return false;
        }
        std::unique_ptr<KHID::KSimPlatform> machine = KHID::KSimPlatform::fromFile(scene, error, trace);
        if (!machine)
            return false;
        KHID::installPlatform(std::move(machine));
        return true;
    };
    return runPairingService(argc, argv, simulated);
}
