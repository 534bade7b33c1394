#include "string_table.h"

#include <QFile>

namespace zentrova::shell {

namespace {

// Reads a quoted string starting at text[*pos] == '"'; false when unterminated.
bool ReadQuoted(const QString& text, qsizetype* pos, QString* out) {
    out->clear();
    for (qsizetype i = *pos + 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('"')) {
            *pos = i + 1;
            return true;
        }
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            const QChar next = text[++i];
            out->append(next == QLatin1Char('n')   ? QChar(QLatin1Char('\n'))
                        : next == QLatin1Char('t') ? QChar(QLatin1Char('\t'))
                                                   : next);
            continue;
        }
        out->append(c);
    }
    return false;
}

void SkipBlanksAndComments(const QString& text, qsizetype* pos) {
    while (*pos < text.size()) {
        if (text[*pos].isSpace()) {
            ++*pos;
        } else if (text.mid(*pos, 2) == QLatin1String("/*")) {
            const qsizetype end = text.indexOf(QLatin1String("*/"), *pos + 2);
            *pos = end < 0 ? text.size() : end + 2;
        } else if (text.mid(*pos, 2) == QLatin1String("//")) {
            const qsizetype end = text.indexOf(QLatin1Char('\n'), *pos);
            *pos = end < 0 ? text.size() : end + 1;
        } else {
            return;
        }
    }
}

} // namespace

QHash<QString, QString> ParseStringTable(const QString& text) {
    QHash<QString, QString> table;
    qsizetype pos = 0;
    while (true) {
        SkipBlanksAndComments(text, &pos);
        if (pos >= text.size())
            break;
        QString key;
        QString value;
        bool ok = text[pos] == QLatin1Char('"') && ReadQuoted(text, &pos, &key);
        if (ok) {
            SkipBlanksAndComments(text, &pos);
            ok = pos < text.size() && text[pos] == QLatin1Char('=');
            ++pos;
        }
        if (ok) {
            SkipBlanksAndComments(text, &pos);
            ok = pos < text.size() && text[pos] == QLatin1Char('"') &&
                 ReadQuoted(text, &pos, &value);
        }
        if (ok) {
            SkipBlanksAndComments(text, &pos);
            ok = pos < text.size() && text[pos] == QLatin1Char(';');
        }
        if (ok)
            table.insert(key, value);
        // Resume after the end of this entry, good or bad.
        const qsizetype end = text.indexOf(QLatin1Char(';'), pos);
        if (end < 0)
            break;
        pos = end + 1;
    }
    return table;
}

QString LocalizedString(const QString& key, const QString& fallback, const QString& table) {
    QFile file(QStringLiteral(":/%1.strings").arg(table));
    if (!file.open(QIODevice::ReadOnly))
        return fallback;
    return ParseStringTable(QString::fromUtf8(file.readAll())).value(key, fallback);
}

} // namespace zentrova::shell
