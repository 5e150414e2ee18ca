// Widgets that several wizard pages share.
#pragma once

#include <QCheckBox>
#include <QTreeWidget>
#include <functional>

namespace restorix {

class CWizardSheet;

// "&Run wizard on startup": shows the sheet's setting and changes it at once.
class StartupBox : public QCheckBox {
 public:
  StartupBox(CWizardSheet& sheet, QWidget* parent);
  // Shows the sheet's setting (each time a page is entered).
  void Show();

 private:
  CWizardSheet& sheet_;
};

// "My Computer" with one item per drive. Choosing an item, or ticking it,
// marks it and unmarks all others, so exactly one or no drive is marked.
class DriveTree : public QTreeWidget {
 public:
  explicit DriveTree(QWidget* parent);
  void Fill(const QStringList& names, const QIcon& icon);
  // Marks the drive at `index`, or none for -1.
  void Mark(int index);
  int marked() const { return marked_; }
  // Told the index of the newly marked drive (-1: none).
  std::function<void(int)> changed;

 private:
  int marked_ = -1;
  bool updating_ = false;
};

// A page's children go quiet before the page goes: a child's signal during
// the page's destruction would reach a page that is half gone.
void QuietChildren(QWidget* page);

}  // namespace restorix
