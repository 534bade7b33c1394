// The History page: the chosen drive's temperature over time and, for the
// attribute picked in the list, its value and raw value with the threshold
// as a line, over a range the user chooses; and its export as CSV.
#pragma once

#include "device/device.h"
#include "history/history_plot.h"
#include "history/history_store.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

class QChart;
class QComboBox;
class QLabel;
class QLineSeries;
class QListWidget;
class QPushButton;
class QScatterSeries;
class QDateTimeAxis;
class QValueAxis;

namespace zentrova::shell {

class HistoryPage : public QWidget {
    Q_OBJECT

  public:
    // Asks where to save, offering `suggested`; empty: the user cancelled.
    using SaveDialog = std::function<QString(QWidget* parent, const QString& suggested)>;

    explicit HistoryPage(QWidget* parent = nullptr);
    // Empty: the platform's own save dialog.
    void SetSaveDialog(SaveDialog dialog) { saveDialog_ = std::move(dialog); }

    // The drive the page shows (null: none), read from the store afresh.
    void ShowDrive(const device::xDEV_INFO* drive);
    // A reading of `drive` was stored: the page adds it when it shows that drive.
    void DriveRead(const history::Identity& drive);
    // A Watch period of `drive` began or ended: its marks are read again.
    void WatchChanged(const history::Identity& drive);
    void SetRange(history::Range range);
    // The attribute (or NVMe field) plotted below the temperature.
    void SelectEntry(std::uint8_t id);
    // Saves the shown drive's history where the save dialog says; false when
    // cancelled or failed (a failure is told in a panel).
    bool ExportCsv();

    // What tests read.
    const history::PlotModel& Model() const { return model_; }
    QString Notice() const;
    QListWidget* EntryList() const { return entries_; }
    QChart* TemperatureChart() const { return temperatureChart_; }
    QChart* EntryChart() const { return entryChart_; }
    // The entry's raw plot: for a counter a Watch rule reads, its count as
    // the rule decodes it; else the raw bytes as one number.
    std::vector<QPointF> RawPoints() const;
    QValueAxis* RawAxis() const { return raws_; }
    // When the drive entered Watch, by any rule, oldest first.
    const std::vector<std::int64_t>& WatchStarts() const { return watchStarts_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void Reload();
    void FillEntryList();
    void Redraw();
    void ShowTooltip(int series, const QPointF& point, bool inside);
    void OnEntryChosen();
    void OnSourceChosen(int index);
    void LoadWatchStarts();
    // Whether the chosen entry is a counter a Watch rule reads.
    bool EntryIsCounted() const;

    SaveDialog saveDialog_;
    bool shown_ = false;
    bool chartsStale_ = true;
    history::Identity drive_;
    history::Kind kind_ = history::Kind::Ata;
    history::Range range_ = history::Range::Day;
    std::uint8_t entryId_ = 0;
    history::PlotModel model_;
    std::vector<std::int64_t> watchStarts_;

    // The drive's own readings, or those stored for its model and firmware
    // before serials were read and not taken over (twins share them).
    QComboBox* sourceBox_ = nullptr;
    history::Identity own_;
    QComboBox* rangeBox_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QLabel* notice_ = nullptr;
    QListWidget* entries_ = nullptr;
    QChart* temperatureChart_ = nullptr;
    QChart* entryChart_ = nullptr;
    QLineSeries* temperature_ = nullptr;
    QLineSeries* value_ = nullptr;
    QLineSeries* threshold_ = nullptr;
    QLineSeries* raw_ = nullptr;
    QScatterSeries* temperatureMarks_ = nullptr;
    QScatterSeries* entryMarks_ = nullptr;
    QDateTimeAxis* temperatureTime_ = nullptr;
    QDateTimeAxis* entryTime_ = nullptr;
    QValueAxis* degrees_ = nullptr;
    QValueAxis* values_ = nullptr;
    QValueAxis* raws_ = nullptr;
};

} // namespace zentrova::shell
