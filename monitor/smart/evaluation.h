// The judgement of one SMART reading of the selected drive: the attribute
// table's columns, each attribute's verdict, the change entries of the drive's
// log and the critical-temperature alert.
#pragma once

#include "smart/event_log.h"
#include "smart/smart_state.h"

#include <QLocale>
#include <QString>

#include <cstdint>

namespace zentrova::smart {

// What the evaluation needs from the controller that owns the attribute table.
class EvaluationHost {
  public:
    virtual ~EvaluationHost() = default;
    virtual AttributeColumns& AttrColumns() = 0;
    virtual QString DrvPath() const = 0; // strDrvPath: the data folder with the logs
    virtual bool FirstTime() const = 0;  // bFirstTime: start-up's first drive-table reload
    virtual QLocale LogLocale() const { return QLocale::system(); }
    virtual void ReloadAttrTable() = 0; // TheAttrTable's reloadData
    // Whether a redisplay (operation 1) may raise the temperature alert; a
    // fresh reading always may. False while a drive is shown from a
    // notification or the tray, whose alert the user has just been told.
    virtual bool RedisplayAlerts() const { return true; }
};

// Operation 0 judges a fresh reading and logs what changed since the drive's
// previous one; any other operation redisplays a stored reading and logs
// nothing. Reads and writes the globals of `smart`, the per-drive settings
// mirrors and `device::dev.gpSelDevInfo`, the drive judged. Answers 1 when an
// attribute is at or below its threshold, else 0 (also for no selected drive).
//
// `attributes` and `thresholds` each point at 30 entries (a page from byte 2).
std::uint8_t FillAttributeListTable(EvaluationHost& host,
                                    const device::ATASMARTAttributeStruct* attributes,
                                    const device::ATASMARTThresholdsStruct* thresholds,
                                    int operation);

// An NVMe drive's reading: one row per health field of `healthPage` (its
// health log), the thresholds from `identifyPage` (the first 512 bytes of
// Identify Controller). Operation 0 logs each logged field that differs from
// `previousHealth` (none: nothing is compared). Answers 1 when the drive
// fails (nvme::HealthFailed), else 0; the same globals and alert as above.
std::uint8_t FillNvmeHealthTable(EvaluationHost& host, const std::uint8_t* healthPage,
                                 const std::uint8_t* identifyPage,
                                 const std::uint8_t* previousHealth, int operation);

// What both kinds' evaluations share: the columns rebuilt whole for the
// drive judged, and the critical-temperature alert (shown once bTempFailed
// is set, when enabled and not during start-up's first load, nor for a
// redisplay the host holds back).
void StartAttributeColumns(AttributeColumns& cols, int drive);
// The status and fail date cells of one row; a failure beeps. Answers `failed`.
bool AppendVerdict(AttributeColumns& cols, bool failed);
// Change entries of one evaluation. The drive's log is opened with the first
// change to write, so that a reading like the last costs no file access.
class ChangeLog {
  public:
    ChangeLog(EvaluationHost& host, int drive, QByteArray model, QByteArray firmware);
    void Changed(std::uint8_t id, const QString& name, const QByteArray& last,
                 const QByteArray& now);

  private:
    EvaluationHost& host_;
    int drive_;
    QByteArray model_, firmware_;
    bool opened_ = false;
    LogAppender log_;
    QLocale locale_;
};
QString TemperatureAlertText(const QByteArray& model, const QByteArray& firmware);
void ShowTemperatureAlertIfDue(EvaluationHost& host, int d, const QString& text, int operation);

// "%02d/%02d/%04d" of month, day and year: the fail date column.
QString FailDateText(const QDate& date);

} // namespace zentrova::smart
