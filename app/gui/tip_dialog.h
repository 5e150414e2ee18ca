// The tip of the day: tips, one a line, from "stips.txt" in the user's data
// folder (the program's own folder is read-only once installed).
#pragma once

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QLabel;

namespace restorix {

// The tips file; made with its one tip when it is missing (errors ignored).
// True when it was there already.
bool EnsureTipsFile(const QString& path);
QString TipsFilePath();

class TipDialog : public QDialog {
  Q_OBJECT
 public:
  // Shows the tips of `path`, from the one after the last shown.
  explicit TipDialog(const QString& path, QWidget* parent = nullptr);

  QString tip() const;
  bool showAtStartUp() const;

 private:
  void ShowNext();

  QStringList tips_;
  int next_ = 0;
  QLabel* text_;
  QCheckBox* startUp_;
};

}  // namespace restorix
