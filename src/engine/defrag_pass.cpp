#include "engine/defrag_pass.h"

#include <algorithm>
#include <limits>

#include "engine/move_batch.h"
#include "engine/mover.h"
#include "fat/chains.h"
#include "report/run_status.h"
#include "report/status_lines.h"

namespace kestra::engine {

void SortByStart(std::vector<MoveCandidate>& list) {
    const size_t n = list.size();
    for (size_t gap = n / 2; gap >= 1; gap /= 2) {
        size_t limit = n - gap;
        size_t last = 0;
        do {
            last = 0;
            for (size_t j = 1; j <= limit; ++j) {
                if (list[j - 1].key > list[j - 1 + gap].key) {
                    std::swap(list[j - 1], list[j - 1 + gap]);
                    last = j;
                }
            }
            limit = last > gap ? last - gap : 0;
        } while (last != 0);
    }
}

void ShowGapChart(Engine& e) {
    if (!e.PicHistoE) return;
    const fat::VolumeModel& m = e.run.model;
    display::GapChart(*e.PicHistoE, m.GapLen, m.GapFirst, m.GapCount, e.run.geo.SectorsPerCluster);
}

void ShowFragmentChart(Engine& e) {
    if (!e.picHistoF) return;
    fat::FatRun& run = e.run;
    const auto& tab = run.model.FileTab;
    display::FragmentChart(
        *e.picHistoF, 1, static_cast<int64_t>(tab.size()) - 1, run.geo.SectorsPerCluster,
        [&](int64_t i) { return tab[i].Frags; },
        [&](int64_t i) {
            const uint64_t cb = uint64_t{run.geo.SectorsPerCluster} * format::kSectorSize;
            return tab[i].Size == 0 ? uint64_t{0} : (tab[i].Size - 1) / cb + 1;
        });
}

void FAT_Show_Partial_Blocks(Engine& e) {
    const fat::VolumeModel& m = e.run.model;
    display::ClusterMap& map = e.map;
    const int64_t scale = map.MapScale;
    std::vector<int64_t> count(map.MapBoxes.size(), 0);
    for (uint32_t g = std::max<uint32_t>(m.GapFirst, 1); g <= m.GapCount; ++g) {
        int64_t s = m.GapStart[g];
        int64_t n = m.GapLen[g];
        int64_t b = s / scale;
        while (n > 0 && b < static_cast<int64_t>(count.size())) {
            const int64_t boundary = scale * b + scale;
            const int64_t take = std::min(n, boundary - s);
            count[static_cast<size_t>(b)] += take;
            n -= take;
            s = boundary;
            ++b;
        }
    }
    const int64_t limit = scale / 50;
    for (int64_t b = 0; b <= map.UpperBound() - 2; ++b) {
        const int64_t c = count[static_cast<size_t>(b)];
        if (c != scale && c > limit && map.MapBoxes[static_cast<size_t>(b)] == display::kBoxEmpty) {
            map.MapBoxes[static_cast<size_t>(b)] = display::kBoxPartial;
            map.DrawBox(b, display::kBoxPartial);
            report::LetEventsRun(e.report);
        }
    }
}

uint32_t FAT_Defrag(Engine& e) {
    const BatchScope batch(e);
    fat::FatRun& run = e.run;
    report::RunFlags& f = run.flags;
    fat::RunCounters& n = run.counters;
    report::FAT_Active(e.report, "Defrag");
    report::ShowTag(e.report, display::kStatusLine1, "Defrag:", 15);
    report::ShowTag(e.report, display::kStatusLine2, "Frag.Files:", 15);
    report::LetEventsRun(e.report);

    std::vector<MoveCandidate> list;
    for (uint32_t i = 0; i < run.model.FileTab.size(); ++i) {  // 0: the FAT32 root
        report::LetEventsRun(e.report);
        if (f.RunError || f.AbortRun != 0) break;
        if (run.model.FileTab[i].Frags > 1 && run.model.FileFixed[i] == 0) {
            list.push_back({run.model.FileTab[i].StartCluster, i});
        }
    }
    if (list.empty()) return 0;
    SortByStart(list);
    ShowGapChart(e);
    ShowFragmentChart(e);

    const uint32_t spc = std::max<uint32_t>(run.geo.SectorsPerCluster, 1);
    uint32_t DefragThreshold = std::max<uint32_t>(16384 / spc, 1);
    uint32_t FailedSize = std::numeric_limits<int32_t>::max();
    int sweep = 0;
    fat::Extents ext;
    for (;;) {
        uint32_t limit = n.MovedFiles + 100;
        for (const MoveCandidate& c : list) {
            report::LetEventsRun(e.report);
            if (f.RunError) return 0;
            if (n.MovedFiles >= limit) {
                FAT_Show_Partial_Blocks(e);
                ShowGapChart(e);
                ShowFragmentChart(e);
                limit = n.MovedFiles + 100;
            }
            const uint32_t i = c.index;
            const uint32_t size = fat::GetExtents(run, run.model.FileTab[i].StartCluster, ext);
            if (f.AbortRun != 0) return 0;
            if (run.model.FileTab[i].Frags <= 1 || size < DefragThreshold || size >= FailedSize) {
                continue;
            }
            report::ShowStatus(e.report, display::kStatusLine2, std::to_string(n.FragmentedToDo),
                               0);
            if (FAT_Move_Fragmented(e, i, ext)) {
                FailedSize = std::numeric_limits<int32_t>::max();
            } else {
                FailedSize = size;
                if (DefragThreshold != 1) break;
            }
        }
        DefragThreshold /= 2;
        if (DefragThreshold == 0) return n.FragmentedToDo;
        if (++sweep > 7) DefragThreshold = 1;
    }
}

void FAT_Defrag_Files(Engine& e, const std::vector<uint32_t>& files,
                      std::vector<uint32_t>& noRoom) {
    const BatchScope batch(e);
    fat::FatRun& run = e.run;
    const report::RunFlags& f = run.flags;
    report::FAT_Active(e.report, "Defrag");
    report::ShowTag(e.report, display::kStatusLine1, "Defrag:", 15);
    report::ShowTag(e.report, display::kStatusLine2, "Frag.Files:", 15);
    fat::Extents ext;
    for (const uint32_t i : files) {
        report::LetEventsRun(e.report);
        if (f.RunError || f.AbortRun != 0) return;
        if (run.model.FileTab[i].Frags <= 1 || run.model.FileFixed[i] != 0) continue;
        fat::GetExtents(run, run.model.FileTab[i].StartCluster, ext);
        if (f.AbortRun != 0) return;
        report::ShowStatus(e.report, display::kStatusLine2,
                           std::to_string(run.counters.FragmentedToDo), 0);
        if (!FAT_Move_Fragmented(e, i, ext)) noRoom.push_back(i);
    }
}

}  // namespace kestra::engine
