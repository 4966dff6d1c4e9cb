// SIGTERM and SIGINT as Qt signals: the handler only writes the signal's number into a
// pipe, and a socket notifier reads it on the Qt thread.
#pragma once

#include <QObject>

class QSocketNotifier;

class TSignalPipe : public QObject {
  Q_OBJECT

 public:
  // Takes over SIGTERM and SIGINT until destroyed; one instance at a time.
  explicit TSignalPipe(QObject* parent = nullptr);
  ~TSignalPipe() override;
  bool Active() const { return fNotifier != nullptr; }

 signals:
  void Signalled(int signal);

 private:
  void Drain();
  QSocketNotifier* fNotifier = nullptr;
};
