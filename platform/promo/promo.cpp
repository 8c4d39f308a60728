#include "platform/promo/promo.h"

#include <QDate>
#include <QLocale>
#include <QTextDocumentFragment>
#include <QUrl>
#include <QUrlQuery>

#include "platform/settings.h"
#include "platform/textcodec.h"

namespace pw {
namespace {

// Placeholders under a reserved name; a deployment sets the real ones.
constexpr const char* kDefaultWebsite = "https://plinthwick.example/";
constexpr const char* kDefaultMailbox = "support@plinthwick.example";
constexpr const char* kSection = "Endpoints";

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool HasControl(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  return false;
}

bool IsWebAddress(const std::string& target) {
  const std::string lower = Lower(target);
  if (lower.rfind("http://", 0) != 0 && lower.rfind("https://", 0) != 0) return false;
  const QUrl url(QString::fromStdString(target), QUrl::StrictMode);
  return url.isValid() && !url.host().isEmpty();
}

}  // namespace

PromoEndpoints ReadEndpoints() {
  PromoEndpoints e;
  e.website = Trim(ReadSetting(kSection, "Website", kDefaultWebsite));
  e.mailbox = Trim(ReadSetting(kSection, "Mailbox", kDefaultMailbox));
  e.page = Trim(ReadSetting(kSection, "AdPage", ""));
  if (!IsWebAddress(e.page)) e.page.clear();
  return e;
}

bool PageHost(const PromoEndpoints& endpoints, std::string& host, int& port) {
  if (!IsWebAddress(endpoints.page)) return false;
  const QUrl url(QString::fromStdString(endpoints.page));
  host = url.host().toStdString();
  port = url.port(url.scheme().compare("https", Qt::CaseInsensitive) == 0 ? 443 : 80);
  return true;
}

std::string TodayText() {
  return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat).toStdString();
}

bool FirstStartOfDay(std::string* error) {
  const std::string last = ReadSetting("main", "LastDay", "");
  const std::string today = TodayText();
  WriteSetting("main", "LastDay", today, error);
  return last != today;
}

std::vector<std::pair<std::string, std::string>> PromoSettings(const std::string& pageText) {
  static const char* const kTextKeys[] = {"show1", "show2", "show3", "link1", "link2", "link3"};
  std::vector<std::pair<std::string, std::string>> settings;
  std::size_t start = 0;
  while (start < pageText.size()) {
    std::size_t end = pageText.find('\n', start);
    if (end == std::string::npos) end = pageText.size();
    const std::string line = pageText.substr(start, end - start);
    start = end + 1;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = Lower(Trim(line.substr(0, eq)));
    std::string value = line.substr(eq + 1);
    if (!value.empty() && value.back() == '\r') value.pop_back();
    for (const char* allowed : kTextKeys)
      if (key == allowed) settings.emplace_back(key, ClipSettingValue(value));
    if (key == "yanshi") {
      const std::string count = Trim(value);
      bool digits = !count.empty() && count.size() <= 9;
      for (char c : count) digits = digits && c >= '0' && c <= '9';
      if (digits) settings.emplace_back("Yanshi", count);
    }
  }
  return settings;
}

int StorePromoPage(const std::string& pageText, std::string* error) {
  int stored = 0;
  for (const auto& [key, value] : PromoSettings(pageText)) {
    if (!WriteSetting("Main", key, value, error)) return -1;
    ++stored;
  }
  return stored;
}

std::string PageText(const std::string& body, const std::string& contentType) {
  std::string text = body;
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  if (!IsValidUtf8(text)) {
    std::string converted;
    text = GbkToUtf8(text, converted) ? converted : DisplayText(text);
  }
  const std::string type = Lower(contentType);
  const bool html = type.find("html") != std::string::npos ||
                    (type.empty() && Lower(Trim(text.substr(0, 64))).rfind('<', 0) == 0);
  if (!html) return text;
  return QTextDocumentFragment::fromHtml(QString::fromStdString(text)).toPlainText().toStdString();
}

bool IsOpenableLink(const std::string& target) {
  if (target.empty() || HasControl(target)) return false;
  if (Lower(target).rfind("mailto:", 0) != 0) return IsWebAddress(target);
  // Some mail programs attach local files named in a link ("attach=..."):
  // only the plain header fields are let through.
  const QUrl url(QString::fromStdString(target));
  if (!url.isValid() || url.path().isEmpty()) return false;
  for (const auto& [name, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
    const QString field = name.toLower();
    if (field != "subject" && field != "body" && field != "cc" && field != "bcc") return false;
  }
  return true;
}

std::string ErrorReportLink(const std::string& mailbox) {
  if (mailbox.empty() || HasControl(mailbox) || mailbox.find_first_of("?&# ") != std::string::npos)
    return {};
  const QByteArray subject = QUrl::toPercentEncoding(QStringLiteral("Plinthwick错误报告"));
  const QByteArray body =
      QUrl::toPercentEncoding(QStringLiteral("您好！\r\n\r\n我发现了一个bug..."));
  return "mailto:" + mailbox + "?subject=" + subject.toStdString() + "&body=" + body.toStdString();
}

}  // namespace pw
