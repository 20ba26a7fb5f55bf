#include "shell/qt_http_gui.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <memory>

namespace lp::gui {

HttpGet qt_http_get() {
  auto manager = std::make_shared<QNetworkAccessManager>();
  return [manager](const std::string& url) -> std::optional<std::string> {
    QNetworkRequest request(QUrl(QString::fromStdString(url)));
    request.setTransferTimeout(60000);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    std::unique_ptr<QNetworkReply> reply(manager->get(request));
    // Poll: every pass hands control to the event loop until the transfer has ended.
    while (!reply->isFinished()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    if (reply->error() != QNetworkReply::NoError) return std::nullopt;
    const QByteArray body = reply->readAll();
    return std::string(body.constData(), static_cast<std::size_t>(body.size()));
  };
}

}  // namespace lp::gui
