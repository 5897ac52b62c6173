// A second thread that runs one job on request, one run at a time, and keeps
// the first error a run returned: the shape of both the block writer and the
// background flusher. Internal to the engine.
#ifndef QUENLAT_CONVERT_WORKER_H
#define QUENLAT_CONVERT_WORKER_H

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class Worker {
 public:
  // job returns 0 or the error number; it runs on the worker's thread.
  explicit Worker(std::function<int()> job) : job_(std::move(job)) {}
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
  // change what the job reads. The first error of any run so far, or 0.
  int WaitIdle();
  // Ends the thread once the run under way, if any, has ended; a run asked
  // for and not yet begun is dropped. The first error of any run, or 0.
  int Stop();

 private:
  void Run();

  std::function<int()> job_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool wanted_ = false;   // a run is asked for and has not begun
  bool busy_ = false;     // a run is under way
  bool closing_ = false;
  int error_ = 0;         // the first error
};

#endif
