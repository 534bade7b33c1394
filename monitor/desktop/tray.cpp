#include "desktop/tray.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <algorithm>

namespace zentrova::desktop {

TrayState DriveState(const TrayDrive& drive) {
    if (drive.status.compare(QLatin1String("Failed"), Qt::CaseInsensitive) == 0)
        return TrayState::Failed;
    if (drive.overCriticalTemp)
        return TrayState::OverCriticalTemp;
    if (!drive.watchReason.isEmpty())
        return TrayState::OnWatch;
    if (drive.unreadable)
        return TrayState::Unreadable;
    return TrayState::AllOk;
}

TrayState OverallState(const std::vector<TrayDrive>& drives) {
    TrayState worst = TrayState::AllOk;
    for (const TrayDrive& drive : drives)
        worst = std::max(worst, DriveState(drive));
    return worst;
}

QString DriveLine(const TrayDrive& drive) {
    QString state;
    switch (DriveState(drive)) {
    case TrayState::Failed:
        state = QStringLiteral("Failed");
        break;
    case TrayState::OverCriticalTemp:
        state = QStringLiteral("over its critical temperature");
        break;
    case TrayState::OnWatch:
        state = QStringLiteral("on Watch, ") + drive.watchReason;
        break;
    case TrayState::Unreadable:
        state = QStringLiteral("could not be read");
        break;
    case TrayState::AllOk:
        state = drive.status.isEmpty() ? QStringLiteral("not read yet") : drive.status;
        break;
    }
    QString line = drive.name + QStringLiteral(": ") + state;
    if (!drive.temperature.isEmpty())
        line += QStringLiteral(", %1 °C").arg(drive.temperature);
    return line;
}

QString TrayToolTip(const std::vector<TrayDrive>& drives) {
    QStringList lines{QStringLiteral("Zentrova")};
    for (const TrayDrive& drive : drives)
        lines.append(DriveLine(drive));
    if (drives.empty())
        lines.append(QStringLiteral("no drives"));
    return lines.join(QLatin1Char('\n'));
}

QIcon StateIcon(const QIcon& program, TrayState state) {
    if (state == TrayState::AllOk)
        return program;
    QColor badge(0xd3, 0x2f, 0x2f); // failed: red
    if (state == TrayState::OverCriticalTemp)
        badge = QColor(0xf5, 0x7c, 0x00);
    else if (state == TrayState::OnWatch)
        badge = kWatchAmber;
    else if (state == TrayState::Unreadable)
        badge = QColor(0x75, 0x75, 0x75);
    QIcon marked;
    for (const int side : {16, 22, 24, 32, 48, 64}) {
        // An icon gives no larger pixmap than it has: each size is drawn at
        // its own size, so the badge sits in its corner.
        QPixmap pixmap = program.pixmap(side, side);
        if (pixmap.isNull()) {
            pixmap = QPixmap(side, side);
            pixmap.fill(Qt::transparent);
        } else if (pixmap.size() != QSize(side, side)) {
            pixmap = pixmap.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal r = side * 0.28;
        const QPointF centre(side - r - 0.5, side - r - 0.5);
        p.setPen(QPen(Qt::white, std::max(1.0, side / 16.0)));
        p.setBrush(badge);
        p.drawEllipse(centre, r, r);
        p.end();
        marked.addPixmap(pixmap);
    }
    return marked;
}

Tray::Tray(QIcon program, TrayActions actions, std::ostream* debug, QObject* parent)
    : QObject(parent), program_(std::move(program)), actions_(std::move(actions)), debug_(debug),
      menu_(std::make_unique<QMenu>()) {
    icon_ = new QSystemTrayIcon(program_, this);
    QObject::connect(menu_->addAction(QStringLiteral("Show Zentrova")), &QAction::triggered, this,
                     [this] { actions_.showWindow(); });
    menu_->addSeparator();
    menu_->addSeparator();
    QObject::connect(menu_->addAction(QStringLiteral("About")), &QAction::triggered, this,
                     [this] { actions_.about(); });
    QObject::connect(menu_->addAction(QStringLiteral("Quit")), &QAction::triggered, this,
                     [this] { actions_.quit(); });
    icon_->setContextMenu(menu_.get());
    QObject::connect(icon_, &QSystemTrayIcon::activated, this,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger)
                             actions_.toggleWindow();
                     });
}

Tray::~Tray() {
    // The icon leaves the tray before the menu it points at goes.
    delete icon_;
}

QString Tray::ToolTip() const {
    return icon_->toolTip();
}

void Tray::RebuildDriveEntries(const std::vector<TrayDrive>& drives) {
    // The drive entries sit between the first two separators.
    QList<QAction*> all = menu_->actions();
    for (int i = 0; i < driveEntries_; ++i) {
        menu_->removeAction(all[2 + i]);
        delete all[2 + i];
    }
    QAction* before = menu_->actions()[2];
    for (int row = 0; row < static_cast<int>(drives.size()); ++row) {
        auto* entry = new QAction(DriveLine(drives[row]), menu_.get());
        QObject::connect(entry, &QAction::triggered, this,
                         [this, row] { actions_.showDrive(row); });
        menu_->insertAction(before, entry);
    }
    driveEntries_ = static_cast<int>(drives.size());
}

void Tray::Update(const std::vector<TrayDrive>& drives) {
    const TrayState state = OverallState(drives);
    if (state != state_ || !shown_)
        icon_->setIcon(StateIcon(program_, state));
    state_ = state;
    const QString tip = TrayToolTip(drives);
    if (debug_ != nullptr && tip != icon_->toolTip())
        *debug_ << "zentrova: tray: "
                << QString(tip).replace(QLatin1Char('\n'), QLatin1String("; ")).toStdString()
                << '\n';
    icon_->setToolTip(tip);
    RebuildDriveEntries(drives);
    if (!shown_) {
        icon_->show();
        shown_ = true;
    }
}

} // namespace zentrova::desktop
