#include "table_model.h"

namespace zentrova::shell {

QList<ColumnSpec> DriveTableColumns() {
    return {
        {QStringLiteral("Drive"), QStringLiteral("Drive")},
        {QStringLiteral("DrvSize"), QStringLiteral("Size (GB)")},
        {QStringLiteral("Temp"), QStringLiteral("Temp (\u00B0C)")},
        {QStringLiteral("SMART"), QStringLiteral("S.M.A.R.T.")},
    };
}

QList<ColumnSpec> AttrTableColumns() {
    return {
        {QStringLiteral("AttrID"), QStringLiteral("ID")},
        {QStringLiteral("AttrName"), QStringLiteral("Attribute")},
        {QStringLiteral("AttrFailDate"), QStringLiteral("Failed on")},
        {QStringLiteral("AttrThreshold"), QStringLiteral("Threshold")},
        {QStringLiteral("AttrValue"), QStringLiteral("Value")},
        {QStringLiteral("AttrWorst"), QStringLiteral("Worst")},
        {QStringLiteral("AttrStatus"), QStringLiteral("Status")},
        // After the seven: the raw bytes decoded where the count is known.
        {QStringLiteral("AttrRaw"), QStringLiteral("Raw")},
    };
}

ControllerTableModel::ControllerTableModel(AppController* controller, TableId table,
                                           QList<ColumnSpec> columns, QObject* parent)
    : QAbstractTableModel(parent), controller_(controller), table_(table),
      columns_(std::move(columns)) {
    shownRows_ = controller_->numberOfRowsInTableView(table_);
}

int ControllerTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shownRows_;
}

int ControllerTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant ControllerTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() >= columns_.size() || index.row() >= shownRows_)
        return {};
    const QString& identifier = columns_[index.column()].identifier;
    switch (role) {
    case Qt::DisplayRole:
        return controller_->objectValueForTableColumn(identifier, index.row());
    case Qt::ForegroundRole:
        return controller_->willDisplayCell(identifier, index.row()).textColor;
    case Qt::BackgroundRole:
        return controller_->willDisplayCell(identifier, index.row()).background;
    case Qt::DecorationRole:
        return controller_->willDisplayCell(identifier, index.row()).decoration;
    case Qt::ToolTipRole:
        return controller_->willDisplayCell(identifier, index.row()).toolTip;
    default:
        return {};
    }
}

QVariant ControllerTableModel::headerData(int section, Qt::Orientation orientation,
                                          int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columns_.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return columns_[section].title;
    if (role == ColumnIdentifierRole)
        return columns_[section].identifier;
    return {};
}

Qt::ItemFlags ControllerTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

bool ControllerTableModel::setData(const QModelIndex& index, const QVariant&, int role) {
    if (!index.isValid() || role != Qt::EditRole || index.column() >= columns_.size())
        return false;
    controller_->setObjectValueForTableColumn(columns_[index.column()].identifier, index.row());
    return true;
}

int ControllerTableModel::ColumnWithIdentifier(const QString& identifier) const {
    for (int i = 0; i < columns_.size(); ++i) {
        if (columns_[i].identifier == identifier)
            return i;
    }
    return -1;
}

void ControllerTableModel::Reload() {
    const int rows = controller_->numberOfRowsInTableView(table_);
    if (rows != shownRows_) {
        beginResetModel();
        shownRows_ = rows;
        endResetModel();
        return;
    }
    if (rows > 0 && !columns_.isEmpty())
        emit dataChanged(index(0, 0), index(rows - 1, static_cast<int>(columns_.size()) - 1));
}

} // namespace zentrova::shell
