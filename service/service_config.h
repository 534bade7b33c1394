// The service's own configuration, /etc/zentrova/service.conf: plain
// "key=value" lines, "#" comments, every key optional.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

namespace zentrova::service {

inline constexpr char kDefaultConfigPath[] = "/etc/zentrova/service.conf";

struct ServiceConfig {
    // Where zentrova.prom goes: Debian's node_exporter textfile folder.
    QString textfileDir = QStringLiteral("/var/lib/prometheus/node-exporter");
    // A drive with no entry of its own in "Zentroset" starts with these.
    int intervalMinutes = 60;
    int criticalTemperature = 50;
    // "Zentroset", the event logs and the history.
    QString dataDir = QStringLiteral("/var/lib/zentrova/service");
};

// A line that was not taken: its number (from 1) and why; its key, if any,
// keeps its default.
struct ConfigProblem {
    int line = 0;
    QString why;
};

struct ParsedConfig {
    ServiceConfig config;
    std::vector<ConfigProblem> problems;
};

ParsedConfig ParseServiceConfig(const QByteArray& text);

// Reads and parses `path`. A missing file is no problem (every default); one
// that exists but cannot be read is one problem at line 0.
ParsedConfig ReadServiceConfig(const QString& path);

} // namespace zentrova::service
