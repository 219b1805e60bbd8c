#include "station/ledger_client.h"

#include <fcntl.h>
#include <unistd.h>

#include <sstream>

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

}  // namespace

LedgerClient::LedgerClient(LedgerUrl url) : url_(std::move(url)) {
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
  worker_ = std::thread([this] { Work(); });
}

LedgerClient::~LedgerClient() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
    queue_.clear();
  }
  work_.notify_all();
  // A worker held up in a call that was given up cannot be waited for; the process ends around it.
  if (Stranded()) {
    worker_.detach();
  } else {
    worker_.join();
  }
  close(wake_[0]);
  close(wake_[1]);
}

uint64_t LedgerClient::Queue(Job job, std::chrono::milliseconds within) {
  uint64_t id;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id = nextId_++;
    queue_.push_back(Pending{id, std::move(job), Clock::now() + within});
  }
  work_.notify_all();
  return id;
}

uint64_t LedgerClient::Open(std::chrono::milliseconds within) { return Queue(nullptr, within); }

uint64_t LedgerClient::Call(Job job, std::chrono::milliseconds within) { return Queue(std::move(job), within); }

void LedgerClient::Work() {
  // Worker-only: the connection and the ledger on it.
  std::unique_ptr<Database> database;
  std::ostringstream out, err;  // what the ledger prints: its results, and its reasons
  std::unique_ptr<Ledger> ledger;
  for (;;) {
    Pending pending;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [this] { return ending_ || !queue_.empty(); });
      if (ending_) return;
      pending = std::move(queue_.front());
      queue_.pop_front();
      running_ = Pending{pending.id, nullptr, pending.deadline};
      runningGivenUp_ = false;
    }
    out.str("");
    err.str("");
    bool ok = false;
    if (!pending.job) {
      database = OpenDatabase(url_, false, DatabaseLimits{}, err);
      if (database) {
        ledger = std::make_unique<Ledger>(*database, url_.shown, out, err);
        ok = ledger->IsSetUp();
      }
    } else if (ledger) {
      ok = pending.job(*ledger, *database, out);
    } else {
      err << "Error: the ledger " << url_.shown << " is not open." << std::endl;
    }
    Answer answer;
    answer.id = pending.id;
    answer.ok = ok;
    answer.lines = Lines(out.str() + err.str());
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!runningGivenUp_) answers_.push_back(std::move(answer));
      running_.reset();
      runningGivenUp_ = false;
    }
    const char byte = 1;
    if (write(wake_[1], &byte, 1) < 0) {
      // A full pipe already wakes the loop.
    }
  }
}

std::vector<LedgerClient::Answer> LedgerClient::TakeAnswers(Clock::time_point now) {
  char drain[64];
  while (read(wake_[0], drain, sizeof drain) > 0) {
  }
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Answer> taken = std::move(answers_);
  answers_.clear();
  auto timedOut = [&taken](uint64_t id) {
    Answer answer;
    answer.id = id;
    answer.timedOut = true;
    taken.push_back(answer);
  };
  if (running_ && !runningGivenUp_ && running_->deadline <= now) {
    runningGivenUp_ = true;
    timedOut(running_->id);
  }
  for (auto it = queue_.begin(); it != queue_.end();) {
    if (it->deadline <= now) {
      timedOut(it->id);
      it = queue_.erase(it);
    } else {
      ++it;
    }
  }
  return taken;
}

std::optional<LedgerClient::Clock::time_point> LedgerClient::NextDeadline() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<Clock::time_point> next;
  if (running_ && !runningGivenUp_) next = running_->deadline;
  for (const Pending& pending : queue_) {
    if (!next || pending.deadline < *next) next = pending.deadline;
  }
  return next;
}

void LedgerClient::Hurry(std::chrono::milliseconds within) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Clock::time_point latest = Clock::now() + within;
  if (running_ && running_->deadline > latest) running_->deadline = latest;
  for (Pending& pending : queue_) {
    if (pending.deadline > latest) pending.deadline = latest;
  }
}

bool LedgerClient::Busy() {
  std::lock_guard<std::mutex> lock(mutex_);
  return (running_ && !runningGivenUp_) || !queue_.empty() || !answers_.empty();
}

bool LedgerClient::Stranded() {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_.has_value();
}
