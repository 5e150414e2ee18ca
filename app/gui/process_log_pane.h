// The "Process Log" pane: a row when a task starts and one when it ends,
// each with its state's picture, the newest row on grey.
#pragma once

#include <QAbstractTableModel>
#include <QDockWidget>
#include <vector>

#include "tasks/process_log.h"

class QTreeView;

namespace restorix {

class ProcessLogModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;

  // Stamps the row with the time and appends it.
  void Append(const ProcessLogEntry& entry);
  void Clear();
  // The log itself, for the owner's completion step, which may append rows
  // to it; Sync() shows them.
  ProcessLog& log() { return log_; }
  void Sync();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  ProcessLog log_;
  std::vector<ProcessLogEntry> rows_;  // what the view shows: the log's rows
};

class ProcessLogPane : public QDockWidget {
  Q_OBJECT
 public:
  explicit ProcessLogPane(QWidget* parent = nullptr);

  ProcessLogModel& model() { return model_; }
  QTreeView* view() const { return view_; }
  bool empty() const { return model_.rowCount() == 0; }

  // "Save &Process Log": asks for a file and writes the log to it.
  void SaveWithDialog();

 signals:
  void rowsChanged();

 private:
  ProcessLogModel model_;
  QTreeView* view_;
};

// The saved log's proposed name, filter and failure message.
inline constexpr const char* kLogFileFilter = "Text File (*.txt);;All Files (*)";

}  // namespace restorix
