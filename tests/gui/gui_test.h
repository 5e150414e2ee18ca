// What the desktop program's tests share: running test classes by name,
// answering the message boxes and dialogs a command opens, small item trees
// and the fixtures.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "catalogue/item_tree.h"

namespace restorix::test {

using TestFactory = std::function<std::unique_ptr<QObject>()>;
std::map<std::string, TestFactory>& Registry();

#define RESTORIX_GUI_TEST(Class)          \
  static const bool registered##Class = ( \
      ::restorix::test::Registry()[#Class] = [] { return std::make_unique<Class>(); }, true)

// Acts on the modal windows a command opens, in turn: each expectation
// waits for a modal window of its kind that was not handled yet. A message
// box nobody expected is written down as "unexpected: TEXT" and closed, so
// that a test fails instead of hanging.
class ModalDriver : public QObject {
 public:
  ModalDriver();
  ~ModalDriver() override;

  // The next message box: its text is kept, then `button` is pressed.
  void Answer(QMessageBox::StandardButton button);
  // The next modal dialog of type T (its class name): `act` runs on it.
  void On(const char* className, std::function<void(QWidget*)> act);
  // Texts of the message boxes seen so far, in order.
  const QStringList& texts() const { return texts_; }
  bool done() const { return pending_.empty(); }

 private:
  struct Expectation {
    QString className;
    std::function<void(QWidget*)> act;
  };
  void Poll();

  QTimer timer_;
  std::deque<Expectation> pending_;
  QStringList texts_;
  QPointer<QWidget> last_;
  bool acting_ = false;
};

// A tree built from a picture: "a(b c(d)) e" has the folder a holding the
// file b and the folder c with the file d, and the file e; the root is ".".
// Files get sizes 100, 200, ... in the order they appear.
void Build(ItemTree& tree, const std::string& picture);
// The node at a slash-separated path below the root ("a/c/d").
ItemNode* At(ItemTree& tree, const std::string& path);

std::filesystem::path Fixture(const std::string& name);
std::filesystem::path SourceFixture(const std::string& name);

// A fresh folder, removed afterwards.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace restorix::test
