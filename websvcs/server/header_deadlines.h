// Closes connections whose request headers do not arrive in time.
//
// The event loop's idle timeout restarts at every byte, so a client that
// sends a header byte every few seconds would hold its connection for as
// long as it likes. Here each connection has a deadline for its next
// request's complete headers: `timeout` after it was accepted, or after
// the previous request on it ended plus `idle` (the idle timeout that
// already applies between requests), and never later than `timeout` after
// its request line. While a request is being read past its headers or
// handled there is no deadline. A thread of its own shuts the socket of a
// connection past its deadline down, so the event loop sees it close and
// ends it as usual.
//
// The server registers a connection when the event loop takes it in and
// forgets it before the socket is closed (the library reports a closing
// connection before closing its socket), so the socket shut down is always
// the connection's own. Thread-safe.
#ifndef WEBSVCS_SERVER_HEADER_DEADLINES_H
#define WEBSVCS_SERVER_HEADER_DEADLINES_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

class Header_Deadlines {
 public:
  typedef std::chrono::steady_clock Clock;
  struct Entry;  // one connection

  // Starts the thread. `timeout` is at least a second.
  Header_Deadlines(std::chrono::seconds timeout, std::chrono::seconds idle);
  // stop()
  ~Header_Deadlines();
  Header_Deadlines(const Header_Deadlines&) = delete;
  Header_Deadlines& operator=(const Header_Deadlines&) = delete;

  // A connection on socket `fd` was accepted; null when out of memory (the
  // connection then has no deadline).
  Entry* opened(int fd);
  // Its request line arrived.
  void request_line(Entry* e);
  // Its request's headers are complete: no deadline until the request ends.
  void headers_complete(Entry* e);
  // Its request ended; the next one has until `idle` + `timeout`.
  void request_ended(Entry* e);
  // Whether the connection was shut down for missing its deadline.
  bool cut(Entry* e);
  // The connection is closing: forgotten (and `e` freed) before its socket
  // is closed.
  void closed(Entry* e);

  // Ends the thread; no connection is shut down afterwards. Idempotent.
  void stop();

 private:
  void run();

  const Clock::duration timeout_;
  const Clock::duration idle_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::set<Entry*> entries_;  // guarded by mutex_, as is every entry
  bool stopping_ = false;     // guarded by mutex_
  std::thread thread_;
};

#endif
