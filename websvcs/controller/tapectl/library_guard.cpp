// Per-library serialisation of the moving requests.
#include "websvcs/controller/tapectl/library_guard.h"

#include <map>
#include <mutex>
#include <shared_mutex>

#include "d2t/controller/tape_controller.h"
#include "json_spirit/json_helpers.h"

struct Library_Guard::Entry {
  std::shared_mutex lock;
  int users = 0;  // guards holding or waiting (table_lock)
};

namespace {

std::mutex& table_lock() {
  static std::mutex m;
  return m;
}

// Nodes of a std::map keep their address until erased, and an entry is
// erased only when no guard uses it.
std::map<std::string, Library_Guard::Entry>& table() {
  static std::map<std::string, Library_Guard::Entry> t;
  return t;
}

}  // namespace

Library_Guard::Library_Guard(const std::string& serial_number, Mode mode)
    : serial_number_(serial_number), mode_(mode) {
  {
    std::lock_guard<std::mutex> g(table_lock());
    entry_ = &table()[serial_number_];
    ++entry_->users;
  }
  if (mode_ == SHARED)
    entry_->lock.lock_shared();
  else
    entry_->lock.lock();
}

Library_Guard::~Library_Guard() {
  if (mode_ == SHARED)
    entry_->lock.unlock_shared();
  else
    entry_->lock.unlock();
  std::lock_guard<std::mutex> g(table_lock());
  if (--entry_->users == 0) table().erase(serial_number_);
}

std::size_t Library_Guard::entries() {
  std::lock_guard<std::mutex> g(table_lock());
  return table().size();
}

std::string library_of_drive(const json_spirit::Object& request) {
  const std::string* drive = json_spirit::object_get_str(request, "serial_number");
  Tape_Controller* controller = Tape_Controller::instance();
  if (drive == nullptr || controller == nullptr || controller->impl() == nullptr)
    return std::string();
  json_spirit::Object device;
  if (!controller->impl()->get_tape_device(*drive, device)) return std::string();
  const std::string* library = json_spirit::object_get_str(device, "changer_serial_number");
  return library ? *library : std::string();
}
