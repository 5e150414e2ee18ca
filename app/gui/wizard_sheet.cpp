#include <sys/stat.h>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>
#include <cerrno>

#include "gui/icons.h"
#include "gui/settings.h"
#include "gui/startup.h"
#include "gui/web_pages.h"
#include "gui/wizard.h"
#include "gui/wizard_parts.h"
#include "signature/signature_file.h"

namespace restorix {

namespace {

constexpr const char* kHeading = "HDR";

struct ModeText {
  RecoveryMode mode;
  const char* button;
  const char* helpTopic;  // its section of the wizard's help page
};

constexpr ModeText kModes[] = {
    {RecoveryMode::DeletedFiles, "Deleted File Recovery", "deleted"},
    {RecoveryMode::Format, "Format Recovery", "format"},
    // Without the leading blanks that once shifted this caption: Qt centres it.
    {RecoveryMode::Advanced, "Advanced File Recovery", "advanced"},
    {RecoveryMode::CreateImage, "Create Image", "image"},
};

QStringList ModeHelp(RecoveryMode mode) {
  switch (mode) {
    case RecoveryMode::None:
      return {"HDRPlease select appropriate option ",
              "\"Deleted File Recovery\" quickly lists the files",
              "deleted from a logical drive, from its own",
              "directory entries.",
              "",
              "\"Format Recovery\" also searches the whole",
              "logical drive for files of known types: for a",
              "drive that was formatted.",
              "",
              "\"Advanced File Recovery\" searches a whole",
              "physical drive for files of known types: for a",
              "damaged disk or lost partitions.",
              "",
              "\"Create Image\" copies a logical drive into an",
              "image file, to recover from it later."};
    case RecoveryMode::DeletedFiles:
      return {"HDRDeleted File Recovery", "A quick scan of the directory entries",
              "of a logical drive: it lists the deleted", "files with the folders that held them.",
              "Works on logical drives only."};
    case RecoveryMode::Format:
      return {"HDRFormat Recovery", "A thorough scan: the directory entries",
              "of a logical drive, then a search of the", "whole drive for files of known types.",
              "Best after the drive was formatted."};
    case RecoveryMode::Advanced:
      return {"HDRAdvanced File Recovery", "A search of a whole physical drive for",
              "files of known types, whatever its", "partitions hold. For damaged disks and",
              "for disks that were re-partitioned."};
    case RecoveryMode::CreateImage:
      return {"HDRCreate disk Image",
              "Makes a mirror of a logical drive in an",
              "image file. Recommended before any",
              "recovery, and for drives with bad sectors:",
              "recover from the image, not the drive.",
              "The destination needs as much free",
              "space as the drive's size."};
  }
  return {};
}

}  // namespace

// --- shared parts ---------------------------------------------------------

HelpList::HelpList(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::NoSelection);
  setFocusPolicy(Qt::NoFocus);
}

void HelpList::SetLines(const QStringList& lines) {
  clear();
  for (const QString& line : lines) {
    auto* item = new QListWidgetItem(this);
    item->setData(Qt::UserRole, line);
    if (line.startsWith(kHeading)) {
      item->setText(line.mid(3));
      QFont bold = font();
      bold.setBold(true);
      item->setFont(bold);
      item->setForeground(palette().color(QPalette::Highlight));
    } else {
      item->setText(line);
    }
  }
}

QStringList HelpList::lines() const {
  QStringList lines;
  for (int row = 0; row < count(); ++row)
    lines << item(row)->data(Qt::UserRole).toString();
  return lines;
}

QString SpaceAvailableText(std::uint64_t bytes) {
  const double value = static_cast<double>(bytes);
  if (bytes < 1048576) return QString::asprintf("Space Available : %7.3f KB", value / 1024);
  if (bytes < 1073741824) return QString::asprintf("Space Available : %7.3f MB", value / 1048576);
  return QString::asprintf("Space Available : %7.3f GB", value / 1073741824);
}

StartupBox::StartupBox(CWizardSheet& sheet, QWidget* parent)
    : QCheckBox("&Run wizard on startup", parent), sheet_(sheet) {
  connect(this, &QCheckBox::toggled, this,
          [box = this](bool on) { box->sheet_.SetRunAtStartup(on); });
}

void StartupBox::Show() {
  setChecked(sheet_.runAtStartup());
}

DriveTree::DriveTree(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  connect(this, &QTreeWidget::currentItemChanged, this, [tree = this](QTreeWidgetItem* current) {
    tree->Mark(current ? current->data(0, Qt::UserRole).toInt() : -1);
  });
  connect(this, &QTreeWidget::itemChanged, this, [tree = this](QTreeWidgetItem* item) {
    if (tree->updating_) return;
    const int index = item->data(0, Qt::UserRole).toInt();
    if (item->checkState(0) == Qt::Checked) {
      tree->setCurrentItem(item);
      tree->Mark(index);
    } else if (index == tree->marked_) {
      tree->Mark(-1);
    }
  });
}

void DriveTree::Fill(const QStringList& names, const QIcon& icon) {
  updating_ = true;
  clear();
  auto* root = new QTreeWidgetItem(this, QStringList{"My Computer"});
  root->setIcon(0, Icons::Get(Icons::Disk));
  root->setData(0, Qt::UserRole, -1);
  for (int index = 0; index < names.size(); ++index) {
    auto* item = new QTreeWidgetItem(root, QStringList{names[index]});
    item->setIcon(0, icon);
    item->setData(0, Qt::UserRole, index);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
  }
  expandAll();
  marked_ = -1;
  updating_ = false;
}

void DriveTree::Mark(int index) {
  QTreeWidgetItem* root = topLevelItem(0);
  if (root == nullptr) return;
  if (index >= root->childCount()) index = -1;
  updating_ = true;
  for (int child = 0; child < root->childCount(); ++child)
    root->child(child)->setCheckState(0, child == index ? Qt::Checked : Qt::Unchecked);
  updating_ = false;
  if (index == marked_) return;
  marked_ = index;
  if (changed) changed(index);
}

void QuietChildren(QWidget* page) {
  for (QObject* child : page->findChildren<QObject*>())
    child->blockSignals(true);
  for (QTreeWidget* tree : page->findChildren<QTreeWidget*>())
    if (auto* drives = dynamic_cast<DriveTree*>(tree)) drives->changed = nullptr;
}

OpenResult OpenDriveSource(QWidget* parent, SourceKind kind, const std::string& path,
                           unsigned partition, const FoundVolume* found) {
  // A found volume's length tells where an NTFS backup boot sector lies.
  const auto open = [&] {
    return found ? Volume::Open(kind, path, partition, false, found->start,
                                BackupSearch{found->sectors, nullptr})
                 : Volume::Open(kind, path, partition);
  };
  QApplication::setOverrideCursor(Qt::WaitCursor);
  OpenResult opened = open();
  QApplication::restoreOverrideCursor();
  struct stat status {};
  const bool device = ::stat(path.c_str(), &status) == 0 && S_ISBLK(status.st_mode);
  const bool refused = opened.failure == OpenFailure::CannotOpen &&
                       (opened.error == EACCES || opened.error == EPERM);
  if (device && refused && OfferDeviceAccess(parent)) opened = open();
  return opened;
}

// --- the sheet --------------------------------------------------------------

CWizardSheet::CWizardSheet(DriveLists drives, LogSink log, QWidget* parent)
    : QWizard(parent),
      drives_(std::move(drives)),
      log_(std::move(log)),
      signatureFolder_(ProgramFolder()) {
  setWindowTitle("Quillon Undelete Wizard");
  setWizardStyle(QWizard::ModernStyle);
  setOption(QWizard::NoBackButtonOnStartPage);
  setOption(QWizard::HaveHelpButton);
  setPixmap(QWizard::LogoPixmap, Icons::Get(Icons::Wizard).pixmap(48, 48));
  runAtStartup_ = QSettings().value(settings::kWizardStartUp, 0).toInt() != 0;
  setPage(MainPage, new CWizardMainPage(*this));
  setPage(DriveSelectionPage, new CWizardDriveSelectionPage(*this));
  setPage(ImagePage, new CWizardImagePage(*this));
  setPage(SignaturesPage, new CWizardSignaturesPage(*this));
  setStartId(MainPage);
  resize(860, 560);
  // Back from the file types shows the drives afresh too, nothing marked.
  connect(this, &QWizard::currentIdChanged, this, [sheet = this](int id) {
    if (id == DriveSelectionPage) sheet->page(id)->initializePage();
  });
  connect(this, &QWizard::helpRequested, this, [sheet = this] {
    QString topic = "modes";
    const int page = sheet->currentId();
    if (page == SignaturesPage) topic = "types";
    if (page == ImagePage) topic = "image";
    if (page == DriveSelectionPage)
      for (const ModeText& mode : kModes)
        if (mode.mode == sheet->recoveryMode()) topic = mode.helpTopic;
    QUrl url = HelpUrl("wizard.htm");
    url.setFragment(topic);
    OpenInBrowser(url);
  });
}

CWizardSheet::~CWizardSheet() {
  blockSignals(true);
  QuietChildren(this);
}

bool CWizardSheet::LoadTypes() {
  auto types = LoadSignatureFile(signatureFolder_);
  if (!types || types->empty()) return false;
  typeList_ = std::move(*types);
  return true;
}

QString CWizardSheet::ChooseImagePath(const QString& proposed) {
  if (chooser_) return chooser_(this, proposed);
  QFileDialog dialog(this, "Select the destination path for image file", proposed,
                     "Image File (*.qni)");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix("qni");
  dialog.selectFile(proposed);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

void CWizardSheet::reject() {
  if (QMessageBox::question(this, "Confirm", "Do you want to close wizard?",
                            QMessageBox::Yes | QMessageBox::No,
                            QMessageBox::No) != QMessageBox::Yes)
    return;
  result_.volume.reset();
  QWizard::reject();
}

void CWizardSheet::done(int result) {
  QSettings().setValue(settings::kWizardStartUp, runAtStartup_ ? 1 : 0);
  QWizard::done(result);
}

// --- the mode page ----------------------------------------------------------

CWizardMainPage::CWizardMainPage(CWizardSheet& sheet) : sheet_(sheet) {
  setTitle("Quillon Restorix Wizard");
  setSubTitle("Select appropriate Option");
  buttons_ = new QButtonGroup(this);
  buttons_->setExclusive(true);
  auto* column = new QVBoxLayout;
  caption_ = new QLabel(this);
  caption_->setObjectName("caption");
  QFont big = caption_->font();
  big.setBold(true);
  caption_->setFont(big);
  column->addWidget(caption_);
  for (const ModeText& mode : kModes) {
    auto* button = new QPushButton(mode.button, this);
    button->setCheckable(true);
    button->setMinimumHeight(44);
    buttons_->addButton(button, static_cast<int>(mode.mode));
    column->addWidget(button);
  }
  column->addStretch();
  help_ = new HelpList(this);
  auto* row = new QHBoxLayout;
  row->addLayout(column, 2);
  row->addWidget(help_, 3);
  startup_ = new StartupBox(sheet, this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(startup_);
  connect(buttons_, &QButtonGroup::idClicked, this,
          [page = this](int id) { page->ChooseMode(static_cast<RecoveryMode>(id)); });
  help_->SetLines(ModeHelp(RecoveryMode::None));
}

CWizardMainPage::~CWizardMainPage() {
  QuietChildren(this);
}

void CWizardMainPage::initializePage() {
  startup_->Show();
}

QPushButton* CWizardMainPage::modeButton(RecoveryMode mode) const {
  return static_cast<QPushButton*>(buttons_->button(static_cast<int>(mode)));
}

QCheckBox* CWizardMainPage::startupBox() const {
  return startup_;
}

void CWizardMainPage::ChooseMode(RecoveryMode mode) {
  modeButton(mode)->setChecked(true);
  caption_->setText(modeButton(mode)->text());
  sheet_.SetRecoveryMode(mode);
  help_->SetLines(ModeHelp(mode));
  emit completeChanged();
}

bool CWizardMainPage::isComplete() const {
  return sheet_.recoveryMode() != RecoveryMode::None;
}

int CWizardMainPage::nextId() const {
  return sheet_.recoveryMode() == RecoveryMode::CreateImage ? CWizardSheet::ImagePage
                                                            : CWizardSheet::DriveSelectionPage;
}

}  // namespace restorix
