// SPDX-License-Identifier: MIT
#include "i18n/trans.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include "base/kfileread.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <mutex>

namespace {

const QString kZh = QLatin1String(LANG_ZH);
const QString kEn = QLatin1String(LANG_EN);

// "zh" first, the rest by name: QHash's own order changes from run to run.
QStringList orderedCodes(const QHash<QString, QHash<QString, QString>> &tables)
{
    QStringList codes = tables.keys();
    std::sort(codes.begin(), codes.end());
    if (codes.removeAll(kZh) > 0)
        codes.prepend(kZh);
    return codes;
}

} // namespace

bool parseJson(const QByteArray &data, QJsonDocument &document)
{
    QJsonParseError error;
    document = QJsonDocument::fromJson(data, &error);
    if (document.isNull()) {
        qDebug() << "parse json failed:" << error.errorString();
        return false;
    }
    return true;
}

Trans::Trans(QObject *parent)
    : QTranslator(parent)
{
}

Trans::~Trans() = default;

void Trans::init()
{
    loadFolder(QStringLiteral(":/trans/"));
    QCoreApplication::installTranslator(this);
}

QString Trans::translate(const char *, const char *sourceText, const char *, int) const
{
    return lookup(QString::fromUtf8(sourceText));
}

QString Trans::trans(QString source)
{
    return lookup(source);
}

QString Trans::lookup(const QString &source) const
{
    std::shared_lock<std::shared_mutex> lock(mLock);
    // QString's copy and swap are inline, so ThreadSanitizer sees this read and the write in
    // setCurrentLang; Qt's own code, which it does not see, only runs on the copy.
    const QString lang = mCurrentLang;
    const auto table = mTranslations.constFind(lang);
    if (table == mTranslations.constEnd())
        return source;
    const auto entry = table->constFind(source);
    return entry == table->constEnd() ? source : *entry;
}

QString Trans::currentLang() const
{
    std::shared_lock<std::shared_mutex> lock(mLock);
    return mCurrentLang;
}

QStringList Trans::languages() const
{
    std::shared_lock<std::shared_mutex> lock(mLock);
    return mLanguages;
}

QString Trans::transString() const
{
    std::shared_lock<std::shared_mutex> lock(mLock);
    return mTransString;
}

void Trans::setCurrentLang(const QString &currentLang)
{
    {
        std::unique_lock<std::shared_mutex> lock(mLock);
        if (mCurrentLang == currentLang)
            return;
        QString next = currentLang;
        mCurrentLang.swap(next);
    }
    emit currentLangChanged(currentLang);
}

bool Trans::load(QString &lang, QString filePath)
{
    lang.clear();
    QByteArray data;
    QString reason;
    if (!KHID::readFileCapped(filePath, KHID::kDocumentFileLimit, data, &reason)) {
        qDebug() << "open file " << filePath << "failed:" << reason;
        return false;
    }
    return loadData(lang, data);
}

bool Trans::loadData(QString &lang, const QByteArray &data)
{
    lang.clear();
    QJsonDocument document;
    if (!parseJson(data, document))
        return false;

    // A file that names no language (or not as text) gives its entries to the code "".
    const QJsonObject root = document.object();
    lang = root.value(QLatin1String("lang")).toString();
    const QJsonArray entries = root.value(QLatin1String("trans")).toArray();
    if (!entries.isEmpty()) {
        std::unique_lock<std::shared_mutex> lock(mLock);
        QHash<QString, QString> &table = mTranslations[lang];
        for (const QJsonValue &element : entries) {
            const QJsonObject entry = element.toObject();
            table.insert(entry.value(QLatin1String("key")).toString(),
                         entry.value(QLatin1String("value")).toString());
        }
    }
    emit langLoaded(lang);
    return true;
}

void Trans::loadFolder(QString folder)
{
    qWarning() << "Trans loadFolder" << folder;
    // By name, so that of two files with the same code the same one wins on every machine.
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("language_*.json")}, QDir::Files,
                                                          QDir::Name);
    QString lang;
    for (const QFileInfo &info : files)
        load(lang, info.absoluteFilePath());

    bool languagesUpdated = false;
    bool currentUpdated = false;
    QStringList languages;
    QString current;
    {
        std::unique_lock<std::shared_mutex> lock(mLock);
        ensureEnglish();
        languages = orderedCodes(mTranslations);
        if (languages != mLanguages) {
            mLanguages = languages;
            languagesUpdated = true;
        }
        current = mTranslations.contains(kZh) ? kZh : kEn;
        if (mCurrentLang != current) {
            QString next = current;
            mCurrentLang.swap(next);
            currentUpdated = true;
        }
    }
    if (languagesUpdated)
        emit languagesChanged(languages);
    if (currentUpdated)
        emit currentLangChanged(current);
    emit folderLoaded(folder);
}

void Trans::ensureEnglish()
{
    if (mTranslations.contains(kEn) || mTranslations.isEmpty())
        return;
    const QString source = mTranslations.contains(kZh) ? kZh : orderedCodes(mTranslations).constFirst();
    const QHash<QString, QString> table = mTranslations.value(source);
    QHash<QString, QString> &english = mTranslations[kEn];
    for (auto it = table.constBegin(); it != table.constEnd(); ++it)
        english.insert(it.key(), it.key());
}
