#include "tests/e2e.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace brix::e2e {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  return (std::ostringstream() << in.rdbuf()).str();
}

Sandbox::Sandbox() {
  std::string name = std::filesystem::temp_directory_path() / "brix_e2e_XXXXXX";
  dir_ = ::mkdtemp(name.data());
  ::chmod(dir_.c_str(), 0755);
}

Sandbox::~Sandbox() {
  ::chmod(dir_.c_str(), 0755);
  std::filesystem::remove_all(dir_);
}

void Sandbox::write(const std::string& name, const std::string& content) const {
  std::ofstream(path(name), std::ios::binary) << content;
}

std::optional<std::string> Sandbox::read(const std::string& name) const {
  if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path(name))))
    return std::nullopt;
  return slurp(path(name));
}

namespace {

// Drops to uid and gid 65534; false when the system refuses.
bool drop_privileges() {
  return ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
}

}  // namespace

Result Sandbox::run(const std::string& input, const Streams& streams) const {
  std::signal(SIGPIPE, SIG_IGN);  // feeding a program that has ended fails with EPIPE
  const bool piped_out = streams.out == Streams::Out::kPipe;
  const bool drop = streams.as_nobody && ::geteuid() == 0;
  const std::string built = streams.program.empty() ? BRIX_ELI_PATH : streams.program;
  std::string program = built, out = dir_ + "/.stdout", err = dir_ + "/.stderr";
  if (drop) {
    // The build folder may lie where the unprivileged user cannot enter.
    program = dir_ + "/.brix_eli";
    std::filesystem::copy_file(built, program,
                               std::filesystem::copy_options::overwrite_existing);
    ::chmod(program.c_str(), 0755);
  }
  // The leak check of a sanitizer build needs a thread of its own.
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string no_leak_check =
      (asan != nullptr ? asan + std::string(":") : "") + "detect_leaks=0";
  int in_pipe[2], out_pipe[2] = {-1, -1};
  if (::pipe2(in_pipe, O_CLOEXEC) != 0 || (piped_out && ::pipe2(out_pipe, O_CLOEXEC) != 0))
    return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd2 = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int fd0 = streams.input_path.empty() ? in_pipe[0]
                                         : ::open(streams.input_path.c_str(), O_RDONLY);
    int fd1 = streams.out == Streams::Out::kFile
                  ? ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666)
                  : out_pipe[1];
    if (fd2 < 0 || fd0 < 0 || ::dup2(fd2, 2) < 0 || ::dup2(fd0, 0) < 0 ||
        ::chdir(dir_.c_str()) != 0)
      ::_exit(127);
    if (streams.out == Streams::Out::kClosed) ::close(1);
    else if (fd1 < 0 || ::dup2(fd1, 1) < 0) ::_exit(127);
    ::umask(022);
    if (drop && !drop_privileges()) {
      std::fputs("cannot drop privileges to uid 65534\n", stderr);
      ::_exit(126);
    }
    const rlimit one_process{1, 1};
    if (streams.no_threads && (::setenv("ASAN_OPTIONS", no_leak_check.c_str(), 1) != 0 ||
                               ::setrlimit(RLIMIT_NPROC, &one_process) != 0))
      ::_exit(127);
    ::execl(program.c_str(), "brix_eli", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(in_pipe[0]);
  // Blocking writes and reads: a program that hangs is ended by the test's
  // time limit.
  auto feed = [&](const std::string& text) {
    for (std::size_t fed = 0; fed < text.size();) {
      ssize_t n = ::write(in_pipe[1], text.data() + fed, text.size() - fed);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // the program has ended or closed its input
      fed += static_cast<std::size_t>(n);
    }
  };
  Result r;
  if (piped_out) {
    feed(streams.first_input);
    ::close(out_pipe[1]);
    char buffer[4096];
    while (r.out.size() < streams.read_before_closing) {
      ssize_t n = ::read(out_pipe[0], buffer,
                         std::min(sizeof buffer, streams.read_before_closing - r.out.size()));
      if (n <= 0) break;
      r.out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out_pipe[0]);
  }
  feed(input);
  ::close(in_pipe[1]);
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  if (streams.out == Streams::Out::kFile) r.out = slurp(out);
  r.err = slurp(err);
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  ::unlink(out.c_str());
  ::unlink(err.c_str());
  return r;
}

std::string unescape(const std::string& line) {
  std::string out;
  std::size_t i = 0, repeat = 1;
  if (line.rfind("\\*", 0) == 0) {
    std::size_t space = line.find(' ');
    repeat = std::stoul(line.substr(2, space - 2));
    i = space + 1;
  }
  bool newline = true;
  for (; i < line.size(); ++i) {
    if (line[i] != '\\' || i + 1 == line.size()) {
      out += line[i];
      continue;
    }
    char c = line[++i];
    if (c == 'x') out += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16)), i += 2;
    else if (c == 'c') newline = false;
    else out += c == 'r' ? '\r' : c == 't' ? '\t' : c == '0' ? '\0' : c;
  }
  if (newline) out += '\n';
  std::string all;
  for (std::size_t k = 0; k < repeat; ++k) all += out;
  return all;
}

std::string console(const std::string& piece) {
  static const std::map<std::string, std::string> pieces = [] {
    std::map<std::string, std::string> m;
    std::ifstream in(BRIX_CONSOLE_TEXT);
    std::string* text = nullptr;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("@ ", 0) == 0) text = &m[line.substr(2)];
      else if (text) *text += unescape(line);
    }
    return m;
  }();
  for (const auto& [name, text] : pieces) {
    if (piece != name && piece.rfind(name + " ", 0) != 0) continue;
    std::string arg = piece.substr(std::min(piece.size(), name.size() + 1)), out = text;
    if (std::size_t at = out.find("{80}"); at != std::string::npos)
      out.replace(at, 4, arg + std::string(80 - std::min<std::size_t>(arg.size(), 80), ' '), 0, 80);
    if (std::size_t at = out.find("{}"); at != std::string::npos) out.replace(at, 2, arg);
    return out;
  }
  ADD_FAILURE() << "no console piece is called \"" << piece << "\"";
  return {};
}

}  // namespace brix::e2e
