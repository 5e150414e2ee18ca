#include "gui/find_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "gui/qt_text.h"
#include "tasks/messages.h"

namespace restorix {

namespace {

constexpr QSize kCollapsed(372, 166);
constexpr QSize kExpanded(372, 246);
// Digits the number takes with each unit: KB, MB, GB.
constexpr int kDigits[] = {7, 4, 1};
const char* const kUnits[] = {"KB", "MB", "GB"};

}  // namespace

void FindState::Start(const ItemNode* root, FindQuery query) {
  query_ = std::move(query);
  matches_ = FindAll(root, query_);
  next_ = 0;
  current_ = nullptr;
}

const ItemNode* FindState::Next() {
  current_ = next_ < matches_.size() ? matches_[next_++] : nullptr;
  return current_;
}

FindDialog::FindDialog(const FindQuery& last, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Find");
  auto* findWhat = new QLabel("&Find What", this);
  pattern_ = new QLineEdit(QStringFromUtf16(last.pattern), this);
  pattern_->setPlaceholderText("e.g. filename*.* or *.ext");
  findWhat->setBuddy(pattern_);
  search_ = new QPushButton("&Search Now", this);
  search_->setDefault(true);
  auto* cancel = new QPushButton("&Cancel", this);
  options_ = new QPushButton("Show &Options", this);

  optionsArea_ = new QWidget(this);
  matchCase_ = new QCheckBox("&Match Case", optionsArea_);
  matchCase_->setChecked(last.matchCase);
  sizeFilter_ = new QCheckBox("Si&ze", optionsArea_);
  mode_ = new QComboBox(optionsArea_);
  mode_->addItems({"At most", "At least"});
  size_ = new QLineEdit(optionsArea_);
  size_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), size_));
  size_->setMaxLength(kDigits[0]);
  unit_ = new QComboBox(optionsArea_);
  for (const char* unit : kUnits)
    unit_->addItem(unit);
  if (last.sizeMode != FindQuery::Size::Any) {
    sizeFilter_->setChecked(true);
    mode_->setCurrentIndex(last.sizeMode == FindQuery::Size::AtLeast ? 1 : 0);
    int unit = 0;
    while (unit < 2 && last.sizeLimit % (std::uint64_t{1024} << (10 * (unit + 1))) == 0)
      ++unit;
    unit_->setCurrentIndex(unit);
    size_->setMaxLength(kDigits[unit]);
    size_->setText(QString::number(last.sizeLimit >> (10 * (unit + 1))));
  }
  for (QWidget* control :
       {static_cast<QWidget*>(mode_), static_cast<QWidget*>(size_), static_cast<QWidget*>(unit_)})
    control->setEnabled(sizeFilter_->isChecked());

  auto* grid = new QGridLayout(optionsArea_);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->addWidget(matchCase_, 0, 0, 1, 4);
  grid->addWidget(sizeFilter_, 1, 0);
  grid->addWidget(mode_, 1, 1);
  grid->addWidget(size_, 1, 2);
  grid->addWidget(unit_, 1, 3);
  grid->setColumnStretch(2, 1);

  auto* fields = new QVBoxLayout;
  fields->addWidget(findWhat);
  fields->addWidget(pattern_);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(search_);
  buttons->addWidget(cancel);
  buttons->addWidget(options_);
  auto* top = new QHBoxLayout;
  top->addLayout(fields, 1);
  top->addLayout(buttons);
  top->setAlignment(fields, Qt::AlignTop);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(optionsArea_);
  layout->addStretch();

  connect(search_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(options_, &QPushButton::clicked, this, [this] { ShowOptions(!expanded_); });
  connect(pattern_, &QLineEdit::textChanged, this, &FindDialog::UpdateSearchButton);
  connect(sizeFilter_, &QCheckBox::toggled, this, [this](bool on) {
    mode_->setEnabled(on);
    size_->setEnabled(on);
    unit_->setEnabled(on);
    UpdateSearchButton();
  });
  connect(unit_, &QComboBox::currentIndexChanged, this, &FindDialog::OnUnitChanged);
  connect(size_, &QLineEdit::textChanged, this, &FindDialog::OnSizeEdited);

  ShowOptions(false);
  options_->setText("Show &Options");
  UpdateSearchButton();
}

FindQuery FindDialog::query() const {
  FindQuery query;
  query.pattern = pattern_->text().toStdU16String();
  query.matchCase = matchCase_->isChecked();
  if (sizeFilter_->isChecked()) {
    if (const auto limit = SizeLimit()) {
      query.sizeMode =
          mode_->currentIndex() == 1 ? FindQuery::Size::AtLeast : FindQuery::Size::AtMost;
      query.sizeLimit = *limit;
    }
  }
  return query;
}

void FindDialog::ShowOptions(bool expanded) {
  expanded_ = expanded;
  optionsArea_->setVisible(expanded);
  options_->setText(expanded ? "&Hide Options" : "&Show Options");
  setFixedSize(expanded ? kExpanded : kCollapsed);
}

void FindDialog::OnUnitChanged() {
  // A shorter limit cuts the number, which is then checked again.
  size_->setMaxLength(kDigits[unit_->currentIndex()]);
  OnSizeEdited();
}

void FindDialog::OnSizeEdited() {
  UpdateSearchButton();
  if (!sizeFilter_->isChecked() || size_->text().isEmpty() || SizeLimit()) return;
  QMessageBox::critical(this, "Error", kSizeRangeMessage);
  size_->setFocus();
}

void FindDialog::UpdateSearchButton() {
  const bool sizeValid = !sizeFilter_->isChecked() || SizeLimit().has_value();
  search_->setEnabled(!pattern_->text().isEmpty() && sizeValid);
}

std::optional<std::uint64_t> FindDialog::SizeLimit() const {
  return ParseSizeLimit((size_->text() + unit_->currentText()).toStdString());
}

}  // namespace restorix
