#include "gui/folder_tree_model.h"

#include <QFont>

#include "catalogue/item_tree.h"
#include "gui/icons.h"
#include "gui/qt_text.h"

namespace restorix {

Qt::CheckState ToCheckState(CheckMark mark) {
  switch (mark) {
    case CheckMark::Checked:
      return Qt::Checked;
    case CheckMark::Partly:
      return Qt::PartiallyChecked;
    case CheckMark::Unchecked:
      break;
  }
  return Qt::Unchecked;
}

bool CheckRequested(const QVariant& value, CheckMark current) {
  return value.toInt() == Qt::Checked && current != CheckMark::Partly;
}

FolderTreeModel::FolderTreeModel(CheckMarks& marks, QObject* parent)
    : QAbstractItemModel(parent), marks_(marks) {
}

void FolderTreeModel::SetRoot(ItemNode* root) {
  beginResetModel();
  root_ = root;
  bold_ = nullptr;
  folders_.clear();
  rows_.clear();
  endResetModel();
}

ItemNode* FolderTreeModel::node(const QModelIndex& index) const {
  return index.isValid() ? static_cast<ItemNode*>(index.internalPointer()) : nullptr;
}

const std::vector<ItemNode*>& FolderTreeModel::Folders(const ItemNode* folder) const {
  auto [it, added] = folders_.try_emplace(folder);
  if (added) {
    for (ItemNode* child = folder->firstChild; child; child = child->next) {
      if (!child->isFolder()) continue;
      rows_[child] = static_cast<int>(it->second.size());
      it->second.push_back(child);
    }
  }
  return it->second;
}

int FolderTreeModel::RowOf(const ItemNode* folder) const {
  if (folder == root_) return 0;
  Folders(folder->parent);
  const auto it = rows_.find(folder);
  return it == rows_.end() ? -1 : it->second;
}

QModelIndex FolderTreeModel::indexOf(const ItemNode* folder) const {
  if (folder == nullptr || root_ == nullptr) return {};
  if (folder != root_ && (!folder->isFolder() || folder->parent == nullptr)) return {};
  const int row = RowOf(folder);
  if (row < 0) return {};
  return createIndex(row, 0, const_cast<ItemNode*>(folder));
}

void FolderTreeModel::SetBold(const ItemNode* folder) {
  const ItemNode* before = bold_;
  bold_ = folder;
  for (const ItemNode* changed : {before, folder}) {
    const QModelIndex at = indexOf(changed);
    if (at.isValid()) emit dataChanged(at, at, {Qt::FontRole});
  }
}

void FolderTreeModel::ChecksChanged(const ItemNode* highest) {
  const QVector<int> roles{Qt::CheckStateRole};
  // The changed folder and those above it, one by one (a short chain) ...
  for (const ItemNode* folder = highest; folder; folder = folder->parent) {
    const QModelIndex at = indexOf(folder);
    if (at.isValid()) emit dataChanged(at, at, roles);
  }
  // ... and every shown list of folders below it, one range each. (Finding
  // an index may gather more lists, so the shown ones are taken first.)
  std::vector<std::pair<const ItemNode*, int>> shown;
  for (const auto& [folder, children] : folders_) {
    if (children.empty()) continue;
    for (const ItemNode* up = folder; up; up = up->parent) {
      if (up == highest) {
        shown.emplace_back(folder, static_cast<int>(children.size()));
        break;
      }
    }
  }
  for (const auto& [folder, count] : shown) {
    const QModelIndex parent = indexOf(folder);
    emit dataChanged(index(0, 0, parent), index(count - 1, 0, parent), roles);
  }
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (root_ == nullptr || column != 0 || row < 0) return {};
  if (!parent.isValid()) return row == 0 ? createIndex(0, 0, root_) : QModelIndex();
  const auto& children = Folders(node(parent));
  if (row >= static_cast<int>(children.size())) return {};
  return createIndex(row, 0, children[static_cast<std::size_t>(row)]);
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const {
  const ItemNode* folder = node(child);
  if (folder == nullptr || folder == root_ || folder->parent == nullptr) return {};
  return indexOf(folder->parent);
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
  if (root_ == nullptr) return 0;
  if (!parent.isValid()) return 1;
  if (parent.column() != 0) return 0;
  return static_cast<int>(Folders(node(parent)).size());
}

int FolderTreeModel::columnCount(const QModelIndex&) const {
  return 1;
}

bool FolderTreeModel::hasChildren(const QModelIndex& parent) const {
  return rowCount(parent) > 0;
}

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const {
  const ItemNode* folder = node(index);
  if (folder == nullptr) return {};
  switch (role) {
    case Qt::DisplayRole:
      return folder == root_ ? QString("Root") : QStringFromUtf16(folder->name);
    case Qt::DecorationRole:
      return Icons::TreeFolder(folder == root_ || folder->isLive());
    case Qt::CheckStateRole:
      return ToCheckState(marks_.mark(*folder));
    case Qt::FontRole:
      if (folder == bold_) {
        QFont font;
        font.setBold(true);
        return font;
      }
      return {};
    default:
      return {};
  }
}

bool FolderTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  ItemNode* folder = node(index);
  if (folder == nullptr || role != Qt::CheckStateRole) return false;
  const ItemNode* highest = marks_.Set(*folder, CheckRequested(value, marks_.mark(*folder)));
  ChecksChanged(highest);
  emit checkToggled(folder, highest);
  return true;
}

Qt::ItemFlags FolderTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

}  // namespace restorix
