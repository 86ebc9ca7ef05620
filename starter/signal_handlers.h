// Signals and uncaught exceptions in the service host.
//
//   SIGINT, SIGQUIT, SIGTERM   end the reactor event loop (once); main then
//                              finalises the services and returns 0.
//   SIGHUP                     ask the reload thread to reload the services
//                              (starter/service_reloader.h); logged and
//                              ignored during start-up and shutdown.
//   SIGUSR2                    toggle ACE's debug output.
//   SIGPIPE, SIGIO, SIGURG     ignored.
//   SIGILL, SIGSEGV, SIGFPE, SIGALRM, SIGXCPU, SIGBUS, SIGABRT
//                              log a stack trace and end the process.
//
// The first three groups do real work (logging, reactor calls, loading and
// unloading libraries), none of which may run inside a signal handler: the
// handler could interrupt the same thread inside malloc or a logging lock.
// So their handlers only pass the signal number and the name of the thread
// that received it through a pipe to a relay thread, which runs the handler
// bodies below in an ordinary thread context, in arrival order. Fatal
// signals are handled where they arrive, because the process is ending.
//
// A handler never blocks: the pipe's write end is non-blocking, and a
// signal whose record finds the pipe full is marked instead and acted upon
// once after the relay's next read (records of one kind coalesce). A
// handler running in another process than the relay's (a copy forked by
// daemonising) writes nothing: there the descriptor may name another file.

#ifndef STARTER_SIGNAL_HANDLERS_H
#define STARTER_SIGNAL_HANDLERS_H

#include <pthread.h>

#include <csignal>
#include <cstddef>

namespace starter {

// Set to 1 by the first termination signal that ends the event loop.
extern volatile std::sig_atomic_t finished;

// Number of times handle_terminate has been entered.
extern int tried_throw;

typedef int (*pthread_getname_np_t)(pthread_t thread, char* name, size_t size);

// The C library's pthread_getname_np, looked up by init_signal_handlers;
// null when the library has none (thread names then show as "unknown").
extern pthread_getname_np_t pthread_getname;

}  // namespace starter

// Looks up pthread_getname, starts the relay thread and installs the
// handlers of every signal listed above. Returns 0, or -1 when the relay
// could not be started (logged; the termination, reconfiguration and debug
// signals then keep their previous dispositions).
int init_signal_handlers();

// Called after the service configurator has been opened, which may have
// changed what init_signal_handlers set up:
//   - it installs its own handler for its reconfiguration signal; SIGHUP
//     gets the host's handler back;
//   - with its "-b" option it daemonises: the relay thread does not
//     survive the fork and the relay pipe is closed, so a new relay is
//     started in the detached process.
void refresh_signal_handlers();

// Stops the relay thread. Signals that arrive later are no longer acted
// upon. Called by main after the services are finalised.
void stop_signal_handlers();

// The name of the calling thread (at most 15 characters), or "unknown"
// without pthread_getname. `buf` holds at least 16 bytes.
void get_thread_name(char* buf);

// Installed with std::set_terminate: logs the exception in flight
// (LM_EMERGENCY, with a stack trace) on the first entry, then aborts.
[[noreturn]] void handle_terminate();

// Handler bodies, run by the relay thread. `thread_name` names the thread
// that received the signal.
void sig_terminate(int sig, const char* thread_name);
void sig_reconfig(int sig);
void sig_usr2(int sig);

// Fatal-signal handler: logs LM_ALERT with a stack trace, then ends the
// process by the same signal with its default action, so that the exit
// status (and a core dump, where enabled) shows the failure.
void sig_abnormal_terminate(int sig);

#endif
