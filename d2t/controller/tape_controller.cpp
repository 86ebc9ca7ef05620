// Controller lifecycle: the singleton, open/close, media_controller.conf and
// the way every operation enters its library's queue.
#include "d2t/controller/tape_controller.h"

#include <sys/stat.h>

#include <cerrno>
#include <mutex>
#include <new>

#include "d2t/controller/controller_log.h"
#include "d2t/controller/tape_controller_database_impl.h"
#include "d2t/tools/provider.h"
#include "d2t/util/log_text.h"
#include "host/host_manager.h"
#include "json_spirit/json_helpers.h"
#include "runtime/environ.h"
#include "runtime/path_conf.h"

const char* const Tape_Controller::CONFIG_TEMPLATE =
    "/etc/opt/quillon/kestrel3/$COMPONENT/media_controller.conf";
const char* const Tape_Controller::CONFIG_ENV = "D2T_MEDIA_CONTROLLER_CONF";

namespace {

// The process's reference and, after close_instance(), a way back to a
// controller that requests still hold. Guarded so that two first callers
// cannot make two controllers.
std::mutex g_instance_mutex;
std::shared_ptr<Tape_Controller> g_instance;
std::weak_ptr<Tape_Controller> g_live;

}  // namespace

std::shared_ptr<Tape_Controller> Tape_Controller::install() {
  std::lock_guard<std::mutex> guard(g_instance_mutex);
  if (!g_instance) {
    g_instance = g_live.lock();
    // Taken back by a new service: it serves again.
    if (g_instance) g_instance->scheduler_.resume();
  }
  if (!g_instance) {
    Tape_Controller* fresh = new (std::nothrow) Tape_Controller();
    if (fresh == nullptr) {
      errno = ENOMEM;
      return nullptr;
    }
    g_instance.reset(fresh);
    g_live = g_instance;
  }
  return g_instance;
}

Tape_Controller* Tape_Controller::instance() { return install().get(); }

std::shared_ptr<Tape_Controller> Tape_Controller::acquire() {
  std::lock_guard<std::mutex> guard(g_instance_mutex);
  if (g_instance) return g_instance;
  return g_live.lock();
}

void Tape_Controller::close_instance() {
  std::shared_ptr<Tape_Controller> dropped;
  {
    std::lock_guard<std::mutex> guard(g_instance_mutex);
    dropped.swap(g_instance);
  }
  // Destroyed here, outside the lock, unless a request still holds it.
}

Tape_Controller::Tape_Controller()
    : max_wait_seconds_(30),
      load_unload_retries_(static_cast<int>(d2t::LOAD_UNLOAD_DEFAULT_RETRIES)),
      faulty_threshold_(static_cast<int>(d2t::MAX_DRIVE_CONSECUTIVE_FAILURES)),
      clock_(Controller_Clock::system()) {}

Tape_Controller::~Tape_Controller() {}

void Tape_Controller::clock(std::shared_ptr<Controller_Clock> c) {
  clock_ = c ? std::move(c) : Controller_Clock::system();
}

bool Tape_Controller::open() {
  if (!impl_) {
    if (host_id_.empty()) host_id_ = Host_Manager::instance()->host_id();
    Tape_Controller_Impl* impl = new (std::nothrow) Tape_Controller_Database_Impl(host_id_);
    if (impl == nullptr) {
      errno = ENOMEM;
      return false;
    }
    impl_.reset(impl);
  }
  if (!impl_->open()) return false;
  std::string emulated;
  if (d2t::tools::on_emulator(&emulated)) {
    ACE_ERROR((LM_WARNING,
               ACE_TEXT("Running on the emulated tape library %C (D2T_EMULATOR), not on real "
                        "hardware\n"),
               d2t::log_text(emulated.empty() ? "(set by the program)" : emulated).c_str()));
  }
  if (!load_config()) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to load tape library config.\n")));
  }
  if (!update()) return false;
  opened_ = true;
  return true;
}

void Tape_Controller::close() {
  if (impl_) impl_->close();
}

std::string Tape_Controller::config_file() const {
  if (!config_path_.empty()) return config_path_;
  std::string from_env = get_env_r(CONFIG_ENV);
  if (!from_env.empty()) return from_env;
  return Path_Conf(CONFIG_TEMPLATE, false, nullptr, 0750).str();
}

bool Tape_Controller::load_config() {
  const std::string path = config_file();
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return true;

  json_spirit::Value config;
  if (!json_spirit::load_json(path, config, 1)) return true;
  if (config.type() != json_spirit::obj_type) return true;

  // Missing keys and values that are not integers leave the values as
  // they are (the defaults, or what an earlier read found).
  const json_spirit::Object& o = config.get_obj();
  const struct {
    const char* key;
    std::atomic<int>& value;
  } tunables[] = {{"max_wait_seconds", max_wait_seconds_},
                  {"load_unload_retries", load_unload_retries_},
                  {"drive_faulty_threshold", faulty_threshold_}};
  for (const auto& t : tunables) {
    int value = 0;
    if (json_spirit::object_get(o, t.key, value)) t.value = value;
  }
  // The queue's limits: a key that is missing, not an integer or out of
  // range (a time-out of 0 or less, a negative bound) keeps the value.
  int timeout = -1;
  int max_queued = -1;
  if (json_spirit::object_get(o, "queue_timeout_seconds", timeout) && timeout <= 0) {
    ACE_ERROR(
        (LM_WARNING, ACE_TEXT("Ignoring queue_timeout_seconds %d: must be at least 1\n"), timeout));
  }
  if (json_spirit::object_get(o, "max_queued_operations", max_queued) && max_queued < 0) {
    ACE_ERROR((LM_WARNING, ACE_TEXT("Ignoring max_queued_operations %d: must be 0 or more\n"),
               max_queued));
  }
  scheduler_.limits(timeout, max_queued);
  return true;
}

bool Tape_Controller::enter_turn(Library_Turn& turn, const std::string& library,
                                 const Library_Operation& operation, Queue_Request* queue,
                                 bool may_join) {
  Queue_Caller caller;
  if (queue != nullptr) caller.still_wanted = queue->still_wanted;
  caller.may_join = may_join;
  std::string why;
  if (turn.enter(scheduler_, library, operation, why, caller)) return true;
  const Library_Scheduler::Ticket& ticket = turn.ticket();
  if (ticket.refusal() != Queue_Refusal::NONE) {
    if (queue != nullptr) {
      queue->refused = ticket.refusal();
      queue->library = library;
      queue->operation = operation;
    }
  } else if (!ticket.joined()) {
    log_lease_failure(library, why);
  }
  return false;
}
