#include "run/run_context.h"

#include "report/run_status.h"
#include "report/status_lines.h"
#include "run/defrag_driver.h"

namespace kestra::run {

RunContext::RunContext(const platform::VolumeCatalogue& catalogue, platform::UiHost& hostUi,
                       platform::Clock& hostClock)
    : catalogue(catalogue),
      ui(hostUi),
      clock(hostClock),
      io(catalogue, hostUi, flags),
      report(flags, hostUi, [this] { io.ReleaseVolume(); }),
      map(hostUi, report.Gate()),
      run{geo, io, model, counters, mode, flags},
      lock{io, report, hostClock},
      analysis{run, report, map, hostClock, lstInuse},
      engine{run, lock, report, map, analysis, &PicHistoE, &picHistoF, {}} {
    map.CreateSwatchStrip();
    model.MoveBuffer.assign(fat::kMoveBufferBytes, 0);
    defragPack = Fat_DefragPack;
    run.paint = [this](uint32_t cluster, int colour) { map.PaintCluster(cluster, colour); };
    run.letEventsRun = [this] { report::LetEventsRun(report); };
    lock.flushDeferredPaint = [this] {
        report::FlushDeferredPaint(report, map, PicHistoE, picHistoF, Legend());
    };
}

}  // namespace kestra::run
