#include "selftest_page.h"

#include "platform/install_layout.h"

#include <QColor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace zentrova::shell {

namespace {

enum Column { Number, Type, Result, Hours, Lba, ColumnCount };

QString Minutes(int minutes) {
    return minutes > 0 ? QStringLiteral(" (about %1 min)").arg(minutes) : QString();
}

} // namespace

void SelfTestLogModel::SetEntries(std::vector<selftest::LogEntry> entries, bool nvme) {
    beginResetModel();
    entries_ = std::move(entries);
    nvme_ = nvme;
    endResetModel();
}

int SelfTestLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int SelfTestLogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SelfTestLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const selftest::LogEntry& e = entries_[static_cast<std::size_t>(index.row())];
    if (role == Qt::ForegroundRole)
        return e.failed() ? QVariant(QColor(Qt::red)) : QVariant();
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Number:
        return e.number;
    case Type:
        return QString::fromLatin1(selftest::TypeName(e.type));
    case Result:
        return QString::fromStdString(nvme_ ? selftest::NvmeResultText(e.status)
                                            : selftest::AtaStatusText(e.status));
    case Hours:
        return QString::number(e.powerOnHours);
    case Lba:
        return e.failingLba ? QString::number(*e.failingLba) : QStringLiteral("-");
    default:
        return {};
    }
}

QVariant SelfTestLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const kTitles[ColumnCount] = {"No.", "Type", "Result", "Power-on hours",
                                                     "First failing LBA"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(kTitles[section])
                                                 : QVariant();
}

QString StateText(const selftest::Slot& slot, bool nvme) {
    const QString type = QString::fromLatin1(selftest::TypeName(slot.type));
    switch (slot.state) {
    case selftest::State::Idle:
        return QStringLiteral("No test running.");
    case selftest::State::Waiting:
        return type + QStringLiteral(" test starts when the poll of the drive ends.");
    case selftest::State::Running:
        return type + QStringLiteral(" test running: %1 % done.").arg(slot.percentDone);
    case selftest::State::Aborted:
        return type + QStringLiteral(" test aborted.");
    case selftest::State::Finished:
        break;
    }
    if (!slot.result)
        return type + QStringLiteral(" test finished; the drive's log could not be read.");
    return type + QStringLiteral(" test finished: ") +
           QString::fromStdString(nvme ? selftest::NvmeResultText(slot.result->status)
                                       : selftest::AtaStatusText(slot.result->status)) +
           QStringLiteral(".");
}

SelfTestPage::SelfTestPage(QWidget* parent)
    : QWidget(parent), support_(new QLabel), note_(new QLabel),
      shortButton_(new QPushButton(QStringLiteral("Short test"))),
      extendedButton_(new QPushButton(QStringLiteral("Extended test"))),
      abortButton_(new QPushButton(QStringLiteral("Abort"))), progress_(new QProgressBar),
      state_(new QLabel), table_(new QTableView), model_(new SelfTestLogModel(this)) {
    // Starting a test is the one thing the monitor asks a drive to do rather
    // than tell, so the page says who may.
    note_->setText(
        QStringLiteral("Starting a test makes the drive test itself while it goes on working. "
                       "Without root it goes through the drive helper, which only members of "
                       "the group \"%1\" may run.")
            .arg(QString::fromLatin1(platform::kHelperGroupName)));
    note_->setWordWrap(true);
    progress_->setRange(0, 100);
    table_->setModel(model_);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {shortButton_, extendedButton_, abortButton_})
        buttons->addWidget(b);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(support_);
    layout->addWidget(note_);
    layout->addLayout(buttons);
    layout->addWidget(progress_);
    layout->addWidget(state_);
    layout->addWidget(table_, 1);

    connect(shortButton_, &QPushButton::clicked, this, [this] {
        if (onStart)
            onStart(selftest::TestType::Short);
    });
    connect(extendedButton_, &QPushButton::clicked, this, [this] {
        if (onStart)
            onStart(selftest::TestType::Extended);
    });
    connect(abortButton_, &QPushButton::clicked, this, [this] {
        if (onAbort)
            onAbort();
    });
    Show({});
}

void SelfTestPage::Show(const SelfTestView& view) {
    const bool supported = view.haveDrive && view.capability.supported;
    const bool busy =
        view.slot.state == selftest::State::Running || view.slot.state == selftest::State::Waiting;
    support_->setText(!view.haveDrive ? QStringLiteral("No drive selected.")
                      : supported     ? QStringLiteral("This drive can test itself.")
                                      : QStringLiteral("This drive does not offer self-tests."));
    shortButton_->setText(QStringLiteral("Short test") + Minutes(view.capability.shortMinutes));
    extendedButton_->setText(QStringLiteral("Extended test") +
                             Minutes(view.capability.extendedMinutes));
    shortButton_->setEnabled(supported && !busy);
    extendedButton_->setEnabled(supported && !busy);
    abortButton_->setEnabled(busy);
    progress_->setValue(view.slot.state == selftest::State::Idle ? 0 : view.slot.percentDone);
    state_->setText(view.haveDrive ? StateText(view.slot, view.nvme) : QString());
    model_->SetEntries(view.entries, view.nvme);
}

} // namespace zentrova::shell
