#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/wizard.h"
#include "gui/wizard_parts.h"
#include "tasks/messages.h"

namespace restorix {

namespace {

constexpr std::uint64_t kLargestSize = 4294967296;  // 4 GiB
// The size field of a selected type holds 32 bits: 4 GiB is stored as the
// largest value it holds, one byte less.
constexpr std::uint64_t kLargestStored = 0xFFFFFFFF;

struct Unit {
  const char* name;
  std::uint64_t factor;
  int digits;
};
constexpr Unit kUnits[] = {{"KB", 1024, 7}, {"MB", 1048576, 4}, {"GB", 1073741824, 1}};

QString Text(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CWizardSignaturesPage::CWizardSignaturesPage(CWizardSheet& sheet) : sheet_(sheet) {
  setTitle("Quillon Restorix Wizard");
  setSubTitle("Please select file formats to be searched");
  auto* group = new QGroupBox("File Selection Filter", this);
  filter_ = new QComboBox(group);
  list_ = new QTreeWidget(group);
  list_->setRootIsDecorated(false);
  list_->setColumnCount(3);
  list_->setHeaderLabels({"Name", "Extension", "Category"});
  list_->setColumnWidth(0, 200);
  list_->setColumnWidth(1, 120);
  list_->setColumnWidth(2, 170);
  list_->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  list_->headerItem()->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
  selectAll_ = new QPushButton("&Select All", group);
  deselectAll_ = new QPushButton("&Deselect All", group);
  size_ = new QLineEdit("1", this);
  size_->setMaxLength(kUnits[0].digits);
  size_->installEventFilter(this);
  unit_ = new QComboBox(this);
  for (const Unit& unit : kUnits)
    unit_->addItem(unit.name);
  startup_ = new StartupBox(sheet, this);

  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(new QLabel("Category:", group));
  filterRow->addWidget(filter_, 1);
  filterRow->addWidget(selectAll_);
  filterRow->addWidget(deselectAll_);
  auto* box = new QVBoxLayout(group);
  box->addLayout(filterRow);
  box->addWidget(list_);
  auto* sizeRow = new QHBoxLayout;
  sizeRow->addWidget(new QLabel("File Size:", this));
  sizeRow->addWidget(size_);
  sizeRow->addWidget(unit_);
  sizeRow->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group, 1);
  layout->addLayout(sizeRow);
  layout->addWidget(startup_);

  connect(filter_, &QComboBox::currentIndexChanged, this, [this] { FillRows(); });
  connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) {
    if (filling_) return;
    auto& types = sheet_.typeList();
    const auto index = item->data(0, Qt::UserRole).toULongLong();
    if (index < types.size()) types[index].selected = item->checkState(0) == Qt::Checked;
    Arm();
  });
  connect(selectAll_, &QPushButton::clicked, this, [this] { SetAll(true); });
  connect(deselectAll_, &QPushButton::clicked, this, [this] { SetAll(false); });
  connect(size_, &QLineEdit::textChanged, this, [this] { OnSizeEdited(); });
  connect(unit_, &QComboBox::currentIndexChanged, this, [this] { OnUnitChanged(); });
}

CWizardSignaturesPage::~CWizardSignaturesPage() {
  QuietChildren(this);
}

void CWizardSignaturesPage::initializePage() {
  if (wizard() != nullptr) wizard()->setWindowTitle("Quillon Restorix Wizard");
  // The type list is read afresh each time the drive page goes on to here.
  filling_ = true;
  filter_->clear();
  for (const SignatureRecord& record : sheet_.typeList()) {
    const QString category = Text(record.cat());
    bool listed = false;
    for (int i = 0; i < filter_->count() && !listed; ++i)
      listed = filter_->itemText(i).startsWith(category, Qt::CaseInsensitive);
    if (!listed) filter_->addItem(category);
  }
  filter_->addItem("All");
  filter_->setCurrentIndex(filter_->count() - 1);
  filling_ = false;
  FillRows();
  startup_->Show();
  armed_ = false;
  emit completeChanged();
}

void CWizardSignaturesPage::cleanupPage() {
  // Back to the drives: the source is chosen and opened again.
  sheet_.result().volume.reset();
}

void CWizardSignaturesPage::FillRows() {
  filling_ = true;
  list_->clear();
  const QString category = filter_->currentText();
  const auto& types = sheet_.typeList();
  for (std::size_t index = 0; index < types.size(); ++index) {
    const SignatureRecord& record = types[index];
    if (category != "All" && Text(record.cat()) != category) continue;
    auto* row = new QTreeWidgetItem(
        list_, QStringList{Text(record.name()), Text(record.ext()), Text(record.cat())});
    row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    row->setData(0, Qt::UserRole, static_cast<qulonglong>(index));
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(0, record.selected ? Qt::Checked : Qt::Unchecked);
  }
  filling_ = false;
}

void CWizardSignaturesPage::SetAll(bool selected) {
  auto& types = sheet_.typeList();
  filling_ = true;
  for (int row = 0; row < list_->topLevelItemCount(); ++row) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    types[item->data(0, Qt::UserRole).toULongLong()].selected = selected;
    item->setCheckState(0, selected ? Qt::Checked : Qt::Unchecked);
  }
  filling_ = false;
  Arm();
}

bool CWizardSignaturesPage::anySelected() const {
  for (const SignatureRecord& record : sheet_.typeList())
    if (record.selected) return true;
  return false;
}

std::optional<std::uint64_t> CWizardSignaturesPage::size() const {
  bool ok = false;
  const qulonglong value = size_->text().toULongLong(&ok);
  const auto unit = static_cast<std::size_t>(std::max(0, unit_->currentIndex()));
  // At most 7 digits of KB: the product cannot overflow.
  if (!ok || value > 9999999) return std::nullopt;
  const std::uint64_t bytes = value * kUnits[unit].factor;
  if (bytes == 0 || bytes > kLargestSize) return std::nullopt;
  return bytes;
}

void CWizardSignaturesPage::Arm() {
  armed_ = true;
  emit completeChanged();
}

void CWizardSignaturesPage::OnSizeEdited() {
  Arm();
  // An emptied field is a value still being typed.
  if (size() || size_->text().isEmpty() || complaining_) return;
  complaining_ = true;
  QMessageBox::critical(this, "Error", kSizeRangeMessage);
  complaining_ = false;
}

void CWizardSignaturesPage::OnUnitChanged() {
  const auto unit = static_cast<std::size_t>(std::max(0, unit_->currentIndex()));
  size_->setMaxLength(kUnits[unit].digits);
  size_->setText("1");
}

bool CWizardSignaturesPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == size_ && event->type() == QEvent::FocusOut && !complaining_ && !size()) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    // Another window (a message, a menu) taking the focus is no leaving.
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      complaining_ = true;
      QMessageBox::critical(this, "Error", QString(kSizeRangeMessage) + ".");
      complaining_ = false;
      size_->setFocus();
    }
  }
  return QWizardPage::eventFilter(watched, event);
}

bool CWizardSignaturesPage::isComplete() const {
  return armed_ && anySelected() && size().has_value();
}

bool CWizardSignaturesPage::validatePage() {
  if (!isComplete()) return false;
  WizardResult& result = sheet_.result();
  result.types.clear();
  for (const SignatureRecord& record : sheet_.typeList())
    if (record.selected) result.types.push_back(record);
  result.assumedSize = static_cast<std::uint32_t>(std::min(*size(), kLargestStored));
  ProcessLogEntry& entry = sheet_.logEntry();
  entry.description = std::to_string(result.types.size()) + " file type(s) to search";
  entry.status = LOG_STARTED;
  sheet_.SendLogEntry();
  return true;
}

}  // namespace restorix
