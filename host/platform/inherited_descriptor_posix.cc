#include "host/platform/inherited_descriptor.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "host/platform/system_error.h"

bool InheritedDescriptorWritable(int descriptor, std::string* words) {
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags < 0) {
    *words = SystemErrorText(errno);
    return false;
  }
  if ((flags & O_ACCMODE) == O_RDONLY) {
    *words = "it is open for reading only";
    return false;
  }
  return true;
}

bool WriteToInheritedDescriptor(int descriptor, const std::string& text, std::string* words) {
  // A pipe whose reader went away raises SIGPIPE: held back for this thread while it writes, and
  // taken back if it came, so that the write fails with EPIPE whatever the program does with it.
  sigset_t pipeSignal;
  sigset_t saved;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  sigset_t pending;
  sigpending(&pending);
  const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &saved);
  size_t done = 0;
  bool written = true;
  while (done < text.size()) {
    const ssize_t count = write(descriptor, text.data() + done, text.size() - done);
    if (count < 0) {
      if (errno == EINTR) continue;
      *words = SystemErrorText(errno);
      written = false;
      break;
    }
    done += static_cast<size_t>(count);
  }
  if (!written && !alreadyPending) {
    const timespec none{0, 0};
    while (sigtimedwait(&pipeSignal, nullptr, &none) == SIGPIPE) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  return written;
}
