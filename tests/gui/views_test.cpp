// The folder tree and the contents list over the item tree: their shape,
// columns and formats, sorting, checks between the two, opening folders.
#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QListView>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTreeView>

#include "gui/icons.h"
#include "gui/item_views.h"
#include "gui_test.h"
#include "util/fat_date.h"
#include "util/text.h"

namespace restorix {
namespace {

QStringList Column(const QAbstractItemModel& model, int column, const QModelIndex& parent = {}) {
  QStringList texts;
  for (int row = 0; row < model.rowCount(parent); ++row)
    texts << model.index(row, column, parent).data().toString();
  return texts;
}

// A tree with dates and flags of all kinds, shown in views on screen.
struct Shown {
  ItemTree tree;
  ItemViews views;
  Shown() {
    test::Build(tree, "Docs(zeta.txt Alpha.txt beta.doc Old(x)) empty.bin pic.jpg");
    test::At(tree, "Docs")->flags = ItemFlags::Folder | ItemFlags::Live;
    test::At(tree, "Docs/zeta.txt")->accessDate = PackFatDate(2026, 12, 5);
    test::At(tree, "Docs/zeta.txt")->createDate = PackFatDate(1999, 1, 31);
    test::At(tree, "Docs/Alpha.txt")->accessDate = PackFatDate(2001, 7, 4);
    test::At(tree, "Docs/zeta.txt")->flags = ItemFlags::Live;
    test::At(tree, "empty.bin")->size = 0;
    test::At(tree, "Docs/Alpha.txt")->recoverable = {Recoverable::Partial, 40};
    views.resize(900, 500);
    views.SetTree(tree.root());
    views.show();
  }
};

class ViewsTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void modelsHoldTogether() {
    Shown shown;
    QAbstractItemModelTester tree(&shown.views.treeModel(),
                                  QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester list(&shown.views.listModel(),
                                  QAbstractItemModelTester::FailureReportingMode::QtTest);
    shown.views.OpenFolder(test::At(shown.tree, "Docs/Old"));
    shown.views.listModel().sort(0, Qt::DescendingOrder);
    shown.views.OpenFolder(shown.tree.root());
    shown.views.SetTree(nullptr);
  }

  void theTreeShowsFoldersUnderRoot() {
    Shown shown;
    const FolderTreeModel& model = shown.views.treeModel();
    QCOMPARE(Column(model, 0), QStringList{"Root"});
    const QModelIndex root = model.index(0, 0);
    QCOMPARE(Column(model, 0, root), QStringList{"Docs"});
    const QModelIndex docs = model.index(0, 0, root);
    QCOMPARE(Column(model, 0, docs), QStringList{"Old"});
    QCOMPARE(model.parent(model.index(0, 0, docs)), docs);
    QCOMPARE(model.indexOf(test::At(shown.tree, "Docs/Old")), model.index(0, 0, docs));
    QVERIFY(!model.indexOf(test::At(shown.tree, "pic.jpg")).isValid());
    // Live and deleted folders have their own pictures.
    QCOMPARE(docs.data(Qt::DecorationRole).value<QIcon>().cacheKey(),
             Icons::TreeFolder(true).cacheKey());
    QCOMPARE(model.index(0, 0, docs).data(Qt::DecorationRole).value<QIcon>().cacheKey(),
             Icons::TreeFolder(false).cacheKey());
    // At the start the root is current and its children listed.
    QCOMPARE(shown.views.currentFolder(), shown.tree.root());
    QCOMPARE(Column(shown.views.listModel(), 0), (QStringList{"Docs", "empty.bin", "pic.jpg"}));
  }

  void listColumnsAndFormats() {
    Shown shown;
    ContentsModel& list = shown.views.listModel();
    QStringList headings;
    for (int column = 0; column < list.columnCount(); ++column)
      headings << list.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    QCOMPARE(headings,
             (QStringList{"File Name", "Size In Bytes", "Modification Date", "Creation Date"}));
    shown.views.OpenFolder(test::At(shown.tree, "Docs"));
    QCOMPARE(Column(list, 0), (QStringList{"zeta.txt", "Alpha.txt", "beta.doc", "Old"}));
    QCOMPARE(Column(list, 1), (QStringList{"100", "200", "300", "0"}));
    QCOMPARE(Column(list, 2), (QStringList{"12-05-2026", "07-04-2001", "", ""}));
    QCOMPARE(Column(list, 3), (QStringList{"01-31-1999", "", "", ""}));
    QCOMPARE(list.index(0, 1).data(Qt::TextAlignmentRole).toInt(),
             int(Qt::AlignRight | Qt::AlignVCenter));
    // Pictures by flags: a live file, a deleted file, a deleted folder.
    QCOMPARE(list.index(0, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(),
             Icons::Item(false, true).cacheKey());
    QCOMPARE(list.index(1, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(),
             Icons::Item(false, false).cacheKey());
    QCOMPARE(list.index(3, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(),
             Icons::Item(true, false).cacheKey());
    // A deleted file's verdict shows on its row; a live one has none.
    QCOMPARE(list.index(1, 2).data(Qt::ToolTipRole).toString(),
             QString("Recoverable: partial (40%)"));
    QVERIFY(!list.index(0, 0).data(Qt::ToolTipRole).isValid());
    // Alternating rows; a file of 0 bytes shows 0.
    QCOMPARE(list.index(0, 2).data(Qt::BackgroundRole).value<QColor>(), QColor(232, 232, 244));
    QCOMPARE(list.index(1, 2).data(Qt::BackgroundRole).value<QColor>(), QColor(Qt::white));
    shown.views.OpenFolder(shown.tree.root());
    QCOMPARE(list.index(1, 1).data().toString(), QString("0"));
  }

  void sortingByEachColumn_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("name as text, case ignored")
        << 0 << int(Qt::AscendingOrder) << QStringList{"Alpha.txt", "beta.doc", "Old", "zeta.txt"};
    QTest::newRow("name, reversed")
        << 0 << int(Qt::DescendingOrder) << QStringList{"zeta.txt", "Old", "beta.doc", "Alpha.txt"};
    QTest::newRow("size as a number")
        << 1 << int(Qt::AscendingOrder) << QStringList{"Old", "zeta.txt", "Alpha.txt", "beta.doc"};
    QTest::newRow("modification date as a date, none first")
        << 2 << int(Qt::AscendingOrder) << QStringList{"beta.doc", "Old", "Alpha.txt", "zeta.txt"};
    QTest::newRow("creation date, reversed")
        << 3 << int(Qt::DescendingOrder) << QStringList{"zeta.txt", "Alpha.txt", "beta.doc", "Old"};
  }

  void sortingByEachColumn() {
    QFETCH(int, column);
    QFETCH(int, order);
    QFETCH(QStringList, names);
    Shown shown;
    shown.views.OpenFolder(test::At(shown.tree, "Docs"));
    shown.views.listModel().sort(column, static_cast<Qt::SortOrder>(order));
    QCOMPARE(Column(shown.views.listModel(), 0), names);
    // Another folder is listed in the same order.
    shown.views.OpenFolder(shown.tree.root());
    shown.views.OpenFolder(test::At(shown.tree, "Docs"));
    QCOMPARE(Column(shown.views.listModel(), 0), names);
  }

  void headingClicksChooseTheDirection() {
    Shown shown;
    shown.views.SetViewMode(ViewMode::Details);
    QVERIFY(QTest::qWaitForWindowExposed(&shown.views));
    shown.views.OpenFolder(test::At(shown.tree, "Docs"));
    QHeaderView* header = shown.views.detailsView()->horizontalHeader();
    const auto click = [header](int section) {
      const int x = header->sectionViewportPosition(section) + header->sectionSize(section) / 2;
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
      return header->sortIndicatorOrder();
    };
    // The folder's own order until a heading is clicked.
    QCOMPARE(Column(shown.views.listModel(), 0).first(), QString("zeta.txt"));
    QCOMPARE(click(1), Qt::AscendingOrder);   // first click on a heading: ascending
    QCOMPARE(click(1), Qt::DescendingOrder);  // again: reversed
    QCOMPARE(click(2), Qt::DescendingOrder);  // another heading keeps the direction
    QCOMPARE(click(0), Qt::AscendingOrder);   // File Name takes the reverse of the last
    QCOMPARE(Column(shown.views.listModel(), 0).first(), QString("Alpha.txt"));
    QCOMPARE(click(0), Qt::DescendingOrder);
  }

  void checksInTheListShowInTheTree() {
    Shown shown;
    ItemViews& views = shown.views;
    QSignalSpy changed(&views, &ItemViews::checksChanged);
    views.OpenFolder(test::At(shown.tree, "Docs"));
    ContentsModel& list = views.listModel();
    QVERIFY(list.setData(list.index(0, 0), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(changed.count(), 1);
    const QModelIndex docs = views.treeModel().indexOf(test::At(shown.tree, "Docs"));
    const QModelIndex root = views.treeModel().indexOf(shown.tree.root());
    QCOMPARE(docs.data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    QCOMPARE(root.data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    for (int row = 1; row < list.rowCount(); ++row)
      QVERIFY(list.setData(list.index(row, 0), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(docs.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    // A folder row checked in the list checked everything below it.
    QCOMPARE(test::At(shown.tree, "Docs/Old/x")->checked, 1);
  }

  void aCheckInTheTreeOpensTheFolder() {
    Shown shown;
    ItemViews& views = shown.views;
    FolderTreeModel& tree = views.treeModel();
    const QModelIndex old = tree.indexOf(test::At(shown.tree, "Docs/Old"));
    QVERIFY(tree.setData(old, Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(views.currentFolder(), test::At(shown.tree, "Docs/Old"));
    QCOMPARE(Column(views.listModel(), 0), QStringList{"x"});
    QCOMPARE(views.listModel().index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
  }

  void doubleClickOpensFoldersOnly() {
    Shown shown;
    ItemViews& views = shown.views;
    views.SetViewMode(ViewMode::Details);
    QVERIFY(QTest::qWaitForWindowExposed(&views));
    views.OpenFolder(test::At(shown.tree, "Docs"));
    QTableView* details = views.detailsView();
    const auto doubleClick = [details](int row) {
      const QRect rect = details->visualRect(details->model()->index(row, 0));
      QTest::mouseDClick(details->viewport(), Qt::LeftButton, {},
                         QPoint(rect.right() - 10, rect.center().y()));
    };
    doubleClick(0);  // a file
    QCOMPARE(views.currentFolder(), test::At(shown.tree, "Docs"));
    doubleClick(3);  // the folder Old
    QCOMPARE(views.currentFolder(), test::At(shown.tree, "Docs/Old"));
    QCOMPARE(Column(views.listModel(), 0), QStringList{"x"});
  }

  void gotoParentStopsAtTheRoot() {
    Shown shown;
    ItemViews& views = shown.views;
    views.OpenFolder(test::At(shown.tree, "Docs/Old"));
    QVERIFY(views.canGotoParent());
    views.GotoParent();
    QCOMPARE(views.currentFolder(), test::At(shown.tree, "Docs"));
    QCOMPARE(Column(views.listModel(), 0).size(), 4);
    views.GotoParent();
    QCOMPARE(views.currentFolder(), shown.tree.root());
    QVERIFY(!views.canGotoParent());
    views.GotoParent();
    QCOMPARE(views.currentFolder(), shown.tree.root());
  }

  void viewModes() {
    Shown shown;
    ItemViews& views = shown.views;
    QCOMPARE(views.viewMode(), ViewMode::LargeIcons);
    QCOMPARE(views.listWidget(), static_cast<QWidget*>(views.iconView()));
    QCOMPARE(views.iconView()->viewMode(), QListView::IconMode);
    views.SetViewMode(ViewMode::SmallIcons);
    QCOMPARE(views.iconView()->viewMode(), QListView::ListMode);
    QCOMPARE(views.iconView()->flow(), QListView::LeftToRight);
    views.SetViewMode(ViewMode::List);
    QCOMPARE(views.iconView()->flow(), QListView::TopToBottom);
    views.SetViewMode(ViewMode::Details);
    QCOMPARE(views.listWidget(), static_cast<QWidget*>(views.detailsView()));
    views.ShowFolderBar(false);
    QVERIFY(!views.folderBarShown());
  }
};

RESTORIX_GUI_TEST(ViewsTest);

}  // namespace
}  // namespace restorix

#include "views_test.moc"
