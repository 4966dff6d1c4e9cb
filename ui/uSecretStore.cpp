#include "ui/uSecretStore.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <functional>

namespace {

constexpr const char* kSecretService = "Kestrum";

// Starts the job and waits for its end, or for the time limit, with the user's input held
// back meanwhile. `done` sees the job when it has finished in time; false on time-out.
// A job that runs over is left to finish (and free itself) on its own: nothing of this
// call is reached any more once it returns.
bool Finish(QKeychain::Job* job, const std::function<void(QKeychain::Job&)>& done) {
  job->setAutoDelete(true);
  job->setInsecureFallback(false);  // never plain text behind our back
  QEventLoop loop;
  bool finished = false;
  QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job* ended) {
    finished = true;
    done(*ended);
    loop.quit();
  });
  QTimer::singleShot(TKeychainSecretStore::kSecretWaitMs, &loop, &QEventLoop::quit);
  job->start();
  if (!finished) loop.exec(QEventLoop::ExcludeUserInputEvents);
  return finished;
}

}  // namespace

TKeychainSecretStore::TKeychainSecretStore(QString key) : fKey(std::move(key)) {}

bool TKeychainSecretStore::SessionBusReachable() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() && QFileInfo::exists(runtime + "/bus");
}

TSecretResult TKeychainSecretStore::Read(std::string& secret) {
  if (fGivenUp || !SessionBusReachable()) return TSecretResult::srUnavailable;
  auto* job = new QKeychain::ReadPasswordJob(QString::fromLatin1(kSecretService));
  job->setKey(fKey);
  TSecretResult result = TSecretResult::srUnavailable;
  const bool finished = Finish(job, [&](QKeychain::Job& ended) {
    if (ended.error() == QKeychain::NoError) {
      secret = static_cast<QKeychain::ReadPasswordJob&>(ended).textData().toStdString();
      result = TSecretResult::srDone;
    } else if (ended.error() == QKeychain::EntryNotFound) {
      result = TSecretResult::srNotFound;
    }
  });
  if (!finished || result == TSecretResult::srUnavailable) fGivenUp = true;
  return result;
}

TSecretResult TKeychainSecretStore::Write(const std::string& secret) {
  if (fGivenUp || !SessionBusReachable()) return TSecretResult::srUnavailable;
  QKeychain::Job* job = nullptr;
  if (secret.empty()) {
    job = new QKeychain::DeletePasswordJob(QString::fromLatin1(kSecretService));
  } else {
    auto* write = new QKeychain::WritePasswordJob(QString::fromLatin1(kSecretService));
    write->setTextData(QString::fromStdString(secret));
    job = write;
  }
  job->setKey(fKey);
  TSecretResult result = TSecretResult::srUnavailable;
  const bool finished = Finish(job, [&](QKeychain::Job& ended) {
    // Removing what is not there is done too.
    if (ended.error() == QKeychain::NoError ||
        (secret.empty() && ended.error() == QKeychain::EntryNotFound)) {
      result = TSecretResult::srDone;
    }
  });
  if (!finished || result == TSecretResult::srUnavailable) fGivenUp = true;
  return result;
}
