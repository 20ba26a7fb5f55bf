// lumenpick-price-server: serves a folder of packed price files on loopback.
//   lumenpick-price-server --root DIR [--port 8080]
// or a price database through the J-Quants API V2 endpoints under /v2/:
//   lumenpick-price-server --api jquants --root DBDIR [--api-key KEY] [--page-size N]
//                          [--fail-429 K,...] [--fail-500 K,...] [--log FILE] [--port 8080]
//                          [--plan P] [--now YYYYMMDDHHMM] [--publish-time HHMM]
//                          [--status-210 K,...] [--lockout-at K] [--lockout-seconds S]
//                          [--fins-publish-time HH:MM] [--fins-status N]
// Prints "listening on http://127.0.0.1:PORT/" once it accepts connections.
#include <QCoreApplication>
#include <QDir>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "price-server/price_server.h"

namespace {

const char* const kUsage =
    "usage: lumenpick-price-server --root DIR [--port 8080]\n"
    "       lumenpick-price-server --api jquants --root DBDIR [--api-key KEY] [--page-size N]\n"
    "                              [--fail-429 K,...] [--fail-500 K,...] [--log FILE] [--port P]\n"
    "  --api jquants  serve the database folder DBDIR as J-Quants API V2 under /v2/\n"
    "  --api-key KEY  the x-api-key to accept (default: $JQUANTS_API_KEY)\n"
    "  --page-size N  records per page before a pagination_key (default 1000)\n"
    "  --fail-429 K   answer request number K (1-based) with 429; --fail-500 likewise\n"
    "  --log FILE     append every API request as \"seconds status path?query\"\n"
    "  --plan P       answer as plan P does: free, light, standard or premium (its window of\n"
    "                 dates, 400 beyond it; no TOPIX on free)\n"
    "  --now T        the server's clock in Japan time, YYYYMMDDHHMM (default: the real one)\n"
    "  --publish-time HHMM  a day's bars appear at this time of that day (default 1630)\n"
    "  --fins-publish-time HH:MM  a day's results summaries appear at this time of --now's\n"
    "                 day (default: with the bars; live about 18:00)\n"
    "  --fins-status N  answer every /fins/summary with status N (403: not in the plan)\n"
    "  --status-210 K answer request number K with 210 (no content)\n"
    "  --lockout-at K lock the key out from request K on: 429 with Retry-After ...\n"
    "  --lockout-seconds S  ... for S seconds (default 300)\n";

bool parse_numbers(const QString& text, std::set<long>& out) {
  for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
    bool ok = false;
    const long n = part.toLong(&ok);
    if (!ok || n < 1) return false;
    out.insert(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  QString root, api, log_file;
  int port = 8080;
  lp::tools::JQuantsViewOptions jq;
  if (const char* key = std::getenv("JQUANTS_API_KEY")) jq.api_key = key;
  for (int i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    const bool has_value = i + 1 < args.size();
    bool ok = true;
    if (a == QLatin1String("--root") && has_value) {
      root = args[++i];
    } else if (a == QLatin1String("--port") && has_value) {
      port = args[++i].toInt(&ok);
      ok = ok && port >= 0 && port <= 65535;
    } else if (a == QLatin1String("--api") && has_value) {
      api = args[++i];
      ok = api == QLatin1String("jquants");
    } else if (a == QLatin1String("--api-key") && has_value) {
      jq.api_key = args[++i].toStdString();
    } else if (a == QLatin1String("--page-size") && has_value) {
      jq.page_size = args[++i].toInt(&ok);
      ok = ok && jq.page_size > 0;
    } else if (a == QLatin1String("--fail-429") && has_value) {
      ok = parse_numbers(args[++i], jq.fail_429);
    } else if (a == QLatin1String("--fail-500") && has_value) {
      ok = parse_numbers(args[++i], jq.fail_500);
    } else if (a == QLatin1String("--plan") && has_value) {
      jq.plan = args[++i].toStdString();
    } else if (a == QLatin1String("--now") && has_value) {
      jq.now = args[++i].toStdString();
    } else if (a == QLatin1String("--publish-time") && has_value) {
      jq.publish_hhmm = args[++i].toInt(&ok);
      ok = ok && jq.publish_hhmm >= 0 && jq.publish_hhmm <= 2400;
    } else if (a == QLatin1String("--fins-publish-time") && has_value) {
      const QString t = args[++i];
      const int h = t.section(QLatin1Char(':'), 0, 0).toInt(&ok);
      bool ok_m = false;
      const int m = t.section(QLatin1Char(':'), 1, 1).toInt(&ok_m);
      ok = ok && ok_m && t.count(QLatin1Char(':')) == 1 && h >= 0 && h <= 23 && m >= 0 && m <= 59;
      jq.fins_publish_hhmm = h * 100 + m;
    } else if (a == QLatin1String("--fins-status") && has_value) {
      jq.fins_status = args[++i].toInt(&ok);
      ok = ok && jq.fins_status >= 200 && jq.fins_status <= 599;
    } else if (a == QLatin1String("--status-210") && has_value) {
      ok = parse_numbers(args[++i], jq.status_210);
    } else if (a == QLatin1String("--lockout-at") && has_value) {
      jq.lockout_at = args[++i].toLong(&ok);
      ok = ok && jq.lockout_at > 0;
    } else if (a == QLatin1String("--lockout-seconds") && has_value) {
      jq.lockout_seconds = args[++i].toDouble(&ok);
      ok = ok && jq.lockout_seconds >= 0;
    } else if (a == QLatin1String("--log") && has_value) {
      log_file = args[++i];
    } else {
      std::fputs(kUsage, a == QLatin1String("--help") ? stdout : stderr);
      return a == QLatin1String("--help") ? 0 : 2;
    }
    if (!ok) {
      std::fprintf(stderr, "lumenpick-price-server: bad value for %s: %s\n", qPrintable(a),
                   qPrintable(args[i]));
      return 2;
    }
  }
  if (root.isEmpty() || !QDir(root).exists()) {
    std::fprintf(stderr, "lumenpick-price-server: --root DIR must name an existing folder\n");
    return 1;
  }
  lp::tools::PriceServer server(root);
  if (!api.isEmpty()) {
    if (jq.api_key.empty()) {
      std::fprintf(stderr, "lumenpick-price-server: --api jquants needs --api-key or JQUANTS_API_KEY\n");
      return 2;
    }
    jq.db_folder = QDir(root).absolutePath().toStdString() + "/";
    auto view = std::make_unique<lp::tools::JQuantsView>();
    std::string error;
    if (!view->load(jq, error)) {
      std::fprintf(stderr, "lumenpick-price-server: %s\n", error.c_str());
      return 1;
    }
    server.serve_jquants(std::move(view), log_file);
  }
  if (server.listen(static_cast<quint16>(port)) == 0) {
    std::fprintf(stderr, "lumenpick-price-server: cannot listen on 127.0.0.1:%d\n", port);
    return 1;
  }
  std::printf("listening on %s (root %s)%s\n", qPrintable(server.base_url()),
              qPrintable(QDir(root).absolutePath()),
              api.isEmpty() ? "" : " J-Quants API at /v2/");
  std::fflush(stdout);
  return app.exec();
}
