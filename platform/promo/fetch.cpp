#include "platform/promo/fetch.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace pw {

void IsOnline(const PromoEndpoints& endpoints, QObject* owner,
              std::function<void(bool online, const std::string& error)> answer) {
  std::string host;
  int port = 0;
  if (!PageHost(endpoints, host, port)) {
    QTimer::singleShot(0, owner, [answer] { answer(false, "no page address"); });
    return;
  }
  auto* socket = new QTcpSocket(owner);
  socket->setProxy(QNetworkProxy::NoProxy);
  auto answered = std::make_shared<bool>(false);
  auto reply = [socket, answered, answer](bool online, const std::string& error) {
    if (*answered) return;
    *answered = true;
    socket->abort();
    socket->deleteLater();
    answer(online, error);
  };
  QObject::connect(socket, &QTcpSocket::connected, socket, [reply] { reply(true, {}); });
  QObject::connect(socket, &QTcpSocket::errorOccurred, socket,
                   [reply, socket] { reply(false, socket->errorString().toStdString()); });
  const int timeout = endpoints.checkTimeoutMs;
  QTimer::singleShot(timeout, socket, [reply, timeout] {
    reply(false, "no answer within " + std::to_string(timeout) + " ms");
  });
  socket->connectToHost(QString::fromStdString(host), static_cast<quint16>(port));
}

PromoFetch::PromoFetch(const PromoEndpoints& endpoints, Done done)
    : endpoints_(endpoints), done_(std::move(done)), guard_(std::make_unique<QObject>()) {
  IsOnline(endpoints_, guard_.get(),
           [this](bool online, const std::string& error) { checkDone(online, error); });
}

PromoFetch::~PromoFetch() {
  finished_ = true;
  done_ = nullptr;
  guard_.reset();
  if (reply_ != nullptr) {
    reply_->abort();
    delete reply_;
  }
}

void PromoFetch::checkDone(bool online, const std::string& error) {
  if (finished_) return;
  page_.online = online;
  page_.error = error;
  if (!online) {
    finish();
    return;
  }
  manager_ = std::make_unique<QNetworkAccessManager>();
  QNetworkRequest request(QUrl(QString::fromStdString(endpoints_.page)));
  request.setTransferTimeout(endpoints_.pageTimeoutMs);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::SameOriginRedirectPolicy);
  request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Plinthwick/2.2.1"));
  reply_ = manager_->get(request);
  QObject::connect(reply_, &QNetworkReply::downloadProgress, guard_.get(),
                   [this](qint64 received, qint64) {
                     if (received > kMaxPageBytes && !tooLarge_) {
                       tooLarge_ = true;
                       reply_->abort();
                     }
                   });
  QObject::connect(reply_, &QNetworkReply::finished, guard_.get(), [this] { pageDone(); });
}

void PromoFetch::pageDone() {
  page_.status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  const QByteArray body = reply_->readAll();
  if (tooLarge_ || body.size() > kMaxPageBytes) {
    page_.error = "page too large";
  } else if (reply_->error() != QNetworkReply::NoError) {
    page_.error = reply_->errorString().toStdString();
  } else if (page_.status < 200 || page_.status >= 300) {
    page_.error = "HTTP status " + std::to_string(page_.status);
  } else {
    page_.loaded = true;
    page_.text =
        PageText(body.toStdString(),
                 reply_->header(QNetworkRequest::ContentTypeHeader).toString().toStdString());
  }
  reply_->deleteLater();
  reply_ = nullptr;
  finish();
}

void PromoFetch::finish() {
  if (finished_) return;
  finished_ = true;
  if (done_) done_(page_);
}

}  // namespace pw
