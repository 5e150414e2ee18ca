// The contents list as a Qt model over one folder's children: a flat list
// of pointers to the nodes, in the folder's order until the user sorts it.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "gui/check_marks.h"

namespace restorix {

struct ItemNode;

class ContentsModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { kName, kSize, kModified, kCreated, kColumns };

  explicit ContentsModel(CheckMarks& marks, QObject* parent = nullptr);

  // Shows the children of `folder` (none for null), sorted as the user last
  // asked.
  void ShowFolder(ItemNode* folder);
  ItemNode* folder() const { return folder_; }
  ItemNode* node(const QModelIndex& index) const;
  QModelIndex indexOf(const ItemNode* node) const;
  // The current find match, painted dark grey.
  void SetMatch(const ItemNode* match);
  // Repaints every row's check box.
  void ChecksChanged();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order) override;

 signals:
  // The user checked or unchecked a row (marks already set).
  void checkToggled(restorix::ItemNode* node, const restorix::ItemNode* highest);

 private:
  void SortRows();

  CheckMarks& marks_;
  ItemNode* folder_ = nullptr;
  std::vector<ItemNode*> rows_;
  const ItemNode* match_ = nullptr;
  int sortColumn_ = -1;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

// "12-05-2026" (month, day, year) from a packed date; empty for 0.
QString DateText(std::uint16_t fatDate);

}  // namespace restorix
