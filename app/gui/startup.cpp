#include "gui/startup.h"

#include <QCheckBox>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTimer>

#include "gui/main_frame.h"
#include "gui/qt_text.h"
#include "gui/settings.h"

namespace restorix {

namespace {

QString AccessHelp() {
  const QString program = QCoreApplication::applicationFilePath();
  return QString(
             "Restorix may not read the disks of this computer, and no disk service (udisks2) "
             "answers on the system bus.\n\n"
             "To recover files from a disk, start Restorix with administrator rights:\n"
             "    pkexec env DISPLAY=$DISPLAY XAUTHORITY=$XAUTHORITY %1\n"
             "or add your user to the disk group (sudo adduser $USER disk) and log in again.\n\n"
             "Image files and saved scans work without this.")
      .arg(program);
}

constexpr const char* kOfferUDisks =
    "Restorix may not read the disks of this computer directly.\n\n"
    "Open disks through the system's disk service (udisks2) instead? It asks you to allow "
    "it when a disk is opened, and only ever gives read access.\n\n"
    "Image files and saved scans work either way.";

}  // namespace

void CheckRawAccess(const StartupProbes& probes, QSettings& settings) {
  if (probes.rawAccess() != RawAccess::Refused) return;
  if (probes.udisks()) {
    if (settings.value(settings::kUseUDisks).toBool() ||
        QMessageBox::question(nullptr, "Confirm", kOfferUDisks, QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::Yes) == QMessageBox::Yes) {
      settings.setValue(settings::kUseUDisks, true);
      probes.useUDisks();
    }
    return;
  }
  if (settings.value(settings::kRawAccessQuiet).toBool()) return;
  QMessageBox box(QMessageBox::Information, "Information", AccessHelp(), QMessageBox::Ok);
  auto* quiet = new QCheckBox("Do not show this message again", &box);
  box.setCheckBox(quiet);
  box.exec();
  if (quiet->isChecked()) settings.setValue(settings::kRawAccessQuiet, true);
}

bool OfferDeviceAccess(QWidget* parent, const StartupProbes& probes) {
  QSettings settings;
  // Already opened through udisks2: the user said no to the prompt.
  if (settings.value(settings::kUseUDisks).toBool()) return false;
  if (!probes.udisks()) {
    QMessageBox::information(parent, "Information", AccessHelp());
    return false;
  }
  if (QMessageBox::question(parent, "Confirm", kOfferUDisks, QMessageBox::Yes | QMessageBox::No,
                            QMessageBox::Yes) != QMessageBox::Yes)
    return false;
  settings.setValue(settings::kUseUDisks, true);
  probes.useUDisks();
  return true;
}

QString InstanceLockPath() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  return folder + "/GlobalMutexQN-RSX";
}

std::unique_ptr<QLockFile> TakeInstanceLock() {
  auto lock = std::make_unique<QLockFile>(InstanceLockPath());
  lock->setStaleLockTime(0);  // only a lock whose process has ended is stale
  if (lock->tryLock(0)) return lock;
  QMessageBox::critical(
      nullptr, "Error",
      lock->error() == QLockFile::LockFailedError ? kAlreadyRunning : kLockFailed);
  return nullptr;
}

std::optional<Started> StartUp(const QStringList& arguments, const StartupProbes& probes) {
  QCoreApplication::setOrganizationName(settings::kCompany);
  QCoreApplication::setApplicationName(settings::kApplication);
  QCommandLineParser parser;
  parser.setApplicationDescription("Quillon Restorix: recover deleted and lost files");
  parser.addHelpOption();
  parser.addOption({"no-tip", "Do not show the tip of the day."});
  parser.addOption({"drive",
                    "List the disk or volume image FILE among the wizard's drives (repeatable).",
                    "FILE"});
  parser.addPositionalArgument("file", "A scan-information file (.qns) or an image file (.qni)",
                               "[FILE]");
  parser.parse(arguments);
  if (parser.isSet("help")) parser.showHelp(0);  // prints the usage and ends the program
  QSettings settings;
  CheckRawAccess(probes, settings);
  Started started;
  started.lock = TakeInstanceLock();
  if (!started.lock) return std::nullopt;

  started.frame = std::make_unique<MainFrame>();
  MainFrame* frame = started.frame.get();
  frame->show();
  const QStringList images = parser.values("drive");
  if (!images.isEmpty()) {
    frame->SetDriveLister([images] {
      DriveLists lists = EnumerateDrives();
      for (const QString& image : images)
        AddImageFile(lists, PathFromQString(QFileInfo(image).absoluteFilePath()));
      return lists;
    });
  }
  // What follows waits for the window to be on screen, in this order.
  const QStringList files = parser.positionalArguments();
  if (!files.isEmpty()) {
    const QString file = files.front();
    QTimer::singleShot(0, frame, [frame, file] { frame->OpenFromCommandLine(file); });
  }
  if (!parser.isSet("no-tip")) frame->PrepareTipOfTheDay();
  if (settings.value(settings::kWizardStartUp, 0).toInt() != 0)
    QTimer::singleShot(0, frame, [frame] { frame->RunWizard(); });
  return started;
}

}  // namespace restorix
