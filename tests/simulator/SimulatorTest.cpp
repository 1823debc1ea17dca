// The simulator as a client sees it: raw bytes over loopback TCP and over a pseudo-terminal.
#include "simulator/MeterSimulator.h"

#include "protocol/QZ2Commands.h"
#include "tests/support/TcpListener.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace qz {
namespace {

TDateTime FixedNow() {
    TDateTime t = 0;
    TryEncodeDateTime({2026, 12, 7, 21, 0, 4, 0}, t);
    return t;
}

TSimOptions Options(int model = 0) {
    TSimOptions o;
    o.ModelIndex = model;
    o.ListenPort = 0;
    o.Clock = &FixedNow;
    return o;
}

std::vector<uint8_t> Request(const TQZ2_CustomCmd& cmd) {
    size_t size = 0;
    TBufferPtr f = cmd.BuildRequest(size);
    return {f.get(), f.get() + size};
}

// A byte-level client over a file descriptor (socket or terminal).
class TRawClient {
public:
    explicit TRawClient(uint16_t port) : FFd(test::LoopbackConnect(port)) {}
    explicit TRawClient(int fd, bool) : FFd(fd) {}
    ~TRawClient() {
        if (FFd >= 0) close(FFd);
    }
    bool Ok() const { return FFd >= 0; }
    void Send(const std::vector<uint8_t>& b) {
        size_t done = 0;
        while (done < b.size()) {
            const ssize_t n = write(FFd, b.data() + done, b.size() - done);
            ASSERT_GT(n, 0);
            done += static_cast<size_t>(n);
        }
    }
    // Reads until `count` bytes arrived, the peer closed, or `ms` passed without data.
    std::vector<uint8_t> Recv(size_t count, int ms = 3000) {
        std::vector<uint8_t> out;
        uint8_t buf[8192];
        while (out.size() < count) {
            pollfd p{FFd, POLLIN, 0};
            if (poll(&p, 1, ms) <= 0) break;
            const ssize_t n = read(FFd, buf, std::min(sizeof buf, count - out.size()));
            if (n <= 0) {
                FClosed = true;
                break;
            }
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }
    bool Closed() const { return FClosed; }
    int Fd() const { return FFd; }

private:
    int FFd = -1;
    bool FClosed = false;
};

TEST(Simulator, AnswersARawClientByteExactly) {
    TMeterSimulator sim(Options());
    std::string err;
    ASSERT_TRUE(sim.Start(&err)) << err;
    ASSERT_NE(sim.port(), 0);
    TRawClient c(sim.port());
    ASSERT_TRUE(c.Ok());

    const std::vector<uint8_t> req = Request(TQZ2_TimeParamsCmd(4, 1));
    const auto expected = sim.Responder().Answer(req);
    ASSERT_TRUE(expected);
    // Stray bytes before a request are skipped by the meter.
    std::vector<uint8_t> withJunk = {0xAA, 0x00, 0x55};
    withJunk.insert(withJunk.end(), req.begin(), req.end());
    c.Send(withJunk);
    EXPECT_EQ(c.Recv(69), *expected);

    // Another address, another device code, a spoiled check byte: no answer at all.
    c.Send(Request(TQZ2_TimeParamsCmd(4, 2)));
    c.Send(Request(TQZ2_TimeParamsCmd(20, 1)));
    std::vector<uint8_t> bad = req;
    bad.back() ^= 0xFF;
    c.Send(bad);
    EXPECT_TRUE(c.Recv(1, 200).empty());

    // The whole record arrives and checks out.
    TQZ2_Archive3secCmd rec(4, 1);
    c.Send(Request(rec));
    const std::vector<uint8_t> a = c.Recv(1627);
    ASSERT_EQ(a.size(), 1627u);
    EXPECT_TRUE(KavrenFrameCheckOk(a.data(), a.size()));
    EXPECT_EQ(a[6], 27);
    EXPECT_EQ(GetU16(a.data() + 4), 1602);
    EXPECT_EQ(a[14], 0x21) << "hour of the record's end";
    EXPECT_EQ(a[16], 0x03) << "second 4 rounds down to 3";
    EXPECT_EQ(sim.RequestCount(), 2u) << "frames for other meters are not requests to this one";
    EXPECT_EQ(sim.AnswerCount(), 2u);
}

TEST(Simulator, ServesSeveralClientsWithoutBlockingEachOther) {
    TMeterSimulator sim(Options(1));
    ASSERT_TRUE(sim.Start());
    const std::vector<uint8_t> req = Request(TQZ2_TimeParamsCmd(4, 1));
    TRawClient slow(sim.port());
    slow.Send(std::vector<uint8_t>(req.begin(), req.begin() + 10)); // stalls mid-request

    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([&] {
            TRawClient c(sim.port());
            for (int i = 0; i < 5; ++i) {
                c.Send(req);
                const auto a = c.Recv(69);
                if (a.size() == 69 && KavrenFrameCheckOk(a.data(), a.size())) ++good;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(good.load(), 20);
    slow.Send(std::vector<uint8_t>(req.begin() + 10, req.end()));
    EXPECT_EQ(slow.Recv(69).size(), 69u) << "the stalled client is served once complete";
    EXPECT_EQ(sim.ConnectionCount(), 5u);
}

TEST(Simulator, FaultGarbageAndBadCheck) {
    TSimOptions o = Options();
    o.Faults.GarbageBytes = 7;
    o.Faults.BadCheckEvery = 2;
    TMeterSimulator sim(o);
    ASSERT_TRUE(sim.Start());
    TRawClient c(sim.port());
    const std::vector<uint8_t> req = Request(TQZ2_TimeParamsCmd(4, 1));
    for (int k = 1; k <= 4; ++k) {
        c.Send(req);
        const auto a = c.Recv(7 + 69);
        ASSERT_EQ(a.size(), 76u);
        EXPECT_EQ(a[7 + 6], 15);
        EXPECT_EQ(KavrenFrameCheckOk(a.data() + 7, 69), k % 2 == 1) << k;
    }
}

TEST(Simulator, FaultStatusAndSignalStatus) {
    TSimOptions o = Options(1);
    o.Faults.ForceSignalStatus = 4;
    TMeterSimulator sim(o);
    ASSERT_TRUE(sim.Start());
    TRawClient c(sim.port());
    c.Send(Request(TQZ2_SignalTrendCmd(4, 1, 0xFF, 2)));
    auto a = c.Recv(25);
    ASSERT_EQ(a.size(), 25u);
    EXPECT_EQ(GetU16(a.data() + 22), 4);
    c.Send(Request(TQZ2_ScaleKoeffsCmd(4, 1)));
    a = c.Recv(37);
    ASSERT_EQ(a.size(), 37u);
    EXPECT_EQ(GetU16(a.data() + 22), 0);

    TSimOptions all = Options();
    all.Faults.ForceStatus = 16;
    TMeterSimulator sim2(all);
    ASSERT_TRUE(sim2.Start());
    TRawClient d(sim2.port());
    d.Send(Request(TQZ2_ScaleKoeffsCmd(4, 1)));
    a = d.Recv(37, 300);
    ASSERT_EQ(a.size(), 25u);
    EXPECT_EQ(GetU16(a.data() + 22), 16);
}

TEST(Simulator, FaultSilenceAndClose) {
    const std::vector<uint8_t> req = Request(TQZ2_TimeParamsCmd(4, 1));
    TSimOptions o = Options();
    o.Faults.SilentAfter = 1;
    TMeterSimulator sim(o);
    ASSERT_TRUE(sim.Start());
    {
        TRawClient c(sim.port());
        c.Send(req);
        EXPECT_EQ(c.Recv(69).size(), 69u);
        c.Send(req);
        EXPECT_TRUE(c.Recv(1, 300).empty());
        EXPECT_FALSE(c.Closed());
    }
    // Counted per connection: a new one is answered again.
    TRawClient again(sim.port());
    again.Send(req);
    EXPECT_EQ(again.Recv(69).size(), 69u);

    TSimOptions k = Options();
    k.Faults.CloseAfter = 2;
    TMeterSimulator sim2(k);
    ASSERT_TRUE(sim2.Start());
    TRawClient c(sim2.port());
    c.Send(req);
    EXPECT_EQ(c.Recv(69).size(), 69u);
    c.Send(req);
    EXPECT_EQ(c.Recv(69).size(), 69u);
    EXPECT_TRUE(c.Recv(1).empty());
    EXPECT_TRUE(c.Closed()) << "closed after the second answer";
}

TEST(Simulator, FaultLineSpeedPacesTheAnswer) {
    TSimOptions o = Options();
    o.Faults.Baud = 2400; // 69 bytes * 10 bits = about 290 ms
    TMeterSimulator sim(o);
    ASSERT_TRUE(sim.Start());
    TRawClient c(sim.port());
    const auto t0 = std::chrono::steady_clock::now();
    c.Send(Request(TQZ2_TimeParamsCmd(4, 1)));
    EXPECT_EQ(c.Recv(69).size(), 69u);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_GE(ms, 200);
}

TEST(Simulator, StopsWhileAPeerDoesNotRead) {
    TMeterSimulator sim(Options(1));
    ASSERT_TRUE(sim.Start());
    // A small fixed receive buffer on our side: the meter's answers pile up in its own send
    // buffer (at most a few MiB), far less than the batch asks for.
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(sim.port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    TRawClient c(fd, true);
    std::vector<uint8_t> many;
    const auto req = Request(TQZ2_SignalTrendCmd(4, 1, 0xFF, 5)); // 8 KiB answers
    const size_t batch = 1500;                                    // 12 MiB of answers
    for (size_t i = 0; i < batch; ++i)
        many.insert(many.end(), req.begin(), req.end());
    c.Send(many);
    // Wait until the meter is busy with the batch, then stop it in the middle of it.
    for (int i = 0; i < 500 && sim.AnswerCount() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GT(sim.AnswerCount(), 0u);
    sim.Stop();
    EXPECT_LT(sim.AnswerCount(), batch) << "the stop did not end the batch";
    const uint64_t answered = sim.AnswerCount();
    // What was sent can still be read; then the connection is closed, and nothing more came.
    while (!c.Closed() && !c.Recv(1 << 20, 2000).empty()) {
    }
    EXPECT_TRUE(c.Closed());
    EXPECT_EQ(sim.AnswerCount(), answered);
    sim.Stop(); // twice is harmless
}

TEST(Simulator, StartFailsOnAPortInUse) {
    TMeterSimulator first(Options());
    ASSERT_TRUE(first.Start());
    TSimOptions o = Options();
    o.ListenPort = first.port();
    TMeterSimulator second(o);
    std::string err;
    EXPECT_FALSE(second.Start(&err));
    EXPECT_FALSE(err.empty());
}

TEST(Simulator, LogsRequestsAndAnswers) {
    const std::string path = ::testing::TempDir() + "qzsim_test.log";
    std::remove(path.c_str());
    {
        TSimOptions o = Options();
        o.LogFile = path;
        TMeterSimulator sim(o);
        ASSERT_TRUE(sim.Start());
        TRawClient c(sim.port());
        c.Send(Request(TQZ2_TimeParamsCmd(4, 1)));
        EXPECT_EQ(c.Recv(69).size(), 69u);
    }
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("<- 00 00 00 00 00 00 0F 01 01 00 04 00"), std::string::npos) << text;
    EXPECT_NE(text.find("-> 00 00 00 00 2C 00 0F 01"), std::string::npos) << text;
    std::remove(path.c_str());
}

TEST(Simulator, ServesAPseudoTerminal) {
    const std::string link = ::testing::TempDir() + "qzsim_pty_test";
    TSimOptions o = Options(3);
    o.PtyLink = link;
    TMeterSimulator sim(o);
    std::string err;
    ASSERT_TRUE(sim.Start(&err)) << err;
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(sim.PtyPath(), target);
    {
        const int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
        TRawClient c(fd, true);
        const std::vector<uint8_t> req = Request(TQZ2_TimeParamsCmd(20, 1));
        c.Send(req);
        const auto a = c.Recv(69);
        ASSERT_EQ(a.size(), 69u);
        EXPECT_EQ(a, *sim.Responder().Answer(req));
    }
    sim.Stop();
    EXPECT_NE(access(link.c_str(), F_OK), 0) << "link removed on stop";

    // A plain file at the link path is never replaced.
    { std::ofstream(link) << "keep"; }
    TMeterSimulator again(o);
    EXPECT_FALSE(again.Start(&err));
    EXPECT_NE(err.find("not a symbolic link"), std::string::npos) << err;
    std::ifstream in(link);
    std::string kept;
    in >> kept;
    EXPECT_EQ(kept, "keep");
    std::remove(link.c_str());
}

} // namespace
} // namespace qz
