// A task on its worker thread under the progress dialog: its events arrive
// on the user-interface thread in order, and Stop asks first, holding the
// worker at its next report until the question is answered.
#include "gui/task_runner.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <atomic>
#include <stdexcept>

#include "gui_test.h"

namespace restorix {
namespace {

constexpr int kReports = 3000;

// A task that reports progress until it is stopped or done.
struct CountingTask {
  StopToken& stop;
  std::atomic<int> reports{0};
  TaskReport operator()(TaskSink& sink) {
    sink.TaskPhase(1, 1);
    for (int i = 0; i < kReports && stop.running(); ++i) {
      sink.ScanProgress(static_cast<std::uint64_t>(i), kReports);
      ++reports;
    }
    TaskReport report;
    report.completed = stop.running();
    sink.TaskFinished(TaskOutcome::None);
    return report;
  }
};

// Presses Stop once the task has reported a few times, and answers the
// question; while it is open, checks that the worker stands still.
void StopWhenRunning(TaskRunner& runner, CountingTask& task, test::ModalDriver& driver,
                     QMessageBox::StandardButton answer, int& heldAt, int& afterWait) {
  QObject::connect(&runner, &TaskRunner::dialogOpened, &runner, [&](ProgressDialog* dialog) {
    auto* poll = new QTimer(dialog);
    QObject::connect(poll, &QTimer::timeout, dialog, [&task, dialog, poll] {
      if (task.reports < 20) return;
      poll->stop();
      dialog->stopButton()->click();
    });
    poll->start(5);
  });
  driver.On("QMessageBox", [&, answer](QWidget* widget) {
    auto* box = static_cast<QMessageBox*>(widget);
    heldAt = task.reports;
    QTest::qWait(100);
    afterWait = task.reports;
    box->button(answer)->click();
  });
}

// While the question is open the worker may finish the report it had already
// made (one count), but reaches no further: free, it makes thousands in the
// 100 ms the question waits.
void HeldWhileAsked(int heldAt, int afterWait) {
  QVERIFY(heldAt >= 0);
  QVERIFY2(afterWait - heldAt <= 1,
           qPrintable(QString("the worker went from %1 to %2 reports").arg(heldAt).arg(afterWait)));
}

class TaskRunnerTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void eventsArriveInOrderOnTheUserInterfaceThread() {
    StopToken stop;
    TaskRunner runner(stop, nullptr);
    QStringList events;
    QThread* uiThread = QThread::currentThread();
    bool allOnUiThread = true;
    const auto note = [&](const QString& event) {
      events << event;
      allOnUiThread = allOnUiThread && QThread::currentThread() == uiThread;
    };
    TaskBridge& bridge = runner.bridge();
    connect(&bridge, &TaskBridge::phase, this,
            [&](std::uint32_t p, std::uint32_t n) { note(QString("phase %1/%2").arg(p).arg(n)); });
    connect(&bridge, &TaskBridge::progress, this,
            [&](std::uint64_t p, std::uint64_t t) { note(QString("%1/%2").arg(p).arg(t)); });
    connect(&bridge, &TaskBridge::logEntry, this,
            [&](const ProcessLogEntry& entry) { note(QString::fromStdString(entry.processName)); });
    connect(&bridge, &TaskBridge::treeRefreshed, this, [&] { note("tree"); });
    connect(&bridge, &TaskBridge::finished, this, [&] { note("finished"); });
    int percentAtEnd = -1;
    connect(&runner, &TaskRunner::dialogOpened, this, [&](ProgressDialog* dialog) {
      connect(&bridge, &TaskBridge::finished, dialog,
              [&percentAtEnd, dialog] { percentAtEnd = dialog->percent(); });
    });
    bool runningInTask = false;
    const TaskReport report = runner.Run({"task", "source"}, [&](TaskSink& sink) {
      runningInTask = stop.running();
      sink.TaskPhase(1, 2);
      sink.LogEntry({"started", "", "", LOG_STARTED});
      sink.ScanProgress(1, 4);
      sink.ScanProgress(4, 4);
      sink.TreeRefreshed();
      sink.TaskFinished(TaskOutcome::None);
      TaskReport done;
      done.completed = true;
      return done;
    });
    QVERIFY(report.completed);
    QVERIFY(runningInTask);
    QCOMPARE(events, (QStringList{"phase 1/2", "started", "1/4", "4/4", "tree", "finished"}));
    QVERIFY(allOnUiThread);
    QCOMPARE(percentAtEnd, 100);
    QVERIFY(!runner.running());
    QVERIFY(runner.dialog() == nullptr);
  }

  void stopAnsweredYesEndsTheTask() {
    StopToken stop;
    TaskRunner runner(stop, nullptr);
    CountingTask task{stop};
    test::ModalDriver driver;
    int heldAt = -1, afterWait = -1;
    StopWhenRunning(runner, task, driver, QMessageBox::Yes, heldAt, afterWait);
    const TaskReport report = runner.Run({"task", "source"}, std::ref(task));
    QCOMPARE(driver.texts(), QStringList{"Do you want to stop process?"});
    QVERIFY(!report.completed);
    HeldWhileAsked(heldAt, afterWait);
    QVERIFY(task.reports < kReports);
    QVERIFY(!stop.running());
  }

  void stopAnsweredNoLetsTheTaskGoOn() {
    StopToken stop;
    TaskRunner runner(stop, nullptr);
    CountingTask task{stop};
    test::ModalDriver driver;
    int heldAt = -1, afterWait = -1;
    bool clockAfterNo = false;
    StopWhenRunning(runner, task, driver, QMessageBox::No, heldAt, afterWait);
    connect(&runner, &TaskRunner::dialogOpened, this, [&](ProgressDialog* dialog) {
      connect(&runner.bridge(), &TaskBridge::progress, dialog, [&heldAt, &clockAfterNo, dialog] {
        if (heldAt >= 0) clockAfterNo = dialog->clockRunning();
      });
    });
    const TaskReport report = runner.Run({"task", "source"}, std::ref(task));
    QCOMPARE(driver.texts(), QStringList{"Do you want to stop process?"});
    QVERIFY(report.completed);
    HeldWhileAsked(heldAt, afterWait);
    QCOMPARE(task.reports.load(), kReports);
    QVERIFY(clockAfterNo);  // the clock counts on after No
  }

  void stopAfterTheTaskStoppedAsksNothing() {
    StopToken stop;
    TaskRunner runner(stop, nullptr);
    test::ModalDriver driver;
    bool clockRunsAgain = false;
    runner.Run({"task", "source"}, [&](TaskSink& sink) {
      stop.RequestStop();  // as the completion step does
      runner.bridge().Send([&] {
        runner.dialog()->stopButton()->click();
        clockRunsAgain = runner.dialog()->clockRunning();
      });
      sink.TaskFinished(TaskOutcome::None);
      return TaskReport{};
    });
    QVERIFY(driver.texts().isEmpty());
    QVERIFY(clockRunsAgain);
  }

  void aTaskThatThrowsClosesTheDialogAndRaisesItHere() {
    StopToken stop;
    TaskRunner runner(stop, nullptr);
    bool raised = false;
    try {
      runner.Run({"task", "source"}, [](TaskSink& sink) -> TaskReport {
        sink.ScanProgress(1, 2);
        throw std::runtime_error("out of memory");
      });
    } catch (const std::runtime_error& error) {
      raised = QString(error.what()) == "out of memory";
    }
    QVERIFY(raised);
    QVERIFY(!runner.running());
  }
};

RESTORIX_GUI_TEST(TaskRunnerTest);

}  // namespace
}  // namespace restorix

#include "task_runner_test.moc"
