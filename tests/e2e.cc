#include "tests/e2e.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

Sandbox::~Sandbox() { std::filesystem::remove_all(dir_); }

void Sandbox::write(const std::string& name, const std::string& content) const {
  std::ofstream out(path(name), std::ios::binary);
  out << content;
}

std::optional<std::string> Sandbox::read(const std::string& name) const {
  if (!std::filesystem::exists(path(name))) return std::nullopt;
  return slurp(path(name));
}

Result Sandbox::run(const std::string& input, bool as_nobody) const {
  std::string in = dir_ + "/.stdin", out = dir_ + "/.stdout", err = dir_ + "/.stderr";
  {
    std::ofstream f(in, std::ios::binary);
    f << input;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd0 = ::open(in.c_str(), O_RDONLY);
    int fd1 = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int fd2 = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd0 < 0 || fd1 < 0 || fd2 < 0 || ::chdir(dir_.c_str()) != 0) ::_exit(127);
    ::dup2(fd0, 0);
    ::dup2(fd1, 1);
    ::dup2(fd2, 2);
    ::umask(022);
    if (as_nobody && ::geteuid() == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
        ::_exit(126);
    }
    ::execl(BRIX_ELI_PATH, "brix_eli", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  Result r;
  r.out = slurp(out);
  r.err = slurp(err);
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  ::unlink(in.c_str());
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
std::string eof_report() {
  return "? Run-Time Error:\n? Attempt to read past end of file\n? READ(UNIT=*,...\n";
}

}  // namespace brix::e2e
