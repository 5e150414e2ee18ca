// The "Process Log" pane: rows with their pictures, the newest on grey,
// clearing, and the saved file.
#include <QFile>
#include <QTest>

#include "gui/icons.h"
#include "gui/process_log_pane.h"
#include "gui_test.h"

namespace restorix {
namespace {

QColor Background(const ProcessLogModel& model, int row) {
  return model.data(model.index(row, 1), Qt::BackgroundRole).value<QColor>();
}

class LogPaneTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void columnsAndRows() {
    ProcessLogPane pane;
    ProcessLogModel& model = pane.model();
    QCOMPARE(pane.windowTitle(), QString("Process Log"));
    QStringList headings;
    for (int column = 0; column < model.columnCount(); ++column)
      headings << model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    QCOMPARE(headings, (QStringList{"Process Name", "Description", "Log Time"}));
    QVERIFY(pane.empty());
    model.Append(
        {"Processing Image file :/a.qni", "----------------------------", "", LOG_STARTED});
    model.Append({"Aborted Processing Image file :/a.qni", "x", "", LOG_ABORTED});
    model.Append({"Completed Processing Image file :/a.qni", "y", "", LOG_COMPLETED});
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.index(1, 0).data().toString(), QString("Aborted Processing Image file :/a.qni"));
    QCOMPARE(model.index(1, 1).data().toString(), QString("x"));
    // "Sat Dec 05 2026 02:10:43"
    QVERIFY(QRegularExpression("^[A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d{4} \\d\\d:\\d\\d:\\d\\d$")
                .match(model.index(2, 2).data().toString())
                .hasMatch());
    for (int row = 0; row < 3; ++row) {
      const QIcon icon = model.index(row, 0).data(Qt::DecorationRole).value<QIcon>();
      QCOMPARE(icon.cacheKey(), Icons::LogStatus(static_cast<std::uint8_t>(row)).cacheKey());
    }
  }

  void onlyTheNewestRowIsGrey() {
    ProcessLogPane pane;
    ProcessLogModel& model = pane.model();
    const QColor grey(200, 200, 200), white(Qt::white);
    model.Append({"one", "", "", LOG_STARTED});
    QCOMPARE(Background(model, 0), grey);
    model.Append({"two", "", "", LOG_COMPLETED});
    QCOMPARE(Background(model, 0), white);
    QCOMPARE(Background(model, 1), grey);
    model.Clear();
    QVERIFY(pane.empty());
    model.Append({"three", "", "", LOG_STARTED});
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(Background(model, 0), grey);
  }

  void savedFileHoldsTheRowsBetweenSeparators() {
    ProcessLogPane pane;
    ProcessLogModel& model = pane.model();
    model.Append({"one", "first", "", LOG_STARTED});
    model.Append({"two", "second", "", LOG_COMPLETED});
    test::TempDir folder;
    const auto file = folder.path() / "log.txt";
    QVERIFY(model.log().Save(file));
    QFile saved(QString::fromStdString(file.string()));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(saved.readAll());
    const QString dashes(68, '-');
    QCOMPARE(text.count(dashes), 3);  // one more than the rows
    QVERIFY(
        text.startsWith("------------------------Quillon Restorix v1.0.1  Process Log"
                        "------------------------\n\n\n" +
                        dashes + "\none\n\t\tfirst\n\t\t"));
    QVERIFY(text.endsWith(dashes));
    const QStringList lines = text.split('\n');
    QCOMPARE(lines.size(), 4 + 4 * 2);
    QCOMPARE(lines[9], QString("\t\tsecond"));
  }
};

RESTORIX_GUI_TEST(LogPaneTest);

}  // namespace
}  // namespace restorix

#include "log_pane_test.moc"
