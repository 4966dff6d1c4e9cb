// Where the controllers' password is kept when the desktop offers a secret store (a
// secret service or a wallet on the session bus), so that it is in no file at all.
#pragma once

#include <QString>
#include <string>

enum class TSecretResult : uint8_t {
  srDone,
  srNotFound,     // the store answered and holds no such secret
  srUnavailable,  // no store answered (none on this desktop, or it failed)
};

class TSecretStore {
 public:
  virtual ~TSecretStore() = default;
  virtual TSecretResult Read(std::string& secret) = 0;
  // An empty secret removes it.
  virtual TSecretResult Write(const std::string& secret) = 0;
};

// The desktop's store through QtKeychain: service "Kestrum", the secret's key given (the
// settings file's path, so that a settings folder of its own, as the tests and the demo
// use, has a password of its own). Without a session bus nothing is asked at all; a store
// that does not answer within kSecretWaitMs, or fails, is not asked again in this run:
// the caller falls back to the settings file.
class TKeychainSecretStore : public TSecretStore {
 public:
  static constexpr int kSecretWaitMs = 3000;

  explicit TKeychainSecretStore(QString key);
  TSecretResult Read(std::string& secret) override;
  TSecretResult Write(const std::string& secret) override;

  // Whether a session bus is there to ask: DBUS_SESSION_BUS_ADDRESS, or the bus socket in
  // XDG_RUNTIME_DIR.
  static bool SessionBusReachable();

 private:
  QString fKey;
  bool fGivenUp = false;
};
