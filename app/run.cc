// The run as the user meets it: the dialogue's six questions, the two input
// files, the yearly table and the smoothed table, as a numbered script of
// stages over the named formats below. Each stage's work lives in input/
// and stats/; every text the console shows is one of these formats, so a
// line of the dialogue can be held against its format here.
#include "app/run.h"

#include <memory>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/tables.h"
#include "input/coordinates.h"
#include "input/reconstruction.h"
#include "input/run_data.h"
#include "records/freeform.h"
#include "records/read.h"
#include "records/write.h"
#include "records/report.h"
#include "records/unit.h"

namespace brix::app {
namespace {

using records::Format;
using records::Handles;
using records::Outcome;
using records::Target;
using records::Unit;

// The dialogue's answers, as the questions take them.
struct Answers {
  records::TextField<80> file_name;  // the last file name, as its echo shows it
  std::int32_t coord_order = 0;
  records::TextField<1> dateline_answer;
  float convection_threshold = 0.0f;
  std::int32_t spline_period = 0;
};

// The dialogue's formats, made at the first use rather than before main: a
// run without memory for them ends with the report like any other.
struct Texts {
  const Format kWelcome{
      "(/1x,'|== Welcome to the Sector_Mean_Series program ==|'"
      "/1x,'It allows you to extract a rectangular sub-domain'"
      "/1x,'of recon data produced by QMV as long as it does'"
      "/1x,'not cross the dateline (to be fixed!). Extracted'"
      "/1x,'data are then averaged and smoothed for analysis'"
      "/1x,'and the standard deviations and standard errors'"
      "/1x,'of the mean for each year are calculated. Running'"
      "/1x,'this program requires the XY coordinate file used'"
      "/1x,'by QMV and the recon data file produced by QMV.')"};
  const Format kAskCoordinates{"(/1x,'Enter file name for XY coordinates',t45,'==> ',$)"};
  const Format kCoordinatesOpened{"(/1x,'XY coordinates file opened: ',a)"};
  const Format kAskOrder{
      "(/1x,'Read the coordinates in lat/lon order (1)'"
      "/1x,'Read the coordinates in lon/lat order (2)',t45,'==> ',$)"};
  const Format kAskDateline{"(/1x,'Longitude cross the dateline? y/n',t45,'==> ',$)"};
  const Format kReadingRecon{"(/1x,'Okay, read in the recon data now.')"};
  const Format kAskRecon{"(/1x,'Input SST recon data file name',t45,'==> ',$)"};
  const Format kReconOpened{"(/1x,'Recon data file opened: ',a)"};
  const Format kAskThreshold{"(/1x,'Enter the deep convection threshold',t45,'==> ',$)"};
  const Format kThresholdUsed{"(/1x,'Deep convection threshold used: ',f5.0)"};
  const Format kAskSmoothing{"(/1x,'Enter the ELI spline smoothing?',t45,'==> ',$)"};
  const Format kNotPositive{"('>> sbr spline: matrix not positive definite')"};
  const Format kBlankLine{"(' ')"};
  const Format kText{"(a)"};
};

// The smoothing takes every year brix_eli reads.
static_assert(input::max_years <= numeric::mxy);

const Texts& texts() {
  static const Texts t;
  return t;
}

constexpr const char* kYearlyTable = "Brix_ELI_5N-5S.txt";
constexpr const char* kSmoothedTable = "Brix_ELI_5N-5S_Spline.txt";

// Asks for a file name until the named file opens on unit 10. The whole typed
// line names the file; the 80-character field is what the echo shows.
void open_input(Answers& answers, const Format& question, const Format& echo) {
  Unit& console = Unit::console();
  std::string typed;
  for (;;) {
    answers.file_name.blank();
    records::write(console, question);
    records::read(console, texts().kText, {Target::text(answers.file_name, &typed)},
                  Handles::kNeither);
    if (Unit::file().open_old(typed)) break;
  }
  records::write(console, echo, {answers.file_name});
}

// Asks a numeric question until the answer reads and `accept` takes it. An
// answer that is not a number asks again; the end of the console input ends
// the run with the report, rather than asking forever.
template <typename Accept>
void ask_number(const Format& question, Target target, Accept accept) {
  Unit& console = Unit::console();
  for (;;) {
    records::write(console, question);
    Outcome outcome = records::read_free(console, {target}, Handles::kErrorsAndEnd);
    if (outcome == Outcome::kEnd)
      records::report(records::Statement::kRead, console, records::kEndOfFileMessage);
    if (outcome == Outcome::kDone && accept()) return;
  }
}

}  // namespace

void run(const input::ReadMode& mode) {
  const Texts& t = texts();
  Unit& console = Unit::console();
  Unit& unit10 = Unit::file();
  // The run's data, alive until it stops, zeroed as it starts.
  Answers answers{};
  const auto data = std::make_unique<input::RunData>();
  analysis::Result result;

  // 1. Welcome.
  records::write(console, t.kWelcome);

  // 2. Coordinate file name.
  open_input(answers, t.kAskCoordinates, t.kCoordinatesOpened);

  // 3. Coordinate order.
  ask_number(t.kAskOrder, Target::integer(answers.coord_order),
             [&] { return answers.coord_order == 1 || answers.coord_order == 2; });

  // 4. Coordinates.
  input::read_coordinates(unit10, console, answers.coord_order, *data);

  // 5. Dateline.
  answers.dateline_answer.blank();
  records::write(console, t.kAskDateline);
  records::read(console, t.kText, {Target::text(answers.dateline_answer)}, Handles::kNeither);
  if (answers.dateline_answer.chars[0] == 'y') input::shift_dateline(*data);

  // 6. Notice.
  records::write(console, t.kReadingRecon);

  // 7. Reconstruction file name.
  open_input(answers, t.kAskRecon, t.kReconOpened);

  // 8. Reconstruction data.
  input::read_reconstruction(unit10, console, *data, mode);

  // 9. The yearly table's file, before the threshold question.
  unit10.open_unknown(kYearlyTable);

  // 10. Threshold.
  answers.convection_threshold = 0.0f;
  ask_number(t.kAskThreshold, Target::real(answers.convection_threshold), [] { return true; });
  records::write(console, t.kThresholdUsed, {answers.convection_threshold});

  // 11. Yearly statistics and the yearly table.
  analysis::write_yearly_heading(unit10);
  result.yearly = analysis::yearly(
      data->band_longitudes(), data->band_values(), data->n_years, data->first_year,
      {.convection_threshold = answers.convection_threshold, .threads = mode.threads});
  analysis::write_yearly_rows(unit10, result.yearly);
  unit10.close();

  // 12. Whole-record means, with the smoothing of stage 14.

  // 13. The smoothed table's file and heading, then the smoothing question.
  unit10.open_unknown(kSmoothedTable);
  analysis::write_smoothed_heading(unit10);
  answers.spline_period = 0;
  ask_number(t.kAskSmoothing, Target::integer(answers.spline_period),
             [&] { return answers.spline_period >= 5; });

  // 14. Smoothing and the smoothed table; each series the spline could not
  // decompose is said on the console.
  analysis::smooth(result, answers.spline_period);
  for (analysis::SplineOutcome outcome : result.spline_outcomes)
    if (outcome == analysis::SplineOutcome::kNotPositive) records::write(console, t.kNotPositive);
  analysis::write_smoothed_rows(unit10, result.smoothed);
  unit10.close();

  // 15. Closing line and stop.
  records::write(console, t.kBlankLine);
  records::stop(" End Brix_ELI");
}

}  // namespace brix::app
