// The preview: a deleted picture shown as a picture, text as text, anything
// else as hex, read from the source through the item reader.
#include "gui/preview.h"

#include <QSignalSpy>
#include <QTest>

#include "fs/scan.h"
#include "gui/qt_text.h"
#include "gui_test.h"
#include "util/text.h"

namespace restorix {
namespace {

struct Scanned {
  std::shared_ptr<const Volume> volume;
  ItemTree tree;
  explicit Scanned(const std::string& fixture) {
    volume = Volume::Open(SourceKind::LogicalDrive, test::Fixture(fixture)).volume;
    StopToken stop;
    TaskEvents events;
    if (volume) RunScan(*volume, ScanMode::DeletedFiles, {}, 1024, tree, {stop, events});
  }
};

class PreviewTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void kindsOfContent_data() {
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("begins");
    QTest::newRow("a deleted JPEG")
        << "ntfs-carving.img"
        << "corpus/photo-exif.jpg" << int(PreviewContent::Kind::Picture) << "";
    QTest::newRow("a deleted PNG")
        << "ntfs-carving.img"
        << "corpus/image.png" << int(PreviewContent::Kind::Picture) << "";
    QTest::newRow("a deleted PDF is no picture and no text")
        << "ntfs-carving.img"
        << "corpus/doc.pdf" << int(PreviewContent::Kind::Hex) << "00000000  25 50 44 46";
    QTest::newRow("resident text") << "ntfs-c4k.img"
                                   << "res-300.txt" << int(PreviewContent::Kind::Text) << "";
    QTest::newRow("compressed text")
        << "ntfs-c4k.img"
        << "compressed/report.txt" << int(PreviewContent::Kind::Text) << "";
    QTest::newRow("random bytes") << "ntfs-c4k.img"
                                  << "random-12k.bin" << int(PreviewContent::Kind::Hex)
                                  << "00000000  ";
  }

  void kindsOfContent() {
    QFETCH(QString, fixture);
    QFETCH(QString, path);
    QFETCH(int, kind);
    QFETCH(QString, begins);
    Scanned scanned(fixture.toStdString());
    QVERIFY(scanned.volume);
    const ItemNode* item = test::At(scanned.tree, path.toStdString());
    QVERIFY2(item, qPrintable(path));
    const PreviewContent content = MakePreview(*scanned.volume, *item);
    QCOMPARE(int(content.kind), kind);
    QVERIFY2(begins.isEmpty() || content.text.startsWith(begins),
             qPrintable(content.text.left(60)));
    if (content.kind == PreviewContent::Kind::Picture) QVERIFY(content.picture.width() > 16);
    if (content.kind == PreviewContent::Kind::Hex) {
      QCOMPARE(content.text.count('\n'), 256);  // the first 4 KiB, 16 bytes a line
    }
  }

  void hexLines() {
    const std::uint8_t bytes[] = {'P', 'K', 3, 4, 0x7F, 'a'};
    // Short lines keep the ASCII column in its place.
    QCOMPARE(HexDump(bytes, sizeof bytes),
             "00000000  50 4b 03 04 7f 61" + QString(33, ' ') + "|PK...a|\n");
  }

  void theDockShowsTheLastItemAskedFor() {
    Scanned scanned("ntfs-c4k.img");
    PreviewDock dock;
    QSignalSpy shown(&dock, &PreviewDock::shown);
    dock.Show(scanned.volume, test::At(scanned.tree, "random-12k.bin"));
    dock.Show(scanned.volume, test::At(scanned.tree, "res-300.txt"));
    QTRY_VERIFY(!shown.isEmpty());
    QTest::qWait(50);
    QCOMPARE(shown.count(), 1);  // the first answer came too late and was dropped
    QCOMPARE(int(dock.content().kind), int(PreviewContent::Kind::Text));
    dock.Show(scanned.volume, test::At(scanned.tree, "fragments"));  // a folder
    QCOMPARE(int(dock.content().kind), int(PreviewContent::Kind::Empty));
    // A saved scan whose source is gone shows no zeros as if they were data.
    dock.Show(Volume::Detached(u"/gone.img", scanned.volume->context()),
              test::At(scanned.tree, "res-300.txt"));
    QCOMPARE(int(dock.content().kind), int(PreviewContent::Kind::Failed));
  }
};

RESTORIX_GUI_TEST(PreviewTest);

}  // namespace
}  // namespace restorix

#include "preview_test.moc"
