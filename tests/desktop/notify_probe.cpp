// Tells the session's notification server the same fact twice, as the
// monitor does at each poll of a drive that stays too hot, then the failing
// drive once: notify_probe. What the server kept is for the caller to read.
#include "desktop/notices.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <iostream>

namespace {

// Long enough for a server on the same machine to answer, and no longer.
void LetTheServerAnswer() {
    QEventLoop loop;
    QTimer::singleShot(500, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    using zentrova::platform::NoticeKind;
    zentrova::desktop::DesktopNotices notices(zentrova::platform::CreateSessionNotificationBus(),
                                              &std::cerr);
    for (const char* body : {"41 degrees", "43 degrees"}) {
        notices.Announce({NoticeKind::DriveOverCriticalTemp, 2, "/dev/sdc", body});
        LetTheServerAnswer();
    }
    notices.Announce({NoticeKind::DriveFailing, 2, "/dev/sdc", "is about to fail"});
    LetTheServerAnswer();
    return 0;
}
