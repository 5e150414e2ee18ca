#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <ctime>

#include "disk/imaging.h"
#include "gui/icons.h"
#include "gui/qt_text.h"
#include "gui/wizard.h"
#include "gui/wizard_parts.h"
#include "platform/storage.h"
#include "tasks/image_space.h"
#include "tasks/messages.h"
#include "util/text.h"

namespace restorix {

namespace {

constexpr const char* kNoLogicalDrive = "Please select logical drive to process";
constexpr const char* kNoPhysicalDrive = "Please select physical drive to process";
constexpr const char* kFilePath = "File Path :";

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

QStringList LogicalDriveLines(const LogicalDiskInfo& drive, bool blockSize) {
  QStringList lines{"HDRInformation: ", "Volume Name: " + Q(drive.volumeName),
                    "File System: " + Q(drive.fileSystem),
                    "Serial Number: " + Q(drive.volumeSerialNumber),
                    "Free Space: " + Q(drive.freeSpace)};
  if (blockSize) lines << "Block Size: " + Q(drive.blockSize);
  lines << "";
  return lines;
}

QStringList PhysicalDiskLines(const PhysicalDiskInfo& disk) {
  return {"HDRInformation: ",
          "Name: " + Q(disk.model.empty() ? disk.displayName : disk.model),
          "Serial Number: " + Q(disk.serialNumber),
          "Interface Type: " + Q(disk.interfaceType),
          "Media Type: " + Q(disk.mediaType),
          "Partitions :" + Q(disk.partitionsText),
          "Total Cylinders: " + Q(disk.totalCylinders),
          "Total Heads: " + Q(disk.totalHeads),
          "Total Sectors: " + Q(disk.totalSectors),
          ""};
}

// The steps of the mode, one short line a row.
QStringList Steps(RecoveryMode mode, bool driveShown) {
  switch (mode) {
    case RecoveryMode::DeletedFiles:
      return {driveShown ? "HDRFast File Recovery" : "HDRDeleted File Recovery",
              "Steps to Proceed",
              "1. Select the logical drive",
              "   to recover files from.",
              "2. Press Finish to start",
              "   the scan."};
    case RecoveryMode::Format:
      return {"HDRFormat Recovery", "1. Select the logical drive", "   that was formatted.",
              "2. Press Next.",     "The next page selects the",   "file types to look for."};
    case RecoveryMode::Advanced:
      return {"HDRAdvanced File Recovery",
              "1. Select the physical drive",
              "   to search.",
              "2. Press Next.",
              "The next page selects the",
              "file types to look for."};
    case RecoveryMode::CreateImage:
      return {"HDRSteps to proceed. ",
              "1. Select the logical drive",
              "   to image.",
              "2. Choose the destination",
              "   path for the image file.",
              "   It needs as much free space",
              "   as the drive's size.",
              "3. Press Finish."};
    case RecoveryMode::None:
      break;
  }
  return {};
}

QStringList LogicalNames(const DriveLists& drives) {
  QStringList names;
  for (const LogicalDiskInfo& drive : drives.logicalDisks)
    names << Q(drive.displayName);
  return names;
}

const char* ModeName(RecoveryMode mode) {
  switch (mode) {
    case RecoveryMode::Format:
      return "Format Recovery";
    case RecoveryMode::Advanced:
      return "Advanced File Recovery";
    default:
      return "Deleted File Recovery";
  }
}

// The tree, the information list beside it and the status line under it.
QLayout* DriveArea(DriveTree* tree, HelpList* info, QLabel* status) {
  auto* left = new QVBoxLayout;
  left->addWidget(tree);
  left->addWidget(status);
  auto* row = new QHBoxLayout;
  row->addLayout(left, 3);
  row->addWidget(info, 2);
  return row;
}

}  // namespace

// --- the drive selection page -----------------------------------------------

CWizardDriveSelectionPage::CWizardDriveSelectionPage(CWizardSheet& sheet) : sheet_(sheet) {
  setTitle("Quillon Restorix Wizard");
  setSubTitle("Select the drive to recover files from");
  tree_ = new DriveTree(this);
  info_ = new HelpList(this);
  status_ = new QLabel(this);
  status_->setObjectName("status");
  startup_ = new StartupBox(sheet, this);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(DriveArea(tree_, info_, status_));
  layout->addWidget(startup_);
  tree_->changed = [this](int index) { OnSelectionChanged(index); };
}

CWizardDriveSelectionPage::~CWizardDriveSelectionPage() {
  QuietChildren(this);
}

QTreeWidget* CWizardDriveSelectionPage::tree() const {
  return tree_;
}

void CWizardDriveSelectionPage::initializePage() {
  QStringList names;
  if (physical()) {
    for (const PhysicalDiskInfo& disk : sheet_.drives().physicalDisks)
      names << Q(disk.displayName);
  } else {
    names = LogicalNames(sheet_.drives());
  }
  tree_->Fill(names, Icons::Get(Icons::Disk));
  startup_->Show();
  OnSelectionChanged(-1);
}

void CWizardDriveSelectionPage::cleanupPage() {
  sheet_.result().volume.reset();
}

void CWizardDriveSelectionPage::SelectDrive(int index) {
  tree_->Mark(index);
}

void CWizardDriveSelectionPage::OnSelectionChanged(int index) {
  selected_ = index;
  failed_ = false;
  ShowInformation();
  emit completeChanged();
}

void CWizardDriveSelectionPage::ShowInformation() {
  QStringList lines;
  const DriveLists& drives = sheet_.drives();
  if (selected_ < 0) {
    status_->setText(physical() ? kNoPhysicalDrive : kNoLogicalDrive);
  } else if (physical()) {
    const PhysicalDiskInfo& disk = drives.physicalDisks[static_cast<std::size_t>(selected_)];
    status_->setText("Selected " + Q(disk.displayName));
    lines = PhysicalDiskLines(disk);
  } else {
    const LogicalDiskInfo& drive = drives.logicalDisks[static_cast<std::size_t>(selected_)];
    status_->setText("Selected " + Q(drive.displayName));
    lines = LogicalDriveLines(drive, false);
  }
  info_->SetLines(lines + Steps(sheet_.recoveryMode(), selected_ >= 0));
}

bool CWizardDriveSelectionPage::isComplete() const {
  return selected_ >= 0 && !failed_;
}

int CWizardDriveSelectionPage::nextId() const {
  return sheet_.recoveryMode() == RecoveryMode::DeletedFiles ? -1 : CWizardSheet::SignaturesPage;
}

bool CWizardDriveSelectionPage::validatePage() {
  if (!isComplete()) return false;
  const RecoveryMode mode = sheet_.recoveryMode();
  const auto index = static_cast<std::size_t>(selected_);
  std::string name, path;
  unsigned partition = 0;
  if (physical()) {
    name = sheet_.drives().physicalDisks[index].displayName;
    path = sheet_.drives().physicalDisks[index].devicePath;
  } else {
    const LogicalDiskInfo& drive = sheet_.drives().logicalDisks[index];
    name = drive.displayName;
    path = drive.devicePath;
    partition = drive.partition;
  }
  ProcessLogEntry& entry = sheet_.logEntry();
  entry = {"Selected " + name, std::string("Processing Mode: ") + ModeName(mode), "", LOG_STARTED};
  WizardResult& result = sheet_.result();
  result.volume.reset();
  const OpenResult opened = OpenDriveSource(
      this, physical() ? SourceKind::PhysicalDisk : SourceKind::LogicalDrive, path, partition);
  if (!opened) {
    failed_ = true;
    emit completeChanged();
    QMessageBox::critical(this, "Error", physical() ? kCorruptDisk : kCorruptVolume);
    return false;
  }
  if (mode != RecoveryMode::DeletedFiles && !sheet_.LoadTypes()) {
    QMessageBox::critical(this, "Error", kSignaturesMissing);
    return false;
  }
  result.volume = opened.volume;
  result.driveName = name;
  sheet_.SendLogEntry();
  return true;
}

// --- the image page -----------------------------------------------------------

CWizardImagePage::CWizardImagePage(CWizardSheet& sheet) : sheet_(sheet) {
  setTitle("Quillon Restorix Wizard");
  setSubTitle("Select the drive to image and where the image goes");
  tree_ = new DriveTree(this);
  info_ = new HelpList(this);
  status_ = new QLabel(this);
  status_->setObjectName("status");
  auto* destination = new QGroupBox("Select destination path", this);
  auto* text = new QLabel("Select the destination path for image file", destination);
  browse_ = new QPushButton("&Browse...", destination);
  path_ = new QLabel(kFilePath, destination);
  path_->setAccessibleName("File path:");
  path_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  space_ = new QLabel(destination);
  space_->setAccessibleName("Space available:");
  auto* chooser = new QHBoxLayout;
  chooser->addWidget(text, 1);
  chooser->addWidget(browse_);
  auto* box = new QVBoxLayout(destination);
  box->addLayout(chooser);
  box->addWidget(path_);
  box->addWidget(space_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(DriveArea(tree_, info_, status_));
  layout->addWidget(destination);
  tree_->changed = [this](int index) { OnSelectionChanged(index); };
  connect(browse_, &QPushButton::clicked, this, [this] { ChooseDestination(); });
}

CWizardImagePage::~CWizardImagePage() {
  QuietChildren(this);
}

QTreeWidget* CWizardImagePage::tree() const {
  return tree_;
}

void CWizardImagePage::initializePage() {
  tree_->Fill(LogicalNames(sheet_.drives()), Icons::Get(Icons::Disk));
  OnSelectionChanged(-1);
}

void CWizardImagePage::cleanupPage() {
  sheet_.result().volume.reset();
}

void CWizardImagePage::SelectDrive(int index) {
  tree_->Mark(index);
}

void CWizardImagePage::OnSelectionChanged(int index) {
  selected_ = index;
  failed_ = false;
  QStringList lines;
  if (index < 0) {
    status_->setText(kNoLogicalDrive);
  } else {
    const LogicalDiskInfo& drive = sheet_.drives().logicalDisks[static_cast<std::size_t>(index)];
    status_->setText("Selected " + Q(drive.displayName));
    lines = LogicalDriveLines(drive, true);
  }
  info_->SetLines(lines + Steps(RecoveryMode::CreateImage, index >= 0));
  // The free space was weighed against the drive chosen before.
  ClearDestination();
  browse_->setEnabled(index >= 0);
}

void CWizardImagePage::ClearDestination() {
  destination_.clear();
  path_->setText(kFilePath);
  space_->clear();
  emit completeChanged();
}

void CWizardImagePage::ChooseDestination() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const QString path = sheet_.ChooseImagePath(Q(ImageFileName(local)) + ".qni");
  if (!path.isEmpty()) SetDestination(path);
}

bool CWizardImagePage::SetDestination(const QString& path) {
  if (selected_ < 0) return false;
  const LogicalDiskInfo& drive = sheet_.drives().logicalDisks[static_cast<std::size_t>(selected_)];
  const ImageSpace space = CheckImageSpace(PathFromQString(path), drive.bytes);
  if (!space.enough) {
    QMessageBox::critical(this, "Error", kInsufficientSpace);
    ClearDestination();
    return false;
  }
  destination_ = path;
  path_->setText(kFilePath + path);
  space_->setText(space.available ? SpaceAvailableText(*space.available) : QString());
  failed_ = false;
  emit completeChanged();
  return true;
}

bool CWizardImagePage::isComplete() const {
  return selected_ >= 0 && !destination_.isEmpty() && !failed_;
}

bool CWizardImagePage::validatePage() {
  if (!isComplete()) return false;
  const LogicalDiskInfo& drive = sheet_.drives().logicalDisks[static_cast<std::size_t>(selected_)];
  WizardResult& result = sheet_.result();
  result.volume.reset();
  const OpenResult opened =
      OpenDriveSource(this, SourceKind::LogicalDrive, drive.devicePath, drive.partition);
  if (!opened) {
    failed_ = true;
    emit completeChanged();
    QMessageBox::critical(this, "Error", "Failed to open drive " + Q(drive.displayName));
    return false;
  }
  const std::filesystem::path image = PathFromQString(destination_);
  const std::string source = Utf8FromUtf16(opened.volume->sourceName());
  if (const auto shared = OutputOntoSource(image, opened.volume->identity(), source)) {
    QMessageBox::critical(this, "Error",
                          destination_ +
                              " lies on the drive it would copy: writing the image there would "
                              "change the very sectors being copied.\n\n" +
                              Q(OntoSourceMessage(image.string(), source, *shared)) +
                              "\n\nChoose a location on another drive.");
    ClearDestination();
    return false;
  }
  ProcessLogEntry& entry = sheet_.logEntry();
  entry = {"Imaging Disk :" + drive.displayName, "To Location " + image.string(), "", LOG_STARTED};
  result.volume = opened.volume;
  result.driveName = drive.displayName;
  result.image = image;
  sheet_.SendLogEntry();
  return true;
}

}  // namespace restorix
