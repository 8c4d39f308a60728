#pragma once
// The promotional texts and the maker's addresses: where they come from, what
// a fetched page may store, and which targets may be handed to the shell.

#include <string>
#include <utility>
#include <vector>

namespace pw {

// Every outside address the program knows. A deployment sets them in
// "Info.ini", section "Endpoints"; without "AdPage" nothing is ever fetched.
struct PromoEndpoints {
  std::string website;  // "Website": the maker's web site (menu "官方网站", Label4)
  std::string mailbox;  // "Mailbox": support address of the error report
  std::string page;     // "AdPage": the promotional page, http or https only
  // The connection check asks the page's own host and port, nobody else, and
  // gives up after this long.
  int checkTimeoutMs = 2000;
  int pageTimeoutMs = 10000;
};
PromoEndpoints ReadEndpoints();

// Host and port of the page address; false when there is no usable page.
bool PageHost(const PromoEndpoints& endpoints, std::string& host, int& port);

// Today's date as "LastDay" holds it (the system's short date format).
std::string TodayText();

// Reads "LastDay" and writes today into it; true when the last start was on
// another day, so the page is due. A start without a page or a connection
// still uses up the day.
bool FirstStartOfDay(std::string* error = nullptr);

// The key=value lines of a page's text that the panel uses: "show1".."show3",
// "link1".."link3", and "Yanshi" when it is a plain count. The key is the text
// before the first "=", the value everything after it, cut to the settings
// store's limit (kMaxSettingChars). Every other key is ignored, the program's
// own settings above all.
std::vector<std::pair<std::string, std::string>> PromoSettings(const std::string& pageText);

// Stores PromoSettings(pageText) in section "Main"; answers how many were
// stored, or -1 with `error` set when the settings file cannot be written.
int StorePromoPage(const std::string& pageText, std::string* error = nullptr);

// Text content of a fetched page: HTML as a browser renders it, anything else
// as plain text. UTF-8 or GBK bytes; the result is UTF-8.
std::string PageText(const std::string& body, const std::string& contentType);

// Whether a link target may go to the shell: an http or https address with a
// host, or a "mailto:" link with no fields beyond subject, body, cc and bcc.
// Files, programs and other schemes are refused.
bool IsOpenableLink(const std::string& target);

// The "mailto:" link of the error report to `mailbox`, or empty without one.
std::string ErrorReportLink(const std::string& mailbox);

}  // namespace pw
