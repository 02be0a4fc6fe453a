// SPDX-License-Identifier: MIT
// The translation catalogue: loading files and folders, look-ups, language switches, bad
// files, and look-ups on another thread while the language changes.

#include "i18n/trans.h"

#include <QtTest>

#include <sys/stat.h>

#include <atomic>
#include <thread>

static const QString kEmbedded = QStringLiteral(":/trans/");

class TestTrans : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    // A folder holding the given files, each written as it is.
    QString folder(const QString &name, const QMap<QString, QByteArray> &files)
    {
        const QString path = dir.filePath(name);
        QDir().mkpath(path);
        for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
            QFile file(path + '/' + it.key());
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                qFatal("cannot write %s", qPrintable(file.fileName()));
            file.write(it.value());
        }
        return path;
    }

    // loadFolder always logs the folder; tests that are not about the log expect it quietly.
    static void loadQuietly(Trans &trans, const QString &path)
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Trans loadFolder "));
        trans.loadFolder(path);
    }

private slots:
    // Nothing in the program listens to Trans's signals: what it holds is checked, not how it says so.
    void initLoadsEmbeddedFolderAndInstalls()
    {
        Trans trans;
        QCOMPARE(trans.translate("MainWindow", "Matching code"), QString("Matching code"));
        QTest::ignoreMessage(QtWarningMsg, "Trans loadFolder \":/trans/\"");
        trans.init();
        QCOMPARE(trans.languages(), QStringList({"zh", "en"}));
        QCOMPARE(trans.currentLang(), QString("zh"));
        QVERIFY(trans.transString().isEmpty());
        QVERIFY(trans.isEmpty()); // no compiled translation data, as QTranslator sees it
        // Installed: Qt's own translate() reaches the catalogue.
        QCOMPARE(QCoreApplication::translate("MouseCommunityBT", "Matched failed"), QString::fromUtf8("配对失败"));
    }

    void lookUps_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text") << "zh" << "Matching code" << QString::fromUtf8("对码");
        QTest::newRow("case differs from the key") << "zh" << "Status:" << "Status:";
        QTest::newRow("no entry") << "zh" << QString::fromUtf8("中文") << QString::fromUtf8("中文");
        QTest::newRow("English text") << "en" << "Matching code" << "Matching code";
        QTest::newRow("code without a table") << "fr" << "Matching code" << "Matching code";
    }

    void lookUps()
    {
        QFETCH(QString, lang);
        QFETCH(QString, source);
        QFETCH(QString, expected);
        Trans trans;
        loadQuietly(trans, kEmbedded);
        trans.setCurrentLang(lang);
        QCOMPARE(trans.currentLang(), lang); // a code need not have a table
        QCOMPARE(trans.languages(), QStringList({"zh", "en"}));
        const QByteArray utf8 = source.toUtf8();
        QCOMPARE(trans.trans(source), expected);
        // Context, disambiguation and plural count do not matter.
        QCOMPARE(trans.translate("MainWindow", utf8.constData()), expected);
        QCOMPARE(trans.translate("Other", utf8.constData(), "a note", 3), expected);
        QVERIFY(trans.translate("MainWindow", nullptr).isNull());
    }

    void laterFilesAddLanguagesAndOverride()
    {
        Trans trans;
        loadQuietly(trans, kEmbedded);
        trans.setCurrentLang("en");
        const QString extra = folder("extra", {
            {"language_a.json", "{ not json"}, // does not stop the folder
            {"language_de.json", R"({"lang": "de", "trans": [{"key": "Matching code", "value": "Koppeln"}]})"},
            {"language_en.json", R"({"lang": "en", "trans": [{"key": "Matching code", "value": "Pair"}]})"},
            {"language_zh2.json", R"({"lang": "zh", "trans": [{"key": "Matching code", "value": "配对"}]})"},
            {"other.json", R"({"lang": "xx", "trans": [{"key": "Matching code", "value": "no"}]})"},
        });
        loadQuietly(trans, extra);

        // Folders are read in name order; "zh" stays first, the default language comes back.
        QCOMPARE(trans.languages(), QStringList({"zh", "de", "en"}));
        QCOMPARE(trans.currentLang(), QString("zh"));
        QCOMPARE(trans.trans("Matching code"), QString::fromUtf8("配对"));
        QCOMPARE(trans.trans("Matched failed"), QString::fromUtf8("配对失败")); // the rest stays
        trans.setCurrentLang("de");
        QCOMPARE(trans.trans("Matching code"), QString("Koppeln"));
        QCOMPARE(trans.trans("Welcome!"), QString("Welcome!"));
        // An English file is kept, not made the identity over the Chinese keys.
        trans.setCurrentLang("en");
        QCOMPARE(trans.trans("Matching code"), QString("Pair"));
        QCOMPARE(trans.trans("mouse3_en.png"), QString("mouse3_en.png"));
    }

    // A file, or something else named language_x.json, alone in its folder. Nothing may hang or
    // bloat the program: what is no regular file or too large is refused on sight.
    void badFiles_data()
    {
        QTest::addColumn<QString>("kind"); // "file": content as written
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<QString>("lang"); // loaded as
        QTest::addColumn<QStringList>("languages"); // after loading its folder
        QTest::addColumn<QString>("a"); // what "a" reads as in the first of them
        const QByteArray entry = R"("trans": [{"key": "a", "value": "b"}]})";
        for (const char *kind : {"no folder", "no file", "fifo", "directory", "character device", "over-size"})
            QTest::newRow(kind) << kind << QByteArray() << false << "" << QStringList() << "a";
        QTest::newRow("invalid JSON") << "file" << QByteArray(R"({"lang": "zh", "trans": [)") << false << ""
                                      << QStringList() << "a";
        // Read as an empty object: no language named, no entry.
        QTest::newRow("top-level array") << "file" << QByteArray(R"([{"lang": "zh"}])") << true << ""
                                         << QStringList() << "a";
        // A file that names no language is a table of the code "", listed like any other.
        QTest::newRow("no lang") << "file" << "{" + entry << true << "" << QStringList{"", "en"} << "b";
        QTest::newRow("lang not a string") << "file" << R"({"lang": 7, )" + entry << true << "" << QStringList{"", "en"}
                                           << "b";
        QTest::newRow("blank lang") << "file" << R"({"lang": " ", )" + entry << true << " " << QStringList{" ", "en"}
                                    << "b";
        QTest::newRow("empty trans") << "file" << QByteArray(R"({"lang": "zh", "trans": []})") << true << "zh"
                                     << QStringList() << "a";
        // Entries that are not strings read as empty: only the empty key maps to the empty text.
        QTest::newRow("trans of numbers") << "file" << QByteArray(R"({"lang": "zh", "trans": [1, 2]})") << true
                                          << "zh" << QStringList({"zh", "en"}) << "a";
    }

    void badFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, content);
        QFETCH(bool, loaded);
        QFETCH(QString, lang);
        QFETCH(QStringList, languages);
        QFETCH(QString, a);
        const QString path = kind == "no folder" ? dir.filePath("missing") : folder(QTest::currentDataTag(), {});
        const QString file = path + "/language_x.json";
        if (kind == "file") {
            folder(QTest::currentDataTag(), {{"language_x.json", content}});
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        } else if (kind == "directory") {
            QVERIFY(QDir().mkpath(file));
        } else if (kind == "character device") {
            QVERIFY(QFile::link("/dev/zero", file));
        } else if (kind == "over-size") {
            QFile big(file);
            QVERIFY(big.open(QIODevice::WriteOnly) && big.write("{") == 1 && big.resize(4 * 1024 * 1024 + 1));
        }
        Trans trans;
        QString code = "stale";
        QCOMPARE(trans.load(code, file), loaded);
        QCOMPARE(code, lang);

        // The folder walk skips it too, whether it lists it or not.
        Trans fresh;
        loadQuietly(fresh, path);
        QCOMPARE(fresh.languages(), languages);
        QCOMPARE(fresh.currentLang(), QString(languages.contains("zh") ? "zh" : "en"));
        fresh.setCurrentLang(languages.value(0, "en"));
        QCOMPARE(fresh.trans("a"), a);
    }

    // The pairing thread translates its results while the user switches the language, and a
    // second loadFolder may rewrite the tables. Run under ThreadSanitizer, a data race aborts.
    void lookUpsDuringLanguageSwitches()
    {
        Trans trans;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Trans loadFolder "));
        trans.init();
        const QString chinese = QString::fromUtf8("配对失败");
        const QString english = QStringLiteral("Matched failed");

        std::atomic<bool> stop{false};
        std::atomic<int> lookups{0};
        std::atomic<int> wrong{0};
        auto reader = [&](bool throughQt) {
            while (!stop.load()) {
                const QString text = throughQt ? QCoreApplication::translate("MouseCommunityBT", "Matched failed")
                                               : trans.translate("MouseCommunityBT", "Matched failed");
                if (text != chinese && text != english)
                    ++wrong;
                if (trans.languages().isEmpty() || trans.currentLang().isEmpty())
                    ++wrong;
                ++lookups;
            }
        };
        std::thread direct(reader, false);
        std::thread viaQt(reader, true);
        for (int i = 0; i < 2000; ++i) {
            trans.setCurrentLang(i % 2 ? "en" : "zh");
            if (i % 250 == 0) {
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Trans loadFolder "));
                trans.loadFolder(kEmbedded);
            }
        }
        // Let the readers see the last switch too.
        while (lookups.load() < 2000)
            std::this_thread::yield();
        stop = true;
        direct.join();
        viaQt.join();
        QCOMPARE(wrong.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTrans)
#include "tst_trans.moc"
