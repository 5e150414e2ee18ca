// Start-up: the check that disks can be read, the second instance, the
// settings, the tip of the day and a file named on the command line.
#include "gui/startup.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFile>
#include <QLockFile>
#include <QSettings>
#include <QTest>
#include <QTreeView>
#include <fstream>

#include "catalogue/scan_info.h"
#include "gui/item_views.h"
#include "gui/main_frame.h"
#include "gui/settings.h"
#include "gui/tip_dialog.h"
#include "gui_test.h"

namespace restorix {
namespace {

struct Probes {
  RawAccess access = RawAccess::Granted;
  bool udisks = false;
  int usedUDisks = 0;
  StartupProbes get() {
    return {[this] { return access; }, [this] { return udisks; }, [this] { ++usedUDisks; }};
  }
};

class StartupTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void init() {
    QSettings().clear();
    QFile::remove(TipsFilePath());
  }

  void theDiskProbeTriesDisksOnly() {
    test::TempDir folder;
    const auto sys = folder.path() / "sys", dev = folder.path() / "dev";
    const auto device = [&](const char* name, const char* sectors, bool node) {
      std::filesystem::create_directories(sys / name);
      std::ofstream(sys / name / "size") << sectors;
      if (node) std::ofstream(dev / name) << "";
    };
    std::filesystem::create_directories(dev);
    device("sr0", "2048", true);    // an optical drive
    device("loop0", "0", true);     // an unused loop device
    device("zram0", "8192", true);  // swap in memory
    device("vdb", "8192", false);   // a disk whose node is missing
    QCOMPARE(ProbeRawAccess(sys, dev), RawAccess::NoDevices);
    device("vdb", "8192", true);
    QCOMPARE(ProbeRawAccess(sys, dev), RawAccess::Granted);
  }

  void aSecondInstanceIsTurnedAway() {
    QLockFile running(InstanceLockPath());
    QVERIFY(running.tryLock(0));
    Probes probes;
    test::ModalDriver driver;
    driver.Answer(QMessageBox::Ok);
    QVERIFY(!StartUp({"restorix-gui", "--no-tip"}, probes.get()));
    QCOMPARE(driver.texts(), QStringList{"Quillon Restorix already running.\n"
                                         "Please close the running instance first."});
    running.unlock();
    auto started = StartUp({"restorix-gui", "--no-tip"}, probes.get());
    QVERIFY(started);
    QCOMPARE(started->frame->windowTitle(), QString("Quillon Restorix"));
  }

  void refusedDisksWithUDisksOfferIt() {
    Probes probes;
    probes.access = RawAccess::Refused;
    probes.udisks = true;
    test::ModalDriver driver;
    driver.Answer(QMessageBox::Yes);
    {
      auto started = StartUp({"restorix-gui", "--no-tip"}, probes.get());
      QVERIFY(started);
    }
    QCOMPARE(driver.texts().size(), 1);
    QVERIFY(driver.texts().front().contains("udisks2"));
    QCOMPARE(probes.usedUDisks, 1);
    // A yes is remembered: the next start asks nothing.
    QVERIFY(StartUp({"restorix-gui", "--no-tip"}, probes.get()));
    QCOMPARE(driver.texts().size(), 1);
    QCOMPARE(probes.usedUDisks, 2);
  }

  void refusedDisksWithoutUDisksNameTheFix() {
    Probes probes;
    probes.access = RawAccess::Refused;
    test::ModalDriver driver;
    driver.On("QMessageBox", [](QWidget* widget) {
      auto* box = static_cast<QMessageBox*>(widget);
      box->checkBox()->setChecked(true);  // do not show it again
      box->button(QMessageBox::Ok)->click();
    });
    QVERIFY(StartUp({"restorix-gui", "--no-tip"}, probes.get()));
    QCOMPARE(driver.texts().size(), 1);
    QVERIFY(driver.texts().front().contains("pkexec"));
    QVERIFY(driver.texts().front().contains("disk group"));
    QVERIFY(driver.texts().front().contains("Image files and saved scans work"));
    QCOMPARE(probes.usedUDisks, 0);
    QVERIFY(StartUp({"restorix-gui", "--no-tip"}, probes.get()));
    QCOMPARE(driver.texts().size(), 1);
  }

  void readableDisksAskNothing() {
    Probes probes;
    test::ModalDriver driver;
    auto started = StartUp({"restorix-gui", "--no-tip"}, probes.get());
    QVERIFY(started);
    QTest::qWait(50);
    QVERIFY(driver.texts().isEmpty());
  }

  // A device the wizard may not open: udisks2 is offered once, a yes is
  // remembered; without udisks2 the user is told how to get access.
  void aRefusedDeviceOffersTheOtherWayIn() {
    Probes probes;
    probes.udisks = true;
    test::ModalDriver driver;
    driver.Answer(QMessageBox::No);
    QVERIFY(!OfferDeviceAccess(nullptr, probes.get()));
    driver.Answer(QMessageBox::Yes);
    QVERIFY(OfferDeviceAccess(nullptr, probes.get()));
    QCOMPARE(probes.usedUDisks, 1);
    QVERIFY(QSettings().value(settings::kUseUDisks).toBool());
    // Already opened through udisks2: a second refusal is the user's answer.
    QVERIFY(!OfferDeviceAccess(nullptr, probes.get()));
    QCOMPARE(driver.texts().size(), 2);

    QSettings().clear();
    probes.udisks = false;
    driver.Answer(QMessageBox::Ok);
    QVERIFY(!OfferDeviceAccess(nullptr, probes.get()));
    QVERIFY(driver.texts().last().contains("pkexec"));
    QCOMPARE(probes.usedUDisks, 1);
  }

  void theWizardOpensWhenTheSettingAsks() {
    Probes probes;
    test::ModalDriver driver;
    {
      auto started = StartUp({"restorix-gui", "--no-tip"}, probes.get());
      QTest::qWait(50);
      QVERIFY(driver.texts().isEmpty());  // no setting: no wizard
    }
    QSettings().setValue(settings::kWizardStartUp, 1);
    bool shown = false;
    driver.On("restorix::CWizardSheet", [&shown](QWidget* sheet) {
      shown = true;
      static_cast<QDialog*>(sheet)->done(QDialog::Rejected);
    });
    auto started = StartUp({"restorix-gui", "--no-tip"}, probes.get());
    QTRY_VERIFY(shown);
    QVERIFY(driver.texts().isEmpty());
  }

  void theTipShowsFromTheSecondStartOn() {
    Probes probes;
    test::ModalDriver driver;
    {
      auto started = StartUp({"restorix-gui"}, probes.get());
      QTest::qWait(50);
    }
    QFile tips(TipsFilePath());
    QVERIFY(tips.open(QIODevice::ReadOnly));
    QCOMPARE(tips.readAll(), QByteArray("Press Ctrl + W to run wizard.\n"));
    QString tip;
    driver.On("restorix::TipDialog", [&tip](QWidget* widget) {
      tip = static_cast<TipDialog*>(widget)->tip();
      static_cast<QDialog*>(widget)->accept();
    });
    auto started = StartUp({"restorix-gui"}, probes.get());
    QTRY_VERIFY(driver.done());
    QCOMPARE(tip, QString("Press Ctrl + W to run wizard."));
  }

  void theWindowKeepsItsPlace() {
    Probes probes;
    QRect placed;
    {
      auto started = StartUp({"restorix-gui", "--no-tip"}, probes.get());
      started->frame->setGeometry(40, 50, 700, 500);
      started->frame->action(MainFrame::Command::IconsLarge)->trigger();
      placed = started->frame->geometry();
      QVERIFY(started->frame->close());
    }
    auto started = StartUp({"restorix-gui", "--no-tip"}, probes.get());
    QCOMPARE(started->frame->geometry().size(), placed.size());
    QVERIFY(started->frame->action(MainFrame::Command::IconsLarge)->isChecked());
  }

  void aScanNamedOnTheCommandLineOpens() {
    test::TempDir folder;
    ItemTree tree;
    test::Build(tree, "Docs(a.txt) b.txt");
    const auto file = folder.path() / "saved.qns";
    QVERIFY(SaveScanInfo(file, u"/nowhere/volume.qni", {}, tree));
    Probes probes;
    test::ModalDriver driver;
    driver.Answer(QMessageBox::No);  // the source is gone: do not look for it
    auto started =
        StartUp({"restorix-gui", "--no-tip", QString::fromStdString(file.string())}, probes.get());
    QTRY_VERIFY(started->frame->views()->root() != nullptr);
    QVERIFY(driver.texts().front().contains("/nowhere/volume.qni cannot be opened"));
    QCOMPARE(started->frame->totalsText(), QString("Total   0.293 KB in 2 Files in 2 Folders"));
  }
};

RESTORIX_GUI_TEST(StartupTest);

}  // namespace
}  // namespace restorix

#include "startup_test.moc"
