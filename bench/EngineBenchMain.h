#pragma once
// The main() of a Google Benchmark program over the embedded engine: the
// signals blocked and the lock folder set before any engine call, as the
// program itself does, then the registered benchmarks run.

#include "platform/Signals.h"

#include <benchmark/benchmark.h>

namespace bench {

inline int runEngineBenchmarks(int argc, char **argv)
{
    pc::blockProcessSignals();
    pc::setFirebirdLockFolder();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace bench
