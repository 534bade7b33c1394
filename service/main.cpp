// zentrova-service: the drives watched with no desktop, for node_exporter's
// textfile collector. Options: --config PATH (else $ZENTROVA_SERVICE_CONFIG,
// else /etc/zentrova/service.conf).
#include "journal.h"
#include "service_config.h"
#include "service_host.h"

#include "platform/device_registry.h"
#include "platform/drive_events.h"
#include "settings/timers.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

using zentrova::service::Journal;
using zentrova::service::Priority;

int signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int signal) {
    const int saved = errno;
    const char byte = signal == SIGHUP ? 'H' : 'T';
    // A full pipe already holds a byte that wakes the loop.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

// The drives' own intervals, each minute lasting `minuteMs` (tests shorten
// it through ZENTROVA_SERVICE_MINUTE_MS; the service never sets it).
class ScaledTimers final : public zentrova::settings::TimerBackend {
  public:
    explicit ScaledTimers(std::int64_t minuteMs) : minuteMs_(minuteMs) {}
    std::unique_ptr<zentrova::settings::RepeatingTimer>
    Schedule(std::int64_t intervalSeconds, std::function<void()> tick) override {
        return zentrova::settings::MakeQtRepeatingTimer(
            std::max<std::int64_t>(1, intervalSeconds * minuteMs_ / 60), std::move(tick));
    }
    void Post(std::function<void()> task) override {
        QTimer::singleShot(0, QCoreApplication::instance(), std::move(task));
    }

  private:
    std::int64_t minuteMs_;
};

QString ConfigPath(const QStringList& arguments) {
    const qsizetype at = arguments.indexOf(QStringLiteral("--config"));
    if (at >= 0 && at + 1 < arguments.size())
        return arguments[at + 1];
    const char* fromEnvironment = std::getenv("ZENTROVA_SERVICE_CONFIG");
    if (fromEnvironment != nullptr && fromEnvironment[0] != '\0')
        return QString::fromLocal8Bit(fromEnvironment);
    return QString::fromLatin1(zentrova::service::kDefaultConfigPath);
}

zentrova::service::ServiceConfig LoadConfig(const QString& path) {
    const zentrova::service::ParsedConfig parsed = zentrova::service::ReadServiceConfig(path);
    for (const zentrova::service::ConfigProblem& p : parsed.problems)
        Journal(
            Priority::Err,
            p.line > 0
                ? QStringLiteral("%1:%2: %3; its default stays.").arg(path).arg(p.line).arg(p.why)
                : QStringLiteral("%1: %2; every default stays.").arg(path, p.why));
    return parsed.config;
}

bool CatchSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGHUP, &action, nullptr) == 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zentrova-service"));
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.contains(QStringLiteral("--config")) &&
        arguments.indexOf(QStringLiteral("--config")) + 1 >= arguments.size()) {
        Journal(Priority::Err, QStringLiteral("--config needs a file."));
        return 2;
    }
    if (!CatchSignals()) {
        Journal(Priority::Err, QStringLiteral("Signals cannot be caught: %1")
                                   .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return 1;
    }
    const QString configPath = ConfigPath(arguments);

    std::unique_ptr<ScaledTimers> scaled;
    if (const char* minute = std::getenv("ZENTROVA_SERVICE_MINUTE_MS"); minute != nullptr) {
        const long long ms = std::atoll(minute);
        if (ms > 0) {
            scaled = std::make_unique<ScaledTimers>(ms);
            zentrova::settings::SetTimerBackend(scaled.get());
        }
    }

    zentrova::service::ServiceHost host(LoadConfig(configPath));
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    // A signal comes in between two polls: a poll runs to its end, with its
    // history transaction, before the loop looks at the pipe.
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        char bytes[16];
        const ssize_t n = ::read(signalPipe[0], bytes, sizeof bytes);
        bool end = false;
        bool reread = false;
        for (ssize_t i = 0; i < n; ++i)
            (bytes[i] == 'H' ? reread : end) = true;
        if (reread && !end) {
            host.Reconfigure(LoadConfig(configPath));
            Journal(Priority::Info,
                    QStringLiteral("Configuration reread from %1.").arg(configPath));
        }
        if (end) {
            host.Stop();
            QCoreApplication::exit(0);
        }
    });

    // The drives that come and go are the system's: not followed for
    // simulated drives unless ZENTROVA_SERVICE_FOLLOW_DRIVES asks (the idle
    // benchmark). Made before detection, so no event after the listing is
    // lost.
    std::unique_ptr<zentrova::platform::DriveEventSource> events;
    if (qEnvironmentVariableIsEmpty("ZENTROVA_SIMULATED_DRIVES") ||
        !qEnvironmentVariableIsEmpty("ZENTROVA_SERVICE_FOLLOW_DRIVES")) {
        std::string why;
        events = zentrova::platform::CreateSystemDriveEventSource(&why);
        if (events == nullptr)
            Journal(Priority::Warning,
                    QStringLiteral("Drives that come and go are not followed: %1")
                        .arg(QString::fromStdString(why)));
    }
    std::unique_ptr<zentrova::platform::DeviceRegistry> registry =
        zentrova::platform::CreateSystemDeviceRegistry();
    if (registry == nullptr || !host.Start(*registry))
        return 1;
    host.FollowDriveEvents(std::move(events), std::move(registry));
    Journal(Priority::Info, QStringLiteral("Watching the drives."));
    const int status = QCoreApplication::exec();
    host.Stop();
    zentrova::settings::SetTimerBackend(nullptr);
    return status;
}
