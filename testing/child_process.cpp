#include "testing/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace test_support {

Child_Process::Child_Process(const std::vector<std::string>& argv,
                             const std::vector<std::string>& env) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");

  // Everything the child needs is prepared before fork.
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
  for (const std::string& entry : env) {
    const bool remove = entry[0] == '-';
    const std::string prefix = (remove ? entry.substr(1) : entry.substr(0, entry.find('='))) + "=";
    for (auto it = environment.begin(); it != environment.end();) {
      it = it->compare(0, prefix.size(), prefix) == 0 ? environment.erase(it) : it + 1;
    }
    if (!remove) environment.push_back(entry);
  }
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  args.push_back(nullptr);
  envp.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::dup2(fds[1], STDERR_FILENO);
    const int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd >= 0) ::dup2(null_fd, STDIN_FILENO);
    // The test runner's signal mask is not inherited; fatal-signal tests
    // leave no core files behind.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct rlimit no_core = {0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  reader_ = std::thread(&Child_Process::read_loop, this, fds[0]);
}

Child_Process::~Child_Process() {
  if (!reaped_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status_, 0);
  }
  if (reader_.joinable()) reader_.join();
}

void Child_Process::read_loop(int fd) {
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    std::lock_guard<std::mutex> guard(lock_);
    if (n > 0) text_.append(buf, static_cast<size_t>(n));
    eof_ = n <= 0;
    changed_.notify_all();
    if (eof_) break;
  }
  ::close(fd);
}

int occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

bool Child_Process::wait_for(const std::string& text, int count,
                             std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait_for(guard, deadline, [&] { return occurrences(text_, text) >= count || eof_; });
  return occurrences(text_, text) >= count;
}

int Child_Process::count(const std::string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  return occurrences(text_, text);
}

std::string Child_Process::output() {
  std::lock_guard<std::mutex> guard(lock_);
  return text_;
}

void Child_Process::signal(int sig) { ::kill(pid_, sig); }

int Child_Process::wait_exit(std::chrono::milliseconds deadline) {
  if (reaped_) return status_;
  const auto end = std::chrono::steady_clock::now() + deadline;
  bool ended = false;
  while (!ended && std::chrono::steady_clock::now() < end) {
    ended = ::waitpid(pid_, &status_, WNOHANG) == pid_;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!ended) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status_, 0);
  }
  reaped_ = true;
  if (reader_.joinable()) reader_.join();
  return ended ? status_ : -1;
}

bool Child_Process::exited() {
  if (!reaped_ && ::waitpid(pid_, &status_, WNOHANG) == pid_) {
    reaped_ = true;
    if (reader_.joinable()) reader_.join();
  }
  return reaped_;
}

int Child_Process::exit_code(std::chrono::milliseconds deadline) {
  const int status = wait_exit(deadline);
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Child_Process::thread_count() const {
  std::error_code ec;
  std::filesystem::directory_iterator tasks("/proc/" + std::to_string(pid_) + "/task", ec);
  return ec ? -1 : static_cast<int>(std::distance(tasks, std::filesystem::directory_iterator()));
}

std::string built_program(const char* name) { return std::string(D2T_BINARY_DIR "/bin/") + name; }

std::string built_library(const char* name) {
  return std::string(D2T_BINARY_DIR "/lib/lib") + name + ".so";
}

Notify_Socket::Notify_Socket(const std::string& path) {
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  struct sockaddr_un addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  bound_ = ::bind(fd_, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) == 0;
  struct timeval tv = {10, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

Notify_Socket::~Notify_Socket() { ::close(fd_); }

std::string Notify_Socket::next() {
  char buf[256];
  const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

bool Notify_Socket::empty() {
  char buf[256];
  return ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT) < 0;
}

}  // namespace test_support
