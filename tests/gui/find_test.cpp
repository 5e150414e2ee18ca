// Find: what a search visits and reports, the dialog's options and checks,
// and what the main window does with a match or with none.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTreeView>

#include "gui/find_dialog.h"
#include "gui/item_views.h"
#include "gui/main_frame.h"
#include "gui_test.h"
#include "util/text.h"

namespace restorix {
namespace {

QStringList Names(FindState& state) {
  QStringList names;
  while (const ItemNode* match = state.Next())
    names << QString::fromStdString(Utf8FromUtf16(match->name));
  return names;
}

class FindTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void searchOrderAndTheFoundList_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<QStringList>("found");
    QTest::newRow("depth first: a folder's children before its next sibling")
        << "*.txt" << false << QStringList{"a.txt", "b.TXT", "notes.txt"};
    QTest::newRow("case matters with Match Case") << "*.TXT" << true << QStringList{"b.TXT"};
    QTest::newRow("folders match like files") << "d*" << false << QStringList{"docs"};
    QTest::newRow("? is one character") << "?.txt" << false << QStringList{"a.txt", "b.TXT"};
    QTest::newRow("nothing") << "*.doc" << false << QStringList{};
  }

  void searchOrderAndTheFoundList() {
    QFETCH(QString, pattern);
    QFETCH(bool, matchCase);
    QFETCH(QStringList, found);
    ItemTree tree;
    test::Build(tree, "docs(a.txt b.TXT) notes.txt pic.jpg");
    FindState state;
    FindQuery query;
    query.pattern = pattern.toStdU16String();
    query.matchCase = matchCase;
    state.Start(tree.root(), query);
    QCOMPARE(Names(state), found);
    // Past the last match nothing is found again until the next Find.
    QVERIFY(state.Next() == nullptr);
    QVERIFY(state.current() == nullptr);
    state.Start(tree.root(), query);
    QCOMPARE(Names(state), found);
  }

  void sizeLimits() {
    ItemTree tree;
    test::Build(tree, "small big");
    test::At(tree, "small")->size = 1023;
    test::At(tree, "big")->size = 1024;
    FindState state;
    state.Start(tree.root(), {u"*", false, FindQuery::Size::AtLeast, 1024});
    QCOMPARE(Names(state), QStringList{"big"});
    state.Start(tree.root(), {u"*", false, FindQuery::Size::AtMost, 1023});
    QCOMPARE(Names(state), QStringList{"small"});
  }

  void dialogOptions() {
    FindDialog dialog({});
    QCOMPARE(dialog.windowTitle(), QString("Find"));
    QCOMPARE(dialog.patternEdit()->placeholderText(), QString("e.g. filename*.* or *.ext"));
    QCOMPARE(dialog.optionsButton()->text(), QString("Show &Options"));
    QCOMPARE(dialog.size(), QSize(372, 166));
    dialog.optionsButton()->click();
    QCOMPARE(dialog.optionsButton()->text(), QString("&Hide Options"));
    QCOMPARE(dialog.size(), QSize(372, 246));
    dialog.optionsButton()->click();
    QCOMPARE(dialog.optionsButton()->text(), QString("&Show Options"));
    QCOMPARE(dialog.size(), QSize(372, 166));

    QVERIFY(!dialog.searchButton()->isEnabled());
    dialog.patternEdit()->setText("a");
    QVERIFY(dialog.searchButton()->isEnabled());
    dialog.patternEdit()->clear();
    QVERIFY(!dialog.searchButton()->isEnabled());

    QVERIFY(!dialog.sizeEdit()->isEnabled());
    dialog.sizeBox()->setChecked(true);
    QVERIFY(dialog.sizeEdit()->isEnabled());
    QVERIFY(dialog.modeBox()->isEnabled());
    QVERIFY(dialog.unitBox()->isEnabled());
    const QStringList modes{dialog.modeBox()->itemText(0), dialog.modeBox()->itemText(1)};
    QCOMPARE(modes, (QStringList{"At most", "At least"}));
    // The number allows 7 digits in KB, 4 in MB and 1 in GB.
    const int digits[] = {7, 4, 1};
    for (int unit = 0; unit < 3; ++unit) {
      dialog.unitBox()->setCurrentIndex(unit);
      QCOMPARE(dialog.sizeEdit()->maxLength(), digits[unit]);
    }
  }

  void sizeValidation_data() {
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("valid");
    QTest::newRow("1 KB") << "KB"
                          << "1" << true;
    QTest::newRow("0 KB") << "KB"
                          << "0" << false;
    QTest::newRow("4194304 KB is 4 GB") << "KB"
                                        << "4194304" << true;
    QTest::newRow("4194305 KB") << "KB"
                                << "4194305" << false;
    QTest::newRow("4096 MB") << "MB"
                             << "4096" << true;
    QTest::newRow("4097 MB") << "MB"
                             << "4097" << false;
    QTest::newRow("4 GB") << "GB"
                          << "4" << true;
    QTest::newRow("5 GB") << "GB"
                          << "5" << false;
  }

  void sizeValidation() {
    QFETCH(QString, unit);
    QFETCH(QString, typed);
    QFETCH(bool, valid);
    FindDialog dialog({});
    dialog.patternEdit()->setText("*");
    dialog.sizeBox()->setChecked(true);
    dialog.unitBox()->setCurrentText(unit);
    test::ModalDriver driver;
    QTest::keyClicks(dialog.sizeEdit(), typed);
    QCOMPARE(dialog.searchButton()->isEnabled(), valid);
    if (valid) {
      QVERIFY(driver.texts().isEmpty());
      const FindQuery query = dialog.query();
      QCOMPARE(query.sizeMode, FindQuery::Size::AtMost);
      QVERIFY(query.sizeLimit >= 1024 && query.sizeLimit <= 4294967296ull);
    } else {
      QCOMPARE(driver.texts().last(),
               QString("unexpected: Please provide value in range of 1KB to 4GB"));
    }
  }

  void noSizeYetIsNoErrorButNoSearch() {
    FindDialog dialog({});
    test::ModalDriver driver;
    dialog.patternEdit()->setText("*");
    dialog.sizeBox()->setChecked(true);
    QVERIFY(!dialog.searchButton()->isEnabled());
    QTest::keyClicks(dialog.sizeEdit(), "12");
    QVERIFY(dialog.searchButton()->isEnabled());
    dialog.sizeEdit()->clear();
    QVERIFY(!dialog.searchButton()->isEnabled());
    QTest::qWait(50);
    QVERIFY(driver.texts().isEmpty());
  }

  void theWindowShowsAMatchAndSaysWhenThereIsNone() {
    MainFrame frame;
    frame.show();
    frame.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&frame));
    ItemTree tree;
    test::Build(tree, "docs(a.txt sub(b.txt)) notes.txt");
    frame.SetScan(Volume::Detached(u"demo", {}), std::move(tree));
    ItemViews* views = frame.views();
    QVERIFY(frame.action(MainFrame::Command::Find)->isEnabled());
    QVERIFY(!frame.action(MainFrame::Command::FindNext)->isEnabled());

    frame.Find({u"b.txt", false, FindQuery::Size::Any, 0});
    const ItemNode* match = frame.findState().current();
    QVERIFY(match != nullptr);
    QCOMPARE(views->currentFolder(), test::At(frame.tree(), "docs/sub"));
    QCOMPARE(views->treeModel().bold(), test::At(frame.tree(), "docs/sub"));
    QCOMPARE(views->viewMode(), ViewMode::Details);
    QVERIFY(frame.action(MainFrame::Command::Details)->isChecked());
    const QModelIndex row = views->listModel().indexOf(match);
    QCOMPARE(row.data(Qt::BackgroundRole).value<QColor>(), QColor(140, 140, 140));
    QCOMPARE(views->detailsView()->currentIndex().row(), row.row());
    QVERIFY(frame.action(MainFrame::Command::FindNext)->isEnabled());

    // Esc ends the highlight.
    QTest::keyClick(&frame, Qt::Key_Escape);
    QVERIFY(frame.findState().current() == nullptr);
    QVERIFY(views->treeModel().bold() == nullptr);
    QVERIFY(row.data(Qt::BackgroundRole).value<QColor>() != QColor(140, 140, 140));
    QVERIFY(!frame.action(MainFrame::Command::FindNext)->isEnabled());

    // Find Next past the last match.
    frame.Find({u"*.txt", false, FindQuery::Size::Any, 0});
    frame.FindNext();
    frame.FindNext();
    test::ModalDriver driver;
    driver.Answer(QMessageBox::Ok);
    frame.FindNext();
    QCOMPARE(driver.texts(), QStringList{"Search item not found"});
    QVERIFY(frame.findState().current() == nullptr);
    QVERIFY(views->treeModel().bold() == nullptr);
    QVERIFY(!frame.action(MainFrame::Command::FindNext)->isEnabled());
  }
};

RESTORIX_GUI_TEST(FindTest);

}  // namespace
}  // namespace restorix

#include "find_test.moc"
