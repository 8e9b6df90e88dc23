#pragma once

// The run window's status lines.

#include <string_view>

#include "display/cluster_map.h"
#include "display/size_chart.h"
#include "report/report_context.h"

namespace kestra::report {

// StatusX from the screen's twips per pixel (wider on fine screens).
void SetStatusX(ReportContext& ctx, int twipsPerPixel);

// Writes Text in a colour to the right of a status line's tag (y = 10 or 22).
void ShowStatus(ReportContext& ctx, int y, std::string_view Text, int colour);
// The running activity on the first status line.
void FAT_Active(ReportContext& ctx, std::string_view Name);
// A tag at the left of a status line (remembered for repaints).
void ShowTag(ReportContext& ctx, int y, std::string_view text, int colour);
// The run window's paint request.
void RunWindowPaint(ReportContext& ctx);

// After the write locks are dropped: everything whose paint waited is drawn
// now (both tags, the visible charts, the map).
void FlushDeferredPaint(ReportContext& ctx, display::ClusterMap& map,
                        display::HistogramChart& PicHistoE, display::HistogramChart& picHistoF,
                        const display::LegendMode& mode);

}  // namespace kestra::report
