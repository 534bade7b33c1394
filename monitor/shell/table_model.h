// A table model that asks the controller for everything, so both tables are
// served by the same callbacks and tell their columns apart by identifier.
#pragma once

#include "AppController.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>

namespace zentrova::shell {

// Header data role carrying a column's identifier ("Drive", "AttrStatus", ...).
inline constexpr int ColumnIdentifierRole = Qt::UserRole + 1;

struct ColumnSpec {
    QString identifier;
    QString title;
};

class ControllerTableModel final : public QAbstractTableModel {
    Q_OBJECT

  public:
    ControllerTableModel(AppController* controller, TableId table, QList<ColumnSpec> columns,
                         QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // The column whose identifier is exactly `identifier`, or -1.
    int ColumnWithIdentifier(const QString& identifier) const;
    // Re-reads everything. Only a change in the number of rows resets the
    // model, so a view keeps its selection across ordinary refreshes.
    void Reload();

  private:
    AppController* controller_;
    TableId table_;
    QList<ColumnSpec> columns_;
    int shownRows_ = 0;
};

QList<ColumnSpec> DriveTableColumns();
QList<ColumnSpec> AttrTableColumns();

} // namespace zentrova::shell
