#pragma once

// The map pass: chains, free gaps and the folder scan painted on the map.

#include <cstdint>

#include "analysis/analysis_context.h"

namespace kestra::analysis {

// The chain pass: counts and paints every chain of the FAT; returns the count.
uint32_t FAT_Mark_Chains(Analysis& a);

// The map-building pass: chain pass, free gaps, and the folder scan when the run
// checks structure. Returns the seconds of the chain pass and of the folder scan.
void Fat_ViewMap(Analysis& a, double& LoadTime, double& FolderTime, uint32_t& Chains);

}  // namespace kestra::analysis
