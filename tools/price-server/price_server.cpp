#include "price-server/price_server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QUrl>

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
  port_ = server_->listen(QHostAddress::LocalHost, port);
  // "localhost" may resolve to ::1 first; answer there too when the port is free.
  if (port_ != 0) server_->listen(QHostAddress::LocalHostIPv6, port_);
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
      return {403, QByteArrayLiteral("<html><body><h1>403 Forbidden</h1></body></html>\n"),
              "text/html"};
    }
  }
  const QString path = root_ + QLatin1Char('/') + parts.join(QLatin1Char('/'));
  const QFileInfo info(path);
  if (!info.isFile()) return {404, not_found_page(), "text/html"};
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {404, not_found_page(), "text/html"};
  return {200, file.readAll(), "text/csv"};
}

}  // namespace lp::tools
