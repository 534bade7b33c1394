#include "service_config.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <cstring>

namespace zentrova::service {

namespace {

// A whole decimal number within [low, high], or nothing.
bool ParseNumber(const QString& text, int low, int high, int* out) {
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < low || value > high)
        return false;
    *out = value;
    return true;
}

} // namespace

ParsedConfig ParseServiceConfig(const QByteArray& text) {
    ParsedConfig parsed;
    ServiceConfig& c = parsed.config;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) {
            parsed.problems.push_back(
                {number, QStringLiteral("no \"=\" between a key and its value")});
            continue;
        }
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("textfile_dir") || key == QLatin1String("data_dir")) {
            if (!value.startsWith(QLatin1Char('/'))) {
                parsed.problems.push_back(
                    {number, QStringLiteral("%1 must be an absolute folder").arg(key)});
                continue;
            }
            (key == QLatin1String("textfile_dir") ? c.textfileDir : c.dataDir) = value;
        } else if (key == QLatin1String("interval_minutes")) {
            // The settings file's own bounds: at most 99 hours 59 minutes.
            if (!ParseNumber(value, 1, 99 * 60 + 59, &c.intervalMinutes))
                parsed.problems.push_back(
                    {number, QStringLiteral("interval_minutes must be a whole number of minutes "
                                            "from 1 to 5999")});
        } else if (key == QLatin1String("critical_temperature")) {
            if (!ParseNumber(value, 1, 200, &c.criticalTemperature))
                parsed.problems.push_back(
                    {number, QStringLiteral("critical_temperature must be a whole number of "
                                            "degrees Celsius from 1 to 200")});
        } else {
            parsed.problems.push_back({number, QStringLiteral("unknown key \"%1\"").arg(key)});
        }
    }
    return parsed;
}

ParsedConfig ReadServiceConfig(const QString& path) {
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly)) {
        ParsedConfig parsed;
        parsed.problems.push_back({0, file.errorString()});
        return parsed;
    }
    return ParseServiceConfig(file.readAll());
}

} // namespace zentrova::service
