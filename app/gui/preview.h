// The preview dock: what the selected file holds, read through the item
// reader on a worker thread so the window never waits on the disk. Pictures
// are shown as pictures, text as text, anything else as the hex of its
// first 4 KiB.
#pragma once

#include <QDockWidget>
#include <QImage>
#include <QString>
#include <cstdint>
#include <memory>

class QLabel;
class QPlainTextEdit;
class QStackedWidget;

namespace restorix {

class Volume;
struct ItemNode;

struct PreviewContent {
  enum class Kind { Empty, Picture, Text, Hex, Failed };
  Kind kind = Kind::Empty;
  QImage picture;
  QString text;
};

// Reads the item and decides how to show it. Runs on any thread: `item` is
// a copy, and the volume may be read from many threads at once.
PreviewContent MakePreview(const Volume& volume, const ItemNode& item);
// "00000000  50 4b 03 04 ...  |PK..|", sixteen bytes a line.
QString HexDump(const std::uint8_t* bytes, std::size_t count);

class PreviewDock : public QDockWidget {
  Q_OBJECT
 public:
  explicit PreviewDock(QWidget* parent = nullptr);

  // Starts reading the item (a folder or nothing clears the preview).
  void Show(std::shared_ptr<const Volume> volume, const ItemNode* item);
  void Clear();
  const PreviewContent& content() const { return content_; }

 signals:
  // The preview of the last item asked for is shown.
  void shown();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Present(std::uint64_t request, const PreviewContent& content);
  void ScalePicture();

  std::uint64_t request_ = 0;
  PreviewContent content_;
  QLabel* heading_;
  QStackedWidget* stack_;
  QLabel* picture_;
  QPlainTextEdit* text_;
};

}  // namespace restorix
