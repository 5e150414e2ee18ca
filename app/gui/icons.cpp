#include "gui/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <array>

#include "tasks/process_log.h"

namespace restorix::Icons {

namespace {

constexpr std::array kSizes{16, 24, 32, 48};

QIcon FromResources(const char* name) {
  QIcon icon;
  for (int size : kSizes)
    icon.addFile(QString(":/icons/%1-%2.png").arg(name).arg(size), QSize(size, size));
  return icon;
}

// A red cross in the lower right corner: the item was deleted.
QPixmap Deleted(QPixmap pixmap) {
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal side = pixmap.width() * 0.5;
  const QRectF box(pixmap.width() - side, pixmap.height() - side, side, side);
  const qreal inset = side * 0.18;
  const QRectF cross = box.adjusted(inset, inset, -inset, -inset);
  painter.setPen(QPen(Qt::white, side * 0.36, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(cross.topLeft(), cross.bottomRight());
  painter.drawLine(cross.topRight(), cross.bottomLeft());
  painter.setPen(QPen(QColor(204, 0, 0), side * 0.2, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(cross.topLeft(), cross.bottomRight());
  painter.drawLine(cross.topRight(), cross.bottomLeft());
  return pixmap;
}

QPixmap ItemPixmap(const char* name, int size, bool live) {
  QPixmap pixmap(QString(":/icons/%1-%2.png").arg(name).arg(size));
  return live ? pixmap : Deleted(pixmap);
}

QIcon Make(const char* name, bool live) {
  QIcon icon;
  for (int size : kSizes)
    icon.addPixmap(ItemPixmap(name, size, live));
  return icon;
}

QPixmap StatusPixmap(std::uint8_t status, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  const QRectF disc(s * 0.06, s * 0.06, s * 0.88, s * 0.88);
  const QColor fill = status == LOG_ABORTED     ? QColor(204, 0, 0)
                      : status == LOG_COMPLETED ? QColor(40, 160, 40)
                                                : QColor(52, 101, 164);
  painter.setPen(QPen(fill.darker(130), s / 16));
  painter.setBrush(fill);
  if (status == LOG_STARTED) {
    // A speech balloon with a white "i".
    QPainterPath balloon;
    balloon.addEllipse(QRectF(s * 0.06, s * 0.04, s * 0.88, s * 0.74));
    QPainterPath tail;
    tail.moveTo(s * 0.3, s * 0.68);
    tail.lineTo(s * 0.22, s * 0.96);
    tail.lineTo(s * 0.52, s * 0.74);
    painter.drawPath(balloon.united(tail));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(s * 0.5, s * 0.22), s * 0.07, s * 0.07);
    painter.drawRect(QRectF(s * 0.43, s * 0.34, s * 0.14, s * 0.34));
    return pixmap;
  }
  painter.drawEllipse(disc);
  painter.setPen(QPen(Qt::white, s * 0.14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  if (status == LOG_ABORTED) {
    painter.drawLine(QPointF(s * 0.33, s * 0.33), QPointF(s * 0.67, s * 0.67));
    painter.drawLine(QPointF(s * 0.67, s * 0.33), QPointF(s * 0.33, s * 0.67));
  } else {
    QPainterPath tick;
    tick.moveTo(s * 0.28, s * 0.52);
    tick.lineTo(s * 0.44, s * 0.68);
    tick.lineTo(s * 0.72, s * 0.34);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(tick);
  }
  return pixmap;
}

}  // namespace

QIcon Get(Id id) {
  static const std::array<QIcon, Calendar + 1> icons{
      FromResources("wizard"),   FromResources("find"),          FromResources("find-next"),
      FromResources("save-all"), FromResources("save-selected"), FromResources("goto-parent"),
      FromResources("buy"),      FromResources("update"),        FromResources("contents"),
      FromResources("stop"),     FromResources("disk"),          FromResources("process"),
      FromResources("file"),     FromResources("calendar"),
  };
  return icons[id];
}

QIcon Item(bool folder, bool live) {
  static const std::array<QIcon, 4> icons{Make("file", false), Make("file", true),
                                          Make("folder", false), Make("folder", true)};
  return icons[(folder ? 2 : 0) + (live ? 1 : 0)];
}

QIcon TreeFolder(bool live) {
  static const std::array<QIcon, 2> icons = [] {
    std::array<QIcon, 2> made;
    for (int l = 0; l < 2; ++l) {
      made[l] = Make("folder", l);
      for (int size : kSizes)
        made[l].addPixmap(ItemPixmap("folder-open", size, l), QIcon::Selected);
    }
    return made;
  }();
  return icons[live ? 1 : 0];
}

QIcon LogStatus(std::uint8_t status) {
  static const std::array<QIcon, 3> icons = [] {
    std::array<QIcon, 3> made;
    for (std::uint8_t s = 0; s < 3; ++s)
      for (int size : kSizes)
        made[s].addPixmap(StatusPixmap(s, size));
    return made;
  }();
  return icons[status < 3 ? status : LOG_STARTED];
}

}  // namespace restorix::Icons
