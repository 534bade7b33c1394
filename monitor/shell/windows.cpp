// The splash, About page, help and advertisement windows.
#include "AppController.h"

#include "guide_pages.h"
#include "string_table.h"
#include "ui_AdWindow.h"
#include "ui_MainWindow.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

void CenterOnScreen(QWidget* window) {
    const QScreen* screen =
        window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

void CenterAndFront(QWidget* window) {
    CenterOnScreen(window);
    window->show();
    window->raise();
    window->activateWindow();
}

// Keeps the splash painted while start-up waits, but takes no input: the
// user cannot do anything before start-up has finished. A coarse timer may
// end a wait 5 % early or late; the splash lasts its five seconds.
void WaitShowingSplash(int seconds) {
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace

void AppController::DisplayFlashWindow() {
    const QPixmap image(QStringLiteral(":/FlashImg.png"));
    if (!image.isNull()) {
        QPalette palette = FlashWnd->palette();
        palette.setBrush(QPalette::Window, QBrush(image));
        FlashWnd->setPalette(palette);
        FlashWnd->setFixedSize(image.size());
    }
    splashUp_ = true;
    CenterAndFront(FlashWnd);
    QCoreApplication::processEvents();
    if (env_.splashWait)
        env_.splashWait(5);
    else
        WaitShowingSplash(5);
    splashUp_ = false;
    FlashWnd->close();
}

void AppController::LoadAboutPage() {
    // The project's version, as CMakeLists.txt names it and CHANGELOG.md heads it.
    mainUi_->AbtVer->setText(QStringLiteral("V" ZENTROVA_VERSION));
}

void AppController::OnAboutMenu() {
    mainUi_->TheTab->setCurrentWidget(mainUi_->aboutPage);
}

void AppController::OnAppHelp() {
    if (helpWindow_ == nullptr) {
        helpWindow_ = new QWidget;
        helpWindow_->setWindowTitle(QStringLiteral("Zentrova Help"));
        helpWindow_->resize(560, 480);
        auto* layout = new QVBoxLayout(helpWindow_);
        helpBrowser_ = new QTextBrowser(helpWindow_);
        helpBrowser_->setOpenExternalLinks(true);
        layout->addWidget(helpBrowser_);
    }
    helpBrowser_->setSource(QUrl(QStringLiteral("qrc:/help/index.html")));
    helpWindow_->show();
    helpWindow_->raise();
    helpWindow_->activateWindow();
}

void AppController::OpenPromo(const char* key) {
    const QString address = zentrova::shell::LocalizedString(QString::fromLatin1(key), QString(),
                                                             QStringLiteral("Messages"));
    const QUrl url = zentrova::shell::PromoAddress(
        address,
        env_.programPath.isEmpty() ? QCoreApplication::applicationFilePath() : env_.programPath);
    if (url.isEmpty())
        return;
    if (env_.openUrl)
        env_.openUrl(url);
    else
        QDesktopServices::openUrl(url);
}

void AppController::OnClickPromo1Img() {
    OpenPromo("IDS_PROMO1_PATH");
}
void AppController::OnClickPromo2Img() {
    OpenPromo("IDS_PROMO2_PATH");
}
void AppController::OnClickPromo3Img() {
    OpenPromo("IDS_PROMO3_PATH");
}
void AppController::OnClickPromo4Img() {
    OpenPromo("IDS_PROMO4_PATH");
}

void AppController::ShowAdvertisement() {
    CenterAndFront(AdWindow);
    Timer = new QTimer(this);
    Timer->setSingleShot(true);
    Timer->setTimerType(Qt::PreciseTimer); // thirty seconds, not 28.5 to 31.5
    Timer->setInterval(env_.adTimerMilliseconds);
    connect(Timer, &QTimer::timeout, this, &AppController::OnClickContinueImg);
    Timer->start();
}

void AppController::OnClickContinueImg() {
    if (Timer != nullptr) {
        Timer->stop();
        // The timer may be the one calling.
        Timer->deleteLater();
        Timer = nullptr;
    }
    if (adClosed_)
        return;
    adClosed_ = true;
    AdWindow->close();
    CenterAndFront(SMARTWindow);
}
