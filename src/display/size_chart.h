#pragma once

// The chart of file sizes.

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "display/canvas.h"
#include "display/paint_gate.h"
#include "format/sector_size.h"

namespace kestra::display {

// Counts per size class: class 0 up to 512 bytes, class k up to 512 x 2^k,
// class 15 above 8 MB.
using SizeBuckets = std::array<int64_t, 16>;
inline constexpr int kLastSizeClass = 15;

int SizeBucket(int64_t size, int lastClass = kLastSizeClass);
// ".5", "1", "2", ... "512", "1mb", ... "16mb".
std::string SizeClassLabel(int sizeClass);
// Step of the count axis; rounds max up to step x steps.
int64_t AxisStep(int64_t& max, int64_t& steps);

void DrawHistogram(Canvas& picture, std::string_view caption, const SizeBuckets& buckets);

// A bar chart picture with its own counts, so that each chart repaints what
// it counted.
struct HistogramChart {
    Canvas Picture{256, 144};
    bool Visible = false;
    std::string Caption;
    SizeBuckets Buckets{};
};

// PicHistoE_Paint / picHistoF_Paint.
void PaintHistogram(HistogramChart& chart, PaintGate gate);

// The three steps every filler takes: start (clear the counts), count, show
// (make the picture visible, keep the caption, draw).
void StartChart(HistogramChart& chart);
void CountSize(SizeBuckets& buckets, int64_t size);
void ShowChart(HistogramChart& chart, std::string_view caption);

// Bytes of a free gap as the gap chart counts it.
int64_t GapChartSize(int64_t GapLen, int64_t SectorsPerCluster);

// "Gaps": gaps GapFirst .. GapCount of the free-gap list.
template <class LenList>
void GapChart(HistogramChart& chart, const LenList& GapLen, int64_t GapFirst, int64_t GapCount,
              int64_t SectorsPerCluster) {
    StartChart(chart);
    int64_t last = std::min<int64_t>(GapCount, static_cast<int64_t>(std::size(GapLen)) - 1);
    for (int64_t g = std::max<int64_t>(GapFirst, 0); g <= last; ++g) {
        int64_t size = GapChartSize(static_cast<int64_t>(GapLen[g]), SectorsPerCluster);
        if (size != 0) CountSize(chart.Buckets, size);
    }
    ShowChart(chart, "Gaps");
}

// "Candidates": each size-class list walked from its head while the file's
// first cluster lies above the lower bound. startOf(node) and sizeOf(node)
// read the candidate's first cluster and byte size.
template <class HeadList, class NextList, class StartOf, class SizeOf>
void CandidateChart(HistogramChart& chart, const HeadList& ClassHead, const NextList& ClassNext,
                    int64_t EndMark, int64_t LowerBound, StartOf startOf, SizeOf sizeOf) {
    StartChart(chart);
    const int64_t nodes = static_cast<int64_t>(std::size(ClassNext));
    for (const auto& head : ClassHead) {
        int64_t node = static_cast<int64_t>(head);
        // A damaged list cannot loop for ever: no list is longer than all nodes.
        for (int64_t walked = 0; node != EndMark && node >= 0 && node < nodes && walked <= nodes;
             ++walked) {
            if (static_cast<int64_t>(startOf(node)) <= LowerBound) break;
            CountSize(chart.Buckets, static_cast<int64_t>(sizeOf(node)));
            node = static_cast<int64_t>(ClassNext[node]);
        }
    }
    ShowChart(chart, "Candidates");
}

// "Fragments": each record from FirstRecord to LastRecord with more than one
// fragment, by allocated size. fragsOf(i) and clustersOf(i) read record i's
// fragment count and chain length.
template <class FragsOf, class ClustersOf>
void FragmentChart(HistogramChart& chart, int64_t FirstRecord, int64_t LastRecord,
                   int64_t SectorsPerCluster, FragsOf fragsOf, ClustersOf clustersOf) {
    StartChart(chart);
    for (int64_t i = FirstRecord; i <= LastRecord; ++i) {
        if (static_cast<int64_t>(fragsOf(i)) > 1) {
            CountSize(chart.Buckets, static_cast<int64_t>(clustersOf(i)) * SectorsPerCluster *
                                         format::kSectorSize);
        }
    }
    ShowChart(chart, "Fragments");
}

}  // namespace kestra::display
