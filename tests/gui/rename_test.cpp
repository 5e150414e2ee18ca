// The Rename dialog asked for a name too long for the destination.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "gui/rename_box.h"
#include "gui_test.h"

namespace restorix {
namespace {

class RenameTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void okFollowsTheNewName_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("warned");
    QTest::addColumn<bool>("selected");
    QTest::newRow("a name") << "report" << true << false << false;
    QTest::newRow("ending in a colon: refused with the message, OK left as it was")
        << "report:" << true << true << true;
    QTest::newRow("ending in a star") << "a*" << true << true << true;
    QTest::newRow("a blank: refused silently") << "my report" << false << false << true;
    QTest::newRow("a forbidden character warns when typed; what follows is taken")
        << "a?b" << true << true << false;
  }

  void okFollowsTheNewName() {
    QFETCH(QString, typed);
    QFETCH(bool, ok);
    QFETCH(bool, warned);
    QFETCH(bool, selected);
    RenameBox box("a very long name.txt", "/rescue/Orphan Files");
    QCOMPARE(box.windowTitle(), QString("Rename"));
    QVERIFY(!box.okButton()->isEnabled());
    QCOMPARE(box.edit()->maxLength(), 40);
    test::ModalDriver driver;
    // Typed one character at a time: the rules look at the text after each.
    box.edit()->setText(typed.chopped(1));
    box.edit()->setText(typed);
    QCOMPARE(box.okButton()->isEnabled(), ok);
    QCOMPARE(driver.texts().filter("special characters").isEmpty(), !warned);
    QCOMPARE(box.edit()->hasSelectedText(), selected);
    if (warned) {
      QCOMPARE(driver.texts().last(),
               QString("unexpected: A file extension cannot contain following special "
                       "characters:\n\\/ : * ? \" < > |"));
    }
  }

  void theAnswerKeepsTheOldExtension() {
    test::ModalDriver driver;
    driver.On("restorix::RenameBox", [](QWidget* widget) {
      auto* box = static_cast<RenameBox*>(widget);
      box->edit()->setText("short");
      box->okButton()->click();
    });
    const auto name = RenameBox::Ask(u"a very long name.jpeg", "/rescue", nullptr);
    QVERIFY(name.has_value());
    QCOMPARE(QString::fromStdU16String(*name), QString("short.jpeg"));

    driver.On("restorix::RenameBox",
              [](QWidget* widget) { static_cast<QDialog*>(widget)->reject(); });
    QVERIFY(!RenameBox::Ask(u"long.txt", "/rescue", nullptr).has_value());
  }
};

RESTORIX_GUI_TEST(RenameTest);

}  // namespace
}  // namespace restorix

#include "rename_test.moc"
