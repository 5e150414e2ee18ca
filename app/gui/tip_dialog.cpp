#include "gui/tip_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QTextStream>
#include <QVBoxLayout>

#include "gui/settings.h"

namespace restorix {

QString TipsFilePath() {
  return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/stips.txt";
}

bool EnsureTipsFile(const QString& path) {
  const QFileInfo info(path);
  if (info.exists()) return !info.isDir();
  QDir().mkpath(info.absolutePath());
  QFile file(path);
  if (file.open(QIODevice::WriteOnly | QIODevice::Text))
    file.write("Press Ctrl + W to run wizard.\n");
  return false;
}

TipDialog::TipDialog(const QString& path, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Tip of the Day");
  QFile file(path);
  if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    QTextStream in(&file);
    while (!in.atEnd()) {
      const QString line = in.readLine().trimmed();
      if (!line.isEmpty()) tips_.push_back(line);
    }
  }
  QSettings settings;
  next_ = settings.value(settings::kTipNext, 0).toInt();

  auto* lamp = new QLabel(this);
  lamp->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(48, 48));
  auto* heading = new QLabel("Did you know...", this);
  QFont font = heading->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.3);
  heading->setFont(font);
  text_ = new QLabel(this);
  text_->setWordWrap(true);
  text_->setTextFormat(Qt::PlainText);
  text_->setMinimumSize(300, 80);
  text_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  startUp_ = new QCheckBox("&Show tips at startup", this);
  startUp_->setChecked(settings.value(settings::kTipStartUp, true).toBool());
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* next = buttons->addButton("&Next Tip", QDialogButtonBox::ActionRole);
  QPushButton* close = buttons->addButton("&Close", QDialogButtonBox::AcceptRole);
  close->setDefault(true);

  auto* tipColumn = new QVBoxLayout;
  tipColumn->addWidget(heading);
  tipColumn->addWidget(text_, 1);
  auto* top = new QHBoxLayout;
  top->addWidget(lamp, 0, Qt::AlignTop);
  top->addLayout(tipColumn, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(startUp_);
  bottom->addStretch();
  bottom->addWidget(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addLayout(bottom);
  next->setEnabled(tips_.size() > 1);

  connect(next, &QPushButton::clicked, this, &TipDialog::ShowNext);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(startUp_, &QCheckBox::toggled, this,
          [](bool on) { QSettings().setValue(settings::kTipStartUp, on); });
  ShowNext();
}

QString TipDialog::tip() const {
  return text_->text();
}

bool TipDialog::showAtStartUp() const {
  return startUp_->isChecked();
}

void TipDialog::ShowNext() {
  if (tips_.isEmpty()) return;
  if (next_ < 0 || next_ >= tips_.size()) next_ = 0;
  text_->setText(tips_[next_]);
  next_ = (next_ + 1) % static_cast<int>(tips_.size());
  QSettings().setValue(settings::kTipNext, next_);
}

}  // namespace restorix
