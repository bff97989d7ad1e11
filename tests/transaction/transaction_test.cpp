// Read and write transactions through JynMain against a scripted line: how
// every reply is judged, with its exact messages, attempts and results.
#include "protocol/transaction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/case_name.h"
#include "tests/support/fake_device.h"
#include "tests/support/frames.h"
#include "tests/support/instance.h"
#include "tests/support/log_recorder.h"

namespace jyn::testing {
namespace {

constexpr uint32_t kTimeoutUnits = 10;  // 100 ms
constexpr uint32_t kTimeoutMs = kTimeoutUnits * 10;
constexpr char kENQ = '\x05';

std::string NakCode(unsigned code) { return Nak("01FF", Hex2(code)); }
const std::string kAck = Ack("01FF");
const std::string kSilence;  // no answer at all

// The frame with its last sum digit changed.
std::string WithBadSum(std::string frame) {
    frame.back() = frame.back() == '0' ? '1' : '0';
    return frame;
}

int g_pauses = 0;
int g_resyncs = 0;
void CountPause(unsigned milliseconds) {
    EXPECT_EQ(milliseconds, 20u);
    ++g_pauses;
}

// A station answers the driver's resynchronising reads apart from the
// script, 5 ms after the request or right after the answers it still owes:
// in the order it took them.
bool AnswerResync(FakeDevice& line, const Bytes& written) {
    const std::string answer = ResyncAnswer(ToText(written));
    if (answer.empty()) return false;
    ++g_resyncs;
    const uint64_t at = std::max(line.NowMs() + 5, line.LastArrivalMs() + 1);
    line.Arrive(answer, static_cast<uint32_t>(at - line.NowMs()));
    return true;
}

struct Gate {
    const char* text;
    GateAddress address;
};

const Gate kWord{"01WD100", {1, 'D', 100, -1, 16}};
const Gate kBit{"01BM100", {1, 'M', 6, 4, 8}};
const Gate kLong{"01WZ100", {1, 'Z', 50, -1, 32}};
const Gate kString5{"01WS0100L5", {1, 'S', 100, -1, 16}};
const Gate kString4{"01WS0100L4", {1, 'S', 100, -1, 16}};

class Transaction : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFake();
        g_pauses = 0;
        g_resyncs = 0;
        requests = 0;
        replies.clear();
        protocol::SetPauseFunction(&CountPause);
        ASSERT_EQ(host.ColdStart("COM1", true, kTimeoutUnits), kOk);
        // Each request that reaches the line takes the next scripted reply.
        Fake().onWrite = [this](FakeDevice& line, const Bytes& written) {
            if (written.empty() || written[0] != kENQ || AnswerResync(line, written)) return;
            ++requests;
            if (replies.empty()) return;
            if (!replies.front().empty()) line.Arrive(replies.front(), replyAfterMs);
            replies.pop_front();
        };
        log.Clear();
    }
    void TearDown() override { protocol::SetPauseFunction(nullptr); }

    int32_t Run(uint32_t function, const Gate& gate, int32_t count = 1) {
        request = GateRequest{};
        request.addressText = gate.text;
        request.gateAddress = gate.address;
        request.count = count;
        request.data = value;
        return host.Call(function, &request);
    }
    void Script(std::initializer_list<std::string> list) { replies.assign(list); }
    void ScriptAll(const std::string& reply) { replies.assign(10, reply); }
    std::vector<std::string> Confirmations() const {
        std::vector<std::string> out;
        for (const Bytes& frame : Fake().written) {
            if (!frame.empty() && frame[0] == '\x06') out.push_back(ToText(frame));
        }
        return out;
    }
    uint16_t ValueAt(std::size_t offset) const {
        return static_cast<uint16_t>(value[offset] | (value[offset + 1] << 8));
    }

    LogRecorder log;
    Instance host;
    GateRequest request{};
    unsigned char value[160] = {};
    std::deque<std::string> replies;
    uint64_t replyAfterMs = 5;  // from the request to its scripted reply
    int requests = 0;
};

// A table of cases, each on a fresh fixture: one ctest test a case.
template <typename Case>
class TransactionCases : public Transaction, public ::testing::WithParamInterface<Case> {};

TEST_F(Transaction, GoodReadStoresTheValueAndConfirms) {
    value[0] = 0xAA;
    value[1] = 0xBB;
    Script({DataReply("01FF12aF")});
    ASSERT_EQ(Run(kSingleRead, kWord), kOk) << log.Dump();
    EXPECT_EQ(ValueAt(2), 0x12AF);
    EXPECT_EQ(ValueAt(0), 0xBBAA);
    EXPECT_EQ(ToText(Fake().written.front()), "\x05" + std::string("01FFWR0D0100012C"));
    EXPECT_EQ(Confirmations(), std::vector<std::string>{kAck});
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
}

struct LengthCase {
    const char* what;
    Gate gate;
    int32_t count;
    std::string reply;
    std::string retried;  // the good answer to the retry
    std::vector<LogLine> lines;
    int pauses;
};
void PrintTo(const LengthCase& c, std::ostream* out) { *out << CaseName(c.what); }

const LengthCase kLengthCases[] = {
    {"word block of 2, one word framed",
     kWord,
     2,
     DataReply("01FF1234"),
     DataReply("01FF00010002"),
     {{kLevelError, "JYNMB> DoRead() illegal length reply , retry 1"},
      {kLevelInfo, "JYNMB> DoRead() ... missing chars, W, 8+8<>12 !!"}},
     0},
    {"bit answered by ACK",
     kBit,
     1,
     kAck,
     DataReply("01FF1"),
     {{kLevelError, "JYNMB> DoRead() illegal length reply , retry 1"},
      {kLevelInfo, "JYNMB> DoRead() ... B, 8+1<>5, 06h, 31h"}},
     1},
    {"32-bit value, one word framed",
     kLong,
     1,
     DataReply("01FF5678"),
     DataReply("01FF56781234"),
     {{kLevelError, "JYNMB> DoRead() illegal length reply , retry 1"},
      {kLevelInfo, "JYNMB> DoRead() ... missing chars, D, 8+8<>12 !!"}},
     0},
    {"string of 5 framed short",
     kString5,
     1,
     DataReply("01FF4142434445"),
     DataReply("01FF424100000000"),
     {{kLevelError, "JYNMB> DoRead() illegal length reply , retry 1"},
      {kLevelError, "JYNMB> missing chars in reply"}},
     1},
    {"string of 4 answered by ACK",
     kString4,
     1,
     kAck,
     DataReply("01FF42410000"),
     {{kLevelError, "JYNMB> DoRead() illegal length reply , retry 1"},
      {kLevelError, "JYNMB> 'STX' or 'ETX' not found in reply"}},
     1},
    {"string of 4 with a NAK-length frame",
     kString4,
     1,
     "\x02"
     "01FF\x03"
     "C7x",
     DataReply("01FF42410000"),
     {{kLevelError, "JYNMB> DoRead() illegal length reply , retry 1"},
      {kLevelError, "JYNMB> missing chars in reply"},
      {kLevelInfo, "JYNMB> DoRead() line settled, 1 bytes discarded"}},
     1},
};

using WrongLength = TransactionCases<LengthCase>;
TEST_P(WrongLength, IsReportedAndRetried) {
    const LengthCase& c = GetParam();
    Script({c.reply, c.retried});
    EXPECT_EQ(Run(c.count == 1 ? kSingleRead : kBlockRead, c.gate, c.count), kOk) << log.Dump();
    EXPECT_EQ(log.Lines(), c.lines) << log.Dump();
    EXPECT_EQ(g_pauses, c.pauses);
    EXPECT_EQ(requests, 2);
}
INSTANTIATE_TEST_SUITE_P(Replies, WrongLength, ::testing::ValuesIn(kLengthCases));

TEST_F(Transaction, ExpectedLengthsByKind) {
    // Word gates: 8 + 4 x count; bit gates: 8 + count; strings: whole words.
    Script({DataReply("01FF000100020003")});
    EXPECT_EQ(Run(kBlockRead, kWord, 3), kOk) << log.Dump();
    EXPECT_EQ(ValueAt(0), 1);
    EXPECT_EQ(ValueAt(4), 3);
    Script({DataReply("01FF1")});
    EXPECT_EQ(Run(kSingleRead, kBit), kOk) << log.Dump();
    EXPECT_EQ(ValueAt(2), 1);
    Script({DataReply("01FF45484C4C004F")});  // 5 characters, 3 words: 20 bytes
    EXPECT_EQ(Run(kSingleRead, kString5), kOk) << log.Dump();
    EXPECT_STREQ(reinterpret_cast<const char*>(value), "HELLO");
    Script({DataReply("01FF56781234")});
    EXPECT_EQ(Run(kSingleRead, kLong), kOk) << log.Dump();
    EXPECT_EQ(ValueAt(0), 0x5678);
    EXPECT_EQ(ValueAt(2), 0x1234);
}

// A reply that is not the answer, then the good one to the retry.
struct JudgeCase {
    const char* what;
    std::string reply;
    std::vector<LogLine> lines;
};
void PrintTo(const JudgeCase& c, std::ostream* out) { *out << CaseName(c.what); }

const JudgeCase kReadJudgeCases[] = {
    // Another station's good frame is no answer and no end of the wait for
    // one: the attempt ends when the line stays silent.
    {"other station",
     DataReply("02FF1234"),
     {{kLevelError, "JYNMB> DoRead() Read reply error (len=0), retry 1"}}},
    {"other PC number",
     DataReply("01FE1234"),
     {{kLevelError, "JYNMB> DoRead() Read reply error (len=0), retry 1"}}},
    {"other station with a wrong sum",
     WithBadSum(DataReply("02FF1234")),
     {{kLevelInfo, "JYNMB> DoRead() received illegal response, retry 1 (02h)"}}},
    {"wrong sum",
     WithBadSum(DataReply("01FF1234")),
     {{kLevelInfo, "JYNMB> DoRead() Sum Check error, retry 1"}}},
    {"unreadable sum",
     DataReply("01FF1234").replace(10, 1, "G"),
     {{kLevelInfo, "JYNMB> DoRead() illegal Sum Check, retry 1"}}},
    {"no ETX in place",
     "\x02"
     "01FF12345"
     "67",
     {{kLevelError, "JYNMB> DoRead() Read reply error (len=12), retry 1"}}},
};

using ReadReply = TransactionCases<JudgeCase>;
TEST_P(ReadReply, FramingAddressAndSumCheckAreJudged) {
    const JudgeCase& c = GetParam();
    Script({c.reply, DataReply("01FF1234")});
    EXPECT_EQ(Run(kSingleRead, kWord), kOk) << log.Dump();
    EXPECT_EQ(log.Lines(), c.lines) << log.Dump();
    EXPECT_EQ(ValueAt(2), 0x1234);
    EXPECT_EQ(Confirmations().size(), 1u);
}
INSTANTIATE_TEST_SUITE_P(Replies, ReadReply, ::testing::ValuesIn(kReadJudgeCases));

TEST_F(Transaction, SumDigitsMayBeLowerCase) {
    std::string reply = DataReply("01FF00FF");  // sum 0x?? with letters
    for (std::size_t i = reply.size() - 2; i < reply.size(); ++i) {
        reply[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(reply[i])));
    }
    Script({reply});
    EXPECT_EQ(Run(kSingleRead, kWord), kOk) << log.Dump();
    EXPECT_EQ(ValueAt(2), 0xFF);
}

struct NakCase {
    unsigned code;
    const char* text;
    int32_t result;
    int attempts;
    uint32_t function;
};
void PrintTo(const NakCase& c, std::ostream* out) {
    *out << "NAK" << Hex2(c.code) << '_' << CaseName(c.text)
         << (c.function == kSingleRead ? "_read" : "_write");
}

std::vector<NakCase> NakCases() {
    const NakCase codes[] = {
        {0x00, "Disable during RUN", 1, 1, 0},   {0x01, "Parity error", 1, 10, 0},
        {0x02, "Sum Check error", 1, 10, 0},     {0x03, "Protocol error", 1, 1, 0},
        {0x04, "Framing error", 1, 10, 0},       {0x05, "Overrun error", 1, 10, 0},
        {0x06, "Character area error", 1, 1, 0}, {0x07, "Character error", 1, 1, 0},
        {0x08, "PC access error", 2, 1, 0},      {0x09, "error 09h", 2, 1, 0},
        {0x10, "PC number error", 1, 1, 0},      {0x11, "Mode error", 2, 1, 0},
        {0x12, " error nr. 18", 1, 1, 0},        {0xFF, " error nr. 255", 1, 1, 0},
    };
    std::vector<NakCase> cases;
    for (NakCase c : codes) {
        for (uint32_t function : {kSingleRead, kSingleWrite}) {
            c.function = function;
            cases.push_back(c);
        }
    }
    return cases;
}

using NakReply = TransactionCases<NakCase>;
TEST_P(NakReply, TextAndAction) {
    const NakCase& c = GetParam();
    const bool read = c.function == kSingleRead;
    ScriptAll(NakCode(c.code));
    EXPECT_EQ(Run(c.function, kWord), c.result);
    EXPECT_EQ(requests, c.attempts);
    const std::string who = read ? "DoRead" : "DoWrite";
    std::vector<LogLine> expected;
    for (int attempt = 1; attempt <= c.attempts; ++attempt) {
        expected.push_back({kLevelInfo, "JYNMB> " + who + "() NAK received, " + c.text +
                                            ", retry " + std::to_string(attempt)});
    }
    expected.push_back({kLevelInfo, (read ? "JYNMB> Single Read() , ret val is "
                                          : "JYNMB> SingleWrite() , ret val is ") +
                                        std::to_string(c.result) + " ('01WD100')"});
    EXPECT_EQ(log.Lines(), expected) << log.Dump();
    EXPECT_TRUE(Confirmations().empty());
}
INSTANTIATE_TEST_SUITE_P(Naks, NakReply, ::testing::ValuesIn(NakCases()));

TEST_F(Transaction, NakWithADamagedCodeIsRetried) {
    Script({Nak("01FF", "0G"), DataReply("01FF0001")});
    EXPECT_EQ(Run(kSingleRead, kWord), kOk);
    EXPECT_EQ(log.Lines(),
              (std::vector<LogLine>{
                  {kLevelInfo, "JYNMB> DoRead() NAK received, unreadable error code, retry 1"}}));
}

TEST_F(Transaction, SilentLineTakesTenTimeoutsAndReturnsTwo) {
    const uint64_t start = Fake().NowMs();
    EXPECT_EQ(Run(kSingleRead, kWord), kDriverFailure);
    EXPECT_EQ(requests, 10);
    // Each attempt waits one reply time-out for the first byte, and no more.
    EXPECT_EQ(Fake().NowMs() - start, 10u * kTimeoutMs);
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 11u) << log.Dump();
    for (int attempt = 1; attempt <= 10; ++attempt) {
        EXPECT_EQ(lines[attempt - 1],
                  (LogLine{kLevelError, "JYNMB> DoRead() Read reply error (len=0), retry " +
                                            std::to_string(attempt)}));
    }
    EXPECT_EQ(lines.back(),
              (LogLine{kLevelInfo, "JYNMB> Single Read() , ret val is 2 ('01WD100')"}));
}

struct LastAttemptCase {
    const char* what;
    std::vector<std::string> replies;
    uint32_t function;
    int32_t result;
};
void PrintTo(const LastAttemptCase& c, std::ostream* out) { *out << CaseName(c.what); }

std::vector<std::string> NineThenOne(const std::string& nine, const std::string& last) {
    std::vector<std::string> replies(9, nine);
    replies.push_back(last);
    return replies;
}

const LastAttemptCase kLastAttemptCases[] = {
    {"nine NAK 01 then silence", NineThenOne(NakCode(0x01), kSilence), kSingleRead, kDriverFailure},
    {"nine silences then NAK 02", NineThenOne(kSilence, NakCode(0x02)), kSingleWrite, kGateFailure},
};

using LastAttempt = TransactionCases<LastAttemptCase>;
TEST_P(LastAttempt, Decides) {
    const LastAttemptCase& c = GetParam();
    replies.assign(c.replies.begin(), c.replies.end());
    EXPECT_EQ(Run(c.function, kWord), c.result);
    EXPECT_EQ(requests, 10);
}
INSTANTIATE_TEST_SUITE_P(Attempts, LastAttempt, ::testing::ValuesIn(kLastAttemptCases));

TEST_F(Transaction, SendFailuresAndAClosedPort) {
    Fake().failWrite = true;
    EXPECT_EQ(Run(kSingleRead, kWord), kDriverFailure);
    for (int attempt = 1; attempt <= 10; ++attempt) {
        EXPECT_TRUE(
            log.Has(kLevelInfo, "JYNMB> DoRead() Send req error retry " + std::to_string(attempt)));
    }
    Fake().failWrite = false;

    ASSERT_EQ(host.Call(kCloseCom), kOk);
    log.Clear();
    EXPECT_EQ(Run(kSingleWrite, kWord), kDriverFailure);
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 11u) << log.Dump();
    EXPECT_EQ(lines[9], (LogLine{kLevelInfo, "JYNMB> DoWrite() Send req error retry 10"}));
    EXPECT_EQ(lines[10], (LogLine{kLevelInfo, "JYNMB> SingleWrite() , ret val is 2 ('01WD100')"}));
}

TEST_F(Transaction, ConfirmationFailureLeavesAGoodRead) {
    Script({DataReply("01FF0042")});
    Fake().failWriteAfter = 1;  // the request goes out, the confirmation does not
    EXPECT_EQ(Run(kSingleRead, kWord), kOk);
    EXPECT_EQ(ValueAt(2), 0x42);
    EXPECT_EQ(log.Lines(),
              (std::vector<LogLine>{{kLevelInfo, "JYNMB> DoRead() Warning: confirm. send error"}}));
}

TEST_F(Transaction, UndecodableDataEndsTheReadWithoutConfirmation) {
    value[2] = 0x11;
    value[3] = 0x22;
    Script({DataReply("01FF12G4")});
    EXPECT_EQ(Run(kSingleRead, kWord), kGateFailure);
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(ValueAt(2), 0x2211);
    EXPECT_TRUE(Confirmations().empty());
    EXPECT_EQ(log.Lines(), (std::vector<LogLine>{
                               {kLevelError, "JYNMB> StoreData() illegal HEX data"},
                               {kLevelInfo, "JYNMB> Single Read() , ret val is 1 ('01WD100')"}}));
}

TEST_F(Transaction, WriteIsAnsweredByAck) {
    value[2] = 0x34;
    value[3] = 0x12;
    Script({kAck});
    EXPECT_EQ(Run(kSingleWrite, kWord), kOk);
    EXPECT_EQ(ToText(Fake().written.back()), "\x05" + std::string("01FFWW0D0100011234FB"));
    EXPECT_TRUE(Confirmations().empty());

    Script({kAck + "xyz"});  // bytes after the ACK are left for the next purge
    EXPECT_EQ(Run(kSingleWrite, kWord), kOk);
}

const JudgeCase kWriteJudgeCases[] = {
    {"ACK from another PC",
     Ack("01FE"),
     {{kLevelError, "JYNMB> DoWrite() Rcv reply(0) error retry 1"}}},
    {"data reply to a write",
     DataReply("01FF"),
     {{kLevelInfo, "JYNMB> DoWrite() received illegal response (02h), retry 1"}}},
    {"ACK cut short", Ack("01"), {{kLevelError, "JYNMB> DoWrite() Rcv reply(1) error retry 1"}}},
    {"silence", kSilence, {{kLevelError, "JYNMB> DoWrite() Rcv reply(0) error retry 1"}}},
};

using WriteReply = TransactionCases<JudgeCase>;
TEST_P(WriteReply, OtherThanAckIsRetried) {
    const JudgeCase& c = GetParam();
    Script({c.reply, kAck});
    EXPECT_EQ(Run(kBlockWrite, kWord, 1), kOk);
    EXPECT_EQ(log.Lines(), c.lines) << log.Dump();
    EXPECT_EQ(requests, 2);
}
INSTANTIATE_TEST_SUITE_P(Replies, WriteReply, ::testing::ValuesIn(kWriteJudgeCases));

struct ServiceCase {
    const char* what;
    uint32_t function;
    const char* message;
};
void PrintTo(const ServiceCase& c, std::ostream* out) { *out << CaseName(c.what); }

const ServiceCase kServiceCases[] = {
    {"SingleRead", kSingleRead, "JYNMB> Single Read() , ret val is 1 ('01WD100')"},
    {"BlockRead", kBlockRead, "JYNMB> BlockRead(), ret val is 1 ('01WD100')"},
    {"SingleWrite", kSingleWrite, "JYNMB> SingleWrite() , ret val is 1 ('01WD100')"},
    {"BlockWrite", kBlockWrite, "JYNMB> BlockWrite() , ret val is 1 ('01WD100')"},
};

using Handler = TransactionCases<ServiceCase>;
TEST_P(Handler, QuotesTheAddressTextOnFailure) {
    Script({NakCode(0x06)});
    EXPECT_EQ(Run(GetParam().function, kWord), kGateFailure);
    EXPECT_EQ(log.Lines().back(), (LogLine{kLevelInfo, GetParam().message}));
}
INSTANTIATE_TEST_SUITE_P(Services, Handler, ::testing::ValuesIn(kServiceCases));

// A station slower than the reply time-out: its answer to the first attempt
// is taken by the second, and its answer to the second must not be taken by
// the next transaction for its own. Format 1 carries no sequence number, so
// only the line settling tells the two apart. Just after the time-out the
// late answer comes before the retry's; later it comes after it.
struct LateCase {
    const char* what;
    uint32_t lateMs;  // past the reply time-out
};
void PrintTo(const LateCase& c, std::ostream* out) { *out << CaseName(c.what); }

const LateCase kLateCases[] = {{"before the retry's answer", 1}, {"after the retry's answer", 10}};

using LateAnswer = TransactionCases<LateCase>;
TEST_P(LateAnswer, IsNotTakenByTheNextGate) {
    int answered = 0;
    Fake().onWrite = [&](FakeDevice& line, const Bytes& written) {
        if (written.empty() || written[0] != kENQ || AnswerResync(line, written)) return;
        ++requests;
        const std::string device = ToText(Bytes(written.begin() + 8, written.begin() + 13));
        const std::string data = device == "D0100" ? "1111" : "2222";
        const bool late = device == "D0100" && answered++ == 0;
        line.Arrive(DataReply("01FF" + data), late ? kTimeoutMs + GetParam().lateMs : 5);
    };
    const Gate d200{"01WD200", {1, 'D', 200, -1, 16}};
    EXPECT_EQ(Run(kSingleRead, kWord), kOk);
    EXPECT_EQ(ValueAt(2), 0x1111);
    EXPECT_EQ(Run(kSingleRead, d200), kOk);
    EXPECT_EQ(ValueAt(2), 0x2222) << "D200 reported with another register's value";
}
INSTANTIATE_TEST_SUITE_P(Timing, LateAnswer, ::testing::ValuesIn(kLateCases));

// A write whose ACK came late leaves the retry's ACK on its way: the next
// write, which the station never carries out, must not take it for its own.
TEST_F(Transaction, LateAckIsNotTakenByTheNextWrite) {
    int writes = 0;
    Fake().onWrite = [&](FakeDevice& line, const Bytes& written) {
        if (written.empty() || written[0] != kENQ || AnswerResync(line, written)) return;
        ++writes;
        if (writes <= 2) line.Arrive(kAck, kTimeoutMs + (writes == 1 ? 10 : 50));
    };
    EXPECT_EQ(Run(kSingleWrite, kWord), kOk) << log.Dump();
    EXPECT_EQ(Run(kSingleWrite, kWord), kDriverFailure)
        << "a write reported done that never landed";
    EXPECT_GE(g_resyncs, 1);
}

// A transaction that fails may still have an answer on its way: the last
// attempt's, when it came just after the time-out, or an earlier attempt's
// when a NAK that ends the transaction came first. Either is the length of
// the next word read and must not be taken for its value.
struct Answer {
    std::string reply;
    uint32_t afterMs;
};
struct FailedCase {
    const char* what;
    std::vector<Answer> d100;  // the station's answers to D100, attempt by attempt
    int32_t result;
};
void PrintTo(const FailedCase& c, std::ostream* out) { *out << CaseName(c.what); }

std::vector<Answer> NineNaksThenLate() {
    std::vector<Answer> answers(9, Answer{NakCode(0x02), 5});
    answers.push_back({DataReply("01FF1111"), kTimeoutMs + 20});
    return answers;
}

const FailedCase kFailedCases[] = {
    {"tenth late after nine NAK 02", NineNaksThenLate(), kDriverFailure},
    {"first late then NAK 06",
     {{DataReply("01FF1111"), kTimeoutMs + 50}, {NakCode(0x06), 5}},
     kGateFailure},
};

using LateAfterFailure = TransactionCases<FailedCase>;
TEST_P(LateAfterFailure, IsNotTakenByTheNextGate) {
    const FailedCase& c = GetParam();
    std::size_t asked = 0;
    Fake().onWrite = [&](FakeDevice& line, const Bytes& written) {
        if (written.empty() || written[0] != kENQ || AnswerResync(line, written)) return;
        const std::string device = ToText(Bytes(written.begin() + 8, written.begin() + 13));
        if (device != "D0100") {
            line.Arrive(DataReply("01FF2222"), 60);
        } else if (asked < c.d100.size()) {
            line.Arrive(c.d100[asked].reply, c.d100[asked].afterMs);
            ++asked;
        }
    };
    EXPECT_EQ(Run(kSingleRead, kWord), c.result) << log.Dump();
    const Gate d200{"01WD200", {1, 'D', 200, -1, 16}};
    EXPECT_EQ(Run(kSingleRead, d200), kOk) << log.Dump();
    EXPECT_EQ(ValueAt(2), 0x2222);
}
INSTANTIATE_TEST_SUITE_P(Timing, LateAfterFailure, ::testing::ValuesIn(kFailedCases));

// What a first reply that was not the answer costs before the good one, on
// the virtual clock: every reply comes 5 ms after its request, writes take
// no time, one character takes 1.04 ms (9600 baud, 10 bits).
struct CostCase {
    const char* what;
    std::string first;
    uint64_t ms;           // from the request to the end of the transaction
    uint64_t afterMs = 5;  // from each request to its reply
};
void PrintTo(const CostCase& c, std::ostream* out) { *out << CaseName(c.what); }

const CostCase kCostCases[] = {
    // Noise on a reply: the short gap of quiet (4 characters, at least 5 ms).
    {"wrong sum check", WithBadSum(DataReply("01FF1111")), 5 + 5 + 5},
    {"wrong sum check from another station", WithBadSum(DataReply("02FF1111")), 5 + 5 + 5},
    // ... also when it comes late in its attempt, with less than a reply
    // time-out left before the attempt's deadline.
    {"wrong sum check late in its attempt", WithBadSum(DataReply("01FF1111")),
     (kTimeoutMs - 10) + 5 + (kTimeoutMs - 10), kTimeoutMs - 10},
    {"NAK with an unreadable code", Nak("01FF", "0G"), 5 + 5 + 5},
    // A NAK the station meant: the retry goes out at once.
    {"NAK 02", NakCode(0x02), 5 + 5},
    // Another station's answer: the wait for the own goes on to a time-out
    // of silence.
    {"another station's answer", DataReply("02FF1111"), 5 + kTimeoutMs + 5},
    // The station's own frame that is not the answer: the retry at once
    // (the request stays owed; the next transaction pays for that).
    {"a well-framed reply too short", DataReply("01FF11"), 5 + 5},
    {"an ACK", kAck, 5 + 5},
    // Bytes that are no frame are read until a time-out of silence.
    {"a stray byte", "?", 5 + kTimeoutMs + 5},
    // Silence: the time-out, then the good answer; no watch afterwards.
    {"silence", kSilence, kTimeoutMs + 5},
};

using FirstReply = TransactionCases<CostCase>;
TEST_P(FirstReply, CostsOnlyWhatItsEvidenceCallsFor) {
    const CostCase& c = GetParam();
    replyAfterMs = c.afterMs;
    Script({c.first, DataReply("01FF1111")});
    const uint64_t start = Fake().NowMs();
    EXPECT_EQ(Run(kSingleRead, kWord), kOk) << log.Dump();
    EXPECT_EQ(ValueAt(2), 0x1111);
    EXPECT_EQ(requests, 2);
    EXPECT_EQ(Fake().NowMs() - start, c.ms) << log.Dump();
}
INSTANTIATE_TEST_SUITE_P(Cost, FirstReply, ::testing::ValuesIn(kCostCases));

// A station slower than the time-out answers every request, the retries
// too, each as late as the first: the answer to the retry comes one attempt
// after the one the retry took, and must not reach the next gate.
TEST_F(Transaction, AStationAlwaysLateKeepsItsAnswersToItsOwnGate) {
    constexpr uint32_t kLateMs = kTimeoutMs + 10;
    Fake().onWrite = [&](FakeDevice& line, const Bytes& written) {
        if (written.empty() || written[0] != kENQ || AnswerResync(line, written)) return;
        const std::string device = ToText(Bytes(written.begin() + 8, written.begin() + 13));
        line.Arrive(DataReply(device == "D0100" ? "01FF1111" : "01FF2222"), kLateMs);
    };
    EXPECT_EQ(Run(kSingleRead, kWord), kOk) << log.Dump();
    EXPECT_EQ(ValueAt(2), 0x1111);
    const Gate d200{"01WD200", {1, 'D', 200, -1, 16}};
    EXPECT_EQ(Run(kSingleRead, d200), kOk) << log.Dump();
    EXPECT_EQ(ValueAt(2), 0x2222);
}

// A link module late with its first answer takes the retries meanwhile and
// answers each right after the one before. A 64-word reply (264 characters,
// a character a millisecond here) is longer on the line than the reply
// time-out, so the answer owed to the retry begins more than a time-out plus
// a request after the one the retry took, and it must not reach the next
// block of the same length.
TEST_F(Transaction, QueuedAnswersLongerThanTheTimeoutStayWithTheirGate) {
    constexpr int kWords = 64;
    uint64_t busyUntil = 0;
    bool late = true;
    Fake().onWrite = [&](FakeDevice& line, const Bytes& written) {
        if (written.empty() || written[0] != kENQ || AnswerResync(line, written)) return;
        const std::string device = ToText(Bytes(written.begin() + 8, written.begin() + 13));
        std::string data;
        for (int i = 0; i < kWords; ++i) data += device == "D0100" ? "1111" : "2222";
        const std::string reply = DataReply("01FF" + data);
        const uint64_t now = line.NowMs();
        uint64_t at = std::max(now + (late ? kTimeoutMs + 20 : 5), busyUntil + 2);
        late = false;
        for (char c : reply) line.Arrive(std::string(1, c), static_cast<uint32_t>(at++ - now));
        busyUntil = at;
    };
    EXPECT_EQ(Run(kBlockRead, kWord, kWords), kOk) << log.Dump();
    EXPECT_EQ(ValueAt(126), 0x1111);
    const Gate d200{"01WD200", {1, 'D', 200, -1, 16}};
    EXPECT_EQ(Run(kBlockRead, d200, kWords), kOk) << log.Dump();
    EXPECT_EQ(ValueAt(0), 0x2222) << "D200 read as D100's late answer";
    EXPECT_EQ(ValueAt(126), 0x2222);
}

// A good answer at the first attempt, or a NAK the station meant, costs no
// wait beyond the reply itself.
TEST_F(Transaction, NoSettlingWithoutCause) {
    Script({DataReply("01FF1234")});
    uint64_t start = Fake().NowMs();
    EXPECT_EQ(Run(kSingleRead, kWord), kOk);
    EXPECT_LT(Fake().NowMs() - start, uint64_t{kTimeoutMs});
    Script({NakCode(0x02), kAck});
    start = Fake().NowMs();
    EXPECT_EQ(Run(kSingleWrite, kWord), kOk);
    EXPECT_LT(Fake().NowMs() - start, uint64_t{kTimeoutMs});
}

// A station that answers every request it takes, in the order it took them:
// `turnaroundMs` after the request, or right after its previous answer when
// that is later; none while it is dead. Reads of D100 hold 1111h per word,
// every other device 2222h; the resynchronising reads 0.
struct OrderedStation {
    uint64_t busyUntilMs = 0;  // no answer leaves before this
    uint32_t turnaroundMs = 5;
    bool dead = false;
    int taken = 0;

    void Take(FakeDevice& line, const Bytes& written) {
        if (written.empty() || written[0] != kENQ || dead) return;
        ++taken;
        const std::string text = ToText(written);
        std::string answer = ResyncAnswer(text);
        if (answer.empty()) {
            const unsigned words =
                static_cast<unsigned>(std::stoul(text.substr(13, 2), nullptr, 16));
            std::string data;
            for (unsigned i = 0; i < words; ++i)
                data += text.substr(8, 5) == "D0100" ? "1111" : "2222";
            answer = DataReply(text.substr(1, 4) + data);
        }
        const uint64_t at =
            std::max({line.NowMs() + turnaroundMs, busyUntilMs, line.LastArrivalMs() + 1});
        line.Arrive(answer, static_cast<uint32_t>(at - line.NowMs()));
    }
};

class Ordered : public Transaction {
protected:
    void SetUp() override {
        Transaction::SetUp();
        Fake().onWrite = [this](FakeDevice& line, const Bytes& written) {
            plc.Take(line, written);
        };
    }
    OrderedStation plc;
};

const Gate kD200{"01WD200", {1, 'D', 200, -1, 16}};

// A busy station that holds one answer for 13 time-outs and answers the
// requests it queued meanwhile back to back: the gate fails, and the gates
// after it get their own values, each of the same length as the queued ones.
TEST_F(Ordered, AStationBusyForThirteenTimeoutsHandsNoGateAnotherValue) {
    plc.busyUntilMs = Fake().NowMs() + 13 * kTimeoutMs;
    EXPECT_EQ(Run(kSingleRead, kWord), kDriverFailure) << log.Dump();
    EXPECT_EQ(plc.taken, 10);
    for (const Gate* gate : {&kD200, &kWord, &kD200}) {
        EXPECT_EQ(Run(kSingleRead, *gate), kOk) << log.Dump();
        EXPECT_EQ(ValueAt(2), gate == &kWord ? 0x1111 : 0x2222) << gate->text;
    }
}

// Another station's NAK before the own answer: discarded, and the wait for
// the own answer goes on. The own answer is this gate's, not the next one's.
TEST_F(Transaction, AnotherStationsNakIsNotTheAnswer) {
    Fake().onWrite = [&](FakeDevice& line, const Bytes& written) {
        if (written.empty() || written[0] != kENQ || AnswerResync(line, written)) return;
        ++requests;
        const bool d100 = ToText(written).substr(8, 5) == "D0100";
        line.Arrive(Nak("02FF", "02"), 5);
        line.Arrive(DataReply(d100 ? "01FF1111" : "01FF2222"), 40);
    };
    EXPECT_EQ(Run(kSingleRead, kWord), kOk) << log.Dump();
    EXPECT_EQ(ValueAt(2), 0x1111);
    EXPECT_EQ(Run(kSingleRead, kD200), kOk) << log.Dump();
    EXPECT_EQ(ValueAt(2), 0x2222);
    EXPECT_EQ(requests, 2);
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
}

// A NAK that answers an earlier request comes while the driver
// resynchronises: it may be any owed request's, so its refusal does not end
// the next gate, which gets its value after the proof.
TEST_F(Transaction, AnOldRefusalDoesNotStopTheNextGate) {
    int d100 = 0;
    Fake().onWrite = [&](FakeDevice& line, const Bytes& written) {
        if (written.empty() || written[0] != kENQ || AnswerResync(line, written)) return;
        const bool first = ToText(written).substr(8, 5) == "D0100" && d100++ == 0;
        if (first) {
            line.Arrive(NakCode(0x07), kTimeoutMs + 50);  // late, and a refusal
        } else {
            line.Arrive(DataReply(d100 > 0 && ToText(written).substr(8, 5) == "D0100" ? "01FF1111"
                                                                                      : "01FF2222"),
                        5);
        }
    };
    EXPECT_EQ(Run(kSingleRead, kWord), kOk) << log.Dump();
    EXPECT_EQ(ValueAt(2), 0x1111);
    EXPECT_EQ(Run(kSingleRead, Gate{"01WD200", {1, 'D', 200, -1, 16}}), kOk) << log.Dump();
    EXPECT_EQ(ValueAt(2), 0x2222);
}

// A line that drips a byte every 90 ms, inside the 100 ms time-out, for a
// minute: every attempt ends by the time the line has, and the read fails
// within 15 s.
TEST_F(Transaction, ADrippingLineFailsTheReadInTime) {
    Fake().onWrite = nullptr;
    for (uint32_t at = 0; at < 60000; at += 90) Fake().Arrive(std::string("x"), at);
    const uint64_t start = Fake().NowMs();
    EXPECT_NE(Run(kSingleRead, kWord), kOk);
    EXPECT_LT(Fake().NowMs() - start, 15000u);
}

// A dead station costs ten reply time-outs a gate, the resynchronising reads
// among them, one log line an attempt; once it answers again, it owes
// nothing after a proof and its gate gets its value.
TEST_F(Ordered, ADeadStationCostsTenTimeoutsAGateAndComesBack) {
    plc.dead = true;
    for (int gate = 0; gate < 8; ++gate) {
        log.Clear();
        const uint64_t start = Fake().NowMs();
        EXPECT_EQ(Run(kSingleRead, kWord), kDriverFailure);
        EXPECT_EQ(Fake().NowMs() - start, 10u * kTimeoutMs) << "gate " << gate;
        ASSERT_EQ(log.Lines().size(), 11u) << log.Dump();
        EXPECT_EQ(log.Lines()[9],
                  (LogLine{kLevelError, "JYNMB> DoRead() Read reply error (len=0), retry 10"}));
    }
    plc.dead = false;
    EXPECT_EQ(Run(kSingleRead, kD200), kOk) << log.Dump();
    EXPECT_EQ(ValueAt(2), 0x2222);
}

// A reply of the gate's own shape spoilt on the line, from a station that
// owed nothing, can only be this request's answer: the retry is the gate's
// own request again, and the next gate needs no resynchronising read.
TEST_F(Ordered, ASpoiltReplyCostsNoResynchronisingRead) {
    bool spoil = true;
    Fake().onWrite = [&](FakeDevice& line, const Bytes& written) {
        if (spoil && !written.empty() && written[0] == kENQ) {
            spoil = false;
            line.Arrive(WithBadSum(DataReply("01FF1111")), 5);
            return;
        }
        plc.Take(line, written);
    };
    EXPECT_EQ(Run(kSingleRead, kWord), kOk);
    EXPECT_EQ(Run(kSingleRead, kD200), kOk);
    EXPECT_EQ(ValueAt(2), 0x2222);
    EXPECT_EQ(plc.taken, 2);
}

}  // namespace
}  // namespace jyn::testing
