// Running one task on a worker thread while the progress dialog is shown.
//
// Every event of the task is a synchronous send: the worker waits until its
// handler has run on the user-interface thread. While the user answers the
// Stop question the events are held, so the worker waits at its next report
// and can neither advance nor finish while the question is open.
#pragma once

#include <QObject>
#include <QPointer>
#include <deque>
#include <functional>
#include <memory>

#include "gui/progress_dialog.h"
#include "tasks/tasks.h"

namespace restorix {

class TaskBridge : public QObject, public TaskSink {
  Q_OBJECT
 public:
  using QObject::QObject;

  // The worker's side: each runs its handler on this object's thread and
  // waits for it.
  void ScanProgress(std::uint64_t position, std::uint64_t total) override;
  void TaskPhase(std::uint32_t phase, std::uint32_t count) override;
  void LogEntry(const ProcessLogEntry& entry) override;
  void TreeRefreshed() override;
  void TaskFinished(TaskOutcome outcome) override;
  // Runs `handler` on this object's thread and waits until it has run;
  // anything it throws is raised again in the caller.
  void Send(std::function<void()> handler);

  // The user-interface side.
  void Hold();
  void Release();
  bool held() const { return held_; }

 signals:
  void progress(std::uint64_t position, std::uint64_t total);
  void phase(std::uint32_t phase, std::uint32_t count);
  void logEntry(const restorix::ProcessLogEntry& entry);
  void treeRefreshed();
  void finished(restorix::TaskOutcome outcome);

 private:
  struct Call;
  void Deliver(const std::shared_ptr<Call>& call);
  static void Run(Call& call);

  bool held_ = false;
  std::deque<std::shared_ptr<Call>> pending_;
};

// What the progress dialog says about a task.
struct TaskTexts {
  QString task;    // "Please wait while Restorix is ..."
  QString source;  // the drive, image or destination
};

class TaskRunner : public QObject {
  Q_OBJECT
 public:
  TaskRunner(StopToken& stop, QWidget* window);

  // Sets the stop token running, starts the task on a worker thread and
  // shows the progress dialog until the task's end closes it. Returns once
  // the worker has ended; an exception the task let out is raised here.
  TaskReport Run(const TaskTexts& texts, const std::function<TaskReport(TaskSink&)>& task);

  bool running() const { return running_; }
  TaskBridge& bridge() { return bridge_; }
  // The dialog of the running task; null between tasks.
  ProgressDialog* dialog() const { return dialog_; }

 signals:
  // Just before the progress dialog opens (tests drive it from here).
  void dialogOpened(restorix::ProgressDialog* dialog);

 private:
  void AskToStop();

  StopToken& stop_;
  QWidget* window_;
  TaskBridge bridge_;
  QPointer<ProgressDialog> dialog_;
  bool running_ = false;
};

}  // namespace restorix
