// Takes the pictures of the desktop program that docs/ and the README show:
// the main window on a scanned volume, the progress dialog, Find and the
// preview. Run under an X server (scripts/screenshots.sh uses Xvfb):
//   gui_screenshots OUT_DIR DEMO_VOLUME.qni PICTURES_VOLUME.qni
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <thread>

#include "catalogue/item_tree.h"
#include "gui/find_dialog.h"
#include "gui/item_views.h"
#include "gui/main_frame.h"
#include "gui/preview.h"
#include "gui/settings.h"
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
  if (argc != 4) {
    std::fprintf(stderr, "usage: gui_screenshots OUT_DIR DEMO_VOLUME PICTURES_VOLUME\n");
    return 2;
  }
  out = argv[1];
  const QString demo = QString::fromLocal8Bit(argv[2]);
  const QString pictures = QString::fromLocal8Bit(argv[3]);

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
  return 0;
}
