#include "starter/tests/child_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

extern char** environ;

Child_Process::Child_Process(const std::vector<std::string>& argv,
                             const std::vector<std::string>& env) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");

  // Everything the child needs is prepared before fork.
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
  for (const std::string& entry : env) {
    const bool remove = entry[0] == '-';
    const std::string name = remove ? entry.substr(1) : entry.substr(0, entry.find('='));
    for (auto it = environment.begin(); it != environment.end();) {
      if (it->compare(0, name.size() + 1, name + "=") == 0) {
        it = environment.erase(it);
      } else {
        ++it;
      }
    }
    if (!remove) environment.push_back(entry);
  }
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::dup2(fds[1], STDERR_FILENO);
    const int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd >= 0) ::dup2(null_fd, STDIN_FILENO);
    // Signal dispositions and the mask of the test runner are not inherited.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // Fatal-signal tests must not leave core files behind.
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
    if (n <= 0) {
      eof_ = true;
      changed_.notify_all();
      break;
    }
    text_.append(buf, static_cast<size_t>(n));
    changed_.notify_all();
  }
  ::close(fd);
}

static int occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

bool Child_Process::wait_for(const std::string& text, int count,
                             std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, deadline,
                           [&] { return occurrences(text_, text) >= count || eof_; }) &&
         occurrences(text_, text) >= count;
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
  while (std::chrono::steady_clock::now() < end) {
    const pid_t r = ::waitpid(pid_, &status_, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      if (reader_.joinable()) reader_.join();
      return status_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, &status_, 0);
  reaped_ = true;
  if (reader_.joinable()) reader_.join();
  return -1;
}

int Child_Process::thread_count() const {
  const std::string dir = "/proc/" + std::to_string(pid_) + "/task";
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return -1;
  int n = 0;
  while (struct dirent* e = ::readdir(d)) {
    if (e->d_name[0] != '.') ++n;
  }
  ::closedir(d);
  return n;
}

std::string built_program(const char* name) { return std::string(D2T_BINARY_DIR "/bin/") + name; }

std::string built_library(const char* name) {
  return std::string(D2T_BINARY_DIR "/lib/lib") + name + ".so";
}

Temp_Dir::Temp_Dir() {
  char tmpl[] = "/tmp/d2t-starter-XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
  ::chmod(path_.c_str(), 0755);
}

Temp_Dir::~Temp_Dir() {
  const std::string cmd = "rm -rf '" + path_ + "'";
  if (std::system(cmd.c_str()) != 0) {
    // Nothing more to do: a leftover temporary directory is harmless.
  }
}

std::string Temp_Dir::write(const std::string& name, const std::string& content) const {
  const std::string full = path_ + "/" + name;
  std::ofstream out(full);
  out << content;
  return full;
}
