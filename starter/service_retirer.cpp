#include "starter/service_retirer.h"

#include <ace/Log_Msg.h>
#include <ace/Service_Object.h>
#include <ace/Service_Types.h>
#include <pthread.h>

#include "runtime/hosted_service.h"

namespace {

Hosted_Service* hosted(const ACE_Service_Type* type) {
  if (type == nullptr || type->type() == nullptr ||
      type->type()->service_type() != ACE_Service_Type::SERVICE_OBJECT)
    return nullptr;
  return dynamic_cast<Hosted_Service*>(static_cast<ACE_Service_Object*>(type->type()->object()));
}

}  // namespace

Service_Retirer::~Service_Retirer() { stop(std::chrono::steady_clock::duration::max()); }

void Service_Retirer::retire(std::vector<ACE_Service_Type*> batch) {
  if (batch.empty()) return;
  std::lock_guard<std::mutex> guard(lock_);
  batches_.push_back(std::move(batch));
  if (!running_) {
    if (thread_.joinable()) thread_.join();  // ended after its last batch
    running_ = true;
    thread_ = std::thread([this] { run(); });
    ::pthread_setname_np(thread_.native_handle(), "retire");
  }
  changed_.notify_all();
}

void Service_Retirer::stopping() {
  std::lock_guard<std::mutex> guard(lock_);
  for (ACE_Service_Type* type : current_) {
    if (Hosted_Service* h = hosted(type)) h->stopping();
  }
  for (const auto& batch : batches_) {
    for (ACE_Service_Type* type : batch) {
      if (Hosted_Service* h = hosted(type)) h->stopping();
    }
  }
}

bool Service_Retirer::stop(std::chrono::steady_clock::duration limit) {
  std::unique_lock<std::mutex> guard(lock_);
  const auto done = [this] { return !running_; };
  const auto now = std::chrono::steady_clock::now();
  if (limit >= std::chrono::steady_clock::time_point::max() - now) {
    changed_.wait(guard, done);
  } else if (!changed_.wait_until(guard, now + limit, done)) {
    thread_.detach();
    return false;
  }
  if (thread_.joinable()) thread_.join();
  return true;
}

void Service_Retirer::run() {
  std::unique_lock<std::mutex> guard(lock_);
  while (!batches_.empty()) {
    current_ = std::move(batches_.front());
    batches_.pop_front();
    // One at a time, so that stopping() reaches those still waiting (never
    // the one being finalised, which may be freed under it).
    while (!current_.empty()) {
      ACE_Service_Type* type = current_.front();
      current_.erase(current_.begin());
      guard.unlock();
      ACE_DEBUG((LM_INFO, "Retiring service %C\n", type->name()));
      delete type;  // fini, the object, its library reference
      guard.lock();
    }
  }
  running_ = false;
  changed_.notify_all();
}

Service_Retirer& service_retirer() {
  static Service_Retirer* retirer = new Service_Retirer;
  return *retirer;
}
