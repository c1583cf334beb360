// Allocations failing one by one: the bundled example is run by a build of
// the program whose N-th allocation fails (tests/failing_alloc.cc), for every
// N the run reaches (every few when there are many), the N-th alone or the
// N-th and all after it. Each run must end exactly as the normal run does,
// or with the report of the failed allocation and status 255, its console
// and tables the beginning of the normal ones (the tables line by line).
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <regex>
#include <string>

#include "tests/e2e.h"

namespace brix::e2e {
namespace {

const std::string kExamples = std::string(BRIX_SOURCE_DIR) + "/examples/";
const char* const kTables[] = {"Brix_ELI_5N-5S.txt", "Brix_ELI_5N-5S_Spline.txt"};
constexpr long kMostRuns = 300;  // per scenario and mode; more allocations are sampled

bool starts(const std::string& full, const std::string& part) { return full.rfind(part, 0) == 0; }

struct Scenario {
  const char* name;
  const char* threads;
  bool crlf;  // CR LF line ends: each reading thread cleans lines in a buffer of its own
};

TEST(AllocationFailureTest, EveryAllocationOfTheExampleFailsInTurn) {
  const std::string answers = slurp(kExamples + "answers.txt");
  std::map<std::string, std::string> normal;
  normal["console"] = slurp(kExamples + "expected/console.txt");
  normal["stderr"] = slurp(kExamples + "expected/stderr.txt");
  for (const char* table : kTables) normal[table] = slurp(kExamples + "expected/" + table);
  const std::regex report(
      "\\? Run-Time Error:\n\\? Buffer allocation failed\n"
      "\\? (READ|WRITE|OPEN|CLOSE)\\(UNIT=(\\*|10),\\.\\.\\.\n");
  Streams streams;
  streams.program = BRIX_ELI_FAILING_ALLOC;

  for (const Scenario& s : {Scenario{"one thread", "1", false},
                            Scenario{"two threads, CR LF", "2", true}}) {
    Sandbox box;
    for (const char* input : {"xy_coordinates.txt", "recon_sst.txt"}) {
      const std::string text = slurp(kExamples + input);
      box.write(input, s.crlf ? std::regex_replace(text, std::regex("\n"), "\r\n") : text);
    }
    ::setenv("BRIX_THREADS", s.threads, 1);

    // The normal run, counting its allocations.
    ::setenv("BRIX_ALLOC_COUNT", box.path("count").c_str(), 1);
    Result r = box.run(answers, streams);
    ::unsetenv("BRIX_ALLOC_COUNT");
    ASSERT_EQ(r.status, 0) << s.name;
    ASSERT_EQ(r.out, normal["console"]) << s.name;
    const long count = std::atol(box.read("count").value_or("0").c_str());
    ASSERT_GT(count, 10) << s.name << ": the allocations were not counted";

    const long step = (count + kMostRuns - 1) / kMostRuns;
    for (const char* mode : {"", "+"}) {
      std::map<std::string, int> endings;  // statement line of each report, or "normal"
      for (long n = 1; n <= count; n += step) {
        for (const char* table : kTables) std::remove(box.path(table).c_str());
        const std::string failing = std::to_string(n) + mode;
        ::setenv("BRIX_FAIL_ALLOC", failing.c_str(), 1);
        r = box.run(answers, streams);
        ::unsetenv("BRIX_FAIL_ALLOC");
        const std::string what = std::string(s.name) + ", allocation " + failing;
        if (r.status == 0) {
          ++endings["normal"];
          EXPECT_EQ(r.out, normal["console"]) << what;
          EXPECT_EQ(r.err, normal["stderr"]) << what;
          for (const char* table : kTables) EXPECT_EQ(box.read(table), normal[table]) << what;
          continue;
        }
        std::smatch m;
        EXPECT_EQ(r.status, 255) << what << "\n" << r.err;
        EXPECT_TRUE(std::regex_match(r.err, m, report)) << what << ":\n" << r.err;
        ++endings[m.size() > 2 ? m[1].str() + "(UNIT=" + m[2].str() : "?"];
        EXPECT_TRUE(starts(normal["console"], r.out)) << what << ":\n" << r.out;
        for (const char* table : kTables) {
          const std::string left = box.read(table).value_or("");
          EXPECT_TRUE(starts(normal[table], left) && (left.empty() || left.back() == '\n'))
              << what << ": " << table << " is not a run of the normal lines:\n" << left;
        }
      }
      EXPECT_GT(endings.size(), 2u) << s.name << ": failures were not met at several requests";
    }
  }
  ::unsetenv("BRIX_THREADS");
}

}  // namespace
}  // namespace brix::e2e
