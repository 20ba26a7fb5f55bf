#include "shell/qt_http_gui.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <deque>
#include <memory>

namespace lp::gui {

namespace {

std::string size_text(std::uint64_t bytes) {
  constexpr std::uint64_t kMB = 1024ull * 1024;
  if (bytes >= kMB && bytes % kMB == 0) return std::to_string(bytes / kMB) + " MB";
  return std::to_string(bytes) + " bytes";
}

// Network-level failures; the other errors of a reply that carries a status are just that
// status (404, 500, ...), an answer like any other.
bool transfer_failed(QNetworkReply::NetworkError e) {
  return (e > QNetworkReply::NoError && e < QNetworkReply::ContentAccessDenied) ||
         (e >= QNetworkReply::ProtocolUnknownError && e <= QNetworkReply::ProtocolFailure);
}

HttpResponse get(QNetworkAccessManager& manager, const HttpRequest& r) {
  HttpResponse response;
  const QUrl url(QString::fromStdString(r.url));
  const QString scheme = url.scheme().toLower();
  if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
    response.error = "not an http:// or https:// address: " + r.url;
    return response;
  }
  QNetworkRequest request(url);
  for (const auto& [name, value] : r.headers) {
    request.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
  }
  // Extra headers (a key) never follow a redirect to another server.
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       r.headers.empty() ? QNetworkRequest::NoLessSafeRedirectPolicy
                                         : QNetworkRequest::SameOriginRedirectPolicy);
  request.setMaximumRedirectsAllowed(5);

  QFile file;
  if (!r.body_file.empty()) {
    file.setFileName(QString::fromStdString(r.body_file));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
      response.error = "could not create " + r.body_file + ": " + file.errorString().toStdString();
      return response;
    }
  }

  std::unique_ptr<QNetworkReply> reply(manager.get(request));
  std::string failure;
  std::uint64_t received = 0;
  bool connected = false;
  auto stop = [&](std::string why) {
    if (failure.empty()) failure = std::move(why);
    reply->abort();
  };
  auto drain = [&] {
    while (failure.empty() && reply->bytesAvailable() > 0) {
      const QByteArray chunk = reply->read(64 * 1024);
      if (chunk.isEmpty()) break;
      if (received + static_cast<std::uint64_t>(chunk.size()) > r.max_body_bytes) {
        stop("body larger than " + size_text(r.max_body_bytes));
        return;
      }
      received += static_cast<std::uint64_t>(chunk.size());
      if (file.isOpen()) {
        if (file.write(chunk) != chunk.size()) {
          stop("could not write " + r.body_file + ": " + file.errorString().toStdString());
          return;
        }
      } else {
        response.body.append(chunk.constData(), static_cast<std::size_t>(chunk.size()));
      }
    }
  };
  QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, reply.get(), [&] {
    connected = true;
    bool ok = false;
    const qulonglong announced = reply->header(QNetworkRequest::ContentLengthHeader).toULongLong(&ok);
    if (ok && announced > r.max_body_bytes) stop("body larger than " + size_text(r.max_body_bytes));
  });
  QObject::connect(reply.get(), &QNetworkReply::readyRead, reply.get(), [&] {
    connected = true;
    drain();
  });
  QObject::connect(reply.get(), &QNetworkReply::requestSent, reply.get(), [&] { connected = true; });
  // Wakes the loop below at least every 100 ms, so the caps are checked however quiet the
  // connection is.
  QTimer tick;
  tick.start(100);

  QElapsedTimer clock;
  clock.start();
  // (ms since start, bytes received then): enough history to judge the last rate window.
  std::deque<std::pair<qint64, std::uint64_t>> samples{{0, 0}};
  const qint64 window_ms = static_cast<qint64>(r.low_speed_window_s) * 1000;
  while (!reply->isFinished()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (reply->isFinished() || !failure.empty()) break;
    const qint64 now = clock.elapsed();
    if (r.cancelled && r.cancelled()) {
      stop("cancelled");
    } else if (r.total_timeout_s > 0 && now >= r.total_timeout_s * 1000LL) {
      stop("timed out after " + std::to_string(r.total_timeout_s) + " s");
    } else if (!connected && r.connect_timeout_s > 0 && now >= r.connect_timeout_s * 1000LL) {
      stop("could not connect to " + url.host().toStdString() + " within " +
           std::to_string(r.connect_timeout_s) + " s");
    } else if (r.low_speed_bytes_per_s > 0 && window_ms > 0) {
      samples.emplace_back(now, received);
      while (samples.size() > 1 && samples[1].first <= now - window_ms) samples.pop_front();
      const auto& [then, bytes_then] = samples.front();
      if (now - then >= window_ms &&
          (received - bytes_then) * 1000 <
              static_cast<std::uint64_t>(r.low_speed_bytes_per_s) *
                  static_cast<std::uint64_t>(now - then)) {
        stop("slower than " + std::to_string(r.low_speed_bytes_per_s) + " bytes/s for " +
             std::to_string(r.low_speed_window_s) + " s");
      }
    }
  }
  drain();
  if (file.isOpen()) file.close();

  response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  for (const auto& [name, value] : reply->rawHeaderPairs()) {
    response.headers.emplace_back(name.toLower().toStdString(), value.trimmed().toStdString());
  }
  if (!failure.empty()) {
    response.error = failure;
  } else if (transfer_failed(reply->error()) || response.status == 0) {
    response.error = reply->errorString().toStdString();
    if (response.error.empty()) response.error = "no answer";
  }
  // The reply goes before the locals its handlers refer to.
  reply.reset();
  // Qt Network takes a length it cannot read as no length at all: check it here, as libcurl
  // does, so a lying server fails the same way with either client.
  const std::string length = response.header("content-length");
  if (response.error.empty() && !length.empty()) {
    const bool digits = length.size() <= 18 &&
                        length.find_first_not_of("0123456789") == std::string::npos;
    const std::string encoding = response.header("content-encoding");
    const bool plain = encoding.empty() || encoding == "identity";
    if (!digits || (plain && std::stoull(length) != received)) {
      response.error = "malformed or incomplete response: Content-Length " + length + ", " +
                       std::to_string(received) + " bytes received";
    }
  }
  if (!response.error.empty() && file.exists()) file.remove();
  return response;
}

}  // namespace

HttpClient qt_http_get() {
  auto manager = std::make_shared<QNetworkAccessManager>();
  return [manager](const HttpRequest& request) { return get(*manager, request); };
}

}  // namespace lp::gui
