// The window shown while a task runs: what is being done, on which source,
// the phase, a bar with its percentage, the elapsed time and "&Stop". It
// never touches the task: the owner forwards progress and phases to it,
// closes it when the task ends, and answers its Stop button.
#pragma once

#include <QDialog>
#include <QTimer>
#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

namespace restorix {

// A small looping picture of a disk being read.
class DiskAnimation : public QWidget {
 public:
  explicit DiskAnimation(QWidget* parent = nullptr);
  void Start();
  void Stop();
  bool running() const { return timer_.isActive(); }
  QSize sizeHint() const override { return {56, 56}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QTimer timer_;
  int frame_ = 0;
};

// Percent of `position` in `total`, truncated; 0 for a total of 0.
int ProgressPercent(std::uint64_t position, std::uint64_t total);

class ProgressDialog : public QDialog {
  Q_OBJECT
 public:
  ProgressDialog(const QString& firstText, const QString& secondText, QWidget* parent = nullptr);

  // Moves the bar; the bar and its text change only when the percentage does.
  void SetProgress(std::uint64_t position, std::uint64_t total);
  // "Processing phase 1 of 2".
  void SetPhase(std::uint32_t phase, std::uint32_t count);
  // Ends the dialog; the only way it closes.
  void CloseProgress();
  // One second of the clock.
  void Tick();
  // While the Stop question is open the clock and the animation stand still.
  void Pause();
  void Resume();

  QString percentText() const;
  QString clockText() const;
  QString phaseText() const;
  int percent() const { return lastPercent_; }
  QPushButton* stopButton() const { return stop_; }
  bool clockRunning() const { return clock_.isActive(); }

 signals:
  void stopClicked();

 protected:
  // The close box and Esc do nothing: only the task's end closes the dialog.
  void closeEvent(QCloseEvent* event) override;
  void reject() override {}

 private:
  void ShowClock();

  QLabel* percent_;
  QLabel* clockLabel_;
  QLabel* phase_;
  QProgressBar* bar_;
  QPushButton* stop_;
  DiskAnimation* animation_;
  QTimer clock_;
  int lastPercent_ = -1;
  std::uint8_t seconds_ = 0, minutes_ = 0, hours_ = 0;
  bool closing_ = false;
};

}  // namespace restorix
