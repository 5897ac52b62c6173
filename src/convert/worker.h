// A second thread that runs one job on request, one run at a time, and keeps
// the first error a run returned: the shape of both the block writer and the
// background flusher. Internal to the engine.
#ifndef QUENLAT_CONVERT_WORKER_H
#define QUENLAT_CONVERT_WORKER_H

#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

class Worker {
 public:
  // job returns its error, if any; it runs on the worker's thread.
  explicit Worker(std::function<std::error_code()> job) : job_(std::move(job)) {}
  // Stop.
  ~Worker() { Stop(); }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Starts the thread. False when the system gives none: the caller then
  // does the work itself.
  bool Start();
  bool Started() const { return thread_.joinable(); }

  // Asks for one more run. A request made while another still waits to
  // begin is merged with it.
  void Request();
  // Waits until no run is asked for or under way, so that the caller may
  // change what the job reads. The first error of any run so far, if any.
  std::error_code WaitIdle();
  // Ends the thread once the run under way, if any, has ended; a run asked
  // for and not yet begun is dropped. The first error of any run, if any.
  std::error_code Stop();

 private:
  void Run();

  std::function<std::error_code()> job_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool wanted_ = false;   // a run is asked for and has not begun
  bool busy_ = false;     // a run is under way
  bool closing_ = false;
  std::error_code error_;  // the first error
};

#endif
