#include "gui/item_views.h"

#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMouseEvent>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>
#include <functional>

#include "catalogue/item_tree.h"

namespace restorix {

namespace {

// A list view that tells a double click on a row's icon or label apart from
// one on its check box: only the first opens the row.
template <typename Base>
class OpeningView : public Base {
 public:
  using Base::Base;
  std::function<void(const QModelIndex&)> onOpen;

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    const QModelIndex index = this->indexAt(event->position().toPoint());
    bool onCheckBox = false;
    if (index.isValid()) {
      QStyleOptionViewItem option;
      this->initViewItemOption(&option);
      option.rect = this->visualRect(index);
      // The delegate takes a double click for itself exactly when it lands
      // on the check box; it changes nothing then.
      onCheckBox =
          this->itemDelegateForIndex(index)->editorEvent(event, this->model(), option, index);
    }
    Base::mouseDoubleClickEvent(event);
    if (index.isValid() && !onCheckBox && event->button() == Qt::LeftButton && onOpen)
      onOpen(index);
  }
};

// In the icon and list views every item takes its grid cell, so that names
// wrap and elide within the cell rather than within the first item's width
// (the items are of one size, which keeps a folder of 100,000 quick).
class IconCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const auto* view = qobject_cast<const QListView*>(option.widget);
    if (view && view->gridSize().isValid()) {
      return view->gridSize() - QSize(6, view->viewMode() == QListView::IconMode ? 6 : 2);
    }
    return QStyledItemDelegate::sizeHint(option, index);
  }
};

// A view under a caption bar 25 pixels high.
QWidget* Captioned(const QString& caption, QWidget* content, QWidget* parent) {
  auto* pane = new QWidget(parent);
  auto* title = new QLabel(caption, pane);
  title->setFixedHeight(25);
  title->setIndent(6);
  title->setAutoFillBackground(true);
  QFont font = title->font();
  font.setBold(true);
  title->setFont(font);
  title->setStyleSheet(
      "QLabel { color: white; background: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
      "stop:0 #5a6f9c, stop:1 #34466e); }");
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(title);
  layout->addWidget(content);
  return pane;
}

constexpr int kColumnWidths[] = {200, 100, 220, 180};

}  // namespace

ItemViews::ItemViews(QWidget* parent) : QWidget(parent) {
  auto* treeView = new OpeningView<QTreeView>(this);
  treeView_ = treeView;
  treeView_->setModel(&tree_);
  treeView_->setHeaderHidden(true);
  treeView_->setUniformRowHeights(true);
  treeView_->setSelectionMode(QAbstractItemView::SingleSelection);
  treeView_->setIconSize(QSize(16, 16));

  auto* icons = new OpeningView<QListView>(this);
  icons_ = icons;
  icons_->setModel(&list_);
  icons_->setUniformItemSizes(true);
  icons_->setLayoutMode(QListView::Batched);
  icons_->setBatchSize(2000);
  icons_->setMovement(QListView::Static);
  icons_->setResizeMode(QListView::Adjust);
  icons_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  icons_->setItemDelegate(new IconCellDelegate(icons_));

  auto* details = new OpeningView<QTableView>(this);
  details_ = details;
  details_->setModel(&list_);
  details_->setSelectionModel(icons_->selectionModel());
  details_->setSelectionBehavior(QAbstractItemView::SelectRows);
  details_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  details_->setShowGrid(true);
  details_->setWordWrap(false);
  details_->setIconSize(QSize(16, 16));
  details_->verticalHeader()->hide();
  details_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  details_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  QHeaderView* header = details_->horizontalHeader();
  header->setHighlightSections(false);
  for (int column = 0; column < ContentsModel::kColumns; ++column)
    header->resizeSection(column, kColumnWidths[column]);
  // No sort until the user clicks a heading: the folder's own order first.
  header->setSortIndicator(-1, Qt::AscendingOrder);
  details_->setSortingEnabled(true);

  stack_ = new QStackedWidget(this);
  stack_->addWidget(icons_);
  stack_->addWidget(details_);

  splitter_ = new QSplitter(Qt::Horizontal, this);
  folderPane_ = Captioned("Folder List", treeView_, splitter_);
  splitter_->addWidget(folderPane_);
  splitter_->addWidget(Captioned("Contents List", stack_, splitter_));
  splitter_->setStretchFactor(0, 1);
  splitter_->setStretchFactor(1, 3);
  splitter_->setSizes({240, 720});
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(splitter_);

  connect(treeView_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            list_.ShowFolder(tree_.node(current));
            emit currentFolderChanged();
          });
  connect(treeView_, &QTreeView::activated, this,
          [this](const QModelIndex& index) { OpenFolder(tree_.node(index)); });
  connect(icons_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { emit currentItemChanged(list_.node(current)); });
  connect(&list_, &QAbstractItemModel::modelReset, this,
          [this] { emit currentItemChanged(nullptr); });
  connect(&tree_, &FolderTreeModel::checkToggled, this, &ItemViews::OnTreeCheck);
  connect(&list_, &ContentsModel::checkToggled, this, &ItemViews::OnListCheck);
  icons->onOpen = [this](const QModelIndex& index) { OnListOpened(index); };
  details->onOpen = [this](const QModelIndex& index) { OnListOpened(index); };

  SetViewMode(ViewMode::LargeIcons);
}

void ItemViews::SetTree(ItemNode* root) {
  marks_.Rebuild(root);
  list_.SetMatch(nullptr);
  list_.ShowFolder(nullptr);
  tree_.SetRoot(root);
  if (root) OpenFolder(root);
}

ItemNode* ItemViews::currentFolder() const {
  return tree_.node(treeView_->currentIndex());
}

void ItemViews::OpenFolder(const ItemNode* folder) {
  const QModelIndex index = tree_.indexOf(folder);
  if (!index.isValid()) return;
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
    treeView_->expand(up);
  treeView_->expand(index);
  treeView_->setCurrentIndex(index);
  treeView_->scrollTo(index);
  // Made current again: the list still shows the folder's children.
  if (list_.folder() != folder) list_.ShowFolder(tree_.node(index));
}

bool ItemViews::canGotoParent() const {
  const ItemNode* folder = currentFolder();
  return folder != nullptr && folder != tree_.root();
}

void ItemViews::GotoParent() {
  if (!canGotoParent()) return;
  OpenFolder(currentFolder()->parent);
}

void ItemViews::SetViewMode(ViewMode mode) {
  mode_ = mode;
  if (mode == ViewMode::Details) {
    stack_->setCurrentWidget(details_);
    return;
  }
  stack_->setCurrentWidget(icons_);
  const bool large = mode == ViewMode::LargeIcons;
  icons_->setViewMode(large ? QListView::IconMode : QListView::ListMode);
  icons_->setIconSize(large ? QSize(32, 32) : QSize(16, 16));
  icons_->setFlow(mode == ViewMode::List ? QListView::TopToBottom : QListView::LeftToRight);
  icons_->setWrapping(true);
  icons_->setWordWrap(large);
  icons_->setTextElideMode(Qt::ElideRight);
  icons_->setGridSize(large ? QSize(110, 72) : QSize(mode == ViewMode::List ? 240 : 190, 22));
  icons_->setMovement(QListView::Static);
}

bool ItemViews::folderBarShown() const {
  return !folderPane_->isHidden();
}

void ItemViews::ShowFolderBar(bool shown) {
  folderPane_->setVisible(shown);
}

QWidget* ItemViews::listWidget() const {
  return stack_->currentWidget();
}

ItemNode* ItemViews::currentItem() const {
  return list_.node(icons_->selectionModel()->currentIndex());
}

void ItemViews::ShowMatch(const ItemNode* match) {
  if (match == nullptr || match->parent == nullptr) return;
  OpenFolder(match->parent);
  tree_.SetBold(match->parent);
  list_.SetMatch(match);
  SetViewMode(ViewMode::Details);
  const QModelIndex row = list_.indexOf(match);
  details_->selectionModel()->setCurrentIndex(
      row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  details_->scrollTo(row, QAbstractItemView::EnsureVisible);
}

void ItemViews::EndHighlight() {
  list_.SetMatch(nullptr);
  tree_.SetBold(nullptr);
}

void ItemViews::OnTreeCheck(ItemNode* folder, const ItemNode*) {
  OpenFolder(folder);
  list_.ChecksChanged();
  emit checksChanged();
}

void ItemViews::OnListCheck(ItemNode*, const ItemNode* highest) {
  tree_.ChecksChanged(highest);
  emit checksChanged();
}

void ItemViews::OnListOpened(const QModelIndex& index) {
  const ItemNode* item = list_.node(index);
  if (item == nullptr || !item->isFolder()) return;
  OpenFolder(item);
}

}  // namespace restorix
