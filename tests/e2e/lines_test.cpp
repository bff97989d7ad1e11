// Several lines in one host: one driver instance and one host thread a
// line, as plants with a line per PLC group run the driver. What the
// instances share is the ended flag, the registry of frame buffers and
// trace files, and the log seam; each test loads the library afresh.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "tests/e2e/line.h"
#include "tests/support/readiness.h"

namespace jyn::e2e {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLongestWait = std::chrono::seconds(20);
constexpr unsigned char kPoison = 0x5A;

std::size_t OpenDescriptors() {
    std::size_t count = 0;
    if (DIR* folder = opendir("/proc/self/fd")) {
        while (readdir(folder) != nullptr) ++count;
        closedir(folder);
    }
    return count;
}

// EndJyn gives back the buffers of the instance that calls it only: the
// host keeps every other context until the process ends.
void KeepForever(std::unique_ptr<Instance> instance) {
    static auto* kept = new std::vector<std::unique_ptr<Instance>>();  // never destroyed
    kept->push_back(std::move(instance));
}

// One line as the host keeps it: its stations, its instance, the value its
// station holds in D100.
struct HostLine {
    std::unique_ptr<jynsim::SimulatedLine> line;
    std::unique_ptr<Instance> instance;
    uint16_t value = 0;
};

// A reading thread's account of what its reads brought.
struct Reads {
    std::atomic<int> good{0};       // 0, and the line's value
    std::atomic<int> untouched{0};  // 0, and the buffer as the host left it
    std::atomic<int> wrong{0};      // anything else
};

class SeveralLines : public ::testing::Test {
protected:
    static constexpr int kLines = 3;

    void SetUp() override {
        ASSERT_TRUE(library.Ok()) << library.Error();
        std::string error;
        for (int i = 0; i < kLines; ++i) {
            HostLine host;
            host.line = std::make_unique<jynsim::SimulatedLine>(PlantConfig());
            ASSERT_TRUE(host.line->Start(error)) << error;
            host.value = static_cast<uint16_t>(0x1101 + i);
            ASSERT_TRUE(host.line->Sim().SetWord(1, "D100", host.value));
            host.instance = std::make_unique<Instance>(library, 21 + i);
            ASSERT_EQ(host.instance->ColdStart(PortName(host.line->Port()), kTimeoutUnits), kOk);
            lines.push_back(std::move(host));
        }
        ASSERT_EQ(lines[0].instance->Configure(gate), kOk);
        messages.Take();
    }
    void TearDown() override {
        for (HostLine& host : lines) {
            host.line->Stop();
            KeepForever(std::move(host.instance));
        }
    }

    // One read of D100 on line `i`, sorted by what it brought.
    void Read(int i, Reads& reads) {
        unsigned char buffer[4];
        std::memset(buffer, kPoison, sizeof buffer);
        const int32_t result = lines[i].instance->Transfer(gate, false, buffer);
        const uint16_t value = static_cast<uint16_t>(buffer[2] | buffer[3] << 8);
        const bool head = buffer[0] == kPoison && buffer[1] == kPoison;
        if (result == kOk && head && value == lines[i].value) {
            ++reads.good;
        } else if (result == kOk && head && value == (kPoison << 8 | kPoison)) {
            ++reads.untouched;
        } else {
            ++reads.wrong;
        }
        progress.Changed();
    }

    Messages messages;
    WorkDirectory work;
    Library library;
    std::vector<HostLine> lines;
    jyn::testing::Readiness progress;  // a reader's read came back
    HostGate gate{"01WD100", 1, 0, {}};
};

// The flag is the process's: EndJyn on one line, while the others read,
// ends them all. Their reads then return 0 and leave the buffer as the host
// left it; their ports and buffers stay as they are until the process ends.
TEST_F(SeveralLines, EndJynOnOneLineEndsEveryLine) {
    std::atomic<bool> stop{false};
    Reads reads[kLines];
    std::vector<std::thread> readers;
    for (int i = 1; i < kLines; ++i) {
        readers.emplace_back([&, i] {
            while (!stop && reads[i].untouched < 3) Read(i, reads[i]);
        });
    }
    const bool reading =
        progress.WaitFor([&] { return reads[1].good >= 3 && reads[2].good >= 3; }, kLongestWait);
    const std::size_t open = OpenDescriptors();
    const int32_t ended = lines[0].instance->Call(kEndJyn, nullptr);
    const std::size_t closed = open - OpenDescriptors();
    const bool answered = progress.WaitFor(
        [&] { return reads[1].untouched >= 3 && reads[2].untouched >= 3; }, kLongestWait);
    stop = true;
    for (std::thread& reader : readers) reader.join();
    // A read returns once its ACK is written; the simulator may take it off
    // the line later. Wait for every answer's confirmation before counting.
    bool confirmed = true;
    for (int i = 1; i < kLines; ++i) {
        confirmed &= lines[i].line->Sim().WaitUntil(
            [](const jynsim::LineCounters& c) { return c.confirm_acks == c.data_replies; },
            kLongestWait);
    }

    ASSERT_TRUE(reading) << "the other lines did not read";
    EXPECT_EQ(ended, kOk);
    EXPECT_EQ(closed, 1u) << "only the ending line's port closes";
    EXPECT_TRUE(answered) << "reads after EndJyn did not come back untouched";
    ASSERT_TRUE(confirmed) << "an answer of the other lines was never confirmed";
    for (int i = 1; i < kLines; ++i) EXPECT_EQ(reads[i].wrong, 0) << "line " << i;
    EXPECT_EQ(messages.Take(), (std::vector<std::string>{"JYNMB> CloseCom() exited 0",
                                                         "JYNMB> EndJyn() exited, 0"}));

    // Afterwards every call on the other lines returns 0 at once, says
    // nothing, sends nothing and changes nothing, CloseCom included.
    for (int i = 1; i < kLines; ++i) {
        const DriverContext before = lines[i].instance->Context();
        const uint64_t bytesIn = lines[i].line->Sim().Counters().bytes_in;
        unsigned char buffer[4] = {1, 2, 3, 4};
        EXPECT_EQ(lines[i].instance->Transfer(gate, true, buffer), kOk);
        EXPECT_EQ(lines[i].instance->Call(kCloseCom, nullptr), kOk);
        EXPECT_EQ(std::memcmp(&before, &lines[i].instance->Context(), sizeof before), 0);
        EXPECT_EQ(lines[i].line->Sim().Counters().bytes_in, bytesIn);
        EXPECT_EQ(lines[i].line->Sim().Word(1, "D100"), lines[i].value);
    }
    EXPECT_EQ(OpenDescriptors(), open - 1);
    EXPECT_TRUE(messages.Take().empty());
}

// Lines started at once whose station files name one trace file: one of
// them writes it, the others run without a trace and say so.
TEST(LinesStartedAtOnce, OneTraceFileHasOneWriter) {
    constexpr int kLines = 4;
    constexpr int kFirstInstance = 31;
    const std::string trace = "lines.trace";
    Messages messages;
    WorkDirectory work;
    Library library;
    ASSERT_TRUE(library.Ok()) << library.Error();
    ASSERT_TRUE(work.Write(trace, ""));  // the driver appends; removed afterwards
    std::vector<std::unique_ptr<Instance>> instances;
    for (int i = 0; i < kLines; ++i) {
        const std::string name = "JYNMB" + std::to_string(kFirstInstance + i) + ".INT";
        ASSERT_TRUE(work.Write(name, "TRACE = " + trace + "\n"));
        instances.push_back(std::make_unique<Instance>(library, kFirstInstance + i));
    }
    std::atomic<int> arrived{0};
    int32_t results[kLines] = {};
    std::vector<std::thread> starts;
    for (int i = 0; i < kLines; ++i) {
        starts.emplace_back([&, i] {
            ++arrived;
            const auto until = Clock::now() + kLongestWait;
            while (arrived < kLines && Clock::now() < until) std::this_thread::yield();
            results[i] = instances[i]->ColdStart("NUL", kTimeoutUnits);
        });
    }
    for (std::thread& start : starts) start.join();

    for (int i = 0; i < kLines; ++i) EXPECT_EQ(results[i], kOk) << i;
    const std::vector<std::string> said = messages.Take();
    const auto count = [&said](const std::string& text) {
        return std::count(said.begin(), said.end(), text);
    };
    EXPECT_EQ(count("JYNMB> ColdStart() trace to '" + trace + "'"), 1) << Messages::Join(said);
    EXPECT_EQ(
        count("JYNMB> ColdStart() trace '" + trace + "' is written by another instance, no trace"),
        kLines - 1);
    // One header, naming the instance that writes the file.
    std::ifstream file(trace);
    std::vector<std::string> headers;
    for (std::string line; std::getline(file, line);) {
        if (line.rfind("# JYNMB", 0) == 0) headers.push_back(line);
    }
    ASSERT_EQ(headers.size(), 1u);
    int writer = -1;
    for (int i = 0; i < kLines; ++i) {
        if (headers[0].find("instance " + std::to_string(kFirstInstance + i) + ",") !=
            std::string::npos)
            writer = i;
    }
    ASSERT_GE(writer, 0) << headers[0];
    // The writer ends the driver and so gives its trace back: a trace still
    // open when the library is unloaded is closed after the registry of
    // trace files is gone.
    EXPECT_EQ(instances[writer]->Call(kEndJyn, nullptr), kOk);
    for (auto& instance : instances) KeepForever(std::move(instance));
}

}  // namespace
}  // namespace jyn::e2e
