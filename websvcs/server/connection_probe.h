// Whether the client of a request in progress is still connected.
//
// A handler may wait minutes for a robot; before it starts work it can ask
// whether anyone still waits for the answer. The probe looks at the
// connection's socket without reading from it or blocking: a peek that
// finds the end of the stream (or a reset) means the client has closed
// its side. A client that half-closes its sending side after the request
// counts as gone too (no client of this server does that).
//
// The server creates one probe per request handed to a handler, while the
// connection is suspended (the event loop neither reads nor closes the
// socket then), and calls finish() before it resumes the connection; from
// then on the socket may be closed and reused, so the probe no longer
// touches it and answers false. Thread-safe: connected() may be called
// from any thread at any time.
#ifndef WEBSVCS_SERVER_CONNECTION_PROBE_H
#define WEBSVCS_SERVER_CONNECTION_PROBE_H

#include <mutex>

class Connection_Probe {
 public:
  // `fd`: the connection's socket; negative when it cannot be told (then
  // connected() is true until finish()).
  explicit Connection_Probe(int fd) : fd_(fd) {}
  Connection_Probe(const Connection_Probe&) = delete;
  Connection_Probe& operator=(const Connection_Probe&) = delete;

  // False once the client has closed the connection (remembered), or once
  // the request has been answered (finish()); true otherwise.
  bool connected();
  // The request is over: the socket is no longer looked at.
  void finish();

 private:
  std::mutex mutex_;
  int fd_;             // guarded by mutex_
  bool gone_ = false;  // guarded by mutex_
};

#endif
