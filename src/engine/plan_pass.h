#pragma once

// The planned pack: the least-movement plan carried out through the mover.

#include "engine/engine_context.h"
#include "engine/move_plan.h"

namespace kestra::engine {

// The volume as the plan sees it, from the FAT and the scan's records. Stops
// (AbortRun) on a chain that cannot be walked.
PlanInput GatherPlanInput(fat::FatRun& run);
// The plan's lower bound, counted without building the plan's input (a run
// that only reports it keeps to the memory of the passes). 0 on a bad chain.
uint64_t PlanLowerBound(fat::FatRun& run);

// Moves each file of the plan to its target once the target is free, in waves
// whose moves share their batches. Where every waiting target is still taken,
// one file standing there is parked in free space no target needs. False when
// the plan could not be carried out to its end (no room to park, a move
// refused) or left a file without room, when nothing moves: the passes then
// do the work.
bool FAT_Plan_Pass(Engine& e);

}  // namespace kestra::engine
