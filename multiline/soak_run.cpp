#include "multiline/soak_run.h"

#include <cstdio>
#include <thread>

namespace jynmulti {

namespace {

constexpr auto kWatchEvery = std::chrono::milliseconds(20);

uint64_t Sum(const std::vector<std::unique_ptr<SoakLine>>& lines,
             uint64_t (*field)(const LineTally&)) {
    uint64_t sum = 0;
    for (const auto& line : lines) sum += field(line->Tally());
    return sum;
}

void Row(const char* what, uint64_t value) {
    std::printf("%-50s %llu\n", what, static_cast<unsigned long long>(value));
}

}  // namespace

MultiLineRun::MultiLineRun(RunOptions options) : options_(std::move(options)) {}

MultiLineRun::~MultiLineRun() {
    lines_.clear();
}

// The driver reads its station files from the current directory.
bool MultiLineRun::EnterFolder(std::string& error) {
    folder_ = std::make_unique<jynharness::WorkDirectory>("jyn-multiline");
    if (!folder_->Ok()) error = "no private folder";
    return folder_->Ok();
}

Role MultiLineRun::RoleOf(int index) const {
    if (options_.lines < 2) return Role::kPlain;
    if (index == 0 && options_.portCommands) return Role::kPortCommands;
    if (index == options_.lines - 1 && options_.vanish) return Role::kVanishing;
    return Role::kPlain;
}

bool MultiLineRun::Setup(std::string& error) {
    if (!EnterFolder(error) || !library_.Load(options_.driver, error)) return false;
    if (!MessagesArrive(library_)) {
        error =
            "the driver's messages do not reach this program: the driver uses another "
            "libTAVORN.so than it does";
        return false;
    }
    for (int i = 0; i < options_.lines; ++i) {
        lines_.push_back(std::make_unique<SoakLine>(library_, i, RoleOf(i), options_));
        if (!lines_.back()->Setup(error)) return false;
    }
    control_ = std::make_unique<RunControl>(options_);
    return true;
}

void MultiLineRun::Run() {
    std::vector<std::thread> threads;
    for (auto& line : lines_) {
        threads.emplace_back([&line, this] { line->Run(*control_); });
    }
    while (!control_->Due()) std::this_thread::sleep_for(kWatchEvery);
    control_->Stop();
    for (std::thread& thread : threads) thread.join();
    seconds_ = control_->Elapsed();
}

bool MultiLineRun::Finish() {
    // Once, at the end, for every line: the flag is the whole process's.
    const int32_t ended = lines_.front()->Call(jyn::kEndJyn);
    std::printf(
        "=== JYNMB multi-line run: %d lines, %llu transactions judged in %.1f s, seed %llu"
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

void MultiLineRun::PrintLines() const {
    std::printf("%4s %4s %-14s %6s %5s %5s %7s %6s %7s %7s %5s %5s %7s %7s %6s %5s %6s\n", "line",
                "inst", "role", "baud", "t/o", "gates", "classes", "faults", "txns", "good", "1",
                "2", "recover", "byFault", "twice", "late", "!bad");
    for (const auto& line : lines_) {
        const LineTally& t = line->Tally();
        const auto count = [](uint64_t value) { return static_cast<unsigned long long>(value); };
        std::printf(
            "%4d %4u %-14s %6u %2u0ms %5zu %7d %5.0f%% %7llu %7llu %5llu %5llu %7llu %7llu"
            " %6llu %5llu %6llu\n",
            line->Index(), line->Instance(), RoleName(line->LineRole()), line->Baud(),
            line->TimeoutUnits(), line->Gates(), line->FaultClasses(), 100 * line->FaultShare(),
            count(t.transactions), count(t.results[0]), count(t.results[1]), count(t.results[2]),
            count(t.recovered), count(t.failedByFault), count(t.reapplied), count(t.late),
            count(t.MustBeZero()));
    }
}

void MultiLineRun::PrintFaults() const {
    std::array<uint64_t, jynsim::kFaultKindCount> injected{};
    std::array<uint64_t, jynsim::kFaultKindCount> met{};
    for (const auto& line : lines_) {
        const auto own = line->FaultsInjected();
        for (std::size_t i = 0; i < injected.size(); ++i) {
            injected[i] += own[i];
            met[i] += line->Tally().faultsMet[i];
        }
    }
    std::printf("faults by class over all lines (injected / met by the judged transfers):\n");
    for (std::size_t i = 0; i < injected.size(); ++i) {
        std::printf("  %-18s %8llu / %llu\n", jynsim::FaultName(static_cast<jynsim::FaultKind>(i)),
                    static_cast<unsigned long long>(injected[i]),
                    static_cast<unsigned long long>(met[i]));
    }
}

}  // namespace jynmulti

namespace jynmulti {

// What makes the run count: all lines in the driver at once, every port
// command and the vanished port seen through, the other lines still served
// after it, and nothing wrong reported as good.
bool MultiLineRun::PrintChecks(int32_t ended) const {
    const Overlap& inside = control_->Inside();
    bool passed = inside.Most() == options_.lines && ended == jyn::kOk;
    std::printf("lines inside a transfer at once: most %d of %d; all inside %llu times\n",
                inside.Most(), options_.lines, static_cast<unsigned long long>(inside.AllInside()));
    for (const auto& line : lines_) {
        const LineTally& t = line->Tally();
        if (line->LineRole() == Role::kPortCommands) {
            std::printf("line %d: %llu port commands while the others ran\n", line->Index(),
                        static_cast<unsigned long long>(t.portCommands));
            passed = passed && t.portCommands >= 3;
        } else if (line->LineRole() == Role::kVanishing) {
            std::printf(
                "line %d: its port vanished; %llu transfers on it since, each answered 2"
                " with the driver's message\n",
                line->Index(), static_cast<unsigned long long>(t.afterOwnVanish));
            passed = passed && t.afterOwnVanish > 0;
            for (const jynhost::DriverMessage& message : line->FirstOnVanishedPort())
                std::printf("    [%d] %s\n", message.level, message.text.c_str());
        }
        if (control_->Vanished() && line->LineRole() != Role::kVanishing) {
            std::printf("line %d: %llu good transfers after the port of the other line vanished\n",
                        line->Index(), static_cast<unsigned long long>(t.goodAfterVanish));
            passed = passed && t.goodAfterVanish > 0;
        }
    }
    std::printf("EndJyn on line 0 at the end: %d\n", ended);
    Row("reads the driver chose itself (resynchronising)",
        Sum(lines_, [](const LineTally& t) { return t.extraReads; }));
    std::printf("--- must be 0\n");
    Row("wrong values reported as good",
        Sum(lines_, [](const LineTally& t) { return t.wrongValues; }));
    Row("writes reported good that did not land",
        Sum(lines_, [](const LineTally& t) { return t.notLanded; }));
    Row("failures without a fault or a refusal",
        Sum(lines_, [](const LineTally& t) { return t.unexplained; }));
    Row("value buffer bytes touched outside the gate's",
        Sum(lines_, [](const LineTally& t) { return t.bufferDamage; }));
    Row("requests a line never sent", Sum(lines_, [](const LineTally& t) { return t.stray; }));
    Row("closed or vanished port: not 2 with its message",
        Sum(lines_, [](const LineTally& t) { return t.badPortFailures; }));
    Row("port commands that went wrong",
        Sum(lines_, [](const LineTally& t) { return t.badPortCommands; }));
    return passed && Sum(lines_, [](const LineTally& t) { return t.MustBeZero(); }) == 0;
}

}  // namespace jynmulti
