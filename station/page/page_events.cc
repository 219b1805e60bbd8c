#include "station/page/page_events.h"

void PageEvents::Publish(const std::string& type, const std::string& port, const std::string& data) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back({++last_, type, port, data});
    while (events_.size() > kept_) events_.pop_front();
  }
  changed_.notify_all();
}

uint64_t PageEvents::Last() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_;
}

bool PageEvents::Wait(uint64_t after, std::chrono::milliseconds wait, std::vector<PageEvent>* events,
                      bool* lost) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, wait, [&] { return closed_ || last_ > after; });
  if (closed_) return false;
  *lost = !events_.empty() && events_.front().number > after + 1;
  for (const PageEvent& event : events_) {
    if (event.number > after) events->push_back(event);
  }
  return true;
}

void PageEvents::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}
