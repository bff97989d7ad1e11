#include "bench/reference_host.h"

namespace jynbench {

using jynsim::ReferenceHost;

RunFigures RunReference(BenchLine& line, const Exchange& exchange, const RunPlan& plan) {
    ReferenceHost host;
    RunFigures figures;
    if (!host.Open(line.Line().Port(), figures.problem)) return figures;
    figures = RunTimed(
        line, [&host, &exchange] { return host.Transact(exchange); }, plan);
    figures.valuesOk = figures.failures == 0;
    return figures;
}

}  // namespace jynbench
