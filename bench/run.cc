// brix_bench_run: the whole program on the capacity case (12,000 points by
// 2,500 years), then its stage groups timed in-process on the same files.
//
// The input files are generated once into a cache folder and reused while the
// stamp beside them matches the size, the seed and the generator's output.
// Each whole run is a fork/exec of the real program with scripted answers in a
// temporary folder; wait4 gives its peak resident memory.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "input/coordinates.h"
#include "input/reconstruction.h"
#include "input/run_data.h"
#include "records/unit.h"
#include "stats/series.h"
#include "stats/smoothed.h"
#include "stats/yearly.h"
#include "tools/generate.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "Usage: brix_bench_run --program PATH [options]\n"
    "Runs the program on the capacity case and times its stage groups.\n"
    "\n"
    "  --program PATH   the brix_eli binary to run (required)\n"
    "  --runs K         whole runs and in-process repetitions (default 5)\n"
    "  --data DIR       cache folder of the generated inputs (default build/bench-data)\n"
    "  --points N       grid points (default 12000)\n"
    "  --years N        year records (default 2500)\n"
    "  --seed S         generator seed (default 1)\n"
    "  --help           this text\n";

// Answers to the six questions: coordinate file, order, dateline,
// reconstruction file, threshold, smoothing period.
constexpr const char* kAnswers = "xy_coordinates.txt\n1\nn\nrecon_sst.txt\n28.5\n10\n";
constexpr float kThreshold = 28.5f;
constexpr std::int32_t kPeriod = 10;

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "brix_bench_run: %s\n", message.c_str());
  std::exit(1);
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU time of this process: on a shared machine it tells waiting apart from
// work.
double cpu_seconds() {
  timespec ts;
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

double seconds(const timeval& tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec * 1e-6; }

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  std::size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

long long file_size(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string absolute(const std::string& path) {
  char buffer[PATH_MAX];
  if (::realpath(path.c_str(), buffer) == nullptr) fail("cannot find " + path + ": " + std::strerror(errno));
  return buffer;
}

// ---------------------------------------------------------------- input cache

struct Inputs {
  std::string xy;
  std::string recon;
  bool reused = false;
};

// A fingerprint of the generator's output for these options on a tiny grid:
// a changed generator gives a different stamp, so stale files are not reused.
std::uint64_t generator_fingerprint(const brix::gen::Options& o) {
  brix::gen::Options tiny = o;
  tiny.points = 50;
  tiny.years = 3;
  brix::gen::Dataset d = brix::gen::make(tiny);
  std::uint64_t h = 1469598103934665603ULL;  // FNV-1a
  for (const std::string* s : {&d.xy, &d.recon})
    for (unsigned char c : *s) h = (h ^ c) * 1099511628211ULL;
  return h;
}

Inputs prepare_inputs(const std::string& dir, const brix::gen::Options& o) {
  Inputs in{dir + "/xy_coordinates.txt", dir + "/recon_sst.txt"};
  const std::string stamp_path = dir + "/stamp.txt";
  char head[256];
  std::snprintf(head, sizeof head, "points %d years %d first_year %d seed %llu generator %016llx",
                o.points, o.years, o.first_year, static_cast<unsigned long long>(o.seed),
                static_cast<unsigned long long>(generator_fingerprint(o)));

  std::string stamp = read_text(stamp_path);
  if (stamp.rfind(head, 0) == 0) {
    long long xy_bytes = -1, recon_bytes = -1;
    std::sscanf(stamp.c_str() + std::strlen(head), " xy_bytes %lld recon_bytes %lld", &xy_bytes,
                &recon_bytes);
    if (xy_bytes >= 0 && file_size(in.xy) == xy_bytes && file_size(in.recon) == recon_bytes) {
      in.reused = true;
      return in;
    }
  }

  if (::mkdir(dir.c_str(), 0775) != 0 && errno != EEXIST)
    fail("cannot create " + dir + ": " + std::strerror(errno));
  ::unlink(stamp_path.c_str());
  std::fprintf(stderr, "brix_bench_run: generating %d points x %d years into %s ...\n", o.points,
               o.years, dir.c_str());
  Clock::time_point start = Clock::now();
  brix::gen::Written w;
  if (std::string why = brix::gen::write_files(o, in.xy, in.recon, &w); !why.empty()) fail(why);
  std::fprintf(stderr, "brix_bench_run: generated in %.1f s\n", seconds_since(start));
  std::ofstream out(stamp_path);
  out << head << " xy_bytes " << w.xy_bytes << " recon_bytes " << w.recon_bytes << "\n";
  if (!out) fail("cannot write " + stamp_path);
  return in;
}

// ---------------------------------------------------------------- whole runs

struct Run {
  double seconds = 0;
  double cpu = 0;  // user + system
  long max_rss_kib = 0;
};

// Runs the program once in `dir` with the scripted answers and checks that it
// ended normally with both tables complete.
Run run_program(const std::string& program, const std::string& dir, int years) {
  const std::string yearly = dir + "/Brix_ELI_5N-5S.txt";
  const std::string smoothed = dir + "/Brix_ELI_5N-5S_Spline.txt";
  ::unlink(yearly.c_str());
  ::unlink(smoothed.c_str());

  Clock::time_point start = Clock::now();
  pid_t pid = ::fork();
  if (pid < 0) fail(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    int in = ::open("answers.txt", O_RDONLY);
    int out = ::open("/dev/null", O_WRONLY);
    int err = ::open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    ::execv(program.c_str(), argv);
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (::wait4(pid, &status, 0, &usage) != pid) fail(std::string("wait4: ") + std::strerror(errno));
  Run r;
  r.seconds = seconds_since(start);
  r.max_rss_kib = usage.ru_maxrss;
  r.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);

  std::string err = read_text(dir + "/stderr.txt");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    fail("the program did not end with status 0 (wait status " + std::to_string(status) +
         "); its standard error:\n" + err);
  if (err.find(" End Brix_ELI") == std::string::npos)
    fail("the program did not write its closing text; its standard error:\n" + err);
  for (const std::string& table : {yearly, smoothed}) {
    std::string text = read_text(table);
    long lines = std::count(text.begin(), text.end(), '\n');
    if (lines != years + 1)
      fail(table + " holds " + std::to_string(lines) + " lines, not " + std::to_string(years + 1));
  }
  return r;
}

// ---------------------------------------------------------------- stage groups

// The program's data, allocated once: sst alone is 120 MB. Default
// initialisation leaves the arrays untouched until they are read into.
brix::input::RunData* data = new brix::input::RunData;
brix::stats::YearlySeries yearly;
brix::stats::RecordMeans means;
brix::stats::SmoothedSeries smoothed;

// Wall and CPU seconds of each repetition of one stage group.
struct Stage {
  std::vector<double> wall, cpu;
  Clock::time_point start_wall;
  double start_cpu = 0;
  void start() {
    start_wall = Clock::now();
    start_cpu = cpu_seconds();
  }
  void stop() {
    wall.push_back(seconds_since(start_wall));
    cpu.push_back(cpu_seconds() - start_cpu);
  }
};

struct StageTimes {
  Stage read, yearly_stats, smoothing;
};

void time_stages(const Inputs& in, int runs, int points, int years, StageTimes& t) {
  int null_fd = ::open("/dev/null", O_WRONLY);
  if (null_fd < 0) fail("cannot open /dev/null");
  brix::records::Unit console("*", -1, null_fd, true);  // the echo lines go nowhere
  brix::records::Unit file("10", -1, -1, false);

  for (int k = 0; k < runs; ++k) {
    t.read.start();
    data->coord_order = 1;
    if (!file.open_old(in.xy)) fail("cannot open " + in.xy);
    brix::input::read_coordinates(file, console, *data);
    if (!file.open_old(in.recon)) fail("cannot open " + in.recon);
    brix::input::read_reconstruction(file, console, *data);
    t.read.stop();
    if (data->n_points != points || data->n_years != years)
      fail("in-process read gave " + std::to_string(data->n_points) + " points and " +
           std::to_string(data->n_years) + " years");

    t.yearly_stats.start();
    file.open_unknown("/dev/null");
    brix::stats::yearly_statistics(file, *data, kThreshold, yearly);
    file.close();
    t.yearly_stats.stop();

    t.smoothing.start();
    brix::stats::record_means(yearly, data->n_years, means);
    file.open_unknown("/dev/null");
    brix::stats::smoothed_heading(file);
    brix::stats::smooth_and_tabulate(file, yearly, means, data->n_years, data->first_year,
                                     kPeriod, smoothed);
    file.close();
    t.smoothing.stop();
    std::printf("  in-process %d: read %.1f ms, yearly statistics %.1f ms, smoothing %.1f ms\n",
                k + 1, t.read.wall.back() * 1e3, t.yearly_stats.wall.back() * 1e3,
                t.smoothing.wall.back() * 1e3);
    std::fflush(stdout);
  }
  ::close(null_fd);
}

}  // namespace

int main(int argc, char** argv) {
  std::string program;
  std::string data_dir = "build/bench-data";
  int runs = 5;
  brix::gen::Options o;
  o.points = brix::input::max_points;
  o.years = brix::input::max_years;
  o.seed = 1;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) fail(std::string(a) + " needs a value (see --help)");
    const char* v = argv[++i];
    char* end = nullptr;
    errno = 0;
    long long n = std::strtoll(v, &end, 10);
    bool numeric = errno == 0 && end != v && *end == '\0' && n >= 0 && n <= INT_MAX;
    if (a == "--program") program = v;
    else if (a == "--data") data_dir = v;
    else if (!numeric) fail(std::string(a) + " needs a non-negative integer (see --help)");
    else if (a == "--runs") runs = static_cast<int>(n);
    else if (a == "--points") o.points = static_cast<int>(n);
    else if (a == "--years") o.years = static_cast<int>(n);
    else if (a == "--seed") o.seed = static_cast<std::uint64_t>(n);
    else fail("unknown option " + std::string(a) + " (see --help)");
  }
  if (program.empty()) fail("--program is required (see --help)");
  if (runs < 1) fail("--runs must be at least 1");
  if (o.points > brix::input::max_points || o.years > brix::input::max_years)
    fail("the program holds at most 12000 points and 2500 years");
  if (std::string why = brix::gen::check(o); !why.empty()) fail(why);
  program = absolute(program);

  Inputs in = prepare_inputs(data_dir, o);
  const long long recon_bytes = file_size(in.recon);
  const long long xy_bytes = file_size(in.xy);

  // A scratch folder where the program finds its inputs and writes its tables.
  char scratch[] = "/tmp/brix_bench_XXXXXX";
  if (::mkdtemp(scratch) == nullptr) fail(std::string("mkdtemp: ") + std::strerror(errno));
  const std::string dir = scratch;
  if (::symlink(absolute(in.xy).c_str(), (dir + "/xy_coordinates.txt").c_str()) != 0 ||
      ::symlink(absolute(in.recon).c_str(), (dir + "/recon_sst.txt").c_str()) != 0)
    fail(std::string("symlink: ") + std::strerror(errno));
  {
    std::ofstream answers(dir + "/answers.txt");
    answers << kAnswers;
  }

  std::printf("brix_bench_run: %d points x %d years, seed %llu; inputs in %s (%s)\n", o.points,
              o.years, static_cast<unsigned long long>(o.seed), data_dir.c_str(),
              in.reused ? "reused" : "generated");
  std::printf("  reconstruction file %lld bytes (%.1f MB), coordinate file %lld bytes\n",
              recon_bytes, recon_bytes / 1e6, xy_bytes);
  std::fflush(stdout);

  std::vector<double> walls, cpus;
  long max_rss_kib = 0;
  for (int k = 0; k < runs; ++k) {
    Run r = run_program(program, dir, o.years);
    walls.push_back(r.seconds);
    cpus.push_back(r.cpu);
    max_rss_kib = std::max(max_rss_kib, r.max_rss_kib);
    std::printf("  run %d: %.3f s (cpu %.3f s), peak RSS %.1f MiB\n", k + 1, r.seconds, r.cpu,
                r.max_rss_kib / 1024.0);
    std::fflush(stdout);
  }
  for (const char* name : {"answers.txt", "stderr.txt", "xy_coordinates.txt", "recon_sst.txt",
                           "Brix_ELI_5N-5S.txt", "Brix_ELI_5N-5S_Spline.txt"})
    ::unlink((dir + "/" + name).c_str());
  ::rmdir(dir.c_str());

  StageTimes t;
  time_stages(in, runs, o.points, o.years, t);

  const double wall = median(walls);
  const double read = median(t.read.wall);
  const double stats = median(t.yearly_stats.wall);
  const double smooth = median(t.smoothing.wall);
  const double read_mb_s = recon_bytes / 1e6 / read;
  const double rss_mb = max_rss_kib * 1024.0 / 1e6;
  const double tail_share = (stats + smooth) / wall * 100.0;

  std::printf("\nwhole run, %d runs of %s (all exit status 0, both tables complete)\n", runs,
              program.c_str());
  std::printf("  median wall       %9.3f s   (min %.3f, max %.3f)\n", wall,
              *std::min_element(walls.begin(), walls.end()),
              *std::max_element(walls.begin(), walls.end()));
  std::printf("  median cpu        %9.3f s   (user + system)\n", median(cpus));
  std::printf("  peak RSS          %9.1f MB  (%.1f MiB, highest of the runs)\n", rss_mb,
              max_rss_kib / 1024.0);
  std::printf("  read throughput   %9.1f MB/s (reconstruction file / median read stage)\n",
              read_mb_s);

  std::printf("\nstage groups, in-process, median of %d     wall ms    cpu ms   share of the run\n",
              runs);
  auto row = [&](const char* name, const Stage& s) {
    double w = median(s.wall);
    std::printf("  %-36s %8.1f %9.1f   %5.1f %%\n", name, w * 1e3, median(s.cpu) * 1e3,
                w / wall * 100.0);
  };
  row("read (coordinates + reconstruction)", t.read);
  row("yearly statistics and table", t.yearly_stats);
  row("means, smoothing, smoothed table", t.smoothing);
  double rest = wall - read - stats - smooth;
  std::printf("  %-36s %8.1f %9s   %5.1f %%\n", "rest of the run (wall - the above)", rest * 1e3,
              "", rest / wall * 100.0);

  auto verdict = [](bool ok) { return ok ? "met" : "NOT met"; };
  std::printf("\ntargets (reported, not enforced)\n");
  std::printf("  whole run <= 0.3 s median            %s (%.3f s)\n", verdict(wall <= 0.3), wall);
  std::printf("  read >= 1000 MB/s                    %s (%.1f MB/s)\n",
              verdict(read_mb_s >= 1000.0), read_mb_s);
  std::printf("  peak RSS <= 140 MB                   %s (%.1f MB)\n", verdict(rss_mb <= 140.0),
              rss_mb);
  std::printf("  stats+smoothing+tables < 10 %%        %s (%.1f %%)\n",
              verdict(tail_share < 10.0), tail_share);
  return 0;
}
