// The pages the Help menu opens in the desktop's browser: the help pages
// installed beside the program in "help", and the maker's pages, kept there
// too so that they open without a network.
#pragma once

#include <QString>
#include <QUrl>

namespace restorix {

enum class WebPage { Features, ContactUs, Faq, Buy, Update };

// Buy leads where the "BuyURL" setting says, when it says anything.
QUrl WebPageUrl(WebPage page);
// A help page by its file name; "index.htm" is the table of contents.
QUrl HelpUrl(const QString& topic = "index.htm");
// Opens the address in the desktop's browser; false when nothing opened it.
bool OpenInBrowser(const QUrl& url);

}  // namespace restorix
