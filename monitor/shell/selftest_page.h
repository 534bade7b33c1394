// The Self-test page: whether the shown drive tests itself, the buttons that
// start or stop a test, the running test's progress and the drive's
// self-test log, newest first, failures in red. It shows what it is given
// and reports clicks; the controller's side (selftest_tab.cpp) does the rest.
#pragma once

#include "selftest/selftest_pages.h"
#include "selftest/selftest_run.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <functional>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;

namespace zentrova::shell {

// The self-test log as a table.
class SelfTestLogModel final : public QAbstractTableModel {
  public:
    using QAbstractTableModel::QAbstractTableModel;
    void SetEntries(std::vector<selftest::LogEntry> entries, bool nvme);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    std::vector<selftest::LogEntry> entries_;
    bool nvme_ = false;
};

// What the page shows for one drive.
struct SelfTestView {
    bool haveDrive = false;
    bool nvme = false;
    selftest::Capability capability;
    selftest::Slot slot;
    std::vector<selftest::LogEntry> entries;
};

class SelfTestPage final : public QWidget {
  public:
    explicit SelfTestPage(QWidget* parent = nullptr);

    void Show(const SelfTestView& view);
    // What the buttons do: start a test of the given type, or abort.
    std::function<void(selftest::TestType)> onStart;
    std::function<void()> onAbort;

    QPushButton* ShortButton() const { return shortButton_; }
    QPushButton* ExtendedButton() const { return extendedButton_; }
    QPushButton* AbortButton() const { return abortButton_; }
    QProgressBar* Progress() const { return progress_; }
    QLabel* Support() const { return support_; }
    QLabel* StateLine() const { return state_; }
    QLabel* Note() const { return note_; }
    QTableView* LogTable() const { return table_; }
    SelfTestLogModel* LogModel() const { return model_; }

  private:
    QLabel* support_;
    QLabel* note_;
    QPushButton* shortButton_;
    QPushButton* extendedButton_;
    QPushButton* abortButton_;
    QProgressBar* progress_;
    QLabel* state_;
    QTableView* table_;
    SelfTestLogModel* model_;
};

// The line under the buttons for a drive's slot.
QString StateText(const selftest::Slot& slot, bool nvme);

} // namespace zentrova::shell
