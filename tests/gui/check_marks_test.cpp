// The check boxes' rules: what checking or unchecking an item does to
// everything below and above it, and the totals counted from the checks.
#include "gui/check_marks.h"

#include <QTest>

#include "gui/folder_tree_model.h"
#include "gui_test.h"
#include "util/text.h"

namespace restorix {
namespace {

// "A=P a1=C ..." in tree order, the root first.
QString Marks(const ItemTree& tree, const CheckMarks& marks) {
  static const char kLetters[] = {'U', 'C', 'P'};
  QString out = QString("root=") + kLetters[static_cast<int>(marks.mark(*tree.root()))];
  WalkTree(tree.root(), [&](const ItemNode& node, int) {
    out += " " + QString::fromStdString(Utf8FromUtf16(node.name)) + "=" +
           kLetters[static_cast<int>(marks.mark(node))];
  });
  return out;
}

// "+path" checks, "-path" unchecks, "~path" clicks the box as a view does
// (a checked box asks for unchecked, anything else for checked); "." is the
// root.
void Apply(ItemTree& tree, CheckMarks& marks, const QString& operation) {
  const std::string path = operation.mid(1).toStdString();
  ItemNode* node = path == "." ? tree.root() : test::At(tree, path);
  QVERIFY2(node, qPrintable(operation));
  const char op = operation.at(0).toLatin1();
  if (op == '~') {
    const Qt::CheckState shown = ToCheckState(marks.mark(*node));
    const Qt::CheckState asked = shown == Qt::Checked ? Qt::Unchecked : Qt::Checked;
    marks.Set(*node, CheckRequested(asked, marks.mark(*node)));
  } else {
    marks.Set(*node, op == '+');
  }
}

class CheckMarksTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void propagation_data() {
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QStringList>("operations");
    QTest::addColumn<QString>("marks");
    const QString tree = "A(a1 a2 B(b1 b2)) C(c1) f";
    QTest::newRow("a checked file makes every folder above it partly checked")
        << tree << QStringList{"+A/a1"} << "root=P A=P a1=C a2=U B=U b1=U b2=U C=U c1=U f=U";
    QTest::newRow("every child checked checks the folder fully")
        << tree << QStringList{"+A/a1", "+A/a2", "+A/B"}
        << "root=P A=C a1=C a2=C B=C b1=C b2=C C=U c1=U f=U";
    QTest::newRow("the root checked checks every node")
        << tree << QStringList{"+."} << "root=C A=C a1=C a2=C B=C b1=C b2=C C=C c1=C f=C";
    QTest::newRow("a folder checks everything below it; one unchecked leaves it partly")
        << tree << QStringList{"+A", "-A/B/b1"}
        << "root=P A=P a1=C a2=C B=P b1=U b2=C C=U c1=U f=U";
    QTest::newRow("unchecking the last checked child clears every folder above")
        << tree << QStringList{"+A/B/b1", "-A/B/b1"}
        << "root=U A=U a1=U a2=U B=U b1=U b2=U C=U c1=U f=U";
    QTest::newRow("unchecking keeps folders checked that still hold a checked item")
        << tree << QStringList{"+A/B/b1", "+C/c1", "-A/B/b1"}
        << "root=P A=U a1=U a2=U B=U b1=U b2=U C=C c1=C f=U";
    QTest::newRow("checking the one unchecked item checks every folder above fully")
        << tree << QStringList{"+.", "-A/B/b1", "+A/B/b1"}
        << "root=C A=C a1=C a2=C B=C b1=C b2=C C=C c1=C f=C";
    QTest::newRow("a click on a partly checked folder unchecks it and all below")
        << tree << QStringList{"+A/B/b1", "+A/a1", "~A"}
        << "root=U A=U a1=U a2=U B=U b1=U b2=U C=U c1=U f=U";
    QTest::newRow("a click on an unchecked folder checks it")
        << tree << QStringList{"~C"} << "root=P A=U a1=U a2=U B=U b1=U b2=U C=C c1=C f=U";
    QTest::newRow("a click on a checked file unchecks it")
        << tree << QStringList{"+f", "~f"} << "root=U A=U a1=U a2=U B=U b1=U b2=U C=U c1=U f=U";
    QTest::newRow("an empty folder checked sets only itself; its parent is partly checked")
        << "A(E() x)" << QStringList{"+A/E"} << "root=P A=P E=C x=U";
    QTest::newRow("... and fully checked once every sibling is")
        << "A(E() x)" << QStringList{"+A/E", "+A/x"} << "root=C A=C E=C x=C";
  }

  void propagation() {
    QFETCH(QString, picture);
    QFETCH(QStringList, operations);
    QFETCH(QString, marks);
    ItemTree tree;
    test::Build(tree, picture.toStdString());
    CheckMarks checks;
    checks.Rebuild(tree.root());
    for (const QString& operation : operations)
      Apply(tree, checks, operation);
    QCOMPARE(Marks(tree, checks), marks);
    // A folder's own flag, which the writer follows, is set while anything
    // below it is: partly checked folders are written too.
    WalkTree(tree.root(), [&](const ItemNode& node, int) {
      QCOMPARE(node.checked != 0, checks.mark(node) != CheckMark::Unchecked);
    });
  }

  void rebuildsPartlyCheckedFoldersFromStoredFlags() {
    ItemTree tree;
    test::Build(tree, "A(a1 a2 B(b1)) C(c1)");
    for (const char* path : {"A", "A/a1", "A/a2", "A/B", "A/B/b1", "C"})
      test::At(tree, path)->checked = 1;
    tree.root()->checked = 1;
    CheckMarks marks;
    marks.Rebuild(tree.root());
    // C is checked but its one file is not; the root holds C.
    QCOMPARE(Marks(tree, marks), "root=P A=C a1=C a2=C B=C b1=C C=P c1=U");
  }

  void reportsTheHighestFolderThatChanged() {
    ItemTree tree;
    test::Build(tree, "A(a1 B(b1 b2)) C(c1)");
    CheckMarks marks;
    marks.Rebuild(tree.root());
    QCOMPARE(marks.Set(*test::At(tree, "A/B/b1"), true), tree.root());
    // The root is partly checked before and after: the change stops at A.
    marks.Set(*test::At(tree, "A/a1"), true);
    marks.Set(*test::At(tree, "A/B/b2"), true);
    QCOMPARE(marks.Set(*test::At(tree, "A/B/b2"), false), test::At(tree, "A"));
    // Nothing above changes: the node itself.
    QCOMPARE(marks.Set(*test::At(tree, "A/B/b2"), false), test::At(tree, "A/B/b2"));
  }

  void countsEveryItemAndTheCheckedOnes() {
    ItemTree tree;
    test::Build(tree, "A(a1 a2 B(b1 b2)) C(c1) f");         // files of 100 ... 600 bytes
    QCOMPARE(CountAll(tree.root()), (Totals{2100, 6, 4}));  // the root is a folder too
    QCOMPARE(CountChecked(tree.root()), (Totals{}));
    CheckMarks marks;
    marks.Set(*test::At(tree, "A/B"), true);
    // b1 and b2, in B, in A, in the root: partly checked folders count.
    QCOMPARE(CountChecked(tree.root()), (Totals{700, 2, 3}));
    QCOMPARE(CountAll(nullptr), (Totals{}));
  }
};

RESTORIX_GUI_TEST(CheckMarksTest);

}  // namespace
}  // namespace restorix

#include "check_marks_test.moc"
