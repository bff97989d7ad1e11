#include "soak/soak_run.h"

#include <cstdio>
#include <thread>

namespace jynsoak {

namespace {

constexpr auto kWatchEvery = std::chrono::milliseconds(20);

}  // namespace

SoakRun::SoakRun(SoakOptions options)
    : options_(std::move(options)), sorter_(options_.slowLogMs) {}

SoakRun::~SoakRun() { lines_.clear(); }

Role SoakRun::RoleOf(int index) const {
    if (options_.lines < 2) return Role::kPlain;
    if (index == 0 && options_.portCommands) return Role::kPortCommands;
    if (index == options_.lines - 1 && options_.vanish) return Role::kVanishing;
    return Role::kPlain;
}

// The driver reads its station files from the current directory.
bool SoakRun::Setup(std::string& error) {
    folder_ = std::make_unique<jynharness::WorkDirectory>("jyn-soak");
    if (!folder_->Ok()) error = "no private folder";
    if (!folder_->Ok() || !library_.Load(options_.driver, error)) return false;
    if (!jynharness::MessagesArrive(library_)) {
        error = jynharness::kMessagesLost;
        return false;
    }
    for (int i = 0; i < options_.lines; ++i) {
        lines_.push_back(std::make_unique<SoakLine>(library_, i, RoleOf(i), options_));
        if (!lines_.back()->Setup(error)) return false;
    }
    control_ = std::make_unique<RunControl>(options_);
    return true;
}

void SoakRun::Run() {
    if (options_.lines == 1) {
        lines_.front()->Run(*control_);
    } else {
        std::vector<std::thread> threads;
        for (auto& line : lines_) threads.emplace_back([&line, this] { line->Run(*control_); });
        while (!control_->Due()) std::this_thread::sleep_for(kWatchEvery);
        control_->Stop();
        for (std::thread& thread : threads) thread.join();
    }
    seconds_ = control_->Elapsed();
}

bool SoakRun::Finish() {
    // Once, at the end, for every line: the flag is the whole process's.
    const int32_t ended = lines_.front()->Call(jyn::kEndJyn);
    if (options_.lines == 1) {
        jynharness::Tally tally = lines_.front()->Figures();
        tally.seconds = seconds_;
        tally.Print(stdout, lines_.front()->Counters());
        std::fflush(stdout);
        return tally.Passed();
    }
    std::printf("=== JYNMB soak: %d lines, %llu transactions judged in %.1f s, seed %llu"
                " (baud 0: unpaced)\n",
                options_.lines, static_cast<unsigned long long>(control_->Total()), seconds_,
                static_cast<unsigned long long>(options_.seed));
    PrintLines();
    PrintFaults();
    const bool passed = PrintChecks(ended);
    std::printf("=== %s\n", passed ? "PASSED" : "FAILED");
    std::fflush(stdout);
    return passed;
}

void SoakRun::PrintLines() const {
    using namespace jynharness;
    std::printf("%4s %4s %-14s %6s %5s %5s %7s %6s %7s %7s %5s %5s %7s %7s %6s %5s %6s\n", "line",
                "inst", "role", "baud", "t/o", "gates", "classes", "faults", "txns", "good", "1",
                "2", "recover", "byFault", "twice", "late", "!bad");
    for (const auto& line : lines_) {
        const Tally& t = line->Figures();
        const auto count = [](uint64_t value) { return static_cast<unsigned long long>(value); };
        const auto result = [&t](int r) { return t.results[0][r] + t.results[1][r]; };
        std::printf(
            "%4d %4u %-14s %6u %2u0ms %5zu %7d %5.0f%% %7llu %7llu %5llu %5llu %7llu %7llu"
            " %6llu %5llu %6llu\n",
            line->Index(), line->Instance(), RoleName(line->LineRole()), line->Baud(),
            line->TimeoutUnits(), line->Gates(), line->FaultClasses(), 100 * line->FaultShare(),
            count(t[kTransactions]), count(result(0)), count(result(1)), count(result(2)),
            count(t[kRecovered]), count(t[kFailedByFault]), count(t[kReapplied]), count(t[kLate]),
            count(t.MustBeZero()));
    }
}

void SoakRun::PrintFaults() const {
    std::array<uint64_t, jynsim::kFaultKindCount> injected{};
    std::array<uint64_t, jynsim::kFaultKindCount> met{};
    for (const auto& line : lines_) {
        const jynsim::LineCounters counters = line->Counters();
        for (std::size_t i = 0; i < injected.size(); ++i) {
            injected[i] += counters.faults[i];
            met[i] += line->Figures().faultsMet[i];
        }
    }
    std::printf("faults by class over all lines (injected / met by the judged transfers):\n");
    for (std::size_t i = 0; i < injected.size(); ++i) {
        std::printf("  %-18s %8llu / %llu\n", jynsim::FaultName(static_cast<jynsim::FaultKind>(i)),
                    static_cast<unsigned long long>(injected[i]),
                    static_cast<unsigned long long>(met[i]));
    }
}

// What makes a run of several lines count: all lines in the driver at once,
// every port command and the vanished port seen through, the other lines
// still served after it, and nothing wrong reported as good.
bool SoakRun::PrintChecks(int32_t ended) const {
    using namespace jynharness;
    const Overlap& inside = control_->Inside();
    bool passed = inside.Most() == options_.lines && ended == jyn::kOk;
    std::printf("lines inside a transfer at once: most %d of %d; all inside %llu times\n",
                inside.Most(), options_.lines, static_cast<unsigned long long>(inside.AllInside()));
    Tally sum;
    for (const auto& line : lines_) {
        const Tally& t = line->Figures();
        sum += t;
        const auto count = [](uint64_t value) { return static_cast<unsigned long long>(value); };
        if (line->LineRole() == Role::kPortCommands) {
            std::printf("line %d: %llu port commands while the others ran\n", line->Index(),
                        count(t[kPortCommands]));
            passed = passed && t[kPortCommands] >= 3;
        } else if (line->LineRole() == Role::kVanishing) {
            std::printf(
                "line %d: its port vanished; %llu transfers on it since, each answered 2"
                " with the driver's message\n",
                line->Index(), count(t[kAfterOwnVanish]));
            passed = passed && t[kAfterOwnVanish] > 0;
            for (const jynhost::DriverMessage& message : line->FirstOnVanishedPort())
                std::printf("    [%d] %s\n", message.level, message.text.c_str());
        }
        if (control_->Vanished() && line->LineRole() != Role::kVanishing) {
            std::printf("line %d: %llu good transfers after the port of the other line vanished\n",
                        line->Index(), count(t[kGoodAfterVanish]));
            passed = passed && t[kGoodAfterVanish] > 0;
        }
    }
    std::printf("EndJyn on line 0 at the end: %d\n", ended);
    std::printf("%-44s %llu\n", "reads the driver chose itself (resynchronising)",
                static_cast<unsigned long long>(sum[kExtraReads]));
    sum.PrintMustBeZero(stdout, true);
    return passed && sum.MustBeZero() == 0;
}

}  // namespace jynsoak
