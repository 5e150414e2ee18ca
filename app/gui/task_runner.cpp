#include "gui/task_runner.h"

#include <QMessageBox>
#include <QThread>
#include <future>
#include <thread>

namespace restorix {

struct TaskBridge::Call {
  std::function<void()> handler;
  std::promise<void> done;
};

void TaskBridge::ScanProgress(std::uint64_t position, std::uint64_t total) {
  Send([&] { emit progress(position, total); });
}

void TaskBridge::TaskPhase(std::uint32_t phaseNumber, std::uint32_t count) {
  Send([&] { emit phase(phaseNumber, count); });
}

void TaskBridge::LogEntry(const ProcessLogEntry& entry) {
  Send([&] { emit logEntry(entry); });
}

void TaskBridge::TreeRefreshed() {
  Send([&] { emit treeRefreshed(); });
}

void TaskBridge::TaskFinished(TaskOutcome outcome) {
  Send([&] { emit finished(outcome); });
}

void TaskBridge::Send(std::function<void()> handler) {
  auto call = std::make_shared<Call>();
  call->handler = std::move(handler);
  std::future<void> done = call->done.get_future();
  if (QThread::currentThread() == thread()) {
    Run(*call);
  } else {
    QMetaObject::invokeMethod(
        this, [this, call] { Deliver(call); }, Qt::QueuedConnection);
  }
  done.get();
}

void TaskBridge::Hold() {
  held_ = true;
}

void TaskBridge::Release() {
  held_ = false;
  while (!held_ && !pending_.empty()) {
    const std::shared_ptr<Call> call = std::move(pending_.front());
    pending_.pop_front();
    Run(*call);
  }
}

void TaskBridge::Deliver(const std::shared_ptr<Call>& call) {
  if (held_) {
    pending_.push_back(call);
    return;
  }
  Run(*call);
}

void TaskBridge::Run(Call& call) {
  try {
    call.handler();
    call.done.set_value();
  } catch (...) {
    call.done.set_exception(std::current_exception());
  }
}

TaskRunner::TaskRunner(StopToken& stop, QWidget* window) : stop_(stop), window_(window) {
}

TaskReport TaskRunner::Run(const TaskTexts& texts,
                           const std::function<TaskReport(TaskSink&)>& task) {
  ProgressDialog dialog(texts.task, texts.source, window_);
  dialog_ = &dialog;
  running_ = true;
  const auto progress =
      connect(&bridge_, &TaskBridge::progress, &dialog, &ProgressDialog::SetProgress);
  const auto phase = connect(&bridge_, &TaskBridge::phase, &dialog, &ProgressDialog::SetPhase);
  // The owner's handlers of `finished` were connected first and run first.
  const auto finished =
      connect(&bridge_, &TaskBridge::finished, &dialog, &ProgressDialog::CloseProgress);
  connect(&dialog, &ProgressDialog::stopClicked, this, &TaskRunner::AskToStop);

  stop_.Reset();
  TaskReport report;
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      report = task(bridge_);
    } catch (...) {
      failure = std::current_exception();
    }
    // A task that failed without its completion event still closes the
    // dialog. Posted to the dialog: dropped if it is gone by then.
    QMetaObject::invokeMethod(
        &dialog, [&dialog] { dialog.CloseProgress(); }, Qt::QueuedConnection);
  });
  emit dialogOpened(&dialog);
  dialog.exec();
  worker.join();
  disconnect(progress);
  disconnect(phase);
  disconnect(finished);
  running_ = false;
  dialog_ = nullptr;
  if (failure) std::rethrow_exception(failure);
  return report;
}

void TaskRunner::AskToStop() {
  ProgressDialog* dialog = dialog_;
  if (dialog == nullptr) return;
  bridge_.Hold();
  dialog->Pause();
  bool resume = true;
  if (stop_.running()) {
    const auto answer = QMessageBox::question(dialog, "Confirm", "Do you want to stop process?",
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes) {
      stop_.RequestStop();
      resume = false;
    }
  }
  if (resume && dialog_) dialog->Resume();
  bridge_.Release();
}

}  // namespace restorix
