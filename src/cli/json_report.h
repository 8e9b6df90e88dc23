#pragma once

// The JSON report of a run.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "run/run_context.h"

namespace kestra::cli {

using Gaps = std::vector<std::pair<uint32_t, uint32_t>>;  // start cluster, length

const char* TypeName(format::FatType type);
nlohmann::ordered_json GeometryJson(const disk::Geometry& geo);

// The free gaps as the run's gap list holds them now.
Gaps CurrentGaps(const run::RunContext& ctx);

// The report of one run for scripts: what the status lines say, as data.
// gapsBefore is the gap list when the moves began, if they did.
nlohmann::ordered_json RunJson(const std::string& command, run::RunContext& ctx,
                               const std::optional<Gaps>& gapsBefore, bool everyFile,
                               const std::string& boxText, int exitStatus);

// A file of the lists above, as the text report prints it: "path (size, N fragments)".
std::string FileLine(const analysis::ListedFile& file);

}  // namespace kestra::cli
