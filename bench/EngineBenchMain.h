#pragma once
// The main() of a Google Benchmark program over the embedded engine: the
// signals blocked and the lock folder set before any engine call, as the
// program itself does, then the registered benchmarks run.

#include "platform/Signals.h"

#include <benchmark/benchmark.h>

namespace bench {

// Runs the benchmarks registered so far with Google Benchmark's own options.
inline int runRegisteredBenchmarks(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

inline int runEngineBenchmarks(int argc, char **argv)
{
    pc::blockProcessSignals();
    pc::setFirebirdLockFolder();
    return runRegisteredBenchmarks(argc, argv);
}

} // namespace bench
