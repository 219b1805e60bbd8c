#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <thread>

#include "host/platform/interrupt.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
// The byte that tells the watcher to end instead of a signal's number.
constexpr unsigned char kStopWatching = 0;

// A signal handler may do almost nothing: it puts the signal's number into this pipe, and the
// watcher thread does the rest.
int wakePipe[2] = {-1, -1};
struct sigaction savedActions[sizeof kSignals / sizeof kSignals[0]];
InterruptWatch::Handler handler;
std::thread watcher;

void OnSignal(int signal) {
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  if (write(wakePipe[1], &number, 1) < 0) {
    // Nothing to do about it inside a signal handler.
  }
  errno = saved;
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

void Watch() {
  for (;;) {
    unsigned char number = kStopWatching;
    const ssize_t got = read(wakePipe[0], &number, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || number == kStopWatching) return;
    const int status = handler(SignalName(number));
    std::cout.flush();
    _exit(status);
  }
}

}  // namespace

InterruptWatch::InterruptWatch(Handler onInterrupt) {
  // Output to a pipe nobody reads any more fails with EPIPE and is dropped.
  signal(SIGPIPE, SIG_IGN);
  if (pipe(wakePipe) != 0) return;
  handler = std::move(onInterrupt);
  watcher = std::thread(Watch);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // the run's own calls go on until the watcher ends the process
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
    sigaction(kSignals[i], &action, &savedActions[i]);
}

InterruptWatch::~InterruptWatch() {
  if (!watcher.joinable()) return;
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
    sigaction(kSignals[i], &savedActions[i], nullptr);
  OnSignal(kStopWatching);
  watcher.join();
  close(wakePipe[0]);
  close(wakePipe[1]);
  wakePipe[0] = wakePipe[1] = -1;
}
