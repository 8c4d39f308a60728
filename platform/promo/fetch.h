#pragma once
// Fetching the promotional page with Qt's HTTP client, asynchronously on the
// calling thread's event loop: first a connection check against the page's
// own host, then the page itself.

#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "platform/promo/promo.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace pw {

// The connection check: answers true when a TCP connection to the page's own
// host and port opens within `endpoints.checkTimeoutMs`, false otherwise or
// without a page address. `answer` runs once from the event loop, unless
// `owner` is destroyed first.
void IsOnline(const PromoEndpoints& endpoints, QObject* owner,
              std::function<void(bool online, const std::string& error)> answer);

struct PromoPage {
  bool online = false;  // the connection check succeeded
  bool loaded = false;  // the page arrived with a success status
  int status = 0;       // HTTP status, 0 when there was none
  std::string text;     // text content of a loaded page
  std::string error;    // why it did not load
};

class PromoFetch {
 public:
  using Done = std::function<void(const PromoPage&)>;
  // Starts at once; `done` runs once, from the event loop, unless this object
  // is destroyed first (never destroy it from `done` itself). Nothing is sent
  // without a page address.
  PromoFetch(const PromoEndpoints& endpoints, Done done);
  ~PromoFetch();
  PromoFetch(const PromoFetch&) = delete;
  PromoFetch& operator=(const PromoFetch&) = delete;

  bool finished() const { return finished_; }

  // Largest page accepted; a longer one is dropped.
  static constexpr qint64 kMaxPageBytes = 256 * 1024;

 private:
  void checkDone(bool online, const std::string& error);
  void pageDone();
  void finish();

  PromoEndpoints endpoints_;
  Done done_;
  PromoPage page_;
  bool finished_ = false;
  bool tooLarge_ = false;
  std::unique_ptr<QNetworkAccessManager> manager_;
  QNetworkReply* reply_ = nullptr;
  // Context of every connection: destroyed first, so no signal reaches a
  // half-destroyed fetch.
  std::unique_ptr<QObject> guard_;
};

}  // namespace pw
