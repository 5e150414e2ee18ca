// Takes the pictures of the desktop program that docs/ and the README show:
// the main window on a scanned volume, the progress dialog, Find and the
// preview, and each page of the wizard. Run under an X server
// (scripts/screenshots.sh uses Xvfb):
//   gui_screenshots OUT_DIR DEMO_VOLUME.qni PICTURES_VOLUME.qni DEMO_DISK.img
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <cstdio>
#include <thread>

#include "catalogue/item_tree.h"
#include "gui/find_dialog.h"
#include "gui/item_views.h"
#include "gui/main_frame.h"
#include "gui/preview.h"
#include "gui/settings.h"
#include "gui/wizard.h"
#include "util/text.h"

namespace {

using namespace restorix;

QString out;

void Shoot(const QString& name, QWidget* window) {
  QTest::qWait(300);
  QApplication::processEvents();
  const QRect area = window->frameGeometry().adjusted(-2, -2, 2, 2);
  const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(),
                                                                    area.width(), area.height());
  shot.save(out + "/" + name + ".png");
  std::printf("%s/%s.png\n", qPrintable(out), qPrintable(name));
}

ItemNode* Child(ItemNode* folder, const char* name) {
  for (ItemNode* child = folder ? folder->firstChild : nullptr; child; child = child->next)
    if (Utf8FromUtf16(child->name) == name) return child;
  return nullptr;
}

void Check(MainFrame& frame, const ItemNode* folder) {
  FolderTreeModel& tree = frame.views()->treeModel();
  tree.setData(tree.indexOf(folder), Qt::Checked, Qt::CheckStateRole);
}

// The wizard's pages on the demo disk, as a user goes through them.
void ShootWizard(MainFrame& frame, const QString& disk, const QString& imageFolder) {
  DriveLists drives;
  AddImageFile(drives, disk.toStdString());
  const auto show = [&](CWizardSheet& sheet, RecoveryMode mode) {
    sheet.move(frame.geometry().center() - QPoint(sheet.width() / 2, sheet.height() / 2));
    sheet.show();
    if (!QTest::qWaitForWindowExposed(&sheet)) std::fprintf(stderr, "the wizard did not show\n");
    if (mode != RecoveryMode::None)
      static_cast<CWizardMainPage*>(sheet.currentPage())->modeButton(mode)->click();
  };
  {
    CWizardSheet sheet(
        drives, [](const ProcessLogEntry&) {}, &frame);
    show(sheet, RecoveryMode::None);
    Shoot("wizard-mode", &sheet);
    static_cast<CWizardMainPage*>(sheet.currentPage())
        ->modeButton(RecoveryMode::DeletedFiles)
        ->click();
    Shoot("wizard-mode-chosen", &sheet);
    sheet.next();
    static_cast<CWizardDriveSelectionPage*>(sheet.currentPage())->SelectDrive(0);
    Shoot("wizard-drives", &sheet);
  }
  {
    CWizardSheet sheet(
        drives, [](const ProcessLogEntry&) {}, &frame);
    show(sheet, RecoveryMode::Advanced);
    sheet.next();
    auto* page = static_cast<CWizardDriveSelectionPage*>(sheet.currentPage());
    page->SelectDrive(0);
    Shoot("wizard-disks", &sheet);
    page->SearchForVolumes();
    page->volumeList()->setCurrentItem(page->volumeList()->topLevelItem(1));
    Shoot("wizard-found-volumes", &sheet);
  }
  {
    CWizardSheet sheet(
        drives, [](const ProcessLogEntry&) {}, &frame);
    show(sheet, RecoveryMode::Format);
    sheet.next();
    static_cast<CWizardDriveSelectionPage*>(sheet.currentPage())->SelectDrive(1);
    sheet.next();
    auto* types = static_cast<CWizardSignaturesPage*>(sheet.currentPage());
    types->filter()->setCurrentText("Graphics");
    types->selectAllButton()->click();
    Shoot("wizard-types", &sheet);
  }
  {
    CWizardSheet sheet(
        drives, [](const ProcessLogEntry&) {}, &frame);
    show(sheet, RecoveryMode::CreateImage);
    sheet.next();
    auto* page = static_cast<CWizardImagePage*>(sheet.currentPage());
    page->SelectDrive(0);
    page->SetDestination(imageFolder + "/QN_RSX_Image # Mon, 07-Dec-2026.qni");
    Shoot("wizard-image", &sheet);
  }
}

void Select(MainFrame& frame, const ItemNode* item) {
  ContentsModel& list = frame.views()->listModel();
  frame.views()->detailsView()->setCurrentIndex(list.indexOf(item));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setStyle("Fusion");
  QApplication::setOrganizationName(settings::kCompany);
  QApplication::setApplicationName(settings::kApplication);
  if (argc != 5) {
    std::fprintf(stderr, "usage: gui_screenshots OUT_DIR DEMO_VOLUME PICTURES_VOLUME DEMO_DISK\n");
    return 2;
  }
  out = argv[1];
  const QString demo = QString::fromLocal8Bit(argv[2]);
  const QString pictures = QString::fromLocal8Bit(argv[3]);
  const QString disk = QString::fromLocal8Bit(argv[4]);

  MainFrame frame;
  frame.setGeometry(20, 20, 1240, 780);
  frame.show();
  if (!QTest::qWaitForWindowExposed(&frame)) return 1;

  // The progress dialog of a scan, caught at 42%.
  QObject::connect(&frame.runner(), &TaskRunner::dialogOpened, &frame, [](ProgressDialog* dialog) {
    for (int i = 0; i < 75; ++i)
      dialog->Tick();
  });
  frame.runner().Run({ScanTaskText(ScanMode::DeletedFiles), demo}, [&](TaskSink& sink) {
    sink.TaskPhase(1, 1);
    for (int percent = 0; percent <= 42; ++percent)
      sink.ScanProgress(static_cast<std::uint64_t>(percent), 100);
    static_cast<TaskBridge&>(sink).Send([&] { Shoot("progress", frame.runner().dialog()); });
    sink.TaskFinished(TaskOutcome::None);
    return TaskReport{};
  });

  // The main window on the demo disk's NTFS volume, photos checked.
  frame.ProcessImageFile(demo);
  ItemNode* root = frame.tree().root();
  ItemNode* photos = Child(Child(root, "Photos"), "2026");
  Check(frame, photos);
  frame.views()->OpenFolder(root);
  frame.views()->listModel().setData(frame.views()->listModel().indexOf(Child(root, "todo.txt")),
                                     Qt::Checked, Qt::CheckStateRole);
  frame.action(MainFrame::Command::Details)->trigger();
  Select(frame, Child(root, "tiny-note.txt"));
  Shoot("main-window", &frame);

  // Find, with its options.
  {
    FindDialog find({u"*.jpg", false, FindQuery::Size::AtLeast, 8192}, &frame);
    find.optionsButton()->click();
    find.show();
    find.move(frame.geometry().center() - QPoint(find.width() / 2, find.height() / 2));
    Shoot("find", &frame);
  }

  // The preview of a deleted picture.
  frame.ProcessImageFile(pictures);
  ItemNode* corpus = Child(frame.tree().root(), "corpus");
  frame.views()->OpenFolder(corpus);
  QEventLoop shown;
  QObject::connect(frame.preview(), &PreviewDock::shown, &shown, &QEventLoop::quit);
  Select(frame, Child(corpus, "photo-exif.jpg"));
  shown.exec();
  Shoot("preview", &frame);

  ShootWizard(frame, disk, QFileInfo(demo).absolutePath());
  return 0;
}
