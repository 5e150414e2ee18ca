#include "gui_test.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <cstdlib>
#include <iostream>
#include <random>
#include <sstream>

#include "util/text.h"

namespace restorix::test {

std::map<std::string, TestFactory>& Registry() {
  static std::map<std::string, TestFactory> tests;
  return tests;
}

ModalDriver::ModalDriver() {
  timer_.setInterval(10);
  connect(&timer_, &QTimer::timeout, this, &ModalDriver::Poll);
  timer_.start();
}

ModalDriver::~ModalDriver() = default;

void ModalDriver::Answer(QMessageBox::StandardButton button) {
  On("QMessageBox", [button](QWidget* widget) {
    auto* box = static_cast<QMessageBox*>(widget);
    if (QAbstractButton* chosen = box->button(button)) chosen->click();
  });
}

void ModalDriver::On(const char* className, std::function<void(QWidget*)> act) {
  pending_.push_back({className, std::move(act)});
}

void ModalDriver::Poll() {
  if (acting_) return;
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr || modal == last_) return;
  auto* box = qobject_cast<QMessageBox*>(modal);
  if (box) texts_.push_back(box->text());
  const bool expected = !pending_.empty() && modal->inherits(pending_.front().className.toUtf8());
  if (!expected && !box) return;  // a window of the task: not ours to touch
  last_ = modal;
  if (!expected) {
    texts_.back() = "unexpected: " + texts_.back();
    box->done(QMessageBox::Cancel);
    return;
  }
  Expectation next = std::move(pending_.front());
  pending_.pop_front();
  acting_ = true;
  next.act(modal);
  acting_ = false;
}

namespace {

void BuildChildren(ItemTree& tree, ItemNode* folder, std::istringstream& in, int& size) {
  ItemNode* previous = nullptr;
  std::string word;
  while (in >> std::ws && in.peek() != EOF) {
    if (in.peek() == ')') {
      in.get();
      return;
    }
    word.clear();
    while (in.peek() != EOF && !std::isspace(in.peek()) && in.peek() != '(' && in.peek() != ')')
      word += static_cast<char>(in.get());
    ItemNode* node = tree.NewNode();
    node->name = Utf16FromUtf8(word);
    node->flags = ItemFlags::None;
    if (in.peek() == '(') {
      in.get();
      node->flags = ItemFlags::Folder;
      tree.AddChildAfter(folder, previous, node);
      BuildChildren(tree, node, in, size);
    } else {
      size += 100;
      node->size = static_cast<std::uint64_t>(size);
      tree.AddChildAfter(folder, previous, node);
    }
    previous = node;
  }
}

}  // namespace

void Build(ItemTree& tree, const std::string& picture) {
  ItemNode* root = tree.NewRoot();
  root->name = u".";
  root->flags = ItemFlags::Folder | ItemFlags::Live;
  std::istringstream in(picture);
  int size = 0;
  BuildChildren(tree, root, in, size);
}

ItemNode* At(ItemTree& tree, const std::string& path) {
  ItemNode* node = tree.root();
  std::istringstream parts(path);
  std::string part;
  while (node && std::getline(parts, part, '/')) {
    ItemNode* child = node->firstChild;
    while (child && Utf8FromUtf16(child->name) != part)
      child = child->next;
    node = child;
  }
  return node;
}

std::filesystem::path Fixture(const std::string& name) {
  return std::filesystem::path(RESTORIX_FIXTURE_DIR) / name;
}

std::filesystem::path SourceFixture(const std::string& name) {
  return std::filesystem::path(RESTORIX_SOURCE_FIXTURE_DIR) / name;
}

TempDir::TempDir() {
  std::random_device random;
  path_ = std::filesystem::temp_directory_path() /
          ("restorix-gui-test-" + std::to_string(random()) + std::to_string(random()));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace restorix::test

// Runs the test classes named on the command line (all without one), each
// in a home of its own so that settings and locks never meet another run's.
int main(int argc, char** argv) {
  using restorix::test::Registry;
  restorix::test::TempDir home;
  for (const char* sub : {"config", "data", "runtime", "cache"})
    std::filesystem::create_directories(home.path() / sub);
  std::filesystem::permissions(home.path() / "runtime", std::filesystem::perms::owner_all);
  setenv("HOME", home.path().c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
  setenv("XDG_DATA_HOME", (home.path() / "data").c_str(), 1);
  setenv("XDG_CACHE_HOME", (home.path() / "cache").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (home.path() / "runtime").c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Quillon Labs");
  QApplication::setApplicationName("Quillon Restorix");

  std::vector<std::string> names;
  for (int i = 1; i < argc && argv[i][0] != '-'; ++i)
    names.push_back(argv[i]);
  if (names.empty())
    for (const auto& [name, factory] : Registry())
      names.push_back(name);
  int failures = 0;
  for (const std::string& name : names) {
    const auto found = Registry().find(name);
    if (found == Registry().end()) {
      std::cerr << "no test class " << name << "\n";
      return 2;
    }
    const std::unique_ptr<QObject> test = found->second();
    failures += QTest::qExec(test.get(), QStringList{argv[0]});
  }
  return failures == 0 ? 0 : 1;
}
