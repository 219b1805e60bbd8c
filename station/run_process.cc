#include "station/run_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Neither a line nor an event is this long; text past it without an end is dropped.
constexpr size_t kLongestLine = 1 << 16;

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// Splits the complete lines off pending (ends: line feed, and carriage return when bars count).
template <typename Take>
void TakeLines(std::string* pending, bool carriageReturnEnds, const Take& take) {
  size_t start = 0;
  for (size_t i = 0; i < pending->size(); ++i) {
    const char c = (*pending)[i];
    if (c == '\n' || (carriageReturnEnds && c == '\r')) {
      take(pending->substr(start, i - start));
      start = i + 1;
    }
  }
  pending->erase(0, start);
  if (pending->size() > kLongestLine) pending->clear();
}

}  // namespace

std::unique_ptr<RunProcess> RunProcess::Start(const RunCommand& command, int capture, std::string* error) {
  int output[2], events[2] = {-1, -1};
  if (pipe2(output, O_CLOEXEC) != 0 || (command.events && pipe2(events, O_CLOEXEC) != 0)) {
    *error = std::string("cannot make a pipe (") + std::strerror(errno) + ")";
    close(capture);
    return nullptr;
  }
  // Everything the child needs, made before the fork: after it, only calls that are safe between
  // fork and exec in a program with threads.
  std::vector<std::string> words{command.program};
  words.insert(words.end(), command.argv.begin(), command.argv.end());
  std::vector<char*> argv, envp;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  std::vector<std::string> environment = command.environment;
  for (std::string& entry : environment) envp.push_back(&entry[0]);
  envp.push_back(nullptr);
  const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);

  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    // A station that dies (killed outright) stops its runs too: each records "interrupted" where it
    // was, and the station's next start settles them, instead of runs flashing on that nobody follows.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (chdir(command.folder.c_str()) != 0) _exit(127);
    dup2(devNull, 0);
    dup2(output[1], 1);
    dup2(output[1], 2);
    if (command.events) {
      if (events[1] == kEventsFd) {
        fcntl(kEventsFd, F_SETFD, 0);  // dup2 onto itself keeps close-on-exec
      } else {
        dup2(events[1], kEventsFd);
      }
    }
    execve(command.program.c_str(), argv.data(), envp.data());
    const char failed[] = "Error: cannot start the run's program\n";
    if (write(2, failed, sizeof failed - 1) < 0) _exit(127);
    _exit(127);
  }
  const int forkError = errno;
  close(devNull);
  close(output[1]);
  if (command.events) close(events[1]);
  if (pid < 0) {
    close(output[0]);
    if (command.events) close(events[0]);
    close(capture);
    *error = std::string("cannot start a process (") + std::strerror(forkError) + ")";
    return nullptr;
  }
  std::unique_ptr<RunProcess> run(new RunProcess());
  run->pid_ = pid;
  run->output_ = output[0];
  run->events_ = command.events ? events[0] : -1;
  run->capture_ = capture;
  fcntl(run->output_, F_SETFL, O_NONBLOCK);
  if (run->events_ >= 0) fcntl(run->events_, F_SETFL, O_NONBLOCK);
  return run;
}

RunProcess::~RunProcess() {
  CloseFd(&output_);
  CloseFd(&events_);
  CloseFd(&capture_);
  // A run is never left behind: one still there is ended, and reaped.
  if (pid_ > 0 && !exited_) {
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void RunProcess::ReadOutput(RunProgress* progress, std::string* trouble) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(output_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return;
    if (got <= 0) {
      CloseFd(&output_);
      return;
    }
    for (ssize_t at = 0; capture_ >= 0 && at < got;) {
      const ssize_t put = write(capture_, buffer + at, static_cast<size_t>(got - at));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        if (trouble->empty()) *trouble = std::strerror(put < 0 ? errno : ENOSPC);
        CloseFd(&capture_);
        break;
      }
      at += put;
    }
    pendingOutput_.append(buffer, static_cast<size_t>(got));
    // Progress bars end in a carriage return, lines in a line feed; the bytes are Latin-1 or UTF-8
    // alike for what is looked for.
    TakeLines(&pendingOutput_, true, [progress](const std::string& line) { progress->TakeConsoleLine(line); });
  }
}

void RunProcess::ReadEvents(RunProgress* progress) {
  char buffer[16384];
  for (;;) {
    const ssize_t got = read(events_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return;
    if (got <= 0) {
      CloseFd(&events_);
      return;
    }
    pendingEvents_.append(buffer, static_cast<size_t>(got));
    TakeLines(&pendingEvents_, false, [progress](const std::string& line) { progress->TakeEvent(line); });
  }
}

void RunProcess::Reap() {
  if (exited_ || pid_ <= 0) return;
  int status = 0;
  const pid_t done = waitpid(pid_, &status, WNOHANG);
  if (done != pid_) return;
  exited_ = true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

void RunProcess::Signal(int number) {
  if (pid_ > 0 && !exited_) kill(-pid_, number);
}

void RunProcess::CloseCapture(std::string* trouble) {
  if (capture_ < 0) return;
  if (fsync(capture_) != 0 && errno != EINVAL && errno != EROFS && trouble->empty()) *trouble = std::strerror(errno);
  if (close(capture_) != 0 && trouble->empty()) *trouble = std::strerror(errno);
  capture_ = -1;
}
