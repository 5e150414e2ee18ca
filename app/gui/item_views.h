// The main window's client area: the folder tree ("Folder List") and the
// contents list ("Contents List") side by side, both showing the item tree,
// with their check boxes, the four view modes of the list, Goto parent and
// the find highlight.
#pragma once

#include <QWidget>

#include "gui/check_marks.h"
#include "gui/contents_model.h"
#include "gui/folder_tree_model.h"

class QListView;
class QSplitter;
class QStackedWidget;
class QTableView;
class QTreeView;

namespace restorix {

enum class ViewMode { LargeIcons, SmallIcons, List, Details };

class ItemViews : public QWidget {
  Q_OBJECT
 public:
  explicit ItemViews(QWidget* parent = nullptr);

  // Shows the tree under `root` (null empties both views): the root current
  // and its children listed.
  void SetTree(ItemNode* root);
  ItemNode* root() const { return tree_.root(); }

  // The folder whose children the list shows (the tree's current item).
  ItemNode* currentFolder() const;
  // Makes a folder (or the root) current and lists its children.
  void OpenFolder(const ItemNode* folder);
  bool canGotoParent() const;
  void GotoParent();

  ViewMode viewMode() const { return mode_; }
  void SetViewMode(ViewMode mode);
  bool folderBarShown() const;
  void ShowFolderBar(bool shown);

  // Find: the match's folder current and bold, the match's row painted and
  // in view, the list in the details view.
  void ShowMatch(const ItemNode* match);
  // Ends the highlight: no painted row, no bold folder.
  void EndHighlight();

  const CheckMarks& marks() const { return marks_; }
  FolderTreeModel& treeModel() { return tree_; }
  ContentsModel& listModel() { return list_; }
  QTreeView* treeView() const { return treeView_; }
  QTableView* detailsView() const { return details_; }
  QListView* iconView() const { return icons_; }
  // The list's view in the current mode.
  QWidget* listWidget() const;
  // The node of the list's current row, if any.
  ItemNode* currentItem() const;

 signals:
  // The user changed a check: the selected totals need counting again.
  void checksChanged();
  void currentFolderChanged();
  // The list's current row moved (null: none).
  void currentItemChanged(restorix::ItemNode* item);

 private:
  void OnTreeCheck(ItemNode* folder, const ItemNode* highest);
  void OnListCheck(ItemNode* node, const ItemNode* highest);
  void OnListOpened(const QModelIndex& index);

  CheckMarks marks_;
  FolderTreeModel tree_{marks_};
  ContentsModel list_{marks_};
  QSplitter* splitter_;
  QWidget* folderPane_;
  QTreeView* treeView_;
  QStackedWidget* stack_;
  QListView* icons_;
  QTableView* details_;
  ViewMode mode_ = ViewMode::LargeIcons;
};

}  // namespace restorix
