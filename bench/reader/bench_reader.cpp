// What the reader costs the card poller per 100 ms look through libibfs32 and the virtual
// DS2480B: with the adapter answering, while it hangs (the simulator stopped with SIGSTOP), and
// once it is gone (the simulator ended). Time blocked is time the adapter thread spends in the
// library (the window thread does not wait for it: bench_windowstall shows that); CPU time is
// what the process burns meanwhile.
//
// Run: bench_reader
#include "benchadapter.h"
#include "reader/CodeReaderInterface.h"

#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <cstdio>

namespace {

constexpr int Ticks = 300; // half a minute of polling

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Cost {
    double blockedSeconds = 0;
    double cpuSeconds = 0;
    int slowTicks = 0; // ticks that blocked for more than 20 ms: the restarts while it is away
};

Cost Poll(TReaderInterface& reader, int ticks) {
    Cost cost;
    const double cpuBefore = CpuSeconds();
    for (int i = 0; i < ticks; ++i) {
        QString number;
        const auto start = std::chrono::steady_clock::now();
        reader.ReadRom(number, false);
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cost.blockedSeconds += took;
        if (took > 0.02)
            ++cost.slowTicks;
        reader.TakeAdapterNews();
    }
    cost.cpuSeconds = CpuSeconds() - cpuBefore;
    return cost;
}

void Print(const char* what, const Cost& cost) {
    std::printf("  %-34s %10.1f %10.1f %8d\n", what, cost.blockedSeconds * 1000,
                cost.cpuSeconds * 1000, cost.slowTicks);
}

} // namespace

int main() {
    BenchAdapter adapter;
    ibsim::SimulatorProcess& simulator = adapter.simulator();

    TReaderInterface reader(TReaderInterface::MaximReaderName, "", 5, 1);
    if (!reader.ReaderLoaded) {
        std::fprintf(stderr, "no session on the virtual adapter\n%s", simulator.log().c_str());
        return 1;
    }
    std::printf("%d polling ticks (ReadRom, empty bus)       blocked ms     CPU ms  slow ticks\n",
                Ticks);
    Print("adapter answering", Poll(reader, Ticks));

    kill(simulator.pid(), SIGSTOP);
    Print("adapter hanging", Poll(reader, Ticks));
    kill(simulator.pid(), SIGCONT);
    int ticksToBack = 0;
    for (; ticksToBack < 100; ++ticksToBack) {
        QString number;
        reader.ReadRom(number, false);
        if (reader.TakeAdapterNews() == TAdapterNews::Back)
            break;
    }
    std::printf("  back after %d ticks once it answers again\n", ticksToBack + 1);

    simulator.stop();
    Print("adapter gone", Poll(reader, Ticks));
    return 0;
}
