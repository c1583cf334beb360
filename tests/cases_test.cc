// Whole runs described in the case files of tests/cases/ (their format is in
// tests/cases/README.md): the files a run starts with, its standard input,
// and what it must show and leave behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e.h"

namespace brix::e2e {
namespace {

struct Block {
  std::string kind, args, text;
  std::vector<std::string> lines;  // raw, for pieces
};
struct Case {
  std::string file, name;
  std::vector<Block> blocks;
};

// The empty line that separates a case from the next is not content.
void end_case(std::vector<Case>& cases) {
  if (cases.empty() || cases.back().blocks.empty()) return;
  Block& last = cases.back().blocks.back();
  if (last.lines.empty() || !last.lines.back().empty()) return;
  last.lines.pop_back();
  last.text.pop_back();
}

std::vector<Case> load_cases() {
  std::vector<Case> cases;
  for (const auto& entry : std::filesystem::directory_iterator(BRIX_CASES_DIR)) {
    std::ifstream in(entry.path());
    bool started = false;  // lines before the first case are comments
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("=== ", 0) == 0) {
        started = true;
        end_case(cases);
        cases.push_back({entry.path().filename().string(), line.substr(4), {}});
      } else if (!started) {
        continue;
      } else if (line.rfind("--- ", 0) == 0) {
        std::size_t space = line.find(' ', 4);
        cases.back().blocks.push_back({line.substr(4, space - 4),
                                       space == std::string::npos ? "" : line.substr(space + 1),
                                       "", {}});
      } else if (!cases.back().blocks.empty()) {
        cases.back().blocks.back().lines.push_back(line);
        cases.back().blocks.back().text += unescape(line);
      }
    }
    end_case(cases);
  }
  return cases;
}

struct Outcome {
  Result result;
  std::optional<std::string> yearly, smoothed;
};

// The console pieces a block names, one after the other.
std::string pieces(const Block& b) {
  std::string out;
  for (const std::string& line : b.lines) out += console(line);
  return out;
}

Outcome run(const Case& c, bool clean) {
  Sandbox box;
  Streams streams;
  std::string input, after;
  std::vector<std::thread> writers;
  auto has_clean = [&](const std::string& name) {
    return std::any_of(c.blocks.begin(), c.blocks.end(),
                       [&](const Block& o) { return o.kind == "clean" && o.args == name; });
  };
  for (const Block& b : c.blocks) {
    const bool replaced = clean && has_clean(b.args);
    if ((b.kind == "file" && !replaced) || (b.kind == "clean" && clean)) box.write(b.args, b.text);
    if (b.kind == "fifo" && !replaced && ::mkfifo(box.path(b.args).c_str(), 0644) == 0)
      writers.emplace_back([path = box.path(b.args), text = b.text] {
        std::ofstream(path, std::ios::binary) << text;  // opens once the program does
      });
    if (b.kind == "dir") std::filesystem::create_directory(box.path(b.args));
    if (b.kind == "link") {
      std::string name = b.args.substr(0, b.args.find(' '));
      EXPECT_EQ(::symlink(b.args.substr(name.size() + 1).c_str(), box.path(name).c_str()), 0);
    }
    if (b.kind == "stdin") (b.args == "after" ? after : input) = b.text;
    if (b.kind == "stdin" && b.args.rfind("from ", 0) == 0) streams.input_path = b.args.substr(5);
    if (b.kind == "stdout" && b.args == "closed") streams.out = Streams::Out::kClosed;
    if (b.kind == "stdout" && b.args == "breaks") {
      streams.out = Streams::Out::kPipe;
      streams.read_before_closing = pieces(b).size();
    }
    streams.as_nobody |= b.kind == "as" && b.args == "nobody";
    streams.no_threads |= b.kind == "threads" && b.args == "none" && !clean;
  }
  for (const Block& b : c.blocks) {  // after every file is in place
    if (b.kind == "chmod") {
      std::size_t space = b.args.rfind(' ');
      ::chmod(box.path(b.args.substr(0, space)).c_str(), std::stoul(b.args.substr(space), nullptr, 8));
    }
  }
  if (streams.out == Streams::Out::kPipe) streams.first_input = input;
  Result result = box.run(streams.out == Streams::Out::kPipe ? after : input + after, streams);
  for (std::thread& w : writers) w.join();
  return {result, box.read("Brix_ELI_5N-5S.txt"), box.read("Brix_ELI_5N-5S_Spline.txt")};
}

TEST(CasesTest, EveryCaseFile) {
  std::vector<Case> cases = load_cases();
  ASSERT_GT(cases.size(), 30u);
  std::string skipped;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + ": " + c.name);
    Outcome got = run(c, false);
    if (got.result.status == 126) {  // the run could not drop its privileges
      skipped += "\n  " + c.name + ": " + got.result.err;
      continue;
    }
    std::string err = kEnd;
    int status = 0;
    for (const Block& b : c.blocks) {
      if (b.kind == "clean" || b.kind == "threads") {
        Outcome ref = run(c, true);
        EXPECT_EQ(got.result.out, ref.result.out);
        EXPECT_EQ(got.yearly, ref.yearly);
        EXPECT_EQ(got.smoothed, ref.smoothed);
        err = ref.result.err;
        status = ref.result.status;
      } else if (b.kind == "stdout" && (b.args.empty() || b.args == "breaks")) {
        EXPECT_EQ(got.result.out, pieces(b));
      } else if (b.args == "has") {
        for (const std::string& line : b.lines) {
          bool out = b.kind == "stdout";
          EXPECT_NE((out ? got.result.out : got.yearly.value_or("")).find(out ? console(line) : unescape(line)),
                    std::string::npos) << line;
        }
      } else if (b.kind == "stderr") {
        err = b.text;
      } else if (b.kind == "status") {
        status = std::stoi(b.args);
      } else if (b.kind == "yearly" || b.kind == "smoothed") {
        const auto& table = b.kind == "yearly" ? got.yearly : got.smoothed;
        if (b.args == "none") {
          EXPECT_FALSE(table) << b.kind;
        } else {
          EXPECT_EQ(table, b.text) << b.kind;
        }
      }
    }
    EXPECT_EQ(got.result.err, err);
    EXPECT_EQ(got.result.status, status);
  }
  if (!skipped.empty()) GTEST_SKIP() << "cases skipped:" << skipped;
}

}  // namespace
}  // namespace brix::e2e
