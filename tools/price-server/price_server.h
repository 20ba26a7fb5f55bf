// A small read-only HTTP server for a folder of packed price files: the maker's server in
// miniature, for the demo, the tests and the benchmark. GET /<path> answers the file
// <root>/<path>; "/" answers a home page carrying the server's marker word.
#pragma once

#include <QHttpServer>
#include <QString>
#include <memory>

#include "price-server/jquants_view.h"

namespace lp::tools {

class PriceServer {
 public:
  explicit PriceServer(QString root);
  ~PriceServer();
  PriceServer(const PriceServer&) = delete;
  PriceServer& operator=(const PriceServer&) = delete;

  // Listens on 127.0.0.1 (and ::1 when possible) at `port`, 0 for an ephemeral one.
  // Returns the port, or 0 when it cannot listen.
  quint16 listen(quint16 port = 0);
  quint16 port() const { return port_; }
  // http://127.0.0.1:<port>/
  QString base_url() const;

  // The answer for a request path, as the server gives it (exposed for tests).
  struct Answer {
    int status = 200;
    QByteArray body;
    QByteArray mime;
  };
  Answer answer(const QString& url_path) const;

  // Longer request lines are refused with 414, longer request heads with 431: no client of
  // this server needs more, and the HTTP server would otherwise buffer any amount.
  static constexpr qint64 kMaxRequestLine = 4096;
  static constexpr qint64 kMaxRequestHead = 16384;

  // Also answers the J-Quants API under "/v2/" from the view; each request is appended to
  // `log_file` (when given) as "seconds status path?query".
  void serve_jquants(std::unique_ptr<JQuantsView> view, const QString& log_file = {});
  JQuantsView* jquants() const { return jquants_.get(); }

 private:
  QString root_;
  std::unique_ptr<QHttpServer> server_;
  quint16 port_ = 0;
  std::unique_ptr<JQuantsView> jquants_;
  QString jquants_log_;
};

}  // namespace lp::tools
