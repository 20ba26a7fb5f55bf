// lumenpick-price-server: serves a folder of packed price files on loopback.
//   lumenpick-price-server --root DIR [--port 8080]
// Prints "listening on http://127.0.0.1:PORT/" once it accepts connections.
#include <QCoreApplication>
#include <QDir>
#include <QStringList>
#include <cstdio>

#include "price-server/price_server.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  QString root;
  int port = 8080;
  for (int i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QLatin1String("--root") && i + 1 < args.size()) {
      root = args[++i];
    } else if (a == QLatin1String("--port") && i + 1 < args.size()) {
      bool ok = false;
      port = args[++i].toInt(&ok);
      if (!ok || port < 0 || port > 65535) {
        std::fprintf(stderr, "lumenpick-price-server: bad port %s\n", qPrintable(args[i]));
        return 1;
      }
    } else {
      std::fprintf(stderr, "usage: lumenpick-price-server --root DIR [--port 8080]\n");
      return a == QLatin1String("--help") ? 0 : 1;
    }
  }
  if (root.isEmpty() || !QDir(root).exists()) {
    std::fprintf(stderr, "lumenpick-price-server: --root DIR must name an existing folder\n");
    return 1;
  }
  lp::tools::PriceServer server(root);
  if (server.listen(static_cast<quint16>(port)) == 0) {
    std::fprintf(stderr, "lumenpick-price-server: cannot listen on 127.0.0.1:%d\n", port);
    return 1;
  }
  std::printf("listening on %s (root %s)\n", qPrintable(server.base_url()),
              qPrintable(QDir(root).absolutePath()));
  std::fflush(stdout);
  return app.exec();
}
