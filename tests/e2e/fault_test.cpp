// Every fault the simulator can put on the line, with what the driver makes
// of it, and the line working again on the next transaction.
#include <gtest/gtest.h>

#include "tests/e2e/line.h"

namespace jyn::e2e {
namespace {

using jynsim::Fault;
using jynsim::FaultKind;

struct FaultCase {
    const char* what;
    Fault fault;
    bool write;
    int32_t result;
    std::vector<std::string> messages;  // each must be among the driver's
};

Fault Make(FaultKind kind, int param = 0, std::string bytes = {}) {
    Fault fault;
    fault.kind = kind;
    fault.param = param;
    fault.bytes = std::move(bytes);
    return fault;
}

Fault Slow() {
    Fault fault = Make(FaultKind::kSlowReply);
    fault.delay = std::chrono::milliseconds(250);  // the reply time-out is 100 ms
    return fault;
}

Fault Lost() {
    Fault fault = Make(FaultKind::kNoReply);
    fault.carry_out = false;
    return fault;
}

const FaultCase kCases[] = {
    {"no reply",
     Make(FaultKind::kNoReply),
     false,
     kOk,
     {"JYNMB> DoRead() Read reply error (len=0), retry 1"}},
    {"reply cut after 3 bytes",
     Make(FaultKind::kCutReply, 3),
     false,
     kOk,
     {"JYNMB> DoRead() Read reply error (len=3), retry 1"}},
    {"stray byte before the reply",
     Make(FaultKind::kStrayByte, 0x7F),
     false,
     kOk,
     {"JYNMB> DoRead() Read reply error (len=13), retry 1"}},
    // A good frame under another station or PC number is another station's:
    // the driver waits on for its own answer, which never comes.
    {"wrong station",
     Make(FaultKind::kWrongStation),
     false,
     kOk,
     {"JYNMB> DoRead() Read reply error (len=0), retry 1"}},
    {"wrong PC number",
     Make(FaultKind::kWrongPc),
     false,
     kOk,
     {"JYNMB> DoRead() Read reply error (len=0), retry 1"}},
    {"corrupted sum check",
     Make(FaultKind::kBadSum),
     false,
     kOk,
     {"JYNMB> DoRead() Sum Check error, retry 1"}},
    // Station and PC number must repeat the request's characters exactly, so
    // a reply in lower case ("01ff") is another station's, and the request
    // is sent again after the time-out.
    {"lower-case hexadecimal",
     Make(FaultKind::kLowerCase),
     false,
     kOk,
     {"JYNMB> DoRead() Read reply error (len=0), retry 1"}},
    {"NAK sum check error",
     Make(FaultKind::kNak, 0x02),
     false,
     kOk,
     {"JYNMB> DoRead() NAK received, Sum Check error, retry 1"}},
    {"NAK character area error",
     Make(FaultKind::kNak, 0x06),
     false,
     kGateFailure,
     {"JYNMB> DoRead() NAK received, Character area error, retry 1",
      "JYNMB> Single Read() , ret val is 1 ('01WD100')"}},
    {"NAK PC access error",
     Make(FaultKind::kNak, 0x08),
     true,
     kDriverFailure,
     {"JYNMB> DoWrite() NAK received, PC access error, retry 1",
      "JYNMB> SingleWrite() , ret val is 2 ('01WD100')"}},
    {"reply slower than the time-out",
     Slow(),
     false,
     kOk,
     {"JYNMB> DoRead() Read reply error (len=0), retry 1"}},
    {"garbage instead of the reply",
     Make(FaultKind::kGarbage, 0, "?garbage"),
     false,
     kOk,
     {"JYNMB> DoRead() Read reply error (len=8), retry 1"}},
    {"garbage instead of an ACK",
     Make(FaultKind::kGarbage, 0,
          "\x06"
          "0"),
     true,
     kOk,
     {"JYNMB> DoWrite() Rcv reply(1) error retry 1"}},
    {"extra bytes after an ACK", Make(FaultKind::kExtraAfterAck, 0, "\x02xy"), true, kOk, {}},
    {"write carried out, its ACK lost",
     Make(FaultKind::kNoReply),
     true,
     kOk,
     {"JYNMB> DoWrite() Rcv reply(0) error retry 1"}},
    {"write lost on its way in",
     Lost(),
     true,
     kOk,
     {"JYNMB> DoWrite() Rcv reply(0) error retry 1"}},
    // Another station's correct frame first, the true answer right behind it:
    // the driver passes over the first and takes the second, in one attempt.
    {"another station's answer first", Make(FaultKind::kForeignAnswer), false, kOk, {}},
};

class Faults : public Plant {};

TEST_F(Faults, EveryClassAndTheLineRecovers) {
    HostGate gate{"01WD100", 1, 0, {}};
    ASSERT_EQ(host->Configure(gate), kOk);
    uint16_t expected = 0x1000;
    for (const FaultCase& c : kCases) {
        SCOPED_TRACE(c.what);
        ++expected;
        // A write must bring the value; a read finds it there.
        ASSERT_TRUE(Sim().SetWord(1, "D100", c.write ? 0 : expected));
        unsigned char value[4] = {0xAA, 0xBB, 0, 0};
        value[2] = static_cast<unsigned char>(expected);
        value[3] = static_cast<unsigned char>(expected >> 8);
        Fault fault = c.fault;
        fault.station = 1;
        fault.command = c.write ? "WW" : "WR";
        Sim().AddFault(fault);
        messages.Take();

        EXPECT_EQ(host->Transfer(gate, c.write, value), c.result);
        const auto lines = messages.Take();
        for (const std::string& message : c.messages) {
            EXPECT_TRUE(Messages::Contains(lines, message)) << message << "\n"
                                                            << Messages::Join(lines);
        }
        if (c.messages.empty()) {
            EXPECT_TRUE(lines.empty()) << Messages::Join(lines);
        }
        EXPECT_EQ(Sim().PendingFaults(), 0u);
        if (c.result == kOk) {
            EXPECT_EQ(value[2] | (value[3] << 8), expected);
            EXPECT_EQ(value[0], 0xAA);
            EXPECT_EQ(Sim().Word(1, "D100"), expected);
        } else if (c.write) {
            EXPECT_EQ(Sim().Word(1, "D100"), 0u);  // a refused write changes nothing
            ASSERT_TRUE(Sim().SetWord(1, "D100", expected));
        }

        // The next transaction finds a clean line.
        unsigned char again[4] = {};
        EXPECT_EQ(host->Transfer(gate, false, again), kOk);
        EXPECT_EQ(again[2] | (again[3] << 8), expected);
        EXPECT_TRUE(messages.Take().empty());
    }
    const auto counters = Sim().Counters();
    // Every fault of one reply; the station behaviours are the soak's.
    for (std::size_t kind = 0; kind < jynsim::kReplyFaultKindCount; ++kind) {
        EXPECT_GE(counters.faults[kind], 1u) << jynsim::FaultName(static_cast<FaultKind>(kind));
    }
}

// A NAK for a transmission error is retried ten times, then reported.
TEST_F(Faults, PersistentTransmissionErrorsUseUpTheAttempts) {
    HostGate gate{"02WD100", 1, 4, {}};
    ASSERT_EQ(host->Configure(gate), kOk);
    Fault fault = Make(FaultKind::kNak, 0x01);
    fault.times = 10;
    Sim().AddFault(fault);
    unsigned char value[8] = {};
    EXPECT_EQ(host->Transfer(gate, false, value), kGateFailure);
    const auto lines = messages.Take();
    EXPECT_TRUE(Messages::Contains(lines, "JYNMB> DoRead() NAK received, Parity error, retry 10"));
    EXPECT_TRUE(Messages::Contains(lines, "JYNMB> BlockRead(), ret val is 1 ('02WD100')"));
    EXPECT_EQ(Sim().Counters().naks_by_code[0x01], 10u);
}

}  // namespace
}  // namespace jyn::e2e
