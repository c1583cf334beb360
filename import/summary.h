// The summary of an import: the text brix_import prints (what it read and
// wrote, and the answers to give brix_eli), and the same as JSON for
// programs.
#pragma once

#include <string>

#include "import/importer.h"
#include "input/describe.h"

namespace brix::importer {

// What run did, and the answers to give brix_eli.
std::string describe(const Options& options, const Report& report);

// The summary as a JSON object (its keys in docs/import.md; its schema in
// import/summary.schema.json), with a final LF.
std::string summary_json(const Options& options, const Report& report);

// What brix_eli's two input files hold, as a JSON object with a final LF.
std::string inputs_json(const input::InputFacts& facts);

// How the steps were placed in months, in words.
std::string placement_text(const Placement& p);

}  // namespace brix::importer
