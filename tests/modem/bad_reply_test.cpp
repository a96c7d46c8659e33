// What the module sends is untrusted: replies longer than the buffer, zero bytes, noise at a
// wrong rate. The buffers here are exactly as large as the capacity passed, so an overrun
// shows up under the address sanitizer.
#include <gtest/gtest.h>

#include <vector>

#include "modem/modem_link.h"

namespace kestrel::test {
namespace {

std::string letters(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s.push_back(static_cast<char>('a' + i % 26));
    return s;
}

struct Exact {
    int result;
    std::string text;
    size_t writes;
};
// sendAtCommand into a heap buffer of exactly `capacity` bytes.
Exact sendExact(ModemLink& link, const char* command, unsigned capacity) {
    std::vector<char> buffer(capacity, 'J');
    const int result = sendAtCommand(command, buffer.data(), capacity);
    return {result, std::string(buffer.data()), link.writes().size()};
}

TEST(LongReply, IsCutAtCapacityLessOneAndTheByteAtTheLimitIsLost) {
    ModemLink link(silentModule());
    const std::string flood = letters(400);
    link.moduleSends(flood, 60);  // back to back: no gap ends the collection
    const Exact r = sendExact(link, "AT\r", kReplyCapacity);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.text, flood.substr(0, 259));
    EXPECT_EQ(r.writes, 1u);
    EXPECT_EQ(link.leftInPort(), flood.substr(260));
}

TEST(LongReply, MarkerMustFitBeforeTheLimit) {
    for (size_t filler : {255u, 256u, 300u}) {
        ModemLink link(silentModule());
        link.moduleSends(letters(filler) + "OK\r\n", 60);
        const Exact r = sendExact(link, "AT\r", kReplyCapacity);
        EXPECT_EQ(r.result, filler == 255 ? 1 : 0) << filler;
        EXPECT_EQ(r.text.size(), 259u) << filler;
    }
}

TEST(LongReply, SmallestCapacityHoldsOneByte) {
    ModemLink link(silentModule());
    link.moduleSends("OK\r\n", 60);
    const Exact r = sendExact(link, "AT\r", 2);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.text, "O");
    EXPECT_EQ(escaped(link.leftInPort()), "\\r\\n");  // "K" went at the limit
}

TEST(LongReply, ProbeBufferHolds1999Bytes) {
    struct Case {
        size_t filler;
        int result;
    } cases[] = {{1995, 1}, {1996, 0}, {2996, 0}};
    for (const Case& c : cases) {
        ModemLink link(silentModule());
        link.moduleSends(letters(c.filler) + "OK\r\n", 1);  // after the probe's purge
        EXPECT_EQ(probeAtMode(), c.result) << c.filler;
    }
}

TEST(ZeroBytes, AReplyOfZeroBytesIsAnEmptyFailedReplyWithoutASecondSend) {
    ModemLink link(silentModule());
    link.moduleSends(std::string("\0\0\0OK\r\n", 7), 60);
    const Exact r = sendExact(link, "AT\r", kReplyCapacity);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.text, "");
    EXPECT_EQ(r.writes, 1u);  // a reply began, so the command is not repeated
    EXPECT_EQ(link.leftInPort(), "");
}

TEST(ZeroBytes, ZeroRightAfterTheWholeEchoIsReplyNotMoreEcho) {
    // Echo matching ends with the command's last character; the zero behind it is reply.
    sim::ModuleConfig c;
    c.replyFor = {{"AT", std::string("\0OK\r\n", 5)}};
    ModemLink link(c);
    const Exact r = sendExact(link, "AT\r", kReplyCapacity);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.text, "");
    EXPECT_EQ(r.writes, 1u);
}

TEST(WrongRate, NoiseIsAReplyWithoutTheMarker) {
    ModemLink link(moduleAt(57600), 115200);
    const Exact r = sendExact(link, "AT+IPR?\r", kReplyCapacity);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.writes, 1u);
    // The module echoes what it heard as noise; the host hears that as noise again.
    ASSERT_EQ(r.text.size(), 8u);
    for (char c : r.text)
        EXPECT_NE(c & 0x80, 0);
    EXPECT_EQ(probeAtMode(), 0);
}

}  // namespace
}  // namespace kestrel::test
