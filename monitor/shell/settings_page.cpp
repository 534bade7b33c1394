// The settings page's controls. What they show and what Apply stores is the
// settings subsystem's; this side only moves values between it and the widgets.
#include "AppController.h"

#include "settings/settings_file.h"
#include "settings/settings_page.h"
#include "ui_MainWindow.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionSpinBox>

namespace {

// Fields hold only digits, few enough that hours and minutes together stay a
// positive 32-bit number of seconds; an empty field counts as 0.
const QRegularExpression kIntervalDigits(QStringLiteral("[0-9]{0,4}"));
const QRegularExpression kDegrees(QStringLiteral("1[0-4][0-9]|150|[0-9]{0,2}"));

// A stepper is the pair of arrows beside its field, with no text of its own:
// one number on the page, in the field the user types into, and the unit in
// the label after it. The arrows take the mouse; the keyboard goes to the field.
void ArrowsOnly(QSpinBox* stepper) {
    if (auto* text = stepper->findChild<QLineEdit*>())
        text->hide();
    stepper->setFocusPolicy(Qt::NoFocus);
    QStyleOptionSpinBox option;
    option.initFrom(stepper);
    option.frame = stepper->hasFrame();
    option.buttonSymbols = stepper->buttonSymbols();
    option.subControls = QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown | QStyle::SC_SpinBoxFrame;
    option.rect = QRect(QPoint(), stepper->sizeHint());
    const auto part = [&](QStyle::SubControl control) {
        return stepper->style()->subControlRect(QStyle::CC_SpinBox, &option, control, stepper);
    };
    // The arrows, stacked or side by side as the style draws them, and the
    // frame on both sides of them.
    const QRect arrows = part(QStyle::SC_SpinBoxUp).united(part(QStyle::SC_SpinBoxDown));
    const int frame = option.rect.right() - arrows.right();
    stepper->setFixedWidth(arrows.width() + 2 * frame);
}

void Follow(QLineEdit* field, QSpinBox* stepper, const QRegularExpression& digits, QObject* owner) {
    ArrowsOnly(stepper);
    field->setValidator(new QRegularExpressionValidator(digits, owner));
    QObject::connect(stepper, &QSpinBox::valueChanged, owner, [field](int value) {
        if (zentrova::settings::IntValue(field->text()) != value)
            field->setText(QString::number(value));
    });
    QObject::connect(field, &QLineEdit::textEdited, owner, [stepper](const QString& text) {
        const QSignalBlocker quiet(stepper);
        stepper->setValue(zentrova::settings::IntValue(text));
    });
}

void Show(QLineEdit* field, QSpinBox* stepper, int value) {
    const QSignalBlocker quiet(stepper);
    stepper->setValue(value);
    field->setText(QString::number(value));
}

} // namespace

void AppController::ConnectSettingsPage() {
    Ui::SMARTWindow& ui = *mainUi_;
    Follow(ui.SetsHrEdit, ui.SetsHrStepper, kIntervalDigits, this);
    Follow(ui.SetsMinEdit, ui.SetsMinStepper, kIntervalDigits, this);
    Follow(ui.SetsTempEdit, ui.SetsTempStepper, kDegrees, this);
    connect(ui.SetsPollDrive, &QCheckBox::clicked, this, &AppController::OnClickPollDrv);
    connect(ui.SetsCriticalTemp, &QCheckBox::clicked, this, &AppController::OnClickCriticalTemp);
    connect(ui.SetsApplysettings, &QPushButton::clicked, this, &AppController::OnApplySettings);
}

void AppController::LoadSMARTSettingsPage() {
    if (zentrova::device::dev.gpSelDevInfo == nullptr)
        return;
    const zentrova::settings::PageValues page = zentrova::settings::SettingsForSelectedDrive(*this);
    Ui::SMARTWindow& ui = *mainUi_;
    ui.SetsPollDrive->setChecked(page.poll);
    OnClickPollDrv();
    ui.SetsCriticalTemp->setEnabled(page.hasTemperature);
    ui.SetsCriticalTemp->setChecked(page.hasTemperature && page.criticalTemp);
    OnClickCriticalTemp();
    ui.SetsLogEvent->setChecked(page.logEvent);
    ui.SetsStartsUp->setChecked(page.startsUp);
    ui.SetsKeepInTray->setChecked(page.keepInTray);
    Show(ui.SetsHrEdit, ui.SetsHrStepper, page.hours);
    Show(ui.SetsMinEdit, ui.SetsMinStepper, page.minutes);
    Show(ui.SetsTempEdit, ui.SetsTempStepper, page.temperature);
}

void AppController::OnClickPollDrv() {
    Ui::SMARTWindow& ui = *mainUi_;
    const bool on = ui.SetsPollDrive->isChecked();
    for (QWidget* control :
         {static_cast<QWidget*>(ui.SetsHrEdit), static_cast<QWidget*>(ui.SetsMinEdit),
          static_cast<QWidget*>(ui.SetsHrStepper), static_cast<QWidget*>(ui.SetsMinStepper)})
        control->setEnabled(on);
}

void AppController::OnClickCriticalTemp() {
    Ui::SMARTWindow& ui = *mainUi_;
    const bool on = ui.SetsCriticalTemp->isEnabled() && ui.SetsCriticalTemp->isChecked();
    ui.SetsTempEdit->setEnabled(on);
    ui.SetsTempStepper->setEnabled(on);
}

void AppController::OnApplySettings() {
    const Ui::SMARTWindow& ui = *mainUi_;
    zentrova::settings::PageInput input;
    input.poll = ui.SetsPollDrive->isChecked();
    input.hours = ui.SetsHrEdit->text();
    input.minutes = ui.SetsMinEdit->text();
    input.criticalTemp = ui.SetsCriticalTemp->isChecked();
    input.temperature = ui.SetsTempEdit->text();
    input.logEvent = ui.SetsLogEvent->isChecked();
    input.startsUp = ui.SetsStartsUp->isChecked();
    if (TrayIcon() != nullptr)
        input.keepInTray = ui.SetsKeepInTray->isChecked();
    zentrova::settings::ApplySettings(*this, input);
}

void AppController::SelectDriveRow(int row) {
    mainUi_->TheTable->selectRow(row);
}
