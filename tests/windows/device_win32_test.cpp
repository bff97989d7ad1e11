// The Win32 device under the port operations, on real COM ports.
//
// Run by run-with-com-pair.sh: COM1 and COM2 are the two ends of one null-
// modem line (a pair of linked pseudo-terminals). The driver's port is COM1;
// this program plays the far end on COM2 with plain Win32 calls.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "serial/port.h"
#include "tests/support/device_test.h"
#include "tests/windows/under_wine.h"

namespace jyn::testing {
namespace {

using serial::Handle;

// COM2, the other end of the line.
class FarEnd {
public:
    FarEnd() {
        handle_ = CreateFileA("COM2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ != INVALID_HANDLE_VALUE) PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    }
    ~FarEnd() {
        if (Ok()) CloseHandle(handle_);
    }
    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;

    bool Ok() const { return handle_ != INVALID_HANDLE_VALUE; }

    void Send(const std::string& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD written = 0;
            if (!WriteFile(handle_, bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                           &written, nullptr) ||
                written == 0) {
                return;
            }
            done += written;
        }
    }

    // What arrives within `ms`, up to `count` bytes.
    std::string Receive(std::size_t count, DWORD ms) const {
        COMMTIMEOUTS timeouts{};
        timeouts.ReadTotalTimeoutConstant = ms;
        SetCommTimeouts(handle_, &timeouts);
        std::string got(count, '\0');
        DWORD read = 0;
        if (!ReadFile(handle_, &got[0], static_cast<DWORD>(count), &read, nullptr)) read = 0;
        got.resize(read);
        return got;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

class Win32Device : public DeviceTest {
protected:
    void SetUp() override { ASSERT_TRUE(remote.Ok()) << "COM2 must be the far end of COM1"; }
    HANDLE Native() const { return static_cast<HANDLE>(handle); }

    FarEnd remote;
};

// One tick of the system clock (16 ms) may end the wait early.
TEST_F(Win32Device, ReadWithNothingWaitingTakesTheTotalTimeout) {
    ExpectReadWaitsOutItsTimeout("COM1", 16);
}

// A host that configures a reply time-out of 0 must not get a read that
// waits for ever (all-zero read time-outs mean no time-out to a COM port).
TEST_F(Win32Device, AReplyTimeoutOfZeroStillEnds) {
    ASSERT_EQ(Open("COM1"), serial::kPortOk);
    serial::SetReplyTimeout(handle, 0);
    uint8_t buffer[5];
    uint32_t received = 99;
    const auto start = Clock::now();
    EXPECT_EQ(serial::ReadPort(handle, buffer, 5, &received), serial::kPortCallFailed);
    EXPECT_EQ(received, 0u);
    EXPECT_LT(ElapsedMs(start), 1000);
}

TEST_F(Win32Device, BytesInTwoBurstsAreReadWhole) { ExpectBurstsReadWhole("COM1", remote); }

TEST_F(Win32Device, ALateSecondBurstIsReadByTheNextCall) {
    ASSERT_EQ(Open("COM1"), serial::kPortOk);
    serial::SetReplyTimeout(handle, 10);  // 100 ms
    remote.Send("abcd");
    uint8_t buffer[6] = {};
    uint32_t received = 0;
    EXPECT_EQ(serial::ReadPort(handle, buffer, 6, &received), serial::kPortCallFailed);
    EXPECT_EQ(received, 4u) << "what came before the time-out stays";
    EXPECT_EQ(std::string(buffer, buffer + 4), "abcd");
}

TEST_F(Win32Device, WritesReachTheFarEnd) { ExpectWritesReachTheFarEnd("COM1", remote); }

TEST_F(Win32Device, PurgeThrowsAwayStaleInput) { ExpectPurgeThrowsAwayStaleInput("COM1", remote); }

TEST_F(Win32Device, PurgeWithNothingWaitingLeavesTheTimeoutAlone) {
    ASSERT_EQ(Open("COM1"), serial::kPortOk);
    serial::SetReplyTimeout(handle, 37);
    EXPECT_EQ(serial::PurgePort(handle), 0);
    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(Native(), &timeouts));
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 370u);
}

TEST_F(Win32Device, OpenSetsTheTimeoutsOfTheLine) {
    ASSERT_EQ(Open("COM1"), serial::kPortOk);
    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(Native(), &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 0u);
    // 100 units ask for the 1000 ms already set; 5 units then write 50 ms.
    EXPECT_EQ(serial::SetReplyTimeout(handle, 100), 100u);
    EXPECT_EQ(serial::SetReplyTimeout(handle, 5), 100u);
    ASSERT_TRUE(GetCommTimeouts(Native(), &timeouts));
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 50u);
}

struct DcbCase {
    uint16_t baud, bits, stop, parity, flags;
    DWORD dtrControl, rtsControl;
};

const DcbCase kDcbCases[] = {
    {9600, 8, ONESTOPBIT, NOPARITY, 0x0303, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE},
    {19200, 7, TWOSTOPBITS, EVENPARITY, 0x0101, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE},
    {4800, 7, ONESTOPBIT, ODDPARITY, 0x8000, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_DISABLE},
    {38400, 8, ONESTOPBIT, MARKPARITY, 0x1000, DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE},
    {1200, 8, TWOSTOPBITS, SPACEPARITY, 0x3000, DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE},
    {2400, 5, ONESTOPBIT, NOPARITY, 0x0000, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE},
    {9600, 8, ONESTOPBIT, NOPARITY, 0x2000, DTR_CONTROL_DISABLE, RTS_CONTROL_TOGGLE},
};

TEST_F(Win32Device, LineSettingsLandOnTheDevice) {
    const bool wine = UnderWine();
    for (const DcbCase& c : kDcbCases) {
        SCOPED_TRACE(::testing::Message() << c.baud << " baud, line flags " << c.flags);
        if (wine && c.rtsControl == RTS_CONTROL_TOGGLE) {
            // wine's SetCommState refuses RTS_CONTROL_TOGGLE (ERROR_INVALID_PARAMETER).
            continue;
        }
        ASSERT_EQ(Open("COM1", c.baud, c.bits, c.stop, c.parity, c.flags), serial::kPortOk);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(Native(), &dcb));
        EXPECT_EQ(dcb.BaudRate, c.baud);
        EXPECT_EQ(dcb.StopBits, c.stop);
        EXPECT_EQ(dcb.fBinary, 1u);
        EXPECT_EQ(dcb.fOutX, 0u);
        EXPECT_EQ(dcb.fInX, 0u);
        // wine keeps a port's settings in the termios of the device, and a
        // pseudo-terminal's termios always says 8 bits without parity; nor
        // has termios room for parity checking without parity, the error
        // character or the modes of DTR and RTS (wine reports RTS handshake
        // as CTS output flow control). The POSIX device's tests check the
        // termios side of these settings.
        if (!wine) {
            EXPECT_EQ(dcb.ByteSize, c.bits);
            EXPECT_EQ(dcb.Parity, c.parity);
            EXPECT_EQ(dcb.fParity, 1u);
            EXPECT_EQ(static_cast<unsigned char>(dcb.ErrorChar), 0xFC);
            EXPECT_EQ(dcb.fErrorChar, 0u);
            EXPECT_EQ(dcb.fNull, 0u);
            EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
            EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
            EXPECT_EQ(dcb.fDtrControl, c.dtrControl);
            EXPECT_EQ(dcb.fRtsControl, c.rtsControl);
        }
        serial::ClosePort(handle);
        handle = nullptr;
    }
}

TEST_F(Win32Device, SettingsTheLineCannotTakeAreRefused) {
    ExpectRefused("COM1", {{9600, 9, 0, 0}, {9600, 8, 0, 5}});
}

TEST_F(Win32Device, NullDeviceOpensAndReadsNothingAtOnce) { ExpectNullDevice(); }

TEST_F(Win32Device, NamesOfNoDeviceAreNotOpened) {
    for (const char* name : {"COM9", "NOPORT", ""}) {
        EXPECT_EQ(Open(name), serial::kPortOpenFailed) << name;
        EXPECT_EQ(handle, nullptr);
    }
}

TEST_F(Win32Device, SecondOpenOfTheSameDeviceFails) {
    ASSERT_EQ(Open("COM1"), serial::kPortOk);
    Handle second = nullptr;
    char field[kPortNameSize];
    SetName(field, "COM1");
    const int again = serial::OpenPort(field, 9600, 8, 0, 0, 0, second);
    if (again == serial::kPortOk) {
        serial::ClosePort(second);
        if (UnderWine()) {
            GTEST_SKIP() << "wine opens a COM port a second time despite share mode 0; "
                            "Windows refuses it";
        }
    }
    EXPECT_EQ(again, serial::kPortOpenFailed);
    EXPECT_EQ(second, nullptr);
    // Once closed it opens again.
    ASSERT_EQ(serial::ClosePort(handle), serial::kPortOk);
    handle = nullptr;
    EXPECT_EQ(serial::OpenPort(field, 9600, 8, 0, 0, 0, second), serial::kPortOk);
    serial::ClosePort(second);
}

}  // namespace
}  // namespace jyn::testing
