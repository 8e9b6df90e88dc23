#include "engine/pack_pass.h"

#include <exception>
#include <new>
#include <string>

#include "display/status_tag.h"
#include "engine/move_batch.h"
#include "engine/mover.h"
#include "engine/pack_subdir.h"
#include "report/run_status.h"
#include "report/status_lines.h"

namespace kestra::engine {
namespace {

// Moves that change a gap cost 1, slides that keep its length 8; at this
// much the walk turns to smaller files from elsewhere.
constexpr uint32_t kStreakLimit = 128;
constexpr uint32_t kExactSearchMax = 64;
constexpr uint32_t kChartEvery = 100;

bool Busy(const Engine& e, uint32_t record) {
    return e.run.model.FileFixed[record] != 0;
}

void ShowCandidateChart(Engine& e, const PackCandidates& c, uint32_t lowerBound) {
    if (!e.picHistoF) return;
    const auto& tab = e.run.model.FileTab;
    display::CandidateChart(
        *e.picHistoF, c.ClassHead, c.ClassNext, kEndMark, lowerBound,
        [&](int64_t node) { return tab[c.list[node].index].StartCluster; },
        [&](int64_t node) { return tab[c.list[node].index].Size; });
}

}  // namespace

void FAT_Fill_Smaller(Engine& e, uint32_t& g, uint32_t& glen, uint32_t& gstart, PackCandidates& c,
                      uint32_t MinRest, bool& moved) {
    moved = false;
    uint32_t count = 0;
    if (Stopped(e)) return;
    for (;;) {
        if (glen <= MinRest) return;
        uint32_t pick = 0;
        if (!FAT_Best_Fit(e, glen - MinRest, gstart, c, false, pick)) return;
        if (!FAT_Moveit(e, g, pick, glen, gstart) && !Busy(e, pick)) {
            g = 0;  // the FAT or the gap list no longer match the volume
            return;
        }
        moved = true;
        if (++count > 16) return;
        report::LetEventsRun(e.report);
        if (Stopped(e)) return;
    }
}

void FAT_Fill_Gaps(Engine& e, PackCandidates& c) {
    fat::VolumeModel& m = e.run.model;
    const fat::RunCounters& n = e.run.counters;
    if (!FillClassLists(e, c)) return;
    report::FAT_Active(e.report, "Pack");
    uint32_t limit = n.MovedFiles + kChartEvery;

    uint32_t g = 1;
    while (g <= m.GapCount && !Stopped(e)) {
        uint32_t glen = m.GapLen[g];
        uint32_t gstart = m.GapStart[g];
        if (glen < 1) {
            ++g;
            continue;
        }
        uint32_t streak = 0;
        bool moved = false;
        for (;;) {
            if (n.MovedFiles >= limit) {
                FAT_Show_Partial_Blocks(e);
                ShowGapChart(e);
                limit = n.MovedFiles + kChartEvery;
                ShowCandidateChart(e, c, gstart);
            }
            uint32_t pick = 0;
            bool chosen = glen <= kExactSearchMax && FAT_Best_Fit(e, glen, gstart, c, true, pick);
            if (!chosen && !Stopped(e)) chosen = FAT_Slide_Next(e, g, c, pick);
            if (Stopped(e)) break;

            if (!chosen) {
                FAT_Fill_Smaller(e, g, glen, gstart, c, 0, moved);
                if (g == 0 || !moved) break;
            } else {
                const uint32_t before = glen;
                if (!FAT_Moveit(e, g, pick, glen, gstart) && !Busy(e, pick)) {
                    g = 0;  // the FAT or the gap list no longer match the volume
                    break;
                }
                streak += glen == before ? 8 : 1;
            }

            if (glen == 0) break;
            if (streak >= kStreakLimit) {
                if (glen >= kStreakLimit) {
                    FAT_Fill_Smaller(e, g, glen, gstart, c, glen / 2, moved);
                    if (g == 0) break;
                    if (moved) streak = 0;
                }
                if (streak != 0) {
                    FAT_Fill_Smaller(e, g, glen, gstart, c, 0, moved);
                    if (g == 0 || !moved) break;
                }
            }
            report::LetEventsRun(e.report);
            if (Stopped(e)) break;
        }
        if (glen == 0) m.GapFirst = g + 1;
        ++g;
    }
    ShowGapChart(e);
    ShowCandidateChart(e, c, 0);
}

void ListPackCandidates(Engine& e, PackCandidates& c) {
    const fat::VolumeModel& m = e.run.model;
    c.list.clear();
    if (m.GapCount < 1) return;
    const uint32_t bound = m.GapStart[1];
    // Every movable file above the first gap, and every fragmented one; record 0
    // is the FAT32 root (a fixed FAT12/16 root has no clusters).
    for (uint32_t i = 0; i < m.FileTab.size() && i < m.FileFixed.size(); ++i) {
        const fat::FileRec& r = m.FileTab[i];
        if ((r.Frags > 1 || r.StartCluster > bound) && m.FileFixed[i] == 0) {
            c.list.push_back({r.StartCluster, i});
        }
    }
}

void FAT_RemoveHoles(Engine& e) {
    const BatchScope batch(e);
    fat::FatRun& run = e.run;
    report::RunFlags& f = run.flags;
    try {
        report::ShowTag(e.report, display::kStatusLine1, "Pack:", 15);
        report::ShowTag(e.report, display::kStatusLine2, "Holes:", 15);
        report::ShowStatus(e.report, display::kStatusLine2, "", 0);
        report::LetEventsRun(e.report);

        const fat::VolumeModel& m = run.model;
        if (m.GapCount < 1) return;
        PackCandidates c;
        ListPackCandidates(e, c);
        if (c.list.empty()) return;
        report::FAT_Active(e.report, "Sort " + std::to_string(c.list.size()));
        SortByStart(c.list);
        FAT_Fill_Gaps(e, c);
    } catch (const std::exception& ex) {
        // A move under way has dropped its write locks on the way out.
        const bool noMemory = dynamic_cast<const std::bad_alloc*>(&ex) != nullptr;
        if (f.ErrText.empty()) f.ErrText = noMemory ? "Out of memory" : ex.what();
        f.ErrSource = "RemoveH";
        (noMemory ? f.NoMemoryFlag : f.InternalErrorFlag) = true;
        f.AbortRun = 1;
        f.RunError = true;
    }
}

void FAT_Pack_Dirs(Engine& e) {
    const BatchScope batch(e);
    const fat::VolumeModel& m = e.run.model;
    const report::RunFlags& f = e.run.flags;
    for (size_t k = 0; k < m.DirTab.size() && !f.VolumeTouched; ++k) {
        if (m.DirTab[k].ErasedInFolder != 0) FAT_Pack_Subdir(e, m.DirTab[k].FolderRec);
        if (f.RunError) break;
    }
}

}  // namespace kestra::engine
