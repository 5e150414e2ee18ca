// The wizard: one recovery, step by step. The mode page chooses what to do;
// the drive selection page (or, for an image, the image page) chooses the
// source and opens it; the file-type page chooses what the signature search
// looks for. Finishing leaves the opened source and the choices in result(),
// and the main window starts the task.
#pragma once

#include <QListWidget>
#include <QWizard>
#include <QWizardPage>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "disk/volume.h"
#include "disk/volume_search.h"
#include "drives/drive_lists.h"
#include "signature/signature_record.h"
#include "tasks/process_log.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace restorix {

class TaskRunner;

enum class RecoveryMode : std::uint8_t { None, DeletedFiles, Format, Advanced, CreateImage };

// What the wizard hands the main window when it finishes.
struct WizardResult {
  RecoveryMode mode = RecoveryMode::None;
  std::shared_ptr<const Volume> volume;  // opened and checked
  std::string driveName;                 // as the progress dialog and the log name it
  std::vector<SignatureRecord> types;    // ticked, in type-table order
  std::uint32_t assumedSize = 1024;
  std::filesystem::path image;  // Create Image: the file to make
};

// A list of lines in which a line starting with "HDR" is a heading.
class HelpList : public QListWidget {
 public:
  explicit HelpList(QWidget* parent = nullptr);
  void SetLines(const QStringList& lines);
  // The lines as set, markers included.
  QStringList lines() const;
};

// "Space Available : %7.3f KB" below 1 MiB, MB below 1 GiB, else GB.
QString SpaceAvailableText(std::uint64_t bytes);

class CWizardSheet : public QWizard {
  Q_OBJECT
 public:
  enum PageId { MainPage = 0, DriveSelectionPage = 1, ImagePage = 2, SignaturesPage = 3 };
  // Where the pages send their process-log rows.
  using LogSink = std::function<void(const ProcessLogEntry&)>;
  // Asks for the image file; an empty answer is a cancel.
  using PathChooser = std::function<QString(QWidget* parent, const QString& proposed)>;

  CWizardSheet(DriveLists drives, LogSink log, QWidget* parent = nullptr);
  ~CWizardSheet() override;

  void SetSignatureFolder(std::filesystem::path folder) { signatureFolder_ = std::move(folder); }
  void SetPathChooser(PathChooser chooser) { chooser_ = std::move(chooser); }

  RecoveryMode recoveryMode() const { return result_.mode; }
  void SetRecoveryMode(RecoveryMode mode) { result_.mode = mode; }
  bool runAtStartup() const { return runAtStartup_; }
  void SetRunAtStartup(bool on) { runAtStartup_ = on; }
  const DriveLists& drives() const { return drives_; }
  ProcessLogEntry& logEntry() { return logEntry_; }
  std::vector<SignatureRecord>& typeList() { return typeList_; }
  WizardResult& result() { return result_; }

  // Sends the current log entry to the main window.
  void SendLogEntry() { log_(logEntry_); }
  // Reads the Signature file into the type list; false when it cannot be read.
  bool LoadTypes();
  QString ChooseImagePath(const QString& proposed);

  void reject() override;
  void done(int result) override;

 private:
  DriveLists drives_;
  LogSink log_;
  PathChooser chooser_;
  std::filesystem::path signatureFolder_;
  bool runAtStartup_ = false;
  ProcessLogEntry logEntry_;
  std::vector<SignatureRecord> typeList_;
  WizardResult result_;
};

// Opens a source (or the volume found at `found`'s start of it); when the
// device may not be read, offers the other way in and tries once more.
OpenResult OpenDriveSource(QWidget* parent, SourceKind kind, const std::string& path,
                           unsigned partition, const FoundVolume* found = nullptr);

// The "&Run wizard on startup" box of a page, tied to the sheet's setting.
class StartupBox;

class CWizardMainPage : public QWizardPage {
  Q_OBJECT
 public:
  explicit CWizardMainPage(CWizardSheet& sheet);
  ~CWizardMainPage() override;
  void initializePage() override;
  bool isComplete() const override;
  int nextId() const override;

  QPushButton* modeButton(RecoveryMode mode) const;
  HelpList* helpList() const { return help_; }
  QLabel* captionLine() const { return caption_; }
  QCheckBox* startupBox() const;

 private:
  void ChooseMode(RecoveryMode mode);

  CWizardSheet& sheet_;
  QButtonGroup* buttons_;
  QLabel* caption_;
  HelpList* help_;
  StartupBox* startup_;
};

// The drive tree shared by the two drive pages: "My Computer" and one item
// per drive, at most one of them marked.
class DriveTree;

class CWizardDriveSelectionPage : public QWizardPage {
  Q_OBJECT
 public:
  explicit CWizardDriveSelectionPage(CWizardSheet& sheet);
  ~CWizardDriveSelectionPage() override;
  void initializePage() override;
  void cleanupPage() override;
  bool isComplete() const override;
  bool validatePage() override;
  int nextId() const override;

  QTreeWidget* tree() const;
  HelpList* infoList() const { return info_; }
  QLabel* statusLine() const { return status_; }
  // Marks the drive at `index` of the page's list (-1: none), as a click does.
  void SelectDrive(int index);

  // Advanced File Recovery: "Volumes found on this disk". The search reads
  // the marked disk as a task with the progress dialog; choosing a volume
  // found scans that volume with its file system instead of the disk.
  QGroupBox* volumesBox() const { return volumesBox_; }
  QPushButton* searchButton() const { return search_; }
  QTreeWidget* volumeList() const { return volumes_; }
  TaskRunner& searchRunner() { return *runner_; }
  void SearchForVolumes();
  // The volume chosen in the list; null for the whole disk.
  const FoundVolume* chosenVolume() const;

 private:
  bool physical() const { return sheet_.recoveryMode() == RecoveryMode::Advanced; }
  void OnSelectionChanged(int index);
  void ShowInformation();
  void ShowVolumes();

  CWizardSheet& sheet_;
  DriveTree* tree_;
  HelpList* info_;
  QLabel* status_;
  StartupBox* startup_;
  QGroupBox* volumesBox_;
  QPushButton* search_;
  QTreeWidget* volumes_;
  std::vector<FoundVolume> found_;
  StopToken searchStop_;
  std::unique_ptr<TaskRunner> runner_;
  int selected_ = -1;
  bool failed_ = false;  // the chosen drive failed to open: choose again
};

class CWizardImagePage : public QWizardPage {
  Q_OBJECT
 public:
  explicit CWizardImagePage(CWizardSheet& sheet);
  ~CWizardImagePage() override;
  void initializePage() override;
  void cleanupPage() override;
  bool isComplete() const override;
  bool validatePage() override;
  int nextId() const override { return -1; }

  QTreeWidget* tree() const;
  HelpList* infoList() const { return info_; }
  QLabel* statusLine() const { return status_; }
  QLabel* pathLine() const { return path_; }
  QLabel* spaceLine() const { return space_; }
  QPushButton* destinationButton() const { return browse_; }
  void SelectDrive(int index);
  // The destination as the dialog's answer gives it; false when refused.
  bool SetDestination(const QString& path);

 private:
  void OnSelectionChanged(int index);
  void ChooseDestination();
  void ClearDestination();

  CWizardSheet& sheet_;
  DriveTree* tree_;
  HelpList* info_;
  QLabel* status_;
  QPushButton* browse_;
  QLabel* path_;
  QLabel* space_;
  int selected_ = -1;
  QString destination_;
  bool failed_ = false;
};

class CWizardSignaturesPage : public QWizardPage {
  Q_OBJECT
 public:
  explicit CWizardSignaturesPage(CWizardSheet& sheet);
  ~CWizardSignaturesPage() override;
  void initializePage() override;
  void cleanupPage() override;
  bool isComplete() const override;
  bool validatePage() override;
  int nextId() const override { return -1; }

  QComboBox* filter() const { return filter_; }
  QTreeWidget* list() const { return list_; }
  QPushButton* selectAllButton() const { return selectAll_; }
  QPushButton* deselectAllButton() const { return deselectAll_; }
  QLineEdit* sizeEdit() const { return size_; }
  QComboBox* unit() const { return unit_; }
  // The size typed, in bytes, when it lies in 1 byte to 4 GiB.
  std::optional<std::uint64_t> size() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FillRows();
  void SetAll(bool selected);
  void OnSizeEdited();
  void OnUnitChanged();
  bool anySelected() const;
  void Arm();

  CWizardSheet& sheet_;
  QComboBox* filter_;
  QTreeWidget* list_;
  QPushButton* selectAll_;
  QPushButton* deselectAll_;
  QLineEdit* size_;
  QComboBox* unit_;
  StartupBox* startup_;
  bool filling_ = false;
  bool complaining_ = false;  // a size message is open
  bool armed_ = false;        // the user changed something since the page was entered
};

}  // namespace restorix
