#pragma once
// Whether a benchmark program did the work its figures stand for, and how it ends.
//
// Every benchmark checks its work (rows inserted, ACKs received, pages made, rows selected) with
// check(); a check that fails is told on standard error and remembered, the program prints no
// summary figure, and its exit status is 1. Google Benchmark's SkipWithError alone hides the run's
// counters but leaves the exit status 0, so a benchmark that stopped measuring would still pass.
//
// --smoke runs every benchmark at its smallest size and fewest rounds: it proves that the work
// still happens, quickly, and its figures mean nothing. takeSmokeFlag() takes the flag off the
// command line before Google Benchmark sees it, which would reject a flag it does not know.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace benchsupport {

namespace detail {
inline int& failures()
{
    static int n = 0;
    return n;
}
inline bool& smokeMode()
{
    static bool on = false;
    return on;
}
} // namespace detail

// True when ok; otherwise records the failure, says what fell short and returns false.
inline bool check(bool ok, const std::string& what)
{
    if (!ok) {
        ++detail::failures();
        std::fprintf(stderr, "benchmark check failed: %s\n", what.c_str());
    }
    return ok;
}

// The same inside a Google Benchmark function: the run is also marked failed, so that its
// counters are not shown as a figure.
inline bool check(benchmark::State& state, bool ok, const std::string& what)
{
    if (!check(ok, what))
        state.SkipWithError(what.c_str());
    return ok;
}

inline bool failed() { return detail::failures() > 0; }

// Takes --smoke off the command line; true when it was there.
inline bool takeSmokeFlag(int& argc, char** argv)
{
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0)
            detail::smokeMode() = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;
    return detail::smokeMode();
}

inline bool smoke() { return detail::smokeMode(); }

// The program's exit status once everything ran: 1 when any check failed.
inline int exitStatus()
{
    if (failed()) {
        std::fprintf(stderr, "%d benchmark check(s) failed; no figures reported\n", detail::failures());
        return 1;
    }
    return 0;
}

// Runs the registered Google Benchmarks. False when the command line held a flag nobody knows,
// when no benchmark ran (a filter that matches nothing measures nothing) or when a check failed;
// a summary is printed only after this returned true.
inline bool runBenchmarks(int& argc, char** argv, benchmark::BenchmarkReporter* display = nullptr)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return check(false, "unknown arguments");
    const std::size_t ran = benchmark::RunSpecifiedBenchmarks(display);
    benchmark::Shutdown();
    check(ran > 0, "no benchmark ran");
    return !failed();
}

} // namespace benchsupport
