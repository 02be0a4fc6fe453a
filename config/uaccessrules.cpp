// SPDX-License-Identifier: MIT
#include "config/uaccessrules.h"

#include "base/kfileread.h"

#include <QDir>
#include <QMap>
#include <QRegularExpression>

namespace {

// Far above any rules file a system ships; a larger one is not read.
constexpr qint64 kRulesFileLimit = 1024 * 1024;
// The node names a KERNEL condition is judged against.
constexpr int kNodeNames = 100;

// KEY{attribute} OP "value"
struct Term {
    QString key;
    QString attribute;
    QString op;
    QString value;
};

// One rule, read a term at a time in udev's own syntax: either quote, any spacing.
class RuleReader
{
public:
    explicit RuleReader(const QString &rule)
        : mRule(rule)
        , mSize(rule.size())
    {
    }

    bool atEnd() const { return mAt >= mSize; }

    void skipSeparators()
    {
        while (mAt < mSize && (mRule.at(mAt).isSpace() || mRule.at(mAt) == QLatin1Char(',')))
            ++mAt;
    }

    // The key and its {attribute}, the operator, the value: false where they are not.
    bool readTerm(Term &term) { return readKey(term) && readOperator(term) && readValue(term); }

private:
    void skipSpaces()
    {
        while (mAt < mSize && mRule.at(mAt).isSpace())
            ++mAt;
    }

    bool readKey(Term &term)
    {
        const int start = mAt;
        while (mAt < mSize && (mRule.at(mAt).isLetterOrNumber() || mRule.at(mAt) == QLatin1Char('_')))
            ++mAt;
        term.key = mRule.mid(start, mAt - start);
        if (term.key.isEmpty())
            return false;
        if (mAt < mSize && mRule.at(mAt) == QLatin1Char('{')) {
            const int close = mRule.indexOf(QLatin1Char('}'), mAt);
            if (close < 0)
                return false;
            term.attribute = mRule.mid(mAt + 1, close - mAt - 1).trimmed();
            mAt = close + 1;
        }
        return true;
    }

    bool readOperator(Term &term)
    {
        skipSpaces();
        for (const char *op : {"==", "!=", "+=", "-=", ":=", "="}) {
            if (QStringView(mRule).mid(mAt).startsWith(QLatin1String(op))) {
                term.op = QLatin1String(op);
                break;
            }
        }
        if (term.op.isEmpty())
            return false;
        mAt += term.op.size();
        return true;
    }

    bool readValue(Term &term)
    {
        skipSpaces();
        // e"..." holds C escapes; the ids and tags we judge have none.
        if (mAt + 1 < mSize && mRule.at(mAt) == QLatin1Char('e') && mRule.at(mAt + 1) == QLatin1Char('"'))
            ++mAt;
        if (mAt < mSize && (mRule.at(mAt) == QLatin1Char('"') || mRule.at(mAt) == QLatin1Char('\''))) {
            const QChar quote = mRule.at(mAt++);
            const int from = mAt;
            while (mAt < mSize && mRule.at(mAt) != quote)
                mAt += mRule.at(mAt) == QLatin1Char('\\') ? 2 : 1;
            if (mAt >= mSize)
                return false;
            term.value = mRule.mid(from, mAt - from);
            ++mAt;
        } else {
            const int from = mAt;
            while (mAt < mSize && !mRule.at(mAt).isSpace() && mRule.at(mAt) != QLatin1Char(','))
                ++mAt;
            term.value = mRule.mid(from, mAt - from);
        }
        return true;
    }

    const QString &mRule;
    const int mSize;
    int mAt = 0;
};

// False for anything but udev's own syntax.
bool parseRule(const QString &rule, QVector<Term> &terms)
{
    RuleReader reader(rule);
    reader.skipSeparators();
    while (!reader.atEnd()) {
        Term term;
        if (!reader.readTerm(term))
            return false;
        terms.append(term);
        reader.skipSeparators();
    }
    return !terms.isEmpty();
}

// udev's patterns: shell globs, alternatives split by '|'.
bool globMatches(const QString &pattern, const QString &text)
{
    for (const QString &alternative : pattern.split(QLatin1Char('|'))) {
        const QRegularExpression glob(QRegularExpression::wildcardToRegularExpression(alternative),
                                      QRegularExpression::CaseInsensitiveOption);
        if (glob.isValid() && glob.match(text).hasMatch())
            return true;
    }
    return false;
}

QString hex(int value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

QStringList nodeNames()
{
    QStringList names;
    for (int node = 0; node < kNodeNames; ++node)
        names << QStringLiteral("hidraw%1").arg(node);
    return names;
}

} // namespace

bool tagsUaccess(const QString &rule, UsbId id)
{
    QVector<Term> terms;
    if (!parseRule(rule, terms))
        return false;
    static const QStringList nodes = nodeNames();
    bool tagged = false;
    bool vendorNamed = false;
    for (const Term &term : terms) {
        if (term.key == QLatin1String("TAG")) {
            const bool uaccess = term.value == QLatin1String("uaccess");
            if (term.op == QLatin1String("+="))
                tagged = tagged || uaccess;
            else if (term.op == QLatin1String("=") || term.op == QLatin1String(":="))
                tagged = uaccess; // replaces every tag given before
            else if (term.op == QLatin1String("-=") && uaccess)
                tagged = false;
            continue;
        }
        const bool equal = term.op == QLatin1String("==");
        if (!equal && term.op != QLatin1String("!="))
            continue;
        QStringList candidates;
        if (term.key == QLatin1String("SUBSYSTEM")) {
            candidates << QStringLiteral("hidraw");
        } else if (term.key == QLatin1String("KERNEL")) {
            candidates = nodes;
        } else if (term.key == QLatin1String("ATTRS") && term.attribute == QLatin1String("idVendor")) {
            candidates << hex(id.vendor);
            vendorNamed = vendorNamed || equal;
        } else if (term.key == QLatin1String("ATTRS") && term.attribute == QLatin1String("idProduct")) {
            candidates << hex(id.product);
        } else if (term.key == QLatin1String("ATTR")
                   && (term.attribute == QLatin1String("idVendor") || term.attribute == QLatin1String("idProduct"))) {
            // The ids are attributes of the USB device, never of the hidraw node itself.
            if (equal)
                return false;
            continue;
        } else {
            continue; // a condition we cannot judge is taken to hold
        }
        bool holds = false;
        for (const QString &candidate : candidates)
            holds = holds || globMatches(term.value, candidate) == equal;
        if (!holds)
            return false;
    }
    return tagged && vendorNamed;
}

QVector<UaccessRule> uaccessRules(const QStringList &directories, const QVector<UsbId> &ids)
{
    // udev reads each name once, from the first directory that has it.
    QMap<QString, QString> files;
    for (const QString &directory : directories) {
        const QDir dir(directory);
        for (const QString &name : dir.entryList(QDir::Files | QDir::System, QDir::Name)) {
            if (name.endsWith(QLatin1String(".rules")) && !files.contains(name))
                files.insert(name, dir.filePath(name));
        }
    }
    QVector<UaccessRule> found;
    for (const QString &path : files) {
        QByteArray content;
        QString reason;
        if (!KHID::readFileCapped(path, kRulesFileLimit, content, &reason))
            continue;
        // All of it: a NUL byte ends the text of fromUtf8(QByteArray).
        const QStringList lines = QString::fromUtf8(content.constData(), content.size()).split(QLatin1Char('\n'));
        for (int at = 0; at < lines.size();) {
            const int first = at;
            QString rule = lines.at(at++);
            if (rule.endsWith(QLatin1Char('\r')))
                rule.chop(1);
            while (rule.endsWith(QLatin1Char('\\')) && at < lines.size()) {
                rule.chop(1);
                rule += lines.at(at++);
                if (rule.endsWith(QLatin1Char('\r')))
                    rule.chop(1);
            }
            rule = rule.trimmed();
            if (rule.startsWith(QLatin1Char('#')) || !rule.contains(QLatin1String("uaccess")))
                continue;
            UaccessRule match{path, first + 1, {}};
            for (int index = 0; index < ids.size(); ++index) {
                if (tagsUaccess(rule, ids.at(index)))
                    match.receivers.append(index);
            }
            if (!match.receivers.isEmpty())
                found.append(match);
        }
    }
    return found;
}
