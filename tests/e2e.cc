#include "tests/e2e.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace brix::e2e {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string pad(std::string s, std::size_t n) {
  s.resize(n, ' ');
  return s;
}

}  // namespace

Sandbox::Sandbox() {
  char name[] = "/tmp/brix_e2e_XXXXXX";
  dir_ = ::mkdtemp(name);
  ::chmod(dir_.c_str(), 0755);
}

Sandbox::~Sandbox() {
  ::chmod(dir_.c_str(), 0755);
  std::filesystem::remove_all(dir_);
}

void Sandbox::write(const std::string& name, const std::string& content) const {
  std::ofstream out(path(name), std::ios::binary);
  out << content;
}

std::optional<std::string> Sandbox::read(const std::string& name) const {
  if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path(name))))
    return std::nullopt;
  return slurp(path(name));
}

namespace {

// Milliseconds left before the deadline, at least 0.
int left_ms(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Drops to uid and gid 65534; false when the system refuses.
bool drop_privileges() {
  return ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
}

}  // namespace

Result Sandbox::run(const std::string& input, const Streams& streams) const {
  std::signal(SIGPIPE, SIG_IGN);  // feeding a program that has ended fails with EPIPE
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(streams.timeout_seconds);
  const bool piped_out = streams.out == Streams::Out::kPipe;
  const bool drop = streams.as_nobody && ::geteuid() == 0;
  std::string program = BRIX_ELI_PATH, out = dir_ + "/.stdout", err = dir_ + "/.stderr";
  if (drop) {
    // The build folder may lie where the unprivileged user cannot enter.
    program = dir_ + "/.brix_eli";
    std::filesystem::copy_file(BRIX_ELI_PATH, program,
                               std::filesystem::copy_options::overwrite_existing);
    ::chmod(program.c_str(), 0755);
  }
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
    ::execl(program.c_str(), "brix_eli", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(in_pipe[0]);
  bool input_open = true;
  auto feed = [&](const std::string& text) {
    for (std::size_t fed = 0; input_open && fed < text.size();) {
      pollfd p{in_pipe[1], POLLOUT, 0};
      if (::poll(&p, 1, left_ms(deadline)) <= 0) break;
      ssize_t n = ::write(in_pipe[1], text.data() + fed, text.size() - fed);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) input_open = false;  // the program has ended or closed its input
      else fed += static_cast<std::size_t>(n);
    }
  };
  Result r;
  if (piped_out) {
    feed(streams.first_input);
    ::close(out_pipe[1]);
    char buffer[4096];
    while (r.out.size() < streams.read_before_closing) {
      pollfd p{out_pipe[0], POLLIN, 0};
      if (::poll(&p, 1, left_ms(deadline)) <= 0) break;
      std::size_t want = std::min(sizeof buffer, streams.read_before_closing - r.out.size());
      ssize_t n = ::read(out_pipe[0], buffer, want);
      if (n <= 0) break;
      r.out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out_pipe[0]);
  }
  feed(input);
  ::close(in_pipe[1]);
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, WNOHANG) == 0) {
    if (left_ms(deadline) == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &wstatus, 0);
      r.timed_out = true;
      break;
    }
    ::usleep(2000);
  }
  if (streams.out == Streams::Out::kFile) r.out = slurp(out);
  r.err = slurp(err);
  r.status = !r.timed_out && WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  ::unlink(out.c_str());
  ::unlink(err.c_str());
  return r;
}

std::string welcome() {
  return "\n"
         " |== Welcome to the Sector_Mean_Series program ==|\n"
         " It allows you to extract a rectangular sub-domain\n"
         " of recon data produced by QMV as long as it does\n"
         " not cross the dateline (to be fixed!). Extracted\n"
         " data are then averaged and smoothed for analysis\n"
         " and the standard deviations and standard errors\n"
         " of the mean for each year are calculated. Running\n"
         " this program requires the XY coordinate file used\n"
         " by QMV and the recon data file produced by QMV.\n";
}
// Each question: an empty line (or the end of the line left open before),
// the text from column 2, blanks to column 44, "==> " in columns 45 to 48,
// and no LF.
std::string ask_coordinates() { return "\n Enter file name for XY coordinates         ==> "; }
std::string coordinates_opened(const std::string& name) {
  return "\n XY coordinates file opened: " + pad(name, 80) + "\n";
}
std::string ask_order() {
  return "\n Read the coordinates in lat/lon order (1)\n"
         " Read the coordinates in lon/lat order (2)  ==> ";
}
std::string points_read(const std::string& count5) {
  return "\n Grid points read in is: " + count5 + "\n";
}
std::string ask_dateline() { return "\n Longitude cross the dateline? y/n          ==> "; }
std::string reading_recon() { return "\n Okay, read in the recon data now.\n"; }
std::string ask_recon() { return "\n Input SST recon data file name             ==> "; }
std::string recon_opened(const std::string& name) {
  return "\n Recon data file opened: " + pad(name, 80) + "\n";
}
std::string recon_read(const std::string& three_i6) {
  return "\n Recon data read in: " + three_i6 + "\n";
}
std::string ask_threshold() { return "\n Enter the deep convection threshold        ==> "; }
std::string threshold_used(const std::string& f5) {
  return "\n Deep convection threshold used: " + f5 + "\n";
}
std::string ask_smoothing() { return "\n Enter the ELI spline smoothing?            ==> "; }
std::string closing() { return " \n"; }
std::string four_point_year(int year) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%5d", year);
  return std::string(buf) + "    28.000    29.000    30.000    31.000\n";
}

std::string console_to_threshold(const std::string& count5, const std::string& recon3) {
  return welcome() + ask_coordinates() + coordinates_opened("xy.txt") + ask_order() +
         points_read(count5) + ask_dateline() + reading_recon() + ask_recon() +
         recon_opened("recon.txt") + recon_read(recon3) + ask_threshold();
}


}  // namespace brix::e2e
