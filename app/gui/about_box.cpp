#include "gui/about_box.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/icons.h"
#include "gui/settings.h"

namespace restorix {

namespace {
constexpr QSize kSize(420, 300);
constexpr QRect kPanel(30, 120, 360, 120);
}  // namespace

ScrollingText::ScrollingText(QStringList lines, QWidget* parent)
    : QWidget(parent), lines_(std::move(lines)) {
  timer_.setInterval(40);
  connect(&timer_, &QTimer::timeout, this, [this] { Step(); });
  timer_.start();
}

void ScrollingText::Step() {
  const int lineHeight = fontMetrics().height() + 2;
  const int length = static_cast<int>(lines_.size()) * lineHeight + height();
  offset_ = (offset_ + 1) % std::max(length, 1);
  update();
}

void ScrollingText::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(QColor(20, 24, 60));
  const int lineHeight = fontMetrics().height() + 2;
  int y = height() - offset_;
  for (const QString& line : lines_) {
    painter.drawText(QRect(0, y, width(), lineHeight), Qt::AlignHCenter | Qt::AlignVCenter, line);
    y += lineHeight;
  }
}

AboutBox::AboutBox(QWidget* parent) : QDialog(parent, Qt::FramelessWindowHint | Qt::Dialog) {
  setWindowTitle("About Quillon Restorix");
  setFixedSize(kSize);
  setMask(QRegion(Shape().toFillPolygon().toPolygon()));
  auto* text = new ScrollingText(Lines(), this);
  text->setGeometry(kPanel);
  auto* close = new QPushButton("&Close", this);
  close->setDefault(true);
  close->adjustSize();
  close->move(kSize.width() - close->width() - 30, kSize.height() - close->height() - 18);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

QStringList AboutBox::Lines() {
  return {settings::kTitle,
          "Award winning data recovery software for Windows.",
          "Version 1.0.1",
          "",
          QString::fromUtf8("Copyright \u00a9 Quillon Labs. All rights reserved."),
          "",
          "Recovers deleted files from FAT16, FAT32 and NTFS,",
          "files left after a format, and files of known",
          "types anywhere on a disk. It only ever reads",
          "the disk it recovers from."};
}

QPainterPath AboutBox::Shape() const {
  QPainterPath path;
  path.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(kSize)), 28, 28);
  return path;
}

void AboutBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient background(0, 0, 0, kSize.height());
  background.setColorAt(0, QColor(52, 70, 110));
  background.setColorAt(0.35, QColor(90, 111, 156));
  background.setColorAt(1, QColor(225, 228, 240));
  painter.fillPath(Shape(), background);
  painter.drawPixmap(30, 28, Icons::Get(Icons::Disk).pixmap(64, 64));
  QFont title = font();
  title.setPointSizeF(title.pointSizeF() * 1.8);
  title.setBold(true);
  painter.setFont(title);
  painter.setPen(Qt::white);
  painter.drawText(QRect(110, 30, 290, 40), Qt::AlignLeft | Qt::AlignVCenter, settings::kTitle);
  QFont version = font();
  painter.setFont(version);
  painter.drawText(QRect(110, 70, 290, 24), Qt::AlignLeft | Qt::AlignVCenter, "Version 1.0.1");
  painter.setPen(QPen(QColor(52, 70, 110), 1));
  painter.setBrush(QColor(255, 255, 255, 170));
  painter.drawRoundedRect(QRectF(kPanel).adjusted(-6, -6, 6, 6), 8, 8);
}

void AboutBox::mousePressEvent(QMouseEvent* event) {
  dragFrom_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void AboutBox::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) move(event->globalPosition().toPoint() - dragFrom_);
}

}  // namespace restorix
