#pragma once
// A web server on the loopback interface that answers every request with one
// canned response, counting connections and requests. It runs on the test's
// own event loop; nothing leaves the machine.

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <string>

namespace pw::test {

inline std::string HttpResponse(int status, const std::string& contentType,
                                const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) + (status < 400 ? " OK" : " Not Found") +
         "\r\nContent-Type: " + contentType + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

class PageServer {
 public:
  explicit PageServer(std::string response) : response_(std::move(response)) {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        ++connections;
        auto request = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
          request->append(socket->readAll());
          if (!request->contains("\r\n\r\n")) return;
          ++requests;
          lastRequest = request->toStdString();
          request->clear();
          socket->write(response_.data(), static_cast<qint64>(response_.size()));
          socket->disconnectFromHost();
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
  }

  int port() const { return server_.serverPort(); }
  std::string url(const std::string& path = "/ad.html") const {
    return "http://127.0.0.1:" + std::to_string(port()) + path;
  }

  int connections = 0;
  int requests = 0;
  std::string lastRequest;

 private:
  std::string response_;
  QTcpServer server_;
};

// A loopback port nobody listens on: connecting to it is refused.
inline int RefusedPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  const int port = probe.serverPort();
  probe.close();
  return port;
}

}  // namespace pw::test
