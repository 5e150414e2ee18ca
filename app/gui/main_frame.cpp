#include "gui/main_frame.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <cstring>
#include <ctime>

#include "catalogue/scan_info.h"
#include "gui/about_box.h"
#include "gui/check_marks.h"
#include "gui/icons.h"
#include "gui/item_views.h"
#include "gui/preview.h"
#include "gui/process_log_pane.h"
#include "gui/qt_text.h"
#include "gui/rename_box.h"
#include "gui/settings.h"
#include "gui/tip_dialog.h"
#include "gui/totals_text.h"
#include "gui/web_pages.h"
#include "gui/wizard.h"
#include "platform/file_io.h"
#include "platform/storage.h"
#include "util/text.h"

namespace restorix {

namespace {

using Command = MainFrame::Command;

constexpr const char* kScanInfoFilter = "Scan Info File (*.qns)";
constexpr const char* kImageFilter = "Image File (*.qni)";
constexpr const char* kNoDescription = "----------------------------";
constexpr const char* kSaveTaskText =
    "Please wait while Restorix is saving data.\nThis process may take several minutes.";
constexpr const char* kImageTaskText =
    "Please wait while Restorix is creating drive image.\nThis process may take several minutes.";
constexpr int kStatusPaneWidth = 310;

struct CommandInfo {
  Command command;
  const char* text;
  const char* tip;  // shown in the status bar and, for toolbar buttons, as a tooltip
  QKeySequence shortcut = {};
  int icon = -1;  // Icons::Id, or -1
  const char* iconText = nullptr;
};

QKeySequence Ctrl(Qt::Key key) {
  return QKeySequence(Qt::CTRL | key);
}

// The menus' commands: their texts, shortcuts and toolbar pictures.
const CommandInfo kCommands[] = {
    {Command::RunWizard, "Run &Wizard\tCtrl + W", "Choose what to recover and from where",
     Ctrl(Qt::Key_W), Icons::Wizard, "Run Wizard"},
    {Command::OpenScanInformation, "&Open Scan Information", "Open a saved scan", Ctrl(Qt::Key_O)},
    {Command::SaveScanInformation, "Save Scan &Information", "Save this scan to open it later",
     Ctrl(Qt::Key_S)},
    {Command::ImageFileProcessing, "Image File &Processing",
     "Scan an image file of a volume for deleted files", Ctrl(Qt::Key_I)},
    {Command::Exit, "E&xit", "Close Quillon Restorix", QKeySequence(Qt::ALT | Qt::Key_F4)},
    {Command::Find, "&Find", "Find files and folders by name and size", Ctrl(Qt::Key_F),
     Icons::Find, "Find"},
    {Command::FindNext, "Find &Next", "Go to the next item found", QKeySequence(Qt::Key_F3),
     Icons::FindNext, "Find Next"},
    {Command::GotoParentFolder, "&Goto Parent Folder", "Show the folder one level up",
     Ctrl(Qt::Key_P), Icons::GotoParent, "Goto Parent Folder"},
    {Command::SaveProcessLog, "Save &Process Log", "Save the process log as a text file"},
    {Command::ClearProcessLog, "Clear Process &Log", "Remove every row of the process log"},
    {Command::SaveSelectedFiles, "&Save Selected Files",
     "Copy the checked files and folders into a folder on another disk",
     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), Icons::SaveSelected, "Save Selected Files"},
    {Command::SaveAllFiles, "Save &All Files",
     "Copy every file and folder into a folder on another disk",
     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A), Icons::SaveAll, "Save All Files"},
    {Command::StandardToolbar, "&Standard", "Show or hide the toolbar"},
    {Command::IconsTiny, "Tiny", "Toolbar pictures of 16 pixels"},
    {Command::IconsSmall, "Small ", "Toolbar pictures of 24 pixels"},
    {Command::IconsNormal, "Normal", "Toolbar pictures of 32 pixels"},
    {Command::IconsLarge, "Large", "Toolbar pictures of 48 pixels"},
    {Command::ProcessLog, "&Process Log", "Show or hide the process log"},
    {Command::FolderBar, "&Folder Bar", "Show or hide the folder list"},
    {Command::LargeIcons, "&Large Icons", "Show the contents as large icons"},
    {Command::SmallIcons, "Small &Icons", "Show the contents as small icons"},
    {Command::List, "Li&st", "Show the contents as a list"},
    {Command::Details, "&Details", "Show the contents with their sizes and dates"},
    {Command::Contents, "&Contents", "Open the help pages", QKeySequence(Qt::Key_F1),
     Icons::Contents, "Contents"},
    {Command::TipOfTheDay, "&Tip of the Day", "Show a tip"},
    {Command::SoftwareFeatures, "&Software Features", "What Quillon Restorix does"},
    {Command::ContactUs, "Contact &Us", "How to reach Quillon Labs"},
    {Command::Faq, "FA&Q", "Questions people ask about recovering files"},
    {Command::Buy, "&Buy", "Buy Quillon Restorix", {}, Icons::Buy, "Buy"},
    {Command::Update, "U&pdate", "Look for a newer version", {}, Icons::Update, "Update"},
    {Command::About, "&About", "The version and the maker of Quillon Restorix", Ctrl(Qt::Key_B)},
};

// Toolbar icon sizes: Tiny, Small, Normal, Large.
QSize IconSizeOf(Command size) {
  switch (size) {
    case Command::IconsTiny:
      return {16, 15};
    case Command::IconsSmall:
      return {24, 24};
    case Command::IconsLarge:
      return {48, 48};
    default:
      return {32, 32};
  }
}

QString SaveStopReason(const SaveResult& result) {
  const QString error =
      result.error ? QString(": ") + QString::fromLocal8Bit(std::strerror(result.error)) : "";
  switch (result.stop) {
    case SaveResult::Stop::NoDestination:
      return "The destination is not a folder that can be opened" + error + ".";
    case SaveResult::Stop::OntoSource:
      return "The destination lies on the source itself" +
             (result.ontoSource.empty() ? QString()
                                        : ": " + QString::fromStdString(result.ontoSource)) +
             ".";
    case SaveResult::Stop::RunFolder:
      return "No folder for the recovered files could be made in the destination" + error + ".";
    case SaveResult::Stop::SourceLost:
      return "The source is no longer available" + error + ". The files written so far stay.";
    case SaveResult::Stop::WriteFailed:
      return "Writing to the destination failed" + error +
             (result.failedItem.empty()
                  ? QString()
                  : " (" + QString::fromStdString(result.failedItem.string()) + ")") +
             ". The files written so far stay.";
    case SaveResult::Stop::None:
    case SaveResult::Stop::Cancelled:
      break;
  }
  return {};
}

// A folder picker that refuses a folder on the source and says why.
class DestinationDialog : public QFileDialog {
 public:
  DestinationDialog(const MainFrame& frame, QWidget* parent)
      : QFileDialog(parent, "Choose the folder to save the files in"), frame_(frame) {
    setFileMode(QFileDialog::Directory);
    setOption(QFileDialog::ShowDirsOnly);
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptOpen);
  }

  void accept() override {
    const QStringList chosen = selectedFiles();
    const QString refused = chosen.isEmpty() ? QString() : frame_.RefuseDestination(chosen.front());
    if (!refused.isEmpty()) {
      QMessageBox::critical(this, "Error", refused);
      return;
    }
    QFileDialog::accept();
  }

 private:
  const MainFrame& frame_;
};

}  // namespace

QString ScanTaskText(ScanMode mode) {
  switch (mode) {
    case ScanMode::Format:
      return "Please wait while Restorix is doing format recovery.\nThis process may take "
             "several minutes.";
    case ScanMode::Advanced:
      return "Please wait while Restorix is doing advanced file recovery.\nThis process may take "
             "several minutes.";
    case ScanMode::DeletedFiles:
      break;
  }
  return "Please wait while Restorix is doing deleted file recovery.\nThis process may take "
         "several minutes.";
}

MainFrame::MainFrame() {
  setWindowTitle(settings::kTitle);
  setWindowIcon(Icons::Get(Icons::Disk));
  views_ = new ItemViews(this);
  setCentralWidget(views_);
  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();
  CreateDocks();
  RestoreSettings();

  connect(&runner_.bridge(), &TaskBridge::logEntry, this, &MainFrame::OnLogEntry);
  connect(&runner_.bridge(), &TaskBridge::treeRefreshed, this, &MainFrame::OnTreeRefreshed);
  connect(&runner_.bridge(), &TaskBridge::finished, this, &MainFrame::OnTaskFinished);
  connect(views_, &ItemViews::checksChanged, this, [this] {
    UpdateSelected();
    UpdateCommands();
  });
  connect(views_, &ItemViews::currentFolderChanged, this, &MainFrame::UpdateCommands);
  connect(views_, &ItemViews::currentItemChanged, this,
          [this](ItemNode* item) { preview_->Show(volume_, item); });
  connect(log_, &ProcessLogPane::rowsChanged, this, &MainFrame::UpdateCommands);

  // Esc ends the find highlight; F6 and Shift+F6 move between the panes.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &MainFrame::EndFindHighlight);
  auto* nextPane = new QShortcut(QKeySequence(Qt::Key_F6), this);
  connect(nextPane, &QShortcut::activated, this, [this] { FocusNextPane(1); });
  auto* previousPane = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6), this);
  connect(previousPane, &QShortcut::activated, this, [this] { FocusNextPane(-1); });

  UpdateCommands();
}

MainFrame::~MainFrame() = default;

void MainFrame::CreateActions() {
  for (const CommandInfo& info : kCommands) {
    auto* action = new QAction(info.text, this);
    if (!info.shortcut.isEmpty()) action->setShortcut(info.shortcut);
    if (info.icon >= 0) action->setIcon(Icons::Get(static_cast<Icons::Id>(info.icon)));
    if (info.iconText) action->setIconText(info.iconText);
    action->setStatusTip(info.tip);
    if (info.iconText) action->setToolTip(QString("<b>%1</b><br>%2").arg(info.iconText, info.tip));
    actions_[static_cast<std::size_t>(info.command)] = action;
  }
  const auto on = [this](Command command, auto&& slot) {
    connect(action(command), &QAction::triggered, this, slot);
  };
  on(Command::RunWizard, [this] { RunWizard(); });
  on(Command::OpenScanInformation, [this] { OpenScanInformationCommand(); });
  on(Command::SaveScanInformation, [this] { SaveScanInformationCommand(); });
  on(Command::ImageFileProcessing, [this] { ImageFileProcessingCommand(); });
  on(Command::Exit, [this] { close(); });
  on(Command::Find, [this] { FindCommand(); });
  on(Command::FindNext, [this] { FindNext(); });
  on(Command::GotoParentFolder, [this] { views_->GotoParent(); });
  on(Command::SaveProcessLog, [this] { log_->SaveWithDialog(); });
  on(Command::ClearProcessLog, [this] { log_->model().Clear(); });
  on(Command::SaveSelectedFiles, [this] { SaveFilesCommand(); });
  on(Command::SaveAllFiles, [this] { SaveFilesCommand(); });
  on(Command::Contents, [this] { OpenPage(HelpUrl()); });
  on(Command::TipOfTheDay, [this] { ShowTipOfTheDay(); });
  on(Command::SoftwareFeatures, [this] { OpenPage(WebPageUrl(WebPage::Features)); });
  on(Command::ContactUs, [this] { OpenPage(WebPageUrl(WebPage::ContactUs)); });
  on(Command::Faq, [this] { OpenPage(WebPageUrl(WebPage::Faq)); });
  on(Command::Buy, [this] { OpenPage(WebPageUrl(WebPage::Buy)); });
  on(Command::Update, [this] { OpenPage(WebPageUrl(WebPage::Update)); });
  on(Command::About, [this] { ShowAbout(); });

  auto* sizes = new QActionGroup(this);
  for (Command size :
       {Command::IconsTiny, Command::IconsSmall, Command::IconsNormal, Command::IconsLarge}) {
    action(size)->setCheckable(true);
    sizes->addAction(action(size));
    connect(action(size), &QAction::triggered, this, [this, size] { SetToolbarIconSize(size); });
  }
  auto* modes = new QActionGroup(this);
  for (Command mode : {Command::LargeIcons, Command::SmallIcons, Command::List, Command::Details}) {
    action(mode)->setCheckable(true);
    modes->addAction(action(mode));
    connect(action(mode), &QAction::triggered, this, [this, mode] { SetViewMode(mode); });
  }
  action(Command::FolderBar)->setCheckable(true);
  action(Command::FolderBar)->setChecked(true);
  connect(action(Command::FolderBar), &QAction::toggled, views_, &ItemViews::ShowFolderBar);
}

void MainFrame::CreateMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction(action(Command::RunWizard));
  file->addSeparator();
  file->addAction(action(Command::OpenScanInformation));
  file->addAction(action(Command::SaveScanInformation));
  file->addSeparator();
  file->addAction(action(Command::ImageFileProcessing));
  file->addSeparator();
  file->addAction(action(Command::Exit));

  QMenu* view = menuBar()->addMenu("&View");
  QMenu* toolBars = view->addMenu("&Tool Bar");
  toolBars->addAction(action(Command::StandardToolbar));
  toolBars->addSeparator();
  for (Command size :
       {Command::IconsTiny, Command::IconsSmall, Command::IconsNormal, Command::IconsLarge})
    toolBars->addAction(action(size));
  view->addAction(action(Command::ProcessLog));
  view->addAction(action(Command::FolderBar));
  view->addSeparator();
  for (Command mode : {Command::LargeIcons, Command::SmallIcons, Command::List, Command::Details})
    view->addAction(action(mode));
  view->addSeparator();
  view->addAction(action(Command::GotoParentFolder));

  QMenu* tools = menuBar()->addMenu("&Tools");
  tools->addAction(action(Command::Find));
  tools->addAction(action(Command::FindNext));
  tools->addSeparator();
  tools->addAction(action(Command::SaveSelectedFiles));
  tools->addAction(action(Command::SaveAllFiles));
  tools->addSeparator();
  tools->addAction(action(Command::SaveProcessLog));
  tools->addAction(action(Command::ClearProcessLog));

  QMenu* help = menuBar()->addMenu("&Help");
  help->addAction(action(Command::Contents));
  help->addAction(action(Command::TipOfTheDay));
  help->addSeparator();
  help->addAction(action(Command::SoftwareFeatures));
  help->addAction(action(Command::ContactUs));
  help->addAction(action(Command::Faq));
  help->addAction(action(Command::Buy));
  help->addAction(action(Command::Update));
  help->addSeparator();
  help->addAction(action(Command::About));
}

void MainFrame::CreateToolBar() {
  toolbar_ = addToolBar("Standard");
  toolbar_->setObjectName("Standard");
  toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  toolbar_->addAction(action(Command::RunWizard));
  toolbar_->addSeparator();
  toolbar_->addAction(action(Command::Find));
  toolbar_->addAction(action(Command::FindNext));
  toolbar_->addSeparator();
  toolbar_->addAction(action(Command::SaveAllFiles));
  toolbar_->addAction(action(Command::SaveSelectedFiles));
  toolbar_->addSeparator();
  toolbar_->addAction(action(Command::GotoParentFolder));
  toolbar_->addSeparator();
  toolbar_->addAction(action(Command::Buy));
  toolbar_->addAction(action(Command::Update));
  toolbar_->addSeparator();
  toolbar_->addAction(action(Command::Contents));
  // "&Standard" shows and hides the toolbar and is checked while it shows.
  QAction* standard = action(Command::StandardToolbar);
  standard->setCheckable(true);
  standard->setChecked(true);
  connect(standard, &QAction::toggled, toolbar_, &QToolBar::setVisible);
  connect(toolbar_, &QToolBar::visibilityChanged, standard, &QAction::setChecked);
  SetToolbarIconSize(Command::IconsNormal);
}

void MainFrame::CreateStatusBar() {
  const auto pane = [this](const QString& text) {
    auto* label = new QLabel(text, this);
    label->setFrameStyle(QFrame::Panel | QFrame::Raised);
    label->setFixedWidth(kStatusPaneWidth);
    statusBar()->addPermanentWidget(label);
    return label;
  };
  totals_ = pane(kNoTotals);
  selected_ = pane(QString());
  statusBar()->showMessage("Ready");
}

void MainFrame::CreateDocks() {
  log_ = new ProcessLogPane(this);
  addDockWidget(Qt::BottomDockWidgetArea, log_);
  log_->resize(200, 120);
  QAction* logAction = action(Command::ProcessLog);
  logAction->setCheckable(true);
  logAction->setChecked(true);
  connect(logAction, &QAction::toggled, log_, &QDockWidget::setVisible);
  // The dock is the sender, so it is alive whenever this runs; the frame may
  // not be (a closing frame hides its docks from QWidget's destructor).
  connect(log_, &QDockWidget::visibilityChanged, logAction,
          [dock = log_, logAction] { logAction->setChecked(dock->isVisible()); });
  preview_ = new PreviewDock(this);
  addDockWidget(Qt::RightDockWidgetArea, preview_);
  resizeDocks({log_}, {150}, Qt::Vertical);
  resizeDocks({preview_}, {280}, Qt::Horizontal);
}

void MainFrame::RestoreSettings() {
  QSettings settings;
  if (!restoreGeometry(settings.value(settings::kFrameGeometry).toByteArray())) resize(1100, 720);
  restoreState(settings.value(settings::kCommandBars).toByteArray());
  const int size = settings.value(settings::kToolbarIconSize, 32).toInt();
  for (Command each :
       {Command::IconsTiny, Command::IconsSmall, Command::IconsNormal, Command::IconsLarge}) {
    if (IconSizeOf(each).width() == size) SetToolbarIconSize(each);
  }
}

void MainFrame::SaveSettings() const {
  QSettings settings;
  settings.setValue(settings::kFrameGeometry, saveGeometry());
  settings.setValue(settings::kCommandBars, saveState());
  settings.setValue(settings::kToolbarIconSize, toolbar_->iconSize().width());
}

void MainFrame::SetToolbarIconSize(Command size) {
  toolbar_->setIconSize(IconSizeOf(size));
  action(size)->setChecked(true);
}

void MainFrame::SetViewMode(Command mode) {
  static constexpr std::pair<Command, ViewMode> kModes[] = {
      {Command::LargeIcons, ViewMode::LargeIcons},
      {Command::SmallIcons, ViewMode::SmallIcons},
      {Command::List, ViewMode::List},
      {Command::Details, ViewMode::Details}};
  for (const auto& [command, viewMode] : kModes)
    if (command == mode) views_->SetViewMode(viewMode);
  UpdateCommands();
}

void MainFrame::FocusNextPane(int step) {
  std::vector<QWidget*> panes{views_->treeView(), views_->listWidget()};
  if (log_->isVisible()) panes.push_back(log_->view());
  if (preview_->isVisible()) panes.push_back(preview_->widget());
  std::size_t at = 0;
  for (std::size_t i = 0; i < panes.size(); ++i)
    if (panes[i]->isAncestorOf(focusWidget()) || panes[i] == focusWidget()) at = i;
  const std::size_t count = panes.size();
  panes[(at + count + static_cast<std::size_t>(step + static_cast<int>(count))) % count]
      ->setFocus();
}

void MainFrame::UpdateCommands() {
  const bool idle = !runner_.running();
  const ItemNode* root = views_->root();
  const bool items = root != nullptr && root->firstChild != nullptr;
  const CheckMark rootMark = root ? views_->marks().mark(*root) : CheckMark::Unchecked;
  action(Command::SaveScanInformation)->setEnabled(idle && scanUnsaved_);
  action(Command::Find)->setEnabled(idle && root != nullptr);
  action(Command::FindNext)->setEnabled(idle && find_.current() != nullptr);
  action(Command::GotoParentFolder)->setEnabled(views_->canGotoParent());
  action(Command::SaveProcessLog)->setEnabled(!log_->empty());
  action(Command::ClearProcessLog)->setEnabled(!log_->empty());
  action(Command::SaveSelectedFiles)->setEnabled(idle && items && rootMark != CheckMark::Unchecked);
  action(Command::SaveAllFiles)->setEnabled(idle && items && rootMark == CheckMark::Checked);
  static constexpr std::pair<ViewMode, Command> kModes[] = {
      {ViewMode::LargeIcons, Command::LargeIcons},
      {ViewMode::SmallIcons, Command::SmallIcons},
      {ViewMode::List, Command::List},
      {ViewMode::Details, Command::Details}};
  for (const auto& [mode, command] : kModes)
    if (views_->viewMode() == mode) action(command)->setChecked(true);
}

QString MainFrame::totalsText() const {
  return totals_->text();
}

QString MainFrame::selectedText() const {
  return selected_->text();
}

void MainFrame::UpdateTotals() {
  totals_->setText(QString::fromStdString(TotalsText(CountAll(views_->root()))));
}

void MainFrame::UpdateSelected() {
  selected_->setText(QString::fromStdString(SelectedText(CountChecked(views_->root()))));
}

TaskReport MainFrame::RunTask(const TaskTexts& texts,
                              const std::function<TaskReport(TaskSink&)>& task) {
  completion_ = {};
  UpdateCommands();
  TaskReport report;
  try {
    report = runner_.Run(texts, task);
  } catch (const std::exception& failure) {
    stop_.RequestStop();
    UpdateCommands();
    QMessageBox::critical(this, "Error", QString::fromLocal8Bit(failure.what()));
    return report;
  }
  UpdateCommands();
  if (!completion_.message.empty()) {
    const QString message = QString::fromStdString(completion_.message);
    if (completion_.error) {
      QMessageBox::critical(this, "Error", message);
    } else {
      QMessageBox::information(this, "Information", message);
    }
  }
  return report;
}

void MainFrame::OnTaskFinished(TaskOutcome outcome) {
  completion_ = CompleteTask(stop_, log_->model().log(), entry_, outcome);
  log_->model().Sync();
}

void MainFrame::OnLogEntry(const ProcessLogEntry& entry) {
  log_->show();
  log_->model().Append(entry);
}

void MainFrame::OnTreeRefreshed() {
  ShowTree();
}

void MainFrame::ShowTree() {
  views_->SetTree(tree_.root());
  UpdateTotals();
  const Totals checked = CountChecked(tree_.root());
  selected_->setText(checked == Totals{} ? QString()
                                         : QString::fromStdString(SelectedText(checked)));
  UpdateCommands();
}

void MainFrame::RunScanTask(std::shared_ptr<const Volume> volume, const ScanJob& job) {
  // The views let go of the tree while the worker rebuilds it.
  find_.Reset();
  views_->SetTree(nullptr);
  preview_->Clear();
  totals_->setText(kNoTotalsAtTaskStart);
  selected_->clear();
  volume_ = std::move(volume);
  const TaskTexts texts{ScanTaskText(job.mode), QString::fromStdString(job.driveName)};
  const Volume& source = *volume_;
  const TaskReport report = RunTask(
      texts, [&](TaskSink& sink) { return ScanTask(source, job, tree_, stop_, sink, entry_); });
  if (views_->root() == nullptr) ShowTree();
  if (report.deviceLost) {
    QMessageBox::critical(this, "Error",
                          "The source is no longer available. The list shows what was found "
                          "before it went away.");
  }
}

bool MainFrame::ProcessImageFile(const QString& path) {
  const OpenResult opened = Volume::Open(SourceKind::ImageFile, PathFromQString(path));
  if (!opened) {
    QMessageBox::critical(this, "Error", "Failed to open image file or image file is not valid");
    return false;
  }
  const std::string name = Utf8FromUtf16(opened.volume->sourceName());
  entry_ = {"Processing Image file :" + name, kNoDescription, "", LOG_STARTED};
  ScanJob job;
  job.driveName = name;
  scanUnsaved_ = true;
  RunScanTask(opened.volume, job);
  return true;
}

void MainFrame::ImageFileProcessingCommand() {
  const QString path =
      QFileDialog::getOpenFileName(this, "Image File Processing", QString(), kImageFilter);
  if (!path.isEmpty()) ProcessImageFile(path);
}

bool MainFrame::OpenScanInformation(const QString& path) {
  const std::filesystem::path file = PathFromQString(path);
  LoadResult loaded = LoadScanInfo(file);
  if (!loaded.loaded) {
    QMessageBox::critical(this, "Error", "Scan Information file is not valid or corrupted.");
    return false;
  }
  const QString source = QStringFromUtf16(loaded.sourceName);
  if (!loaded.reopened) {
    const QString reason = loaded.reopened.error
                               ? QString::fromLocal8Bit(std::strerror(loaded.reopened.error))
                               : QString("it does not hold the scanned volume");
    const auto answer = QMessageBox::question(
        this, "Confirm",
        QString("The scanned source %1 cannot be opened (%2).\n\nThe list can be shown, but "
                "files can only be saved once the source can be read. Do you want to show "
                "where the source is now?")
            .arg(source, reason),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer == QMessageBox::Yes) {
      const QString moved = QFileDialog::getOpenFileName(this, "Where is " + source + " now?");
      if (!moved.isEmpty()) {
        LoadResult again = LoadScanInfo(file, PathFromQString(moved));
        if (again.loaded && again.reopened) {
          loaded = std::move(again);
        } else {
          QMessageBox::critical(this, "Error", moved + " does not hold the scanned volume.");
        }
      }
    }
  }
  SetScan(loaded.volume, std::move(loaded.tree));
  scanUnsaved_ = false;
  UpdateCommands();
  if (loaded.truncated) {
    QMessageBox::information(this, "Information",
                             "The scan-information file ends early. The list shows what it "
                             "holds up to there.");
  }
  return true;
}

void MainFrame::SetScan(std::shared_ptr<const Volume> volume, ItemTree tree) {
  find_.Reset();
  preview_->Clear();
  views_->SetTree(nullptr);
  tree_ = std::move(tree);
  volume_ = std::move(volume);
  ShowTree();
}

void MainFrame::OpenScanInformationCommand() {
  const QString path =
      QFileDialog::getOpenFileName(this, "Open Scan Information", QString(), kScanInfoFilter);
  if (!path.isEmpty()) OpenScanInformation(path);
}

bool MainFrame::SaveScanInformation(const QString& path) {
  const auto file = WithScanInfoExtension(PathFromQString(path));
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool saved =
      volume_ && SaveScanInfo(file, volume_->sourceName(), volume_->context(), tree_);
  QApplication::restoreOverrideCursor();
  if (!saved) {
    QMessageBox::critical(
        this, "Error", "The scan information could not be saved to " + QStringFromPath(file) + ".");
    return false;
  }
  QMessageBox::information(this, "Information", "Scan Information saving completed.");
  scanUnsaved_ = false;
  UpdateCommands();
  return true;
}

bool MainFrame::SaveScanInformationCommand() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const QString path = QFileDialog::getSaveFileName(this, "Save Scan Information",
                                                    QString::fromStdString(ScanInfoFileName(local)),
                                                    kScanInfoFilter);
  return !path.isEmpty() && SaveScanInformation(path);
}

QString MainFrame::RefuseDestination(const QString& folder) const {
  if (!volume_ || !volume_->isOpen()) return "The source of this scan cannot be read.";
  const std::string source = Utf8FromUtf16(volume_->sourceName());
  if (const auto shared = OutputOntoSource(PathFromQString(folder), volume_->identity(), source)) {
    return QString(
               "%1 lies on the disk the files are recovered from. Saving there could "
               "overwrite the very files being recovered before they are read.\n\n%2\n\n"
               "Choose a folder on another disk.")
        .arg(folder, QString::fromStdString(
                         OntoSourceMessage(PathFromQString(folder).string(), source, *shared)));
  }
  return {};
}

void MainFrame::SaveFilesCommand() {
  if (!volume_ || !volume_->isOpen()) {
    QMessageBox::critical(this, "Error",
                          "The source of this scan cannot be read, so no file can be saved. "
                          "Open the scan information again once the source is back.");
    return;
  }
  DestinationDialog dialog(*this, this);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  SaveFiles(dialog.selectedFiles().front());
}

void MainFrame::SaveFiles(const QString& destination) {
  const QString refused = RefuseDestination(destination);
  if (!refused.isEmpty()) {
    QMessageBox::critical(this, "Error", refused);
    return;
  }
  TaskBridge& bridge = runner_.bridge();
  SaveOptions options;
  options.destination = PathFromQString(destination);
  options.rename = [this, &bridge](const std::u16string& oldName,
                                   const std::filesystem::path& folder) {
    std::optional<std::u16string> name;
    bridge.Send([&] { name = RenameBox::Ask(oldName, QStringFromPath(folder), runner_.dialog()); });
    return name;
  };
  // The log rows of a save name it and where it went.
  entry_ = {"Saving data to " + destination.toStdString(), "", "", LOG_COMPLETED};
  const Volume& source = *volume_;
  const TaskReport report =
      RunTask({kSaveTaskText, "Saving data to " + destination},
              [&](TaskSink& sink) { return SaveTask(source, tree_, options, stop_, sink); });
  const QString reason = SaveStopReason(report.save);
  if (!reason.isEmpty()) QMessageBox::critical(this, "Error", reason);
}

void MainFrame::FindCommand() {
  FindDialog dialog(find_.query(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  Find(dialog.query());
}

void MainFrame::Find(const FindQuery& query) {
  views_->EndHighlight();
  find_.Start(tree_.root(), query);
  ShowFindResult(find_.Next());
}

void MainFrame::FindNext() {
  if (find_.current() == nullptr) return;
  ShowFindResult(find_.Next());
}

void MainFrame::ShowFindResult(const ItemNode* match) {
  if (match != nullptr) {
    views_->ShowMatch(match);
  } else {
    views_->EndHighlight();
    QMessageBox::information(this, settings::kTitle, "Search item not found");
  }
  UpdateCommands();
}

void MainFrame::EndFindHighlight() {
  if (find_.current() == nullptr) return;
  find_.EndHighlight();
  views_->EndHighlight();
  UpdateCommands();
}

void MainFrame::OpenFromCommandLine(const QString& file) {
  if (file.endsWith(".qns", Qt::CaseInsensitive)) {
    OpenScanInformation(file);
  } else {
    ProcessImageFile(file);
  }
}

void MainFrame::RunWizard() {
  CWizardSheet sheet(
      drives_(), [this](const ProcessLogEntry& entry) { OnLogEntry(entry); }, this);
  if (sheet.exec() == QDialog::Accepted) {
    WizardResult& result = sheet.result();
    entry_ = sheet.logEntry();
    scanUnsaved_ = true;
    ScanJob job;
    job.driveName = result.driveName;
    switch (result.mode) {
      case RecoveryMode::DeletedFiles:
        RunScanTask(result.volume, job);
        break;
      case RecoveryMode::Format:
      case RecoveryMode::Advanced:
        job.mode = result.mode == RecoveryMode::Format ? ScanMode::Format : ScanMode::Advanced;
        job.types = std::move(result.types);
        job.assumedSize = result.assumedSize;
        RunScanTask(result.volume, job);
        break;
      case RecoveryMode::CreateImage:
        if (tree_.root() == nullptr) scanUnsaved_ = false;
        RunImageTask(*result.volume, result.image, result.driveName);
        break;
      case RecoveryMode::None:
        break;
    }
    UpdateCommands();
  }
  if (views_->root() == nullptr) find_.Reset();
}

void MainFrame::RunImageTask(const Volume& volume, const std::filesystem::path& image,
                             const std::string& driveName) {
  const TaskReport report =
      RunTask({kImageTaskText, QString::fromStdString(driveName)}, [&](TaskSink& sink) {
        return ImagingTask(volume, image, stop_, sink, entry_, ImagingRun::Single);
      });
  const QString error =
      report.image.error ? ": " + QString::fromLocal8Bit(std::strerror(report.image.error)) : "";
  QString reason;
  switch (report.image.stop) {
    case ImageResult::Stop::CannotCreate:
      reason = "The image file cannot be created" + error + ".";
      break;
    case ImageResult::Stop::NotAFile:
      reason = "The image must be a file, not a device or folder.";
      break;
    case ImageResult::Stop::OntoSource:
      reason = QString::fromStdString(report.image.ontoSource) + ".";
      break;
    case ImageResult::Stop::SourceLost:
      reason = "The drive is no longer available" + error + ".";
      break;
    case ImageResult::Stop::WriteFailed:
      reason = "Writing the image failed" + error + ".";
      break;
    case ImageResult::Stop::None:
    case ImageResult::Stop::Cancelled:
    case ImageResult::Stop::NoMap:  // the desktop program starts every image afresh
      break;
  }
  if (!reason.isEmpty()) QMessageBox::critical(this, "Error", reason);
}

void MainFrame::PrepareTipOfTheDay() {
  if (!EnsureTipsFile(TipsFilePath())) return;
  if (!QSettings().value(settings::kTipStartUp, true).toBool()) return;
  QTimer::singleShot(0, this, [this] { ShowTipOfTheDay(); });
}

void MainFrame::ShowTipOfTheDay() {
  const QString path = TipsFilePath();
  EnsureTipsFile(path);
  TipDialog dialog(path, this);
  dialog.exec();
}

void MainFrame::OpenPage(const QUrl& url) {
  if (!OpenInBrowser(url)) {
    QMessageBox::critical(this, "Error", "No web browser could open " + url.toString() + ".");
  }
}

void MainFrame::ShowAbout() {
  AboutBox box(this);
  box.exec();
}

void MainFrame::closeEvent(QCloseEvent* event) {
  if (runner_.running()) {
    event->ignore();
    return;
  }
  if (scanUnsaved_) {
    const auto answer = QMessageBox::question(
        this, "Confirm", "Do you want to save scan information?",
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    if (answer == QMessageBox::Cancel ||
        (answer == QMessageBox::Yes && !SaveScanInformationCommand())) {
      event->ignore();
      return;
    }
  }
  preview_->Clear();
  views_->SetTree(nullptr);
  tree_ = ItemTree();
  SaveSettings();
  event->accept();
}

}  // namespace restorix
