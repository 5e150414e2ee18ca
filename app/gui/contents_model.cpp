#include "gui/contents_model.h"

#include <QColor>
#include <algorithm>
#include <unordered_map>

#include "catalogue/item_tree.h"
#include "fs/recoverability.h"
#include "gui/folder_tree_model.h"
#include "gui/icons.h"
#include "gui/qt_text.h"

namespace restorix {

namespace {

QStringView NameView(const ItemNode* node) {
  return QStringView(node->name.data(), static_cast<qsizetype>(node->name.size()));
}

}  // namespace

QString DateText(std::uint16_t fatDate) {
  if (fatDate == 0) return {};
  return QString::asprintf("%02d-%02d-%d", (fatDate >> 5) & 0x0F, fatDate & 0x1F,
                           (fatDate >> 9) + 1980);
}

ContentsModel::ContentsModel(CheckMarks& marks, QObject* parent)
    : QAbstractTableModel(parent), marks_(marks) {
}

void ContentsModel::ShowFolder(ItemNode* folder) {
  beginResetModel();
  folder_ = folder;
  rows_.clear();
  for (ItemNode* child = folder ? folder->firstChild : nullptr; child; child = child->next)
    rows_.push_back(child);
  SortRows();
  endResetModel();
}

ItemNode* ContentsModel::node(const QModelIndex& index) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return nullptr;
  return rows_[static_cast<std::size_t>(index.row())];
}

QModelIndex ContentsModel::indexOf(const ItemNode* node) const {
  const auto it = std::find(rows_.begin(), rows_.end(), node);
  return it == rows_.end() ? QModelIndex() : index(static_cast<int>(it - rows_.begin()), 0);
}

void ContentsModel::SetMatch(const ItemNode* match) {
  match_ = match;
  if (!rows_.empty())
    emit dataChanged(index(0, 0), index(rowCount() - 1, kColumns - 1), {Qt::BackgroundRole});
}

void ContentsModel::ChecksChanged() {
  if (!rows_.empty())
    emit dataChanged(index(0, kName), index(rowCount() - 1, kName), {Qt::CheckStateRole});
}

int ContentsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ContentsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant ContentsModel::data(const QModelIndex& index, int role) const {
  const ItemNode* item = node(index);
  if (item == nullptr) return {};
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case kName:
          return QStringFromUtf16(item->name);
        case kSize:
          return QString::number(item->size);
        case kModified:
          return DateText(item->accessDate);
        case kCreated:
          return DateText(item->createDate);
      }
      return {};
    case Qt::ToolTipRole:
      // The verdict on a deleted file: how much of it the volume still holds.
      if (const char* verdict = RecoverableName(item->recoverable.state)) {
        return QString("Recoverable: %1 (%2%)")
            .arg(QString::fromLatin1(verdict))
            .arg(item->recoverable.percent);
      }
      return {};
    case Qt::DecorationRole:
      return index.column() == kName ? Icons::Item(item->isFolder(), item->isLive()) : QVariant();
    case Qt::CheckStateRole:
      return index.column() == kName ? QVariant(ToCheckState(marks_.mark(*item))) : QVariant();
    case Qt::TextAlignmentRole:
      return index.column() == kName ? QVariant() : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::BackgroundRole:
      if (item == match_) return QColor(140, 140, 140);
      return index.row() % 2 == 0 ? QColor(232, 232, 244) : QColor(Qt::white);
    case Qt::ForegroundRole:
      return QColor(Qt::black);
    default:
      return {};
  }
}

bool ContentsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  ItemNode* item = node(index);
  if (item == nullptr || role != Qt::CheckStateRole || index.column() != kName) return false;
  const ItemNode* highest = marks_.Set(*item, CheckRequested(value, marks_.mark(*item)));
  ChecksChanged();
  emit checkToggled(item, highest);
  return true;
}

Qt::ItemFlags ContentsModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (index.column() == kName) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

QVariant ContentsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
  switch (role) {
    case Qt::DisplayRole: {
      static const char* const kHeadings[] = {"File Name", "Size In Bytes", "Modification Date",
                                              "Creation Date"};
      return QString(kHeadings[section]);
    }
    case Qt::TextAlignmentRole:
      return section == kName ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                              : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::InitialSortOrderRole: {
      // A first click on "File Name" takes the reverse of the last direction
      // used; one on another heading keeps that direction.
      const Qt::SortOrder last = sortColumn_ < 0 ? Qt::DescendingOrder : sortOrder_;
      if (section != kName) return sortColumn_ < 0 ? Qt::AscendingOrder : last;
      return last == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    }
    default:
      return {};
  }
}

void ContentsModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= kColumns || rows_.empty()) return;
  sortColumn_ = column;
  sortOrder_ = order;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<const ItemNode*> nodes;
  nodes.reserve(static_cast<std::size_t>(before.size()));
  for (const QModelIndex& index : before)
    nodes.push_back(node(index));
  SortRows();
  std::unordered_map<const ItemNode*, int> rowOf;
  if (!before.isEmpty()) {
    for (std::size_t row = 0; row < rows_.size(); ++row)
      rowOf.emplace(rows_[row], static_cast<int>(row));
  }
  QModelIndexList after;
  after.reserve(before.size());
  for (qsizetype i = 0; i < before.size(); ++i) {
    const auto moved = rowOf.find(nodes[static_cast<std::size_t>(i)]);
    after.push_back(moved == rowOf.end() ? QModelIndex()
                                         : index(moved->second, before[i].column()));
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ContentsModel::SortRows() {
  if (sortColumn_ < 0) return;
  const auto less = [this](const ItemNode* a, const ItemNode* b) {
    switch (sortColumn_) {
      case kName:
        return NameView(a).compare(NameView(b), Qt::CaseInsensitive) < 0;
      case kSize:
        return a->size < b->size;
      case kModified:
        return a->accessDate < b->accessDate;
      default:
        return a->createDate < b->createDate;
    }
  };
  if (sortOrder_ == Qt::AscendingOrder) {
    std::stable_sort(rows_.begin(), rows_.end(), less);
  } else {
    std::stable_sort(rows_.begin(), rows_.end(),
                     [&](const ItemNode* a, const ItemNode* b) { return less(b, a); });
  }
}

}  // namespace restorix
