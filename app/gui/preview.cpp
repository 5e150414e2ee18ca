#include "gui/preview.h"

#include <QApplication>
#include <QBuffer>
#include <QFontDatabase>
#include <QImageReader>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QStackedWidget>
#include <QStringDecoder>
#include <QThreadPool>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "catalogue/item_tree.h"
#include "disk/sector_source.h"
#include "disk/volume.h"
#include "fs/item_reader.h"
#include "gui/qt_text.h"

namespace restorix {

namespace {

constexpr std::size_t kHeadBytes = 4096;
constexpr std::uint64_t kMaxPictureBytes = 16 << 20;
constexpr std::size_t kMaxTextBytes = 64 << 10;

std::vector<std::uint8_t> ReadHead(ItemReader& reader, std::size_t bytes) {
  std::vector<std::uint8_t> data(
      static_cast<std::size_t>(std::min<std::uint64_t>(reader.size(), bytes)));
  data.resize(reader.read(0, data));
  return data;
}

// Text: valid UTF-8 with hardly any control characters.
bool LooksLikeText(const std::vector<std::uint8_t>& head) {
  if (head.empty()) return false;
  std::size_t controls = 0;
  for (std::uint8_t byte : head) {
    if (byte == 0) return false;
    if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r' && byte != '\f') ++controls;
  }
  if (controls * 100 > head.size()) return false;
  // A multi-byte character cut at the end of the head is no fault.
  std::size_t end = head.size();
  for (std::size_t back = 0; back < 3 && end > 0 && (head[end - 1] & 0xC0) == 0x80; ++back)
    --end;
  if (end > 0 && head[end - 1] >= 0xC0) --end;
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString decoded = utf8(QByteArrayView(head.data(), static_cast<qsizetype>(end)));
  return !utf8.hasError();
}

}  // namespace

QString HexDump(const std::uint8_t* bytes, std::size_t count) {
  QString out;
  for (std::size_t line = 0; line < count; line += 16) {
    out += QString::asprintf("%08zx ", line);
    QString ascii;
    for (std::size_t i = line; i < line + 16; ++i) {
      if (i % 8 == 0) out += ' ';
      if (i < count) {
        out += QString::asprintf("%02x ", bytes[i]);
        ascii += bytes[i] >= 0x20 && bytes[i] < 0x7F ? QChar(bytes[i]) : QChar('.');
      } else {
        out += "   ";
      }
    }
    out += " |" + ascii + "|\n";
  }
  return out;
}

PreviewContent MakePreview(const Volume& volume, const ItemNode& item) {
  PreviewContent content;
  try {
    ItemReader reader(volume, item);
    const std::vector<std::uint8_t> head = ReadHead(reader, kHeadBytes);
    if (head.empty()) {
      content.kind = PreviewContent::Kind::Text;
      return content;
    }
    QByteArray headBytes(reinterpret_cast<const char*>(head.data()),
                         static_cast<qsizetype>(head.size()));
    QBuffer headBuffer(&headBytes);
    headBuffer.open(QIODevice::ReadOnly);
    if (!QImageReader::imageFormat(&headBuffer).isEmpty() && reader.size() <= kMaxPictureBytes) {
      const std::vector<std::uint8_t> whole = ReadHead(reader, reader.size());
      QByteArray bytes(reinterpret_cast<const char*>(whole.data()),
                       static_cast<qsizetype>(whole.size()));
      QBuffer buffer(&bytes);
      buffer.open(QIODevice::ReadOnly);
      QImageReader image(&buffer);
      image.setAutoTransform(true);
      content.picture = image.read();
      if (!content.picture.isNull()) {
        content.kind = PreviewContent::Kind::Picture;
        return content;
      }
    }
    if (LooksLikeText(head)) {
      const std::vector<std::uint8_t> text = ReadHead(reader, kMaxTextBytes);
      content.kind = PreviewContent::Kind::Text;
      content.text = QString::fromUtf8(reinterpret_cast<const char*>(text.data()),
                                       static_cast<qsizetype>(text.size()));
      return content;
    }
    content.kind = PreviewContent::Kind::Hex;
    content.text = HexDump(head.data(), head.size());
  } catch (const DeviceLostError&) {
    content.kind = PreviewContent::Kind::Failed;
    content.text = "The source is no longer available.";
  }
  return content;
}

PreviewDock::PreviewDock(QWidget* parent) : QDockWidget("Preview", parent) {
  setObjectName("Preview");
  auto* body = new QWidget(this);
  heading_ = new QLabel(body);
  heading_->setTextFormat(Qt::PlainText);
  heading_->setWordWrap(true);
  stack_ = new QStackedWidget(body);
  picture_ = new QLabel(stack_);
  picture_->setAlignment(Qt::AlignCenter);
  picture_->setMinimumSize(64, 64);
  text_ = new QPlainTextEdit(stack_);
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  stack_->addWidget(picture_);
  stack_->addWidget(text_);
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(heading_);
  layout->addWidget(stack_, 1);
  setWidget(body);
  Clear();
}

void PreviewDock::Show(std::shared_ptr<const Volume> volume, const ItemNode* item) {
  ++request_;
  if (item == nullptr || item->isFolder() || volume == nullptr) {
    Clear();
    return;
  }
  heading_->setText(QStringFromUtf16(item->name) + "\n" + QString::number(item->size) + " bytes");
  if (!volume->isOpen()) {
    content_ = {PreviewContent::Kind::Failed, {}, "The source of this scan cannot be read."};
    text_->setPlainText(content_.text);
    stack_->setCurrentWidget(text_);
    return;
  }
  text_->setPlainText("Reading...");
  stack_->setCurrentWidget(text_);
  // The worker gets its own copy of the item: the tree may be replaced
  // before it is done.
  ItemNode copy = *item;
  copy.next = copy.firstChild = copy.parent = nullptr;
  const std::uint64_t request = request_;
  QPointer<PreviewDock> dock(this);
  QThreadPool::globalInstance()->start([dock, request, volume, copy] {
    const PreviewContent content = MakePreview(*volume, copy);
    // The application outlives the pool's work; the dock may not.
    QMetaObject::invokeMethod(
        qApp,
        [dock, request, content] {
          if (dock) dock->Present(request, content);
        },
        Qt::QueuedConnection);
  });
}

void PreviewDock::Clear() {
  ++request_;
  content_ = {};
  heading_->setText("Select a file to see what it holds.");
  text_->clear();
  picture_->clear();
  stack_->setCurrentWidget(text_);
}

void PreviewDock::Present(std::uint64_t request, const PreviewContent& content) {
  if (request != request_) return;  // the user has moved on
  content_ = content;
  if (content.kind == PreviewContent::Kind::Picture) {
    stack_->setCurrentWidget(picture_);
    ScalePicture();
  } else {
    text_->setFont(content.kind == PreviewContent::Kind::Hex
                       ? QFontDatabase::systemFont(QFontDatabase::FixedFont)
                       : font());
    text_->setPlainText(content.text);
    stack_->setCurrentWidget(text_);
  }
  emit shown();
}

void PreviewDock::resizeEvent(QResizeEvent* event) {
  QDockWidget::resizeEvent(event);
  if (content_.kind == PreviewContent::Kind::Picture) ScalePicture();
}

void PreviewDock::ScalePicture() {
  const QSize room = picture_->size().boundedTo(content_.picture.size());
  picture_->setPixmap(QPixmap::fromImage(
      content_.picture.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

}  // namespace restorix
