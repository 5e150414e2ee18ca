// The main window: menus, the "Standard" toolbar, the status bar with the
// totals, the folder tree and contents list, the "Process Log" and
// "Preview" panes; it turns commands into tasks and owns what they work on:
// the opened source, the item tree and the process log.
#pragma once

#include <QMainWindow>
#include <array>
#include <memory>

#include "catalogue/item_tree.h"
#include "disk/volume.h"
#include "drives/drive_lists.h"
#include "gui/find_dialog.h"
#include "gui/task_runner.h"
#include "tasks/tasks.h"

class QLabel;
class QToolBar;

namespace restorix {

class ItemViews;
class PreviewDock;
class ProcessLogPane;

class MainFrame : public QMainWindow {
  Q_OBJECT
 public:
  enum class Command {
    RunWizard,
    OpenScanInformation,
    SaveScanInformation,
    ImageFileProcessing,
    Exit,
    Find,
    FindNext,
    GotoParentFolder,
    SaveProcessLog,
    ClearProcessLog,
    SaveSelectedFiles,
    SaveAllFiles,
    StandardToolbar,
    IconsTiny,
    IconsSmall,
    IconsNormal,
    IconsLarge,
    ProcessLog,
    FolderBar,
    LargeIcons,
    SmallIcons,
    List,
    Details,
    Contents,
    TipOfTheDay,
    SoftwareFeatures,
    ContactUs,
    Faq,
    Buy,
    Update,
    About,
    Count
  };

  MainFrame();
  ~MainFrame() override;

  QAction* action(Command command) const { return actions_[static_cast<std::size_t>(command)]; }

  // The commands without their file dialogs: the command line and the
  // dialogs' answers come here.
  bool OpenScanInformation(const QString& path);
  bool SaveScanInformation(const QString& path);
  bool ProcessImageFile(const QString& path);
  void SaveFiles(const QString& destination);
  void Find(const FindQuery& query);
  void FindNext();
  // A .qns file is opened as scan information, anything else processed as
  // an image file.
  void OpenFromCommandLine(const QString& file);
  // Shows a scan that was made or loaded elsewhere, in place of the current
  // one.
  void SetScan(std::shared_ptr<const Volume> volume, ItemTree tree);
  // Runs the wizard and, when it finishes, the task it chose.
  void RunWizard();
  // Where the wizard's drive lists come from (the machine's own disks
  // unless told otherwise).
  void SetDriveLister(std::function<DriveLists()> lister) { drives_ = std::move(lister); }
  // At start-up: makes the tips file if it is missing, else shows a tip
  // when the user wants one at start-up.
  void PrepareTipOfTheDay();
  void ShowTipOfTheDay();

  // Why the recovered files may not go to `folder`; empty when they may.
  QString RefuseDestination(const QString& folder) const;

  bool scanUnsaved() const { return scanUnsaved_; }
  bool taskRunning() const { return runner_.running(); }
  ItemViews* views() const { return views_; }
  ProcessLogPane* logPane() const { return log_; }
  PreviewDock* preview() const { return preview_; }
  TaskRunner& runner() { return runner_; }
  QToolBar* toolbar() const { return toolbar_; }
  QString totalsText() const;
  QString selectedText() const;
  const FindState& findState() const { return find_; }
  ItemTree& tree() { return tree_; }
  std::shared_ptr<const Volume> volume() const { return volume_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void CreateDocks();
  void RestoreSettings();
  void SaveSettings() const;
  void UpdateCommands();
  void UpdateTotals();
  void UpdateSelected();
  void SetToolbarIconSize(Command size);
  void SetViewMode(Command mode);
  void FocusNextPane(int step);

  // Runs a task under the progress dialog and tells the user its outcome.
  TaskReport RunTask(const TaskTexts& texts, const std::function<TaskReport(TaskSink&)>& task);
  void RunScanTask(std::shared_ptr<const Volume> volume, const ScanJob& job);
  void RunImageTask(const Volume& volume, const std::filesystem::path& image,
                    const std::string& driveName);
  void OnTaskFinished(TaskOutcome outcome);
  void OnLogEntry(const ProcessLogEntry& entry);
  void OnTreeRefreshed();
  void ShowTree();

  // The commands as the menus run them.
  void OpenScanInformationCommand();
  bool SaveScanInformationCommand();
  void ImageFileProcessingCommand();
  void SaveFilesCommand();
  void FindCommand();
  void ShowFindResult(const ItemNode* match);
  void EndFindHighlight();
  void OpenPage(const QUrl& url);
  void ShowAbout();

  ItemTree tree_;
  std::shared_ptr<const Volume> volume_;
  StopToken stop_;
  ProcessLogEntry entry_;
  bool scanUnsaved_ = false;
  FindState find_;
  Completion completion_;

  ItemViews* views_ = nullptr;
  ProcessLogPane* log_ = nullptr;
  PreviewDock* preview_ = nullptr;
  QToolBar* toolbar_ = nullptr;
  QLabel* totals_ = nullptr;
  QLabel* selected_ = nullptr;
  std::array<QAction*, static_cast<std::size_t>(Command::Count)> actions_{};
  TaskRunner runner_{stop_, this};
  std::function<DriveLists()> drives_ = [] { return EnumerateDrives(); };
};

// The texts the progress dialog shows while a scan runs, by its mode.
QString ScanTaskText(ScanMode mode);

}  // namespace restorix
