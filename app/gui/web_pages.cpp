#include "gui/web_pages.h"

#include <QDesktopServices>
#include <QSettings>

#include "gui/qt_text.h"
#include "gui/settings.h"
#include "platform/file_io.h"

namespace restorix {

QUrl HelpUrl(const QString& topic) {
  return QUrl::fromLocalFile(QStringFromPath(ProgramFolder() / "help") + "/" + topic);
}

QUrl WebPageUrl(WebPage page) {
  switch (page) {
    case WebPage::Features:
      return HelpUrl("features.htm");
    case WebPage::ContactUs:
      return HelpUrl("contact.htm");
    case WebPage::Faq:
      return HelpUrl("faq.htm");
    case WebPage::Update:
      return HelpUrl("update.htm");
    case WebPage::Buy:
      break;
  }
  // The machine's setting first, then the user's.
  QString buy = QSettings(QSettings::SystemScope, settings::kCompany, settings::kApplication)
                    .value(settings::kBuyUrl)
                    .toString();
  if (buy.isEmpty()) buy = QSettings().value(settings::kBuyUrl).toString();
  buy.truncate(1024);
  return buy.isEmpty() ? HelpUrl("buy.htm") : QUrl::fromUserInput(buy);
}

bool OpenInBrowser(const QUrl& url) {
  return QDesktopServices::openUrl(url);
}

}  // namespace restorix
