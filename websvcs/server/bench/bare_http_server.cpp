// A bare libmicrohttpd server with the daemon's polling setup (internal
// epoll threads, a pool of two), answering every request at once with a
// fixed small JSON body: the reference that `scripts/load-test
// --compare-bare` measures the daemon's own request path against.
//
//   bare_http_server [PORT]
//
// Listens on 127.0.0.1:PORT (0, the default, picks a free port), prints
// "port N" once listening, and runs until SIGINT or SIGTERM.
#include <microhttpd.h>
#include <netinet/in.h>
#include <signal.h>
#include <string.h>

#include <cstdio>
#include <cstdlib>

namespace {

const char BODY[] = "[]";
const unsigned int POLLING_THREADS = 2;  // as the daemon's web server

MHD_Result answer(void*, struct MHD_Connection* conn, const char*, const char*, const char*,
                  const char*, size_t*, void** con_cls) {
  // The first call only announces the request (headers read).
  if (*con_cls == nullptr) {
    *con_cls = conn;
    return MHD_YES;
  }
  struct MHD_Response* r = MHD_create_response_from_buffer(
      sizeof BODY - 1, const_cast<char*>(BODY), MHD_RESPMEM_PERSISTENT);
  if (!r) return MHD_NO;
  MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "application/json");
  const MHD_Result q = MHD_queue_response(conn, MHD_HTTP_OK, r);
  MHD_destroy_response(r);
  return q;
}

}  // namespace

int main(int argc, char** argv) {
  const long port = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
  if (argc > 2 || port < 0 || port > 65535) {
    std::fprintf(stderr, "usage: bare_http_server [PORT]\n");
    return 2;
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // the polling threads inherit the mask

  struct sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  struct MHD_Daemon* d = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ERROR_LOG, 0, nullptr, nullptr,
      &answer, nullptr, MHD_OPTION_SOCK_ADDR, &sa, MHD_OPTION_THREAD_POOL_SIZE, POLLING_THREADS,
      MHD_OPTION_CONNECTION_LIMIT, 4096u, MHD_OPTION_END);
  if (!d) {
    std::fprintf(stderr, "bare_http_server: cannot listen on port %ld\n", port);
    return 1;
  }
  const union MHD_DaemonInfo* info = MHD_get_daemon_info(d, MHD_DAEMON_INFO_BIND_PORT);
  std::printf("port %u\n", info ? static_cast<unsigned>(info->port) : 0u);
  std::fflush(stdout);
  int sig = 0;
  sigwait(&stop, &sig);
  MHD_stop_daemon(d);
  return 0;
}
