// The status bar's totals, and the progress dialog's percentage, clock and
// phase.
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "gui/progress_dialog.h"
#include "gui/totals_text.h"
#include "gui_test.h"

namespace restorix {
namespace {

class ProgressTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void totalsTexts_data() {
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("total");
    QTest::newRow("nothing") << quint64{0} << "Total   0.000 KB in 3 Files in 2 Folders";
    QTest::newRow("one byte less than 1 MB stays in KB")
        << quint64{1048575} << "Total 1023.999 KB in 3 Files in 2 Folders";
    QTest::newRow("1 MB") << quint64{1048576} << "Total   1.000 MB in 3 Files in 2 Folders";
    QTest::newRow("one byte less than 1 GB stays in MB (rounded)")
        << quint64{1073741823} << "Total 1024.000 MB in 3 Files in 2 Folders";
    QTest::newRow("1 GB") << quint64{1073741824} << "Total   1.000 GB in 3 Files in 2 Folders";
    QTest::newRow("past 4 GB") << quint64{6442450944} << "Total   6.000 GB in 3 Files in 2 Folders";
  }

  void totalsTexts() {
    QFETCH(quint64, bytes);
    QFETCH(QString, total);
    const Totals totals{bytes, 3, 2};
    QCOMPARE(QString::fromStdString(TotalsText(totals)), total);
    QCOMPARE(QString::fromStdString(SelectedText(totals)),
             QString(total).replace("Total", "Selected"));
  }

  void percent_data() {
    QTest::addColumn<quint64>("position");
    QTest::addColumn<quint64>("total");
    QTest::addColumn<int>("percent");
    QTest::newRow("start") << quint64{0} << quint64{100} << 0;
    QTest::newRow("truncated, not rounded") << quint64{429} << quint64{1000} << 42;
    QTest::newRow("end") << quint64{7} << quint64{7} << 100;
    QTest::newRow("a total of 0") << quint64{5} << quint64{0} << 0;
    QTest::newRow("past 2^31, taken unsigned") << quint64{3000000000} << quint64{4000000000} << 75;
    QTest::newRow("past 2^32") << quint64{5000000000} << quint64{10000000000} << 50;
  }

  void percent() {
    QFETCH(quint64, position);
    QFETCH(quint64, total);
    QFETCH(int, percent);
    QCOMPARE(ProgressPercent(position, total), percent);
    ProgressDialog dialog("task", "source");
    dialog.SetProgress(position, total);
    QCOMPARE(dialog.percentText(), QString::number(percent) + "%");
  }

  void percentChangesOnlyWhenItDiffers() {
    ProgressDialog dialog("task", "source");
    QCOMPARE(dialog.percent(), -1);
    QCOMPARE(dialog.percentText(), QString());
    dialog.SetProgress(10, 100);
    // The label is written only on a change: a text set from outside stays
    // while the percentage stays.
    const QList<QLabel*> labels = dialog.findChildren<QLabel*>();
    QLabel* percentLabel = nullptr;
    for (QLabel* each : labels)
      if (each->text() == "10%") percentLabel = each;
    QVERIFY(percentLabel);
    percentLabel->setText("marker");
    dialog.SetProgress(109, 1000);  // still 10
    QCOMPARE(percentLabel->text(), QString("marker"));
    dialog.SetProgress(11, 100);
    QCOMPARE(percentLabel->text(), QString("11%"));
  }

  void clock() {
    ProgressDialog dialog("task", "source");
    QCOMPARE(dialog.clockText(), QString("00:00:00"));
    for (int second = 0; second < 59; ++second)
      dialog.Tick();
    QCOMPARE(dialog.clockText(), QString("00:00:59"));
    dialog.Tick();
    QCOMPARE(dialog.clockText(), QString("00:01:00"));
    for (int second = 60; second < 3600; ++second)
      dialog.Tick();
    QCOMPARE(dialog.clockText(), QString("01:00:00"));
    // The hour count is eight bits: after 255 hours it starts again.
    for (int second = 3600; second < 255 * 3600 + 3599; ++second)
      dialog.Tick();
    QCOMPARE(dialog.clockText(), QString("255:59:59"));
    dialog.Tick();
    QCOMPARE(dialog.clockText(), QString("00:00:00"));
  }

  void phaseAndTexts() {
    ProgressDialog dialog("Please wait", "/images/volume.qni");
    QCOMPARE(dialog.windowTitle(), QString("Task Progress"));
    QCOMPARE(dialog.stopButton()->text(), QString("&Stop"));
    QCOMPARE(dialog.phaseText(), QString());
    dialog.SetPhase(2, 2);
    QCOMPARE(dialog.phaseText(), QString("Processing phase 2 of 2"));
    QStringList texts;
    for (QLabel* label : dialog.findChildren<QLabel*>())
      texts << label->text();
    for (const char* text :
         {"Progress", "Elapsed Time", "Status", "Please wait", "/images/volume.qni", "00:00:00"})
      QVERIFY2(texts.contains(text), text);
  }

  void closeBoxAndEscDoNothing() {
    ProgressDialog dialog("task", "source");
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(!dialog.close());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    dialog.CloseProgress();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), -1);
  }
};

RESTORIX_GUI_TEST(ProgressTest);

}  // namespace
}  // namespace restorix

#include "progress_test.moc"
