// SPDX-License-Identifier: MIT
#pragma once

#include <QHash>
#include <QJsonDocument>
#include <QStringList>
#include <QTranslator>

#include <shared_mutex>

// The language codes the program itself names; any other code may come from a file.
inline constexpr char LANG_ZH[] = "zh";
inline constexpr char LANG_EN[] = "en";

// Answers every tr() of the program from JSON tables (language_*.json), one per language
// code, keyed by the English source text. English is the source language: its table is the
// identity over the Chinese keys unless a file provides one.
//
// Look-ups run on the GUI thread and on the pairing thread while the GUI thread may switch
// the language, so the tables and the current code sit behind one reader-writer lock
// (a standard one, which ThreadSanitizer understands). Signals are emitted outside it.
class Trans : public QTranslator
{
    Q_OBJECT
    Q_PROPERTY(QString currentLang READ currentLang WRITE setCurrentLang NOTIFY currentLangChanged)
    Q_PROPERTY(QStringList languages READ languages NOTIFY languagesChanged)
    Q_PROPERTY(QString transString READ transString NOTIFY transStringChanged)

public:
    explicit Trans(QObject *parent = nullptr);
    ~Trans() override;

    // Loads the embedded folder ":/trans/" and installs this object as the application's
    // translator.
    void init();

    // Context, disambiguation and plural count are ignored: a key has one text everywhere.
    QString translate(const char *context, const char *sourceText, const char *disambiguation = nullptr,
                      int n = -1) const override;

    QString currentLang() const;
    QStringList languages() const;
    QString transString() const;

    Q_INVOKABLE void loadFolder(QString folder);
    // On return `lang` holds the file's code: empty when the file could not be read or parsed,
    // and for a file that names no language, whose entries go to the code "".
    Q_INVOKABLE bool load(QString &lang, QString filePath);
    // As load(), from a file's content.
    bool loadData(QString &lang, const QByteArray &data);

signals:
    void currentLangChanged(QString currentLang);
    void languagesChanged(QStringList languages);
    void langLoaded(QString lang);
    void folderLoaded(QString folder);
    void transStringChanged();

public slots:
    QString trans(QString source);
    void setCurrentLang(const QString &currentLang);

private:
    QString lookup(const QString &source) const;
    void ensureEnglish(); // caller holds mLock exclusively

    mutable std::shared_mutex mLock;
    QString mCurrentLang;
    QHash<QString, QHash<QString, QString>> mTranslations;
    QStringList mLanguages;
    QString mTransString;
};

bool parseJson(const QByteArray &data, QJsonDocument &document);
