// brix_import: the command around the importer library.
#include <cstdio>
#include <string>

#include "import/importer.h"
#include "import/summary.h"
#include "input/describe.h"

namespace {

using namespace brix::importer;

void print_profile(const Options& o, const Report& r) {
  const auto& t = r.times;
  std::fprintf(stderr,
               "brix_import: processor seconds: reading %.3f (of which chunks as stored "
               "%.3f), decompressing %.3f on up to %d threads, averaging %.3f, writing %.3f; "
               "%s\n",
               t.reading, t.reading_chunks, t.decoding, o.threads, t.averaging, t.writing,
               r.direct ? "chunks read directly" : "read through netCDF-C");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Command c = parse_command_line(argc, argv);
    if (c.kind == Command::Kind::kHelp) {
      std::fputs(usage_text().c_str(), stdout);
      return 0;
    }
    if (c.kind == Command::Kind::kVersion) {
      std::puts(version_text().c_str());
      return 0;
    }
    if (c.kind == Command::Kind::kInputs) {
      auto facts = brix::input::describe_inputs(c.xy, c.recon, c.order,
                                                brix::input::ReadMode::from_environment());
      if (!facts) throw Failure("cannot open " + c.xy + " or " + c.recon);
      std::fputs(inputs_json(*facts).c_str(), stdout);
      return 0;
    }
    const Options& o = c.options;
    Report r = run(o, netcdf_opener(o));
    for (const std::string& w : r.warnings)
      std::fprintf(stderr, "brix_import: warning: %s\n", w.c_str());
    std::fputs(describe(o, r).c_str(), stdout);
    if (o.profile) print_profile(o, r);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "brix_import: %s (see brix_import --help)\n", e.what());
    return 2;
  } catch (const Failure& e) {
    std::fprintf(stderr, "brix_import: %s\n", e.what());
    return 1;
  }
  return 0;
}
