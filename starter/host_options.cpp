#include "starter/host_options.h"

#include <ace/ACE.h>
#include <ace/Get_Opt.h>
#include <ace/Log_Msg.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "runtime/make_reactor.h"
#include "runtime/natoi.h"
#include "starter/log_sink.h"

Host_Options parse_host_options(int argc, char** argv) {
  Host_Options options;
  ACE_Get_Opt opt(argc, argv, "", 1, 0, ACE_Get_Opt::RETURN_IN_ORDER);
  opt.long_option("threads", ACE_Get_Opt::ARG_REQUIRED);
  opt.long_option("reactor", ACE_Get_Opt::ARG_REQUIRED);
  opt.long_option("background", ACE_Get_Opt::NO_ARG);
  opt.long_option("user", ACE_Get_Opt::ARG_REQUIRED);
  opt.long_option("primary-group", ACE_Get_Opt::ARG_REQUIRED);
  opt.long_option("group", ACE_Get_Opt::ARG_REQUIRED);

  for (int c; (c = opt()) != EOF;) {
    if (c != 0) continue;  // not one of ours: short options, words, errors
    const char* name = opt.long_option();
    char* arg = opt.opt_arg();
    if (name == nullptr) continue;
    if (std::strcmp(name, "threads") == 0) {
      options.threads = natoi<unsigned long, char*>(arg);
    } else if (std::strcmp(name, "reactor") == 0) {
      options.reactor = arg;
    } else if (std::strcmp(name, "background") == 0) {
      options.background = true;
    } else if (std::strcmp(name, "user") == 0) {
      options.identity.user = arg;
    } else if (std::strcmp(name, "primary-group") == 0) {
      options.identity.primary_group = arg;
    } else if (std::strcmp(name, "group") == 0) {
      options.identity.groups.push_back(arg);
    }
  }
  return options;
}

ACE_Reactor* get_reactor(int argc, char** argv, std::uint64_t& threads, bool& failed) {
  threads = 0;
  failed = true;
  const Host_Options options = parse_host_options(argc, argv);

  if (options.background) {
    // daemonize clears the umask; files created later must not become
    // world-writable, so the inherited umask is put back.
    const mode_t umask_before = ::umask(0);
    ::umask(umask_before);
    if (ACE::daemonize("/", true, "<unknown>") == -1) {
      ACE_ERROR((LM_ERROR, "Failed to run in the background, errno=%d, %m\n", errno));
      return nullptr;
    }
    ::umask(umask_before);
    // Every descriptor was closed, the log output among them.
    reopen_log_sink();
  }

  if (!switch_identity(options.identity)) return nullptr;
  failed = false;

  const char* type = options.reactor;
  if (type == nullptr || *type == '\0') return nullptr;

  const Make_Reactor_Fn factory = get_reactor_factory(type, options.threads);
  if (factory == nullptr) {
    ACE_ERROR((LM_ERROR, "Failed to get reactor factory by '%s'\n", type));
    return nullptr;
  }
  ACE_Reactor* reactor = factory();
  if (reactor == nullptr) {
    ACE_ERROR((LM_ERROR, "Failed to create '%s' reactor\n", type));
    return nullptr;
  }
  threads = options.threads;
  if (threads < 2) {
    ACE_DEBUG((LM_INFO, "Created '%s' reactor\n", type));
  } else {
    ACE_DEBUG(
        (LM_INFO, "Created '%s' reactor with %u threads\n", type, static_cast<unsigned>(threads)));
  }
  return reactor;
}
