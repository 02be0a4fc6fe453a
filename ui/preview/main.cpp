// SPDX-License-Identifier: MIT
// Shows the main window on its own, in a chosen state, and optionally saves a
// screenshot of it as the display shows it. For looking at the window while
// working on it; not part of the product.

#include "app/maincontrol.h"
#include "app/startup.h"
#include "ui/mainwindow.h"
#include "pairing/mousecommunitybt.h"
#include "i18n/trans.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace {

void addOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {"lang", "zh or en", "lang", "zh"},
        {"theme", "0 black, 1 blue, 2 skyblue", "theme", "0"},
        {"receiver", "device kind of the connected receiver: 0 none, 1 mouse, 2 keyboard, 3 both", "kind", "3"},
        {"tovrik", "the receiver is of the Tovrik family"},
        {"page", "home, mouse or keyboard", "page", "home"},
        {"status", "pairing status to show: 2 working, 3 success, 4 failure", "status"},
        {"problem", "receiver problem: 1 no access, 2 unusable device list", "problem"},
        {"unplugged", "the receiver was unplugged during pairing"},
        {"failure", "how the pairing ended, by the outcome's key: unplugged, open-failed, write-failed, read-failed, "
                    "no-answer, refused, stopped, busy, not-authorised", "key"},
        {"service", "with --problem 1, why the pairing service cannot help: not-installed or no-bus", "why",
         "no-bus"},
        {"progress", "polls done of the run's wait (with --status 2)", "polls"},
        {"detail", "the system's words for --failure", "words", "Input/output error"},
        {"popup", "theme or language", "popup"},
        {"shot", "save a screenshot to this file and quit", "file"},
    });
}

// In the order a user would come to it: the receiver, the theme, the page, then what happens on it.
void showState(MainWindow &window, const QCommandLineParser &parser)
{
    const int kind = parser.value("receiver").toInt();
    if (kind != 0)
        window.setConnectState(PairKinds(QFlag(kind)), true, parser.isSet("tovrik"));

    auto clickChild = [&window](const char *name) {
        if (auto *button = window.findChild<QPushButton *>(QLatin1String(name)))
            button->click();
    };
    const char *const swatches[] = {"btnBlack", "btnBlue", "btnSkyblue"};
    const int theme = parser.value("theme").toInt();
    if (theme >= 0 && theme <= 2)
        clickChild(swatches[theme]);
    PairKind page = PairKind::Mouse;
    if (pairKindFromWord(parser.value("page"), &page))
        clickChild(page == PairKind::Keyboard ? "keyboardCode" : "mouseCode");
    if (parser.isSet("problem"))
        window.setReceiverProblem(parser.value("problem").toInt(), kBothKinds,
                                  parser.value("service") == "not-installed" ? PairService::Reach::NotInstalled
                                                                              : PairService::Reach::NoBus);
    if (parser.isSet("status"))
        window.setPairStatus(PairStatus(parser.value("status").toInt()), QString());
    if (parser.isSet("progress"))
        window.setPairProgress(parser.value("progress").toInt(), MouseCommunityBT::kPollAttempts);
    if (parser.isSet("unplugged")) {
        window.setPairStatus(PairStatus::Working, QString());
        window.showPairOutcome({PairOutcome::Unplugged, {}});
        window.setConnectState(kBothKinds, false, parser.isSet("tovrik"), false);
    }
    if (parser.isSet("failure")) {
        PairOutcome outcome{PairOutcome::Stopped, parser.value("detail")};
        PairOutcome::fromKey(parser.value("failure"), &outcome.reason);
        window.setPairStatus(PairStatus::Working, QString());
        window.showPairOutcome(outcome);
    }
    if (parser.value("popup") == "theme")
        clickChild("btnModify");
    else if (parser.value("popup") == "language")
        clickChild("btnLanguage");
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    addOptions(parser);
    parser.process(app);

    QApplication::setFont(loadApplicationFont(":/font/SOURCEHANSANSCN-NORMAL_0.ttf"));
    Trans trans;
    trans.init();
    trans.setCurrentLang(parser.value("lang"));

    MainWindow window;
    window.updateLanguageButtons(parser.value("lang"));
    window.retranslate();
    window.move(0, 0);
    // Style changes before the first show are not all painted; a user only
    // ever changes things on a shown window anyway.
    window.show();
    showState(window, parser);

    if (parser.isSet("shot")) {
        const QString file = parser.value("shot");
        // Late enough for the window manager-less display to have painted it.
        QTimer::singleShot(600, &app, [&] {
            const QPixmap shot = window.screen()->grabWindow(0, window.x(), window.y(), window.width(), window.height());
            if (!shot.save(file))
                std::fprintf(stderr, "preview: cannot save %s\n", qPrintable(file));
            app.exit(shot.isNull() ? 1 : 0);
        });
    }
    return app.exec();
}
