// The exports on the largest cards, timed against replayed card answers, with
// what each call puts on the card link. After the benchmarks a table gives
// the wire figures and the host-to-link ratios, and checks the targets: at
// most 1 ms of host time for a full read or write of the largest card, and a
// cost that at most doubles (within 20%) when the card doubles.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdio>
#include <limits>
#include <map>
#include <string>

#include "bench/scenarios.h"
#include "bench/wire_accounting.h"

namespace {

using zrn::bench::Scenario;
using zrn::bench::WireCount;

constexpr double kHostTarget = 1e-3;       // seconds per full read or write
constexpr double kScalingTolerance = 1.2;  // doubling the card: at most 2 x 1.2 the cost

struct Measurement {
    double hostSeconds = std::numeric_limits<double>::infinity();  // best run, per call
    WireCount wire;
    std::size_t streamBytes = 0;  // the host's element stream, read or written
};

std::map<std::string, Measurement>& measurements() {
    static std::map<std::string, Measurement> table;
    return table;
}

// The calls are single-threaded and do no I/O while replaying, so the thread's
// CPU time is their cost, and it is less disturbed by other load than wall time.
double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void setCounters(benchmark::State& state, const WireCount& wire, double hostSeconds) {
    using zrn::bench::linkSeconds;
    const double slow = linkSeconds(wire, zrn::bench::kDefaultBaud);
    const double fast = linkSeconds(wire, zrn::bench::kFastBaud);
    state.counters["commands"] = static_cast<double>(wire.commands);
    state.counters["to_card_B"] = static_cast<double>(wire.bytesToCard);
    state.counters["from_card_B"] = static_cast<double>(wire.bytesFromCard + wire.procedureBytes);
    state.counters["link_s@9600"] = slow;
    state.counters["link_s@223200"] = fast;
    state.counters["host/link@9600"] = hostSeconds / slow;
    state.counters["host/link@223200"] = hostSeconds / fast;
}

void runScenario(benchmark::State& state, const std::string& name) {
    Scenario& s = zrn::bench::scenario(name);
    if (!s.problem.empty() || !zrn::bench::prepareReplay(s)) {
        state.SkipWithError(s.problem.c_str());
        return;
    }
    std::int32_t result = 0;
    const double start = threadCpuSeconds();
    for (auto _ : state) {
        zrn::bench::rewind();
        result = s.call();
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
    const double elapsed = threadCpuSeconds() - start;
    if (!zrn::bench::replayedCallIsFaithful(s, result)) {
        state.SkipWithError(s.problem.c_str());
        return;
    }
    Measurement& m = measurements()[name];
    m.wire = zrn::bench::countWire(s.operation);
    m.streamBytes = s.checksStream ? s.expectedOutput.size() : s.input.size();
    const double perCall = elapsed / static_cast<double>(state.iterations());
    if (perCall < m.hostSeconds) {
        m.hostSeconds = perCall;
    }
    setCounters(state, m.wire, perCall);
}

std::string seconds(double value) {
    char text[32];
    if (value >= 1.0) {
        std::snprintf(text, sizeof text, "%.2f s", value);
    } else if (value >= 1e-3) {
        std::snprintf(text, sizeof text, "%.2f ms", value * 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.1f us", value * 1e6);
    }
    return text;
}

std::string ratio(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "1 : %.0f", 1.0 / value);
    return text;
}

void printWireTable() {
    using zrn::bench::linkSeconds;
    std::printf(
        "\n| Call | Stream | Commands | As prescribed | Bytes to card | Bytes from card | Host "
        "time "
        "| Link at 9,600 | Host : link | Link at 223,200 | Host : link |\n"
        "|---|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const std::string& name : zrn::bench::scenarioNames()) {
        auto found = measurements().find(name);
        if (found == measurements().end()) {
            continue;
        }
        const Measurement& m = found->second;
        const Scenario& s = *zrn::bench::recordedScenario(name);
        const std::string prescribed =
            m.wire.commands == s.prescribedCommands
                ? std::string("yes")
                : "NO: " + std::to_string(s.prescribedCommands) + " expected";
        const double slow = linkSeconds(m.wire, zrn::bench::kDefaultBaud);
        const double fast = linkSeconds(m.wire, zrn::bench::kFastBaud);
        std::printf("| %s | %zu | %zu | %s | %zu | %zu | %s | %s | %s | %s | %s |\n", name.c_str(),
                    m.streamBytes, m.wire.commands, prescribed.c_str(), m.wire.bytesToCard,
                    m.wire.bytesFromCard + m.wire.procedureBytes, seconds(m.hostSeconds).c_str(),
                    seconds(slow).c_str(), ratio(m.hostSeconds / slow).c_str(),
                    seconds(fast).c_str(), ratio(m.hostSeconds / fast).c_str());
    }
    std::printf(
        "\nStream: bytes of the element stream the call returns or stores. Bytes from card\n"
        "include one T=0 procedure byte per command that moves data.\n");
}

void printHostTargets() {
    std::printf("\n| Largest card | Host time | At most 1 ms |\n|---|---:|---|\n");
    for (const std::string& name : zrn::bench::scenarioNames()) {
        const Scenario* s = zrn::bench::recordedScenario(name);
        auto found = measurements().find(name);
        if (s == nullptr || !s->largest || s->series.empty() || found == measurements().end()) {
            continue;
        }
        const double host = found->second.hostSeconds;
        std::printf("| %s | %s | %s |\n", name.c_str(), seconds(host).c_str(),
                    host <= kHostTarget ? "yes" : "NO");
    }
}

void printScaling() {
    std::printf(
        "\n| Series | Step | Card grows | Cost grows | Within 20%% of linear |\n"
        "|---|---|---:|---:|---|\n");
    const auto names = zrn::bench::scenarioNames();
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        auto a = measurements().find(names[i]);
        auto b = measurements().find(names[i + 1]);
        if (a == measurements().end() || b == measurements().end()) {
            continue;
        }
        const Scenario& small = *zrn::bench::recordedScenario(names[i]);
        const Scenario& large = *zrn::bench::recordedScenario(names[i + 1]);
        if (small.series.empty() || small.series != large.series) {
            continue;
        }
        const double cardGrowth = large.scale / small.scale;
        const double costGrowth = b->second.hostSeconds / a->second.hostSeconds;
        const std::string step = small.name.substr(small.series.size() + 1) + " to " +
                                 large.name.substr(large.series.size() + 1);
        std::printf("| %s | %s | %.2f x | %.2f x | %s |\n", small.series.c_str(), step.c_str(),
                    cardGrowth, costGrowth,
                    costGrowth <= cardGrowth * kScalingTolerance ? "yes" : "NO");
    }
}

bool reportProblems() {
    bool any = false;
    for (const std::string& name : zrn::bench::scenarioNames()) {
        const Scenario* s = zrn::bench::recordedScenario(name);
        if (s != nullptr && !s->problem.empty()) {
            std::fprintf(stderr, "%s: %s\n", name.c_str(), s->problem.c_str());
            any = true;
        }
    }
    return any;
}

}  // namespace

int main(int argc, char** argv) {
    for (const std::string& name : zrn::bench::scenarioNames()) {
        benchmark::RegisterBenchmark(name.c_str(), [name](benchmark::State& state) {
            runScenario(state, name);
        })->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (measurements().empty()) {
        return reportProblems() ? 1 : 0;
    }
    printWireTable();
    printHostTargets();
    printScaling();
    std::fflush(stdout);
    return reportProblems() ? 1 : 0;
}
