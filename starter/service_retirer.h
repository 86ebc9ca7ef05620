// Finalising the services a reload replaced, on a thread of its own.
//
// A reload puts the new services in place first and only then lets the
// old ones go: their fini may wait for requests still running on them
// (a web request waiting minutes for the robot), and the reload must not.
// The retirer finalises each batch it is given in order (the last loaded
// first) and deletes it, one batch after another.
#ifndef STARTER_SERVICE_RETIRER_H
#define STARTER_SERVICE_RETIRER_H

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class ACE_Service_Type;

class Service_Retirer {
 public:
  Service_Retirer() = default;
  ~Service_Retirer();  // runs stop() without limit
  Service_Retirer(const Service_Retirer&) = delete;
  Service_Retirer& operator=(const Service_Retirer&) = delete;

  // Takes over services removed from the repository (not finalised) and
  // finalises them on the retirer's thread, in the order given.
  void retire(std::vector<ACE_Service_Type*> batch);

  // Tells every service still waiting or being finalised that the host
  // is stopping (Hosted_Service::stopping), so that they refuse work that
  // has not started.
  void stopping();

  // Waits until every service given has been finalised, at most `limit`;
  // false when some were still being finalised then (they are left to the
  // process's exit). The thread is joined when all are done.
  bool stop(std::chrono::steady_clock::duration limit);

 private:
  void run();

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::vector<ACE_Service_Type*>> batches_;  // guarded by lock_
  std::vector<ACE_Service_Type*> current_;              // being finalised; guarded by lock_
  bool running_ = false;                                // the thread runs; guarded by lock_
  std::thread thread_;
};

// The host's retirer (never destroyed: its thread may outlive main).
Service_Retirer& service_retirer();

#endif
