#include "ui/uSignalPipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace {

int gPipe[2] = {-1, -1};
struct sigaction gOldTerm, gOldInt;

extern "C" void OnSignal(int signal) {
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  // Nothing else is safe here; a full pipe drops the byte, and one is enough.
  [[maybe_unused]] const ssize_t written = ::write(gPipe[1], &number, 1);
  errno = saved;
}

}  // namespace

TSignalPipe::TSignalPipe(QObject* parent) : QObject(parent) {
  if (gPipe[0] >= 0 || ::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  fNotifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
  connect(fNotifier, &QSocketNotifier::activated, this, &TSignalPipe::Drain);
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, &gOldTerm);
  sigaction(SIGINT, &action, &gOldInt);
}

TSignalPipe::~TSignalPipe() {
  if (fNotifier == nullptr) return;
  sigaction(SIGTERM, &gOldTerm, nullptr);
  sigaction(SIGINT, &gOldInt, nullptr);
  delete fNotifier;
  ::close(gPipe[0]);
  ::close(gPipe[1]);
  gPipe[0] = gPipe[1] = -1;
}

void TSignalPipe::Drain() {
  unsigned char numbers[16];
  for (;;) {
    const ssize_t n = ::read(gPipe[0], numbers, sizeof numbers);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) emit Signalled(numbers[i]);
  }
}
