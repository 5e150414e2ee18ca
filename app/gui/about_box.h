// The about box: a frameless window in the shape of its picture, dragged by
// any point, with the about text scrolling upward in a panel.
#pragma once

#include <QDialog>
#include <QPainterPath>
#include <QStringList>
#include <QTimer>

namespace restorix {

class ScrollingText : public QWidget {
 public:
  ScrollingText(QStringList lines, QWidget* parent = nullptr);
  // One step of the scroll (every 40 ms).
  void Step();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QStringList lines_;
  QTimer timer_;
  int offset_ = 0;
};

class AboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit AboutBox(QWidget* parent = nullptr);
  // The lines the panel scrolls.
  static QStringList Lines();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  QPainterPath Shape() const;
  QPoint dragFrom_;
};

}  // namespace restorix
