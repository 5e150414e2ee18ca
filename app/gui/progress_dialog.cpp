#include "gui/progress_dialog.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>

#include "gui/icons.h"

namespace restorix {

namespace {

QLabel* VerdanaLabel(const QString& text, bool bold, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont font("Verdana", 8);
  font.setBold(bold);
  label->setFont(font);
  return label;
}

}  // namespace

DiskAnimation::DiskAnimation(QWidget* parent) : QWidget(parent) {
  setFixedSize(sizeHint());
  timer_.setInterval(60);
  connect(&timer_, &QTimer::timeout, this, [this] {
    frame_ = (frame_ + 1) % 256;
    update();
  });
}

void DiskAnimation::Start() {
  timer_.start();
}

void DiskAnimation::Stop() {
  timer_.stop();
}

void DiskAnimation::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF platter = QRectF(rect()).adjusted(4, 4, -4, -4);
  QRadialGradient shine(platter.center(), platter.width() / 2);
  shine.setColorAt(0, QColor(235, 235, 240));
  shine.setColorAt(1, QColor(150, 155, 170));
  painter.setPen(QPen(QColor(90, 95, 110), 1.5));
  painter.setBrush(shine);
  painter.drawEllipse(platter);
  // The sectors passing under the head: a bright arc sweeping round.
  const int angle = -(frame_ * 16 % 360) * 16;
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(9, 11, 105, 140));
  painter.drawPie(platter.adjusted(3, 3, -3, -3), angle, 40 * 16);
  painter.setBrush(QColor(60, 60, 70));
  painter.drawEllipse(platter.center(), 4, 4);
  // The read head on its arm.
  painter.setPen(QPen(QColor(60, 60, 70), 3, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(QPointF(platter.right(), platter.bottom()),
                   QPointF(platter.center().x() + 6, platter.center().y() + 10));
}

int ProgressPercent(std::uint64_t position, std::uint64_t total) {
  if (total == 0) return 0;
  return static_cast<int>(static_cast<double>(position) / static_cast<double>(total) * 100);
}

ProgressDialog::ProgressDialog(const QString& firstText, const QString& secondText, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle("Task Progress");
  setModal(true);
  animation_ = new DiskAnimation(this);
  auto* task = VerdanaLabel(firstText, false, this);
  task->setWordWrap(true);
  auto* status = VerdanaLabel("Status", true, this);
  auto* drive = new QLabel(secondText, this);
  drive->setTextInteractionFlags(Qt::TextSelectableByMouse);
  phase_ = new QLabel(this);
  auto* progress = VerdanaLabel("Progress", true, this);
  QPalette navy = progress->palette();
  navy.setColor(QPalette::WindowText, QColor(9, 11, 105));
  progress->setPalette(navy);
  bar_ = new QProgressBar(this);
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  percent_ = new QLabel(this);
  percent_->setMinimumWidth(fontMetrics().horizontalAdvance("100%") + 4);
  auto* elapsed = VerdanaLabel("Elapsed Time", true, this);
  clockLabel_ = VerdanaLabel("00:00:00", false, this);
  stop_ = new QPushButton(Icons::Get(Icons::Stop), "&Stop", this);
  stop_->setAutoDefault(false);

  auto* grid = new QGridLayout;
  grid->addWidget(animation_, 0, 0, 2, 1, Qt::AlignTop);
  grid->addWidget(task, 0, 1, 1, 3);
  grid->addWidget(status, 2, 0);
  grid->addWidget(drive, 2, 1, 1, 3);
  grid->addWidget(phase_, 3, 1, 1, 3);
  grid->addWidget(progress, 4, 0);
  grid->addWidget(bar_, 4, 1, 1, 2);
  grid->addWidget(percent_, 4, 3);
  grid->addWidget(elapsed, 5, 0);
  grid->addWidget(clockLabel_, 5, 1);
  grid->setColumnStretch(2, 1);
  grid->setRowMinimumHeight(1, 8);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(stop_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);
  setMinimumWidth(460);

  connect(stop_, &QPushButton::clicked, this, &ProgressDialog::stopClicked);
  clock_.setInterval(1000);
  connect(&clock_, &QTimer::timeout, this, &ProgressDialog::Tick);
  clock_.start();
  animation_->Start();
}

void ProgressDialog::SetProgress(std::uint64_t position, std::uint64_t total) {
  const int percent = ProgressPercent(position, total);
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  bar_->setValue(percent);
  percent_->setText(QString::number(percent) + "%");
}

void ProgressDialog::SetPhase(std::uint32_t phase, std::uint32_t count) {
  phase_->setText(QString("Processing phase %1 of %2").arg(phase).arg(count));
}

void ProgressDialog::CloseProgress() {
  clock_.stop();
  animation_->Stop();
  closing_ = true;
  done(-1);
}

void ProgressDialog::Tick() {
  if (++seconds_ == 60) {
    seconds_ = 0;
    if (++minutes_ == 60) {
      minutes_ = 0;
      ++hours_;  // an 8-bit count: it wraps after 255 hours
    }
  }
  ShowClock();
}

void ProgressDialog::Pause() {
  animation_->Stop();
  clock_.stop();
}

void ProgressDialog::Resume() {
  animation_->Start();
  clock_.start();
}

QString ProgressDialog::percentText() const {
  return percent_->text();
}

QString ProgressDialog::clockText() const {
  return clockLabel_->text();
}

QString ProgressDialog::phaseText() const {
  return phase_->text();
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
  if (!closing_) event->ignore();
}

void ProgressDialog::ShowClock() {
  clockLabel_->setText(QString::asprintf("%02u:%02u:%02u", unsigned{hours_}, unsigned{minutes_},
                                         unsigned{seconds_}));
}

}  // namespace restorix
