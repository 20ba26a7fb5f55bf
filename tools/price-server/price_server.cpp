#include "price-server/price_server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <algorithm>
#include <memory>

#include "pricedb/download.h"

namespace lp::tools {

namespace {

QByteArray home_page() {
  return QByteArrayLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>") +
         kPriceServerMarker + QByteArrayLiteral("</title></head><body><h1>") + kPriceServerMarker +
         QByteArrayLiteral(
             "</h1><p>Packed price files under <a href=\"/html/kabuka_db/\">/html/kabuka_db/</a>"
             "</p></body></html>\n");
}

QByteArray not_found_page() {
  return QByteArrayLiteral("<html><body><h1>404 Not Found</h1></body></html>\n");
}

QByteArray forbidden_page() {
  return QByteArrayLiteral("<html><body><h1>403 Forbidden</h1></body></html>\n");
}

// Turns away a request whose line or head outgrows what any real client sends, before the
// HTTP server buffers it: the request line beyond kMaxRequestLine gets 414, the whole head
// beyond kMaxRequestHead 431, and the connection is closed. It watches the bytes as they
// arrive (peeking, so the server still reads them itself) and is connected first, so it runs
// before the server's own reader.
class GuardedTcpServer : public QTcpServer {
 public:
  using QTcpServer::QTcpServer;

 protected:
  void incomingConnection(qintptr handle) override {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
      delete socket;
      return;
    }
    struct Head {
      qint64 line = 0;      // bytes of the current request line so far
      qint64 head = 0;      // bytes of the current request head so far
      bool in_line = true;  // still in the request line
      int run = 0;          // how much of "\r\n\r\n" the last bytes matched
      qint64 left = 0;      // bytes the server left unread after its last turn
      bool after_connected = false;
    };
    auto state = std::make_shared<Head>();
    connect(socket, &QTcpSocket::readyRead, socket, [socket, state] {
      if (!state->after_connected) {
        // Connected now, it runs after the server's reader from the next arrival on and
        // notes what that reader left, so each byte is looked at once.
        state->after_connected = true;
        connect(socket, &QTcpSocket::readyRead, socket,
                [socket, state] { state->left = socket->bytesAvailable(); });
      }
      const QByteArray buffered = socket->peek(socket->bytesAvailable());
      for (qsizetype i = std::min<qsizetype>(state->left, buffered.size()); i < buffered.size();
           ++i) {
        const char c = buffered[i];
        ++state->head;
        if (state->in_line) {
          if (c == '\n') {
            state->in_line = false;
          } else if (++state->line > PriceServer::kMaxRequestLine) {
            reject(socket, "414 URI Too Long");
            return;
          }
        }
        static const char end[] = "\r\n\r\n";
        state->run = c == end[state->run] ? state->run + 1 : (c == '\r' ? 1 : 0);
        if (state->run == 4) {  // the head is complete: the next request starts afresh
          state->line = state->head = state->run = 0;
          state->in_line = true;
        } else if (state->head > PriceServer::kMaxRequestHead) {
          reject(socket, "431 Request Header Fields Too Large");
          return;
        }
      }
      state->left = buffered.size();
    });
    addPendingConnection(socket);
  }

 private:
  static void reject(QTcpSocket* socket, const char* status) {
    // The server's own reader must not see these bytes: it would buffer them whole.
    QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    socket->write(QByteArray("HTTP/1.1 ") + status +
                  "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    socket->flush();
    socket->disconnectFromHost();
  }
};

}  // namespace

PriceServer::PriceServer(QString root)
    : root_(QDir(root).absolutePath()), server_(std::make_unique<QHttpServer>()) {
  server_->setMissingHandler(
      [this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
        if (request.method() != QHttpServerRequest::Method::Get &&
            request.method() != QHttpServerRequest::Method::Head) {
          responder.write(QHttpServerResponder::StatusCode::MethodNotAllowed);
          return;
        }
        const QString path = request.url().path(QUrl::FullyDecoded);
        if (jquants_ && path.startsWith(QLatin1String("/v2/"))) {
          QByteArray key;
          for (const auto& [name, value] : request.headers()) {
            if (name.compare("x-api-key", Qt::CaseInsensitive) == 0) key = value;
          }
          const JQuantsReply r = jquants_->answer(path.mid(3).toStdString(),
                                                  request.url().query(QUrl::FullyEncoded).toStdString(),
                                                  key.toStdString());
          if (!jquants_log_.isEmpty()) {
            QFile log(jquants_log_);
            if (log.open(QIODevice::Append | QIODevice::Text)) {
              const JQuantsLogEntry& e = jquants_->log().back();
              log.write(QByteArray::number(e.seconds, 'f', 3) + ' ' + QByteArray::number(e.status) +
                        ' ' + QByteArray::fromStdString(e.target) + '\n');
            }
          }
          responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(r.status));
          responder.writeHeader("Content-Type", "application/json; charset=utf-8");
          responder.writeHeader("Content-Length", QByteArray::number(qsizetype(r.body.size())));
          for (const auto& [name, value] : r.headers) {
            responder.writeHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
          }
          responder.writeBody(QByteArray::fromStdString(r.body));
          return;
        }
        Answer a = answer(path);
        responder.write(a.body, a.mime, static_cast<QHttpServerResponder::StatusCode>(a.status));
      });
}

PriceServer::~PriceServer() = default;

quint16 PriceServer::listen(quint16 port) {
  auto* v4 = new GuardedTcpServer(server_.get());
  if (!v4->listen(QHostAddress::LocalHost, port)) {
    delete v4;
    return 0;
  }
  port_ = v4->serverPort();
  server_->bind(v4);
  // "localhost" may resolve to ::1 first; answer there too when the port is free.
  auto* v6 = new GuardedTcpServer(server_.get());
  if (v6->listen(QHostAddress::LocalHostIPv6, port_)) {
    server_->bind(v6);
  } else {
    delete v6;
  }
  return port_;
}

void PriceServer::serve_jquants(std::unique_ptr<JQuantsView> view, const QString& log_file) {
  jquants_ = std::move(view);
  jquants_log_ = log_file;
}

QString PriceServer::base_url() const {
  return QStringLiteral("http://127.0.0.1:%1/").arg(port_);
}

PriceServer::Answer PriceServer::answer(const QString& url_path) const {
  if (url_path.isEmpty() || url_path == QLatin1String("/") ||
      url_path == QLatin1String("/index.html")) {
    return {200, home_page(), "text/html; charset=utf-8"};
  }
  // Read-only and inside the root: no parent steps, no backslash tricks, no hidden files.
  const QStringList parts = url_path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  for (const QString& part : parts) {
    if (part == QLatin1String("..") || part.startsWith(QLatin1Char('.')) ||
        part.contains(QLatin1Char('\\'))) {
      return {403, forbidden_page(), "text/html"};
    }
  }
  const QString path = root_ + QLatin1Char('/') + parts.join(QLatin1Char('/'));
  const QFileInfo info(path);
  if (!info.isFile()) return {404, not_found_page(), "text/html"};
  // A symlink (of the file or of a folder on the way) may lead out of the root: what is
  // served is decided by where the file really is.
  const QString real = info.canonicalFilePath();
  const QString real_root = QFileInfo(root_).canonicalFilePath();
  if (real.isEmpty() || real_root.isEmpty() ||
      !real.startsWith(real_root + QLatin1Char('/'))) {
    return {403, forbidden_page(), "text/html"};
  }
  QFile file(real);
  if (!file.open(QIODevice::ReadOnly)) return {404, not_found_page(), "text/html"};
  return {200, file.readAll(), "text/csv"};
}

}  // namespace lp::tools
