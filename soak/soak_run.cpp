// The soak: one line, or N lines at once from a host thread each, with port
// commands on line 0 and a port that vanishes under the last.
#include <cstdio>
#include <memory>
#include <thread>

#include "harness/work_directory.h"
#include "soak/soak_line.h"

namespace jynsoak {

namespace {

using namespace jynharness;
constexpr auto kWatchEvery = std::chrono::milliseconds(20);

unsigned long long Count(uint64_t value) { return static_cast<unsigned long long>(value); }

class SoakRun {
public:
    explicit SoakRun(const SoakOptions& options)
        : options_(options), sorter_(options.slowLogMs), control_(options) {}

    // The driver reads its station files from the current directory.
    bool Setup(std::string& error) {
        folder_ = std::make_unique<WorkDirectory>("jyn-soak");
        if (!folder_->Ok()) error = "no private folder";
        if (!folder_->Ok() || !library_.Load(options_.driver, error)) return false;
        if (!MessagesArrive(library_)) error = kMessagesLost;
        for (int i = 0; i < options_.lines && error.empty(); ++i) {
            lines_.push_back(std::make_unique<SoakLine>(library_, i, RoleOf(i), options_));
            lines_.back()->Setup(error);
        }
        return error.empty();
    }

    void Run() {
        if (options_.lines == 1) {
            lines_.front()->Run(control_);
        } else {
            std::vector<std::thread> threads;
            for (auto& line : lines_) threads.emplace_back([&line, this] { line->Run(control_); });
            while (!control_.Due()) std::this_thread::sleep_for(kWatchEvery);
            control_.Stop();
            for (std::thread& thread : threads) thread.join();
        }
        seconds_ = control_.Elapsed();
    }

    // EndJyn once, as a host does at shutdown, then the report.
    bool Finish();

private:
    Role RoleOf(int index) const {
        if (index == 0 && options_.lines > 1 && options_.portCommands) return Role::kPortCommands;
        if (index == options_.lines - 1 && options_.lines > 1 && options_.vanish)
            return Role::kVanishing;
        return Role::kPlain;
    }
    void PrintLines() const;
    bool PrintChecks(int32_t ended) const;

    const SoakOptions& options_;
    std::unique_ptr<WorkDirectory> folder_;
    MessageSorter sorter_;
    jynhost::DriverLibrary library_;
    std::vector<std::unique_ptr<SoakLine>> lines_;
    RunControl control_;
    double seconds_ = 0;
};

bool SoakRun::Finish() {
    // Once, at the end, for every line: the flag is the whole process's.
    const int32_t ended = lines_.front()->Call(jyn::kEndJyn);
    Tally sum;
    FaultCounts injected{};
    for (const auto& line : lines_) {
        sum += line->Figures();
        const FaultCounts own = line->Counters().faults;
        for (std::size_t i = 0; i < injected.size(); ++i) injected[i] += own[i];
    }
    sum.seconds = seconds_;
    bool passed = sum.Passed();
    if (options_.lines == 1) {
        sum.Print(stdout, lines_.front()->Counters());
    } else {
        std::printf(
            "=== JYNMB soak: %d lines, %llu transactions judged in %.1f s, seed %llu"
            " (baud 0: unpaced)\n",
            options_.lines, Count(control_.Total()), seconds_, Count(options_.seed));
        PrintLines();
        sum.PrintFaults(stdout, injected);
        passed = PrintChecks(ended) && sum.MustBeZero() == 0;
        std::printf("%-44s %llu\n", "reads the driver chose itself (resynchronising)",
                    Count(sum[kExtraReads]));
        sum.PrintMustBeZero(stdout, true);
        std::printf("=== %s\n", passed ? "PASSED" : "FAILED");
    }
    std::fflush(stdout);
    return passed;
}

void SoakRun::PrintLines() const {
    std::printf("%4s %4s %-14s %6s %5s %5s %7s %6s %7s %7s %5s %5s %7s %7s %6s %5s %6s\n", "line",
                "inst", "role", "baud", "t/o", "gates", "classes", "faults", "txns", "good", "1",
                "2", "recover", "byFault", "twice", "late", "!bad");
    for (const auto& line : lines_) {
        const Tally& t = line->Figures();
        const auto result = [&t](int r) { return Count(t.results[0][r] + t.results[1][r]); };
        std::printf(
            "%4d %4u %-14s %6u %2u0ms %5zu %7d %5.0f%% %7llu %7llu %5llu %5llu %7llu %7llu"
            " %6llu %5llu %6llu\n",
            line->Index(), line->Instance(), RoleName(line->LineRole()), line->Baud(),
            line->TimeoutUnits(), line->Gates(), line->FaultClasses(), 100 * line->FaultShare(),
            Count(t[kTransactions]), result(0), result(1), result(2), Count(t[kRecovered]),
            Count(t[kFailedByFault]), Count(t[kReapplied]), Count(t[kLate]), Count(t.MustBeZero()));
    }
}

// What makes a run of several lines count: all lines in the driver at once,
// every port command and the vanished port seen through, and the other
// lines still served after it.
bool SoakRun::PrintChecks(int32_t ended) const {
    bool passed = control_.MostInside() == options_.lines && ended == jyn::kOk;
    std::printf("lines inside a transfer at once: most %d of %d; all inside %llu times\n",
                control_.MostInside(), options_.lines, Count(control_.AllInside()));
    for (const auto& line : lines_) {
        const Tally& t = line->Figures();
        if (line->LineRole() == Role::kPortCommands) {
            std::printf("line %d: %llu port commands while the others ran\n", line->Index(),
                        Count(t[kPortCommands]));
            passed = passed && t[kPortCommands] >= 3;
        } else if (line->LineRole() == Role::kVanishing) {
            std::printf(
                "line %d: its port vanished; %llu transfers on it since, each answered 2"
                " with the driver's message\n",
                line->Index(), Count(t[kAfterOwnVanish]));
            passed = passed && t[kAfterOwnVanish] > 0;
            for (const jynhost::DriverMessage& message : line->FirstOnVanishedPort())
                std::printf("    [%d] %s\n", message.level, message.text.c_str());
        }
        if (control_.Vanished() && line->LineRole() != Role::kVanishing) {
            std::printf("line %d: %llu good transfers after the port of the other line vanished\n",
                        line->Index(), Count(t[kGoodAfterVanish]));
            passed = passed && t[kGoodAfterVanish] > 0;
        }
    }
    std::printf("EndJyn on line 0 at the end: %d\n", ended);
    return passed;
}

}  // namespace

int RunSoak(const SoakOptions& options) {
    SoakRun soak(options);
    std::string error;
    if (!soak.Setup(error)) {
        std::fprintf(stderr, "jyn_soak: %s\n", error.c_str());
        return 2;
    }
    if (options.lines == 1) {
        std::printf(
            "jyn_soak: %llu transactions at most, seed %llu, reply time-out %u0 ms, faults %g, "
            "baud %u (driver %u), noise %g, late answers %s, host log %u ms, driver %s\n",
            Count(options.transactions), Count(options.seed), options.timeoutUnits,
            options.faultShare, options.baud, unsigned{DriverBaud(options, options.baud)},
            options.noise, options.lateQueue ? "queue the retries" : "dropped by a retry",
            options.slowLogMs, options.driver.c_str());
    }
    soak.Run();
    return soak.Finish() ? 0 : 1;
}

}  // namespace jynsoak
