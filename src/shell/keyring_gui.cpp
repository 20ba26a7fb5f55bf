#include "shell/keyring_gui.h"

#include <qt6keychain/keychain.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "pricedb/jquants_key.h"

namespace lp::gui {

namespace {

constexpr const char* kKeychainService = "lumenpick";
constexpr const char* kKeychainKey = "jquants-api-key";
constexpr int kKeyringWaitMs = 5000;

// A job needs an event loop, and the command line may have no application yet.
void ensure_core_application() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "lumenpick-cli";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
}

bool run_job(QKeychain::Job& job) {
  ensure_core_application();
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  bool finished = false;
  QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
    finished = true;
    loop.quit();
  });
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  timer.start(kKeyringWaitMs);
  job.start();
  if (!finished) loop.exec();
  return finished && job.error() == QKeychain::NoError;
}

std::string home() {
  const char* h = std::getenv("HOME");
  return h ? h : "";
}

}  // namespace

std::string keyring_api_key() {
  // Leaked on a timeout rather than deleted while the keyring may still answer it.
  auto* job = new QKeychain::ReadPasswordJob(QString::fromLatin1(kKeychainService));
  job->setAutoDelete(false);
  job->setKey(QLatin1String(kKeychainKey));
  if (!run_job(*job)) return {};
  std::string key = jquants::clean_key(job->textData().toStdString());
  delete job;
  return key;
}

bool store_keyring_api_key(const std::string& key) {
  auto* job = new QKeychain::WritePasswordJob(QString::fromLatin1(kKeychainService));
  job->setAutoDelete(false);
  job->setKey(QLatin1String(kKeychainKey));
  job->setTextData(QString::fromStdString(key));
  const bool ok = run_job(*job);
  if (ok) delete job;
  return ok;
}

std::string find_api_key_everywhere(std::string& source, std::string& error) {
  const jquants::KeyLookup found =
      jquants::find_api_key([](const char* n) { return std::getenv(n); }, home());
  error = found.error;
  if (!found.key.empty()) {
    source = found.source;
    return found.key;
  }
  std::string key = keyring_api_key();
  if (!key.empty()) source = "キーリング";
  return key;
}

}  // namespace lp::gui
