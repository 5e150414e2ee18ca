// "Rename": asked by the recovery writer when a file's name is too long for
// the destination. The rules of its edit field are the task layer's.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

class QLineEdit;
class QPushButton;

namespace restorix {

class RenameBox : public QDialog {
  Q_OBJECT
 public:
  RenameBox(const QString& oldName, const QString& folder, QWidget* parent = nullptr);

  QString newName() const;
  QLineEdit* edit() const { return edit_; }
  QPushButton* okButton() const { return ok_; }

  // Asks for a new name; nothing when the user cancels. The answer is the
  // entered name followed by the old name's extension.
  static std::optional<std::u16string> Ask(const std::u16string& oldName, const QString& folder,
                                           QWidget* parent);

 private:
  void OnEdited(const QString& text);

  QLineEdit* edit_;
  QPushButton* ok_;
};

}  // namespace restorix
