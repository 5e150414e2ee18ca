// The wizard: each page's enable rules and messages, and the four modes
// driven from the mode page to the finished task, with image files of the
// demo disk standing in for the machine's drives.
#include "gui/wizard.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTreeWidget>
#include <fstream>

#include "gui/folder_tree_model.h"
#include "gui/item_views.h"
#include "gui/main_frame.h"
#include "gui/process_log_pane.h"
#include "gui/qt_text.h"
#include "gui/web_pages.h"
#include "gui_test.h"
#include "tasks/image_space.h"
#include "tasks/messages.h"
#include "util/text.h"

namespace restorix {
namespace {

constexpr const char* kCorrupted =
    "Failed to open drive.\nCritical disk structures corrupted\nPlease use Advanced File "
    "Recovery.";
constexpr const char* kSeverelyCorrupted =
    "Drive is severely corrupted, unable\nto process drive. Please contact support.";

// The demo disk: its FAT32 partition 1, its NTFS partition 2, and the disk.
DriveLists DemoDrives() {
  DriveLists lists;
  AddImageFile(lists, test::Fixture("demo-disk.img"));
  return lists;
}

// The bytes of one partition of the demo disk.
std::string PartitionBytes(int partition) {
  const std::uint64_t start = partition == 1 ? 2048 : 83968;
  const std::uint64_t sectors = partition == 1 ? 81920 : 57344;
  std::ifstream disk(test::Fixture("demo-disk.img"), std::ios::binary);
  disk.seekg(static_cast<std::streamoff>(start * 512));
  std::string bytes(sectors * 512, '\0');
  disk.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

QStringList LogRows(MainFrame& frame) {
  QStringList rows;
  const ProcessLogModel& model = frame.logPane()->model();
  for (int row = 0; row < model.rowCount(); ++row)
    rows << model.index(row, 0).data().toString() + " | " + model.index(row, 1).data().toString();
  return rows;
}

// The recovered files below `folder` by their path there.
QStringList Files(const QString& folder) {
  QStringList files;
  QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext())
    files << it.next().mid(folder.size());
  files.sort();
  return files;
}

QString Sha256(const QString& path) {
  QFile file(path);
  file.open(QIODevice::ReadOnly);
  return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}

void CheckEverything(MainFrame& frame) {
  FolderTreeModel& tree = frame.views()->treeModel();
  const QModelIndex root = tree.indexOf(frame.tree().root());
  tree.setData(root, Qt::Checked, Qt::CheckStateRole);
  if (root.data(Qt::CheckStateRole).toInt() != Qt::Checked)
    tree.setData(root, Qt::Checked, Qt::CheckStateRole);
}

SignatureRecord Type(const char* name, const char* ext, const char* category) {
  SignatureRecord record;
  record.SetName(name);
  record.SetExtension(ext);
  record.SetCategory(category);
  return record;
}

QAbstractButton* Button(QWizard& sheet, QWizard::WizardButton which) {
  return sheet.button(which);
}

// A sheet on its mode page with a mode chosen.
void Choose(CWizardSheet& sheet, RecoveryMode mode) {
  sheet.show();
  static_cast<CWizardMainPage*>(sheet.page(CWizardSheet::MainPage))->modeButton(mode)->click();
}

// Ticks the drive item at `index` under "My Computer", as a click on its box does.
void Tick(QTreeWidget* tree, int index) {
  tree->topLevelItem(0)->child(index)->setCheckState(0, Qt::Checked);
}

ItemNode* Child(ItemNode* folder, const char16_t* name) {
  for (ItemNode* child = folder ? folder->firstChild : nullptr; child; child = child->next)
    if (child->name == name) return child;
  return nullptr;
}

class WizardTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void init() { QSettings().clear(); }

  void modePageEnablesNextOnceAModeIsChosen() {
    CWizardSheet sheet(DemoDrives(), [](const ProcessLogEntry&) {});
    sheet.show();
    auto* page = static_cast<CWizardMainPage*>(sheet.currentPage());
    QCOMPARE(sheet.currentId(), int(CWizardSheet::MainPage));
    QVERIFY(!Button(sheet, QWizard::NextButton)->isEnabled());
    QCOMPARE(page->helpList()->lines().front(), QString("HDRPlease select appropriate option "));
    QCOMPARE(page->modeButton(RecoveryMode::Advanced)->text(), QString("Advanced File Recovery"));

    page->modeButton(RecoveryMode::Format)->click();
    QVERIFY(Button(sheet, QWizard::NextButton)->isEnabled());
    QCOMPARE(page->captionLine()->text(), QString("Format Recovery"));
    QCOMPARE(page->helpList()->lines().front(), QString("HDRFormat Recovery"));
    page->modeButton(RecoveryMode::CreateImage)->click();
    QVERIFY(!page->modeButton(RecoveryMode::Format)->isChecked());
    QCOMPARE(page->helpList()->lines().front(), QString("HDRCreate disk Image"));

    // Create Image skips the drive page, and Back returns to the mode page.
    sheet.next();
    QCOMPARE(sheet.currentId(), int(CWizardSheet::ImagePage));
    sheet.back();
    QCOMPARE(sheet.currentId(), int(CWizardSheet::MainPage));
    page->modeButton(RecoveryMode::DeletedFiles)->click();
    sheet.next();
    QCOMPARE(sheet.currentId(), int(CWizardSheet::DriveSelectionPage));
    // The Help button's page is installed beside the program.
    QVERIFY(QFile::exists(HelpUrl("wizard.htm").toLocalFile()));
  }

  void startupSettingIsStoredOnCancel() {
    QSettings().setValue("Wizard/StartUp", 0);
    CWizardSheet sheet(DemoDrives(), [](const ProcessLogEntry&) {});
    sheet.show();
    auto* page = static_cast<CWizardMainPage*>(sheet.currentPage());
    QVERIFY(!page->startupBox()->isChecked());
    page->startupBox()->click();
    test::ModalDriver driver;
    driver.Answer(QMessageBox::No);
    sheet.reject();
    QVERIFY(sheet.isVisible());
    driver.Answer(QMessageBox::Yes);
    sheet.reject();
    QVERIFY(!sheet.isVisible());
    QCOMPARE(driver.texts(),
             (QStringList{"Do you want to close wizard?", "Do you want to close wizard?"}));
    QCOMPARE(QSettings().value("Wizard/StartUp").toInt(), 1);
  }

  void drivePageMarksOneDrive() {
    std::vector<ProcessLogEntry> rows;
    CWizardSheet sheet(DemoDrives(), [&](const ProcessLogEntry& row) { rows.push_back(row); });
    Choose(sheet, RecoveryMode::DeletedFiles);
    sheet.next();
    auto* page = static_cast<CWizardDriveSelectionPage*>(sheet.currentPage());
    QTreeWidget* tree = page->tree();
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("My Computer"));
    QCOMPARE(tree->topLevelItem(0)->childCount(), 2);
    QCOMPARE(page->statusLine()->text(), QString("Please select logical drive to process"));
    QVERIFY(!Button(sheet, QWizard::FinishButton)->isEnabled());
    // No drive: Finish opens nothing.
    QVERIFY(!page->validatePage());
    QVERIFY(rows.empty());

    Tick(tree, 1);
    Tick(tree, 0);
    QCOMPARE(tree->topLevelItem(0)->child(0)->checkState(0), Qt::Checked);
    QCOMPARE(tree->topLevelItem(0)->child(1)->checkState(0), Qt::Unchecked);
    const QString name = QString::fromStdString(sheet.drives().logicalDisks[0].displayName);
    QCOMPARE(page->statusLine()->text(), "Selected " + name);
    QVERIFY(page->infoList()->lines().contains("File System: FAT32"));
    QVERIFY(page->infoList()->lines().contains("HDRFast File Recovery"));
    QVERIFY(Button(sheet, QWizard::FinishButton)->isEnabled());
    // Choosing "My Computer" leaves no drive marked.
    tree->setCurrentItem(tree->topLevelItem(0));
    QCOMPARE(tree->topLevelItem(0)->child(0)->checkState(0), Qt::Unchecked);
    QVERIFY(!Button(sheet, QWizard::FinishButton)->isEnabled());

    page->SelectDrive(0);
    QVERIFY(page->validatePage());
    QCOMPARE(rows.size(), std::size_t{1});
    QCOMPARE(rows[0].processName, "Selected " + name.toStdString());
    QCOMPARE(rows[0].description, std::string("Processing Mode: Deleted File Recovery"));
    QVERIFY(sheet.result().volume != nullptr);
  }

  void failedOpensStayOnThePage_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("message");
    QTest::newRow("deleted files") << int(RecoveryMode::DeletedFiles) << QString(kCorrupted);
    QTest::newRow("format") << int(RecoveryMode::Format) << QString(kCorrupted);
    QTest::newRow("advanced") << int(RecoveryMode::Advanced) << QString(kSeverelyCorrupted);
  }

  void failedOpensStayOnThePage() {
    QFETCH(int, mode);
    QFETCH(QString, message);
    test::TempDir folder;
    // Blank: no volume to recognise. Gone: not there to open as a disk.
    const auto blank = folder.path() / "blank.img";
    std::ofstream(blank, std::ios::binary) << std::string(1 << 20, '\0');
    DriveLists lists;
    AddImageFile(lists, blank);
    lists.physicalDisks[0].devicePath = (folder.path() / "gone.img").string();
    std::vector<ProcessLogEntry> rows;
    CWizardSheet sheet(lists, [&](const ProcessLogEntry& row) { rows.push_back(row); });
    Choose(sheet, static_cast<RecoveryMode>(mode));
    sheet.next();
    auto* page = static_cast<CWizardDriveSelectionPage*>(sheet.currentPage());
    page->SelectDrive(0);
    test::ModalDriver driver;
    driver.Answer(QMessageBox::Ok);
    QVERIFY(!page->validatePage());
    QCOMPARE(driver.texts(), QStringList{message});
    QCOMPARE(sheet.currentId(), int(CWizardSheet::DriveSelectionPage));
    QVERIFY(!page->isComplete());
    QVERIFY(sheet.result().volume == nullptr);
    QVERIFY(rows.empty());
    // Choosing again is allowed.
    page->SelectDrive(-1);
    page->SelectDrive(0);
    QVERIFY(page->isComplete());
  }

  void missingSignatureFileStaysOnThePage() {
    test::TempDir empty;
    std::vector<ProcessLogEntry> rows;
    CWizardSheet sheet(DemoDrives(), [&](const ProcessLogEntry& row) { rows.push_back(row); });
    sheet.SetSignatureFolder(empty.path());
    Choose(sheet, RecoveryMode::Format);
    sheet.next();
    auto* page = static_cast<CWizardDriveSelectionPage*>(sheet.currentPage());
    page->SelectDrive(1);
    QVERIFY(Button(sheet, QWizard::NextButton)->isEnabled());
    test::ModalDriver driver;
    driver.Answer(QMessageBox::Ok);
    QVERIFY(!page->validatePage());
    QCOMPARE(driver.texts(), QStringList{kSignaturesMissing});
    QVERIFY(rows.empty());
  }

  void backFromTheFileTypesChoosesTheDriveAfresh() {
    CWizardSheet sheet(DemoDrives(), [](const ProcessLogEntry&) {});
    Choose(sheet, RecoveryMode::Format);
    sheet.next();
    auto* page = static_cast<CWizardDriveSelectionPage*>(sheet.currentPage());
    Tick(page->tree(), 1);
    sheet.next();
    QCOMPARE(sheet.currentId(), int(CWizardSheet::SignaturesPage));
    QVERIFY(sheet.result().volume != nullptr);
    QVERIFY(!sheet.typeList().empty());
    sheet.back();
    QCOMPARE(sheet.currentId(), int(CWizardSheet::DriveSelectionPage));
    QCOMPARE(page->tree()->topLevelItem(0)->child(1)->checkState(0), Qt::Unchecked);
    QCOMPARE(page->statusLine()->text(), QString("Please select logical drive to process"));
    QVERIFY(!Button(sheet, QWizard::NextButton)->isEnabled());
    QVERIFY(sheet.result().volume == nullptr);
  }

  // A disk whose table and NTFS boot sector were zeroed: the search lists
  // both volumes as lost, and the one chosen opens as a volume from its
  // backup boot sector, not as the disk.
  void foundVolumesAreScannedAsVolumes() {
    test::TempDir folder;
    const auto image = folder.path() / "lost.img";
    std::filesystem::copy_file(test::Fixture("demo-disk.img"), image);
    for (const std::uint64_t sector : {0, 83968}) {
      std::fstream file(image, std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(static_cast<std::streamoff>(sector * 512));
      file.write(std::string(512, '\0').data(), 512);
    }
    DriveLists lists;
    AddImageFile(lists, image);
    QCOMPARE(lists.physicalDisks.size(), std::size_t{1});
    CWizardSheet sheet(lists, [](const ProcessLogEntry&) {});
    Choose(sheet, RecoveryMode::Advanced);
    sheet.next();
    auto* page = static_cast<CWizardDriveSelectionPage*>(sheet.currentPage());
    QVERIFY(page->volumesBox()->isVisibleTo(page));
    QVERIFY(!page->searchButton()->isEnabled());
    Tick(page->tree(), 0);
    page->searchButton()->click();
    QTreeWidget* found = page->volumeList();
    QStringList rows;
    for (int row = 0; row < found->topLevelItemCount(); ++row) {
      const QTreeWidgetItem* item = found->topLevelItem(row);
      rows << QStringList{item->text(0), item->text(1), item->text(2), item->text(3), item->text(4)}
                  .join(" | ");
    }
    QCOMPARE(rows, (QStringList{"2048 | 40.00 MB | FAT32 | DEMOFAT32 | Not listed (lost)",
                                "83968 | 28.00 MB | NTFS | DEMONTFS | Not listed (lost)"}));
    found->setCurrentItem(found->topLevelItem(1));
    sheet.next();
    QCOMPARE(sheet.currentId(), int(CWizardSheet::SignaturesPage));
    QCOMPARE(sheet.result().volume->context(),
             Volume::Open(SourceKind::LogicalDrive, test::Fixture("demo-disk.img"), 2)
                 .volume->context());
    QCOMPARE(sheet.logEntry().processName,
             "Selected " + lists.physicalDisks[0].displayName + " (offset 83968)");
    // Choosing the drive afresh forgets what was found.
    sheet.back();
    QCOMPARE(found->topLevelItemCount(), 0);
  }

  void spaceAvailableTexts_data() {
    QTest::addColumn<qulonglong>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0ULL << "Space Available :   0.000 KB";
    QTest::newRow("1 MiB - 1") << 1048575ULL << "Space Available : 1023.999 KB";
    QTest::newRow("1 MiB") << 1048576ULL << "Space Available :   1.000 MB";
    QTest::newRow("1 GiB - 1") << 1073741823ULL << "Space Available : 1024.000 MB";
    QTest::newRow("1 GiB") << 1073741824ULL << "Space Available :   1.000 GB";
  }

  void spaceAvailableTexts() {
    QFETCH(qulonglong, bytes);
    QFETCH(QString, text);
    QCOMPARE(SpaceAvailableText(bytes), text);
  }

  void imagePageChecksSpaceAndSource() {
    test::TempDir folder;
    DriveLists lists = DemoDrives();
    // A drive larger than any disk here has room for.
    lists.logicalDisks[1].bytes = std::uint64_t{1} << 60;
    CWizardSheet sheet(lists, [](const ProcessLogEntry&) {});
    QString proposed;
    const QString target = QStringFromPath(folder.path() / "fat.qni");
    sheet.SetPathChooser([&](QWidget*, const QString& name) {
      proposed = name;
      return target;
    });
    Choose(sheet, RecoveryMode::CreateImage);
    sheet.next();
    auto* page = static_cast<CWizardImagePage*>(sheet.currentPage());
    QVERIFY(!page->destinationButton()->isEnabled());
    QCOMPARE(page->statusLine()->text(), QString("Please select logical drive to process"));
    QVERIFY(!Button(sheet, QWizard::FinishButton)->isEnabled());

    test::ModalDriver driver;
    page->SelectDrive(1);
    QVERIFY(page->infoList()->lines().contains("HDRSteps to proceed. "));
    driver.Answer(QMessageBox::Ok);
    page->destinationButton()->click();
    QVERIFY(proposed.startsWith("QN_RSX_Image # "));
    QCOMPARE(driver.texts(), QStringList{kInsufficientSpace});
    QCOMPARE(page->pathLine()->text(), QString("File Path :"));
    QVERIFY(!Button(sheet, QWizard::FinishButton)->isEnabled());

    // The demo disk's FAT32 volume fits.
    page->SelectDrive(0);
    page->destinationButton()->click();
    QCOMPARE(page->pathLine()->text(), "File Path :" + target);
    QVERIFY(page->spaceLine()->text().startsWith("Space Available : "));
    QVERIFY(Button(sheet, QWizard::FinishButton)->isEnabled());
    // Another drive: the space is weighed again.
    page->SelectDrive(1);
    QCOMPARE(page->pathLine()->text(), QString("File Path :"));

    // An image placed on the drive it copies is refused.
    page->SelectDrive(0);
    QVERIFY(page->SetDestination(QStringFromPath(test::Fixture("demo-disk.img"))));
    driver.Answer(QMessageBox::Ok);
    QVERIFY(!page->validatePage());
    QVERIFY(driver.texts().last().contains("lies on the drive it would copy"));
    QVERIFY(sheet.result().volume == nullptr);
  }

  void signaturesPageFiltersAndSizes() {
    CWizardSheet sheet(DemoDrives(), [](const ProcessLogEntry&) {});
    auto* page = static_cast<CWizardSignaturesPage*>(sheet.page(CWizardSheet::SignaturesPage));
    sheet.typeList() = {Type("JPEG", "jpg", "Graphics Raw"), Type("PNG", "png", "Graphics"),
                        Type("Word", "doc", "Document"), Type("GIF", "gif", "graphics raw")};
    sheet.typeList()[2].selected = 1;
    page->initializePage();
    // "Graphics" begins "Graphics Raw" and is not listed again; "All" comes last.
    QStringList filters;
    for (int i = 0; i < page->filter()->count(); ++i)
      filters << page->filter()->itemText(i);
    QCOMPARE(filters, (QStringList{"Graphics Raw", "Document", "All"}));
    QCOMPARE(page->filter()->currentText(), QString("All"));
    QCOMPARE(page->list()->topLevelItemCount(), 4);
    QCOMPARE(page->list()->topLevelItem(2)->checkState(0), Qt::Checked);
    // Entering the page leaves Finish off, whatever is ticked.
    QVERIFY(!page->isComplete());

    page->filter()->setCurrentText("Graphics Raw");
    QCOMPARE(page->list()->topLevelItemCount(), 1);
    page->selectAllButton()->click();
    QCOMPARE(sheet.typeList()[0].selected, 1);
    QCOMPARE(sheet.typeList()[1].selected, 0);
    QCOMPARE(sheet.typeList()[2].selected, 1);
    QCOMPARE(sheet.typeList()[3].selected, 0);
    QVERIFY(page->isComplete());
    page->filter()->setCurrentText("Document");
    page->deselectAllButton()->click();
    QCOMPARE(sheet.typeList()[2].selected, 0);
    QVERIFY(page->isComplete());  // JPEG is still ticked
    page->filter()->setCurrentText("Graphics Raw");
    page->list()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    QCOMPARE(sheet.typeList()[0].selected, 0);
    QVERIFY(!page->isComplete());
    page->list()->topLevelItem(0)->setCheckState(0, Qt::Checked);
    QVERIFY(page->isComplete());
  }

  void signaturesPageSizeLimits_data() {
    QTest::addColumn<int>("unit");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<qlonglong>("stored");  // -1: refused with the message
    QTest::newRow("1 KB") << 0 << "1"
                          << "1" << 1024LL;
    QTest::newRow("0 KB") << 0 << "0"
                          << "0" << -1LL;
    QTest::newRow("4194304 KB") << 0 << "4194304"
                                << "4194304" << 4294967295LL;
    QTest::newRow("4194305 KB") << 0 << "4194305"
                                << "4194305" << -1LL;
    QTest::newRow("8 digits of KB") << 0 << "12345678"
                                    << "1234567" << 1264196608LL;
    QTest::newRow("4096 MB") << 1 << "4096"
                             << "4096" << 4294967295LL;
    QTest::newRow("4097 MB") << 1 << "4097"
                             << "4097" << -1LL;
    QTest::newRow("4 GB") << 2 << "4"
                          << "4" << 4294967295LL;
    QTest::newRow("5 GB") << 2 << "5"
                          << "5" << -1LL;
    QTest::newRow("two digits of GB") << 2 << "12"
                                      << "1" << 1073741824LL;
  }

  void signaturesPageSizeLimits() {
    QFETCH(int, unit);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(qlonglong, stored);
    std::vector<ProcessLogEntry> rows;
    CWizardSheet sheet(DemoDrives(), [&](const ProcessLogEntry& row) { rows.push_back(row); });
    auto* page = static_cast<CWizardSignaturesPage*>(sheet.page(CWizardSheet::SignaturesPage));
    sheet.typeList() = {Type("JPEG", "jpg", "Graphics"), Type("PNG", "png", "Graphics")};
    page->initializePage();
    page->show();
    page->selectAllButton()->click();
    page->unit()->setCurrentIndex(unit);
    QCOMPARE(page->sizeEdit()->text(), QString("1"));
    test::ModalDriver driver;
    if (stored < 0) driver.Answer(QMessageBox::Ok);
    page->sizeEdit()->selectAll();
    QTest::keyClicks(page->sizeEdit(), typed);
    QCOMPARE(page->sizeEdit()->text(), shown);
    QCOMPARE(page->isComplete(), stored >= 0);
    if (stored < 0) {
      QCOMPARE(driver.texts(), QStringList{kSizeRangeMessage});
      QVERIFY(!page->validatePage());
      return;
    }
    QVERIFY(driver.texts().isEmpty());
    QVERIFY(page->validatePage());
    QCOMPARE(sheet.result().assumedSize, static_cast<std::uint32_t>(stored));
    QCOMPARE(sheet.result().types.size(), std::size_t{2});
    QCOMPARE(sheet.result().types[0].ext(), std::string_view("jpg"));
    QCOMPARE(rows.back().description, std::string("2 file type(s) to search"));
  }

  // The four modes from the mode page to the finished task.
  void deletedFileRecoveryEndToEnd() {
    test::TempDir folder;
    MainFrame frame;
    frame.SetDriveLister(DemoDrives);
    frame.show();
    test::ModalDriver driver;
    driver.On("restorix::CWizardSheet", [](QWidget* widget) {
      auto& sheet = *static_cast<CWizardSheet*>(widget);
      Choose(sheet, RecoveryMode::DeletedFiles);
      sheet.next();
      Tick(static_cast<CWizardDriveSelectionPage*>(sheet.currentPage())->tree(), 0);
      Button(sheet, QWizard::FinishButton)->click();
    });
    frame.RunWizard();
    QVERIFY(driver.done());
    const QString name = QString::fromStdString(DemoDrives().logicalDisks[0].displayName);
    QCOMPARE(LogRows(frame),
             (QStringList{"Selected " + name + " | Processing Mode: Deleted File Recovery",
                          "Processing directory structure for " + name +
                              " | Processing Mode: Deleted File Recovery",
                          "Completed Processing directory structure for " + name +
                              " | Processing Mode: Deleted File Recovery"}));
    QVERIFY(frame.scanUnsaved());
    ItemNode* photos = Child(Child(frame.tree().root(), u"Photos"), u"2026");
    QVERIFY(Child(photos, u"holiday-01.jpg") != nullptr);

    CheckEverything(frame);
    driver.Answer(QMessageBox::Ok);
    const QString out = QStringFromPath(folder.path());
    frame.SaveFiles(out);
    QCOMPARE(driver.texts(), QStringList{"Saving of data completed."});
    QCOMPARE(Sha256(out + "/#/Photos/2026/holiday-01.jpg"),
             QString("d9472eed1438f3f5cddefc2f925865f0ffd819352096af5afe55cf4b60b7e3d9"));
  }

  // The carving volume holds real pictures (the demo disk's are random bytes
  // behind a JPEG header, which no detector confirms); as a disk it stands
  // in for a whole drive.
  void signatureSearchesEndToEnd_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("processingMode");
    QTest::newRow("format recovery")
        << int(RecoveryMode::Format) << "Processing Mode: Format Recovery";
    QTest::newRow("advanced file recovery")
        << int(RecoveryMode::Advanced) << "Processing Mode: Advanced File Recovery";
  }

  void signatureSearchesEndToEnd() {
    QFETCH(int, mode);
    QFETCH(QString, processingMode);
    test::TempDir folder;
    const auto drives = [] {
      DriveLists lists;
      AddImageFile(lists, test::Fixture("ntfs-carving.img"));
      return lists;
    };
    MainFrame frame;
    frame.SetDriveLister(drives);
    frame.show();
    test::ModalDriver driver;
    int ticked = 0;
    driver.On("restorix::CWizardSheet", [mode, &ticked](QWidget* widget) {
      auto& sheet = *static_cast<CWizardSheet*>(widget);
      Choose(sheet, static_cast<RecoveryMode>(mode));
      sheet.next();
      Tick(static_cast<CWizardDriveSelectionPage*>(sheet.currentPage())->tree(), 0);
      sheet.next();
      auto* types = static_cast<CWizardSignaturesPage*>(sheet.currentPage());
      types->filter()->setCurrentText("Graphics");
      for (int row = 0; row < types->list()->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = types->list()->topLevelItem(row);
        if (item->text(1) != "jpg") continue;
        item->setCheckState(0, Qt::Checked);
        ++ticked;
      }
      Button(sheet, QWizard::FinishButton)->click();
    });
    frame.RunWizard();
    QVERIFY(driver.done());
    QVERIFY(ticked >= 1);
    const DriveLists lists = drives();
    const QString name = QString::fromStdString(mode == int(RecoveryMode::Advanced)
                                                    ? lists.physicalDisks[0].displayName
                                                    : lists.logicalDisks[0].displayName);
    const QStringList rows = LogRows(frame);
    QCOMPARE(rows.mid(0, 2), (QStringList{"Selected " + name + " | " + processingMode,
                                          "Selected " + name + " | " + QString::number(ticked) +
                                              " file type(s) to search"}));
    QVERIFY(
        rows.contains("Completed searching for known file type(s) | ----------------------------"));
    // Format Recovery lists the volume's folders too; the disk search does not.
    QCOMPARE(Child(frame.tree().root(), u"corpus") != nullptr, mode == int(RecoveryMode::Format));

    QVERIFY(Child(Child(Child(frame.tree().root(), u"Raw Data"), u"Graphics"), u"jpg"));
    CheckEverything(frame);
    driver.Answer(QMessageBox::Ok);
    const QString out = QStringFromPath(folder.path());
    frame.SaveFiles(out);
    QCOMPARE(driver.texts(), QStringList{"Saving of data completed."});
    const QString carved = out + "/#/Raw Data/Graphics/jpg";
    const QStringList pictures{"6f1a890c692ed3d5f785c2bdc9cc3c01ea866b8f2f67135619453a8b534c29dc",
                               "8cdbac47d36894c8d58e79169204b394849177f4fda3d071dc4bc9dd9824f9cd",
                               "6f954554fbfd7c3eddd2b4c524f2a1c4263817bbefb114fe79f275dfc73b0a8e"};
    // A picture that Format Recovery lists by name (a deleted one) comes back
    // under its name and is not carved again.
    QStringList files;
    for (const QString& file : Files(carved))
      files << carved + file;
    for (const QString& file : Files(out + "/#/corpus"))
      if (file.endsWith(".jpg")) files << out + "/#/corpus" + file;
    QVERIFY(files.size() >= 2);
    for (const QString& file : files)
      QVERIFY2(pictures.contains(Sha256(file)), qPrintable(file + " is no corpus picture"));
  }

  void createImageEndToEnd() {
    test::TempDir folder;
    const QString target = QStringFromPath(folder.path() / "fat32.qni");
    MainFrame frame;
    frame.SetDriveLister(DemoDrives);
    frame.show();
    test::ModalDriver driver;
    driver.On("restorix::CWizardSheet", [&target](QWidget* widget) {
      auto& sheet = *static_cast<CWizardSheet*>(widget);
      sheet.SetPathChooser([&target](QWidget*, const QString&) { return target; });
      Choose(sheet, RecoveryMode::CreateImage);
      sheet.next();
      auto* page = static_cast<CWizardImagePage*>(sheet.currentPage());
      Tick(page->tree(), 0);
      page->destinationButton()->click();
      Button(sheet, QWizard::FinishButton)->click();
    });
    driver.Answer(QMessageBox::Ok);
    frame.RunWizard();
    QVERIFY(driver.done());
    QCOMPARE(driver.texts(), QStringList{"Imaging of logical drive completed."});
    const QString name = QString::fromStdString(DemoDrives().logicalDisks[0].displayName);
    const QString row = "Imaging Disk :" + name + " | To Location " + target;
    QCOMPARE(LogRows(frame), (QStringList{row, row, "Completed " + row}));
    // No scan was there to save.
    QVERIFY(!frame.scanUnsaved());

    // The image holds the volume, padded with zeros to whole blocks of 63 sectors.
    std::ifstream image(PathFromQString(target), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(image)), {});
    const std::string volume = PartitionBytes(1);
    QCOMPARE(bytes.size(), std::size_t{(81920 + 62) / 63 * 63 * 512});
    QVERIFY(bytes.compare(0, volume.size(), volume) == 0);
    QVERIFY(bytes.find_first_not_of('\0', volume.size()) == std::string::npos);

    // The image is then scanned in the drive's place.
    QVERIFY(frame.ProcessImageFile(target));
    QVERIFY(Child(Child(Child(frame.tree().root(), u"Photos"), u"2026"), u"holiday-02.jpg"));
  }

  void cancelledWizardStartsNothing() {
    MainFrame frame;
    frame.SetDriveLister(DemoDrives);
    frame.show();
    test::ModalDriver driver;
    driver.On("restorix::CWizardSheet", [](QWidget* widget) {
      auto& sheet = *static_cast<CWizardSheet*>(widget);
      Choose(sheet, RecoveryMode::DeletedFiles);
      sheet.next();
      Tick(static_cast<CWizardDriveSelectionPage*>(sheet.currentPage())->tree(), 0);
      QTimer::singleShot(0, &sheet, [&sheet] {
        QMessageBox* box = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
          if (auto* found = qobject_cast<QMessageBox*>(top); found && found->isVisible())
            box = found;
        if (box) box->button(QMessageBox::Yes)->click();
      });
      sheet.reject();
    });
    frame.RunWizard();
    QVERIFY(driver.done());
    QVERIFY(LogRows(frame).isEmpty());
    QVERIFY(!frame.scanUnsaved());
    QVERIFY(frame.tree().root() == nullptr);
  }
};

RESTORIX_GUI_TEST(WizardTest);

}  // namespace
}  // namespace restorix

#include "wizard_test.moc"
