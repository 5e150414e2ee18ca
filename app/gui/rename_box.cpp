#include "gui/rename_box.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/qt_text.h"
#include "tasks/rename_dialog.h"

namespace restorix {

RenameBox::RenameBox(const QString& oldName, const QString& folder, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle("Rename");
  auto* old = new QLabel(oldName, this);
  old->setWordWrap(true);
  old->setTextFormat(Qt::PlainText);
  auto* note = new QLabel("filename too long. Please provide new filename.", this);
  auto* label = new QLabel("&New name", this);
  edit_ = new QLineEdit(this);
  edit_->setMaxLength(static_cast<int>(kNewNameMaxLength));
  label->setBuddy(edit_);
  auto* where = new QLabel("Recovered file will be saved to " + folder, this);
  where->setWordWrap(true);
  where->setTextFormat(Qt::PlainText);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  ok_->setEnabled(false);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(old);
  layout->addWidget(note);
  layout->addWidget(label);
  layout->addWidget(edit_);
  layout->addWidget(where);
  layout->addWidget(buttons);
  setMinimumWidth(420);

  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(edit_, &QLineEdit::textChanged, this, &RenameBox::OnEdited);
}

QString RenameBox::newName() const {
  return edit_->text();
}

void RenameBox::OnEdited(const QString& text) {
  const RenameCheck check = CheckNewName(text.toStdU16String());
  if (check.showSpecialCharacters) QMessageBox::critical(this, "Error", kSpecialCharactersMessage);
  if (!check.keepOkAsItWas) ok_->setEnabled(check.okEnabled);
  if (check.selectAll) edit_->selectAll();
}

std::optional<std::u16string> RenameBox::Ask(const std::u16string& oldName, const QString& folder,
                                             QWidget* parent) {
  RenameBox box(QStringFromUtf16(oldName), folder, parent);
  if (box.exec() != QDialog::Accepted) return std::nullopt;
  return RenamedName(oldName, box.newName().toStdU16String());
}

}  // namespace restorix
