// What the service host tells a service object besides init and fini.
//
// The host (starter) loads ACE service objects; one that also derives from
// Hosted_Service takes part in reloads and in an orderly stop:
//
//   - reload: when the service's directive is unchanged the host asks
//     prepare_reload() whether the service can run on with its
//     configuration files as they now are. KEEP means it can (nothing
//     changed, or what changed is staged and is taken in place by
//     finish_reload(true)); REPLACE means a new instance must be loaded
//     in its place. prepare_reload never changes what the running service
//     does: finish_reload(true) applies what was staged once the whole
//     reload has succeeded, finish_reload(false) drops it when the reload
//     failed and everything stays as it was.
//   - stop: stopping() is called on every service, the last loaded first,
//     before any is finalised, so a service can refuse work that has not
//     started yet while the services that answer its callers still run.
//
// A service without this interface is kept when its directive and the
// files its directive names are unchanged, and is never told of a stop
// before its fini.
//
// The key function lives in libruntime, so the host and every service
// library share one type_info and the host's dynamic_cast finds the
// interface on objects made by libraries it loaded.
#ifndef RUNTIME_HOSTED_SERVICE_H
#define RUNTIME_HOSTED_SERVICE_H

class Hosted_Service {
 public:
  enum Reload { KEEP, REPLACE };

  virtual ~Hosted_Service();

  virtual Reload prepare_reload() = 0;
  virtual void finish_reload(bool done) = 0;
  virtual void stopping() = 0;
};

#endif
