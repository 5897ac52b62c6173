#include "worker.h"

#include <system_error>

bool Worker::Start() {
  try {
    thread_ = std::thread(&Worker::Run, this);
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void Worker::Request() {
  std::lock_guard<std::mutex> lock(mutex_);
  wanted_ = true;
  changed_.notify_all();
}

std::error_code Worker::WaitIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !wanted_ && !busy_; });
  return error_;
}

std::error_code Worker::Stop() {
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
      changed_.notify_all();
    }
    thread_.join();
  }
  return error_;
}

void Worker::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return wanted_ || closing_; });
    if (closing_) return;
    wanted_ = false;
    busy_ = true;
    lock.unlock();
    std::error_code error = job_();
    lock.lock();
    if (!error_) error_ = error;
    busy_ = false;
    changed_.notify_all();
  }
}
