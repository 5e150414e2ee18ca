#include "gui/process_log_pane.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QTreeView>

#include "gui/icons.h"
#include "gui/qt_text.h"

namespace restorix {

namespace {
constexpr int kColumnWidths[] = {265, 299, 576};
}  // namespace

void ProcessLogModel::Append(const ProcessLogEntry& entry) {
  log_.Append(entry);
  Sync();
}

void ProcessLogModel::Clear() {
  log_.Clear();
  Sync();
}

void ProcessLogModel::Sync() {
  std::vector<ProcessLogEntry> rows = log_.rows();
  const int before = static_cast<int>(rows_.size());
  const int after = static_cast<int>(rows.size());
  if (after < before) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
    return;
  }
  if (after == before) return;
  beginInsertRows({}, before, after - 1);
  rows_ = std::move(rows);
  endInsertRows();
  // The row that was the newest is no longer grey.
  if (before > 0) emit dataChanged(index(before - 1, 0), index(before - 1, 2));
}

int ProcessLogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ProcessLogModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 3;
}

QVariant ProcessLogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const ProcessLogEntry& row = rows_[static_cast<std::size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole: {
      const std::string& text = index.column() == 0   ? row.processName
                                : index.column() == 1 ? row.description
                                                      : row.logTime;
      return QString::fromStdString(text);
    }
    case Qt::DecorationRole:
      return index.column() == 0 ? Icons::LogStatus(row.status) : QVariant();
    case Qt::BackgroundRole:
      return index.row() == rowCount() - 1 ? QColor(200, 200, 200) : QColor(Qt::white);
    case Qt::ForegroundRole:
      return QColor(Qt::black);
    default:
      return {};
  }
}

QVariant ProcessLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section > 2) return {};
  if (role == Qt::DisplayRole) {
    static const char* const kHeadings[] = {"Process Name", "Description", "Log Time"};
    return QString(kHeadings[section]);
  }
  if (role == Qt::DecorationRole) {
    static const Icons::Id kIcons[] = {Icons::Process, Icons::File, Icons::Calendar};
    return Icons::Get(kIcons[section]);
  }
  return {};
}

ProcessLogPane::ProcessLogPane(QWidget* parent) : QDockWidget("Process Log", parent) {
  setObjectName("ProcessLog");
  view_ = new QTreeView(this);
  view_->setModel(&model_);
  view_->setRootIsDecorated(false);
  view_->setUniformRowHeights(true);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setIconSize(QSize(16, 16));
  for (int column = 0; column < 3; ++column)
    view_->header()->resizeSection(column, kColumnWidths[column]);
  setWidget(view_);
  // The newest row is always in view.
  connect(&model_, &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int, int last) {
            view_->scrollTo(model_.index(last, 0), QAbstractItemView::EnsureVisible);
          });
  connect(&model_, &QAbstractItemModel::rowsInserted, this, &ProcessLogPane::rowsChanged);
  connect(&model_, &QAbstractItemModel::modelReset, this, &ProcessLogPane::rowsChanged);
}

void ProcessLogPane::SaveWithDialog() {
  const QString path = QFileDialog::getSaveFileName(
      window(), QString(), QString::fromUtf8(kLogFileName), kLogFileFilter);
  if (path.isEmpty()) return;
  if (!model_.log().Save(PathFromQString(path))) {
    QMessageBox::information(window(), "Error", kLogSaveFailed);
  }
}

}  // namespace restorix
