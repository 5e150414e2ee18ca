// The folder tree as a Qt model over the item tree itself: one item "Root"
// for the tree's root, and below it the folders only. Each index points at
// its ItemNode; a folder's list of child folders is gathered the first time
// the view asks for it and kept until the tree is replaced.
#pragma once

#include <QAbstractItemModel>
#include <unordered_map>
#include <vector>

#include "gui/check_marks.h"

namespace restorix {

struct ItemNode;

class FolderTreeModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  explicit FolderTreeModel(CheckMarks& marks, QObject* parent = nullptr);

  // Shows the tree under `root`; null leaves the view empty (while a task
  // works on the tree, and before the first scan).
  void SetRoot(ItemNode* root);
  ItemNode* root() const { return root_; }
  ItemNode* node(const QModelIndex& index) const;
  // The index of a folder (or of the root); invalid for anything else.
  QModelIndex indexOf(const ItemNode* folder) const;
  // The folder shown in bold: the one holding the current find match.
  void SetBold(const ItemNode* folder);
  const ItemNode* bold() const { return bold_; }
  // Repaints the check boxes from `highest` down, after CheckMarks::Set.
  void ChecksChanged(const ItemNode* highest);

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  // The user checked or unchecked a folder (marks already set).
  void checkToggled(restorix::ItemNode* folder, const restorix::ItemNode* highest);

 private:
  const std::vector<ItemNode*>& Folders(const ItemNode* folder) const;
  int RowOf(const ItemNode* folder) const;

  CheckMarks& marks_;
  ItemNode* root_ = nullptr;
  const ItemNode* bold_ = nullptr;
  mutable std::unordered_map<const ItemNode*, std::vector<ItemNode*>> folders_;
  mutable std::unordered_map<const ItemNode*, int> rows_;
};

// The check state a view shows for a mark.
Qt::CheckState ToCheckState(CheckMark mark);
// What a click on a check box asks for: a partly checked item is a checked
// one, so a click unchecks it.
bool CheckRequested(const QVariant& value, CheckMark current);

}  // namespace restorix
