// The life of the exchange threads without a window: started, stopped, retired inside their
// end report and joined once returned; the operator's texts for a refused start; and the close
// that waits for threads caught inside a call to the window.
#include "monitor/monExchangeSession.h"

#include "connection/CcnConnectionList.h"
#include "exchange/monExchangeThreads.h"
#include "monitor/monCallQueue.h"
#include "tests/support/Eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace qz {
namespace {

// A thread that reports a record every millisecond until asked to stop, then its end.
class TFakeExchange : public ImonExchange {
public:
    TFakeExchange(IExchangeListener* l, bool main, std::atomic<int>* joins)
        : FListener(l), FMain(main), FJoins(joins) {}
    ~TFakeExchange() override { EXPECT_FALSE(FThread.joinable()) << "freed unjoined"; }
    void Start() override {
        FThread = std::thread([this] {
            while (!FStop.load()) {
                if (FMain) FListener->OnData3sec();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (FMain)
                FListener->OnExchangeEnd(0, 0);
            else
                FListener->OnSignalEnd(0, 0);
            FFinished = true;
        });
    }
    void Stop() override { FStop = true; }
    bool Finished() const override { return FFinished.load(); }
    void Join() override {
        FThread.join();
        ++*FJoins;
    }
    std::string GetErrorText() const override { return std::string(); }

private:
    IExchangeListener* FListener;
    bool FMain;
    std::atomic<int>* FJoins;
    std::atomic<bool> FStop{false}, FFinished{false};
    std::thread FThread;
};

// The window's part: the threads' reports handed over to this thread, the ends to the session.
struct TSessionFixture : ::testing::Test, IExchangeListener {
    TmonCallQueue Calls;
    TmonSharedStorage Storage;
    std::atomic<int> Made{0}, Joins{0};
    int Records = 0;
    TmonExchangeSession Session{Factory(), this, &Storage};
    TccnConnection Connection;
    // Only passed on to the waveform thread, never read here.
    char ExperimentTag = 0;
    TSigExperiment* const Experiment = reinterpret_cast<TSigExperiment*>(&ExperimentTag);

    TmonExchangeFactory Factory() {
        TmonExchangeFactory f;
        f.MakeMain = [this](IExchangeListener* l, const TccnConnection* c, TmonSharedStorage* s) {
            EXPECT_EQ(c, &Connection);
            EXPECT_EQ(s, &Storage);
            ++Made;
            return std::unique_ptr<ImonExchange>(new TFakeExchange(l, true, &Joins));
        };
        f.MakeSignal = [this](IExchangeListener* l, const TccnConnection*, TmonSharedStorage*,
                              TSigExperiment* e) {
            EXPECT_EQ(e, Experiment);
            ++Made;
            return std::unique_ptr<ImonExchange>(new TFakeExchange(l, false, &Joins));
        };
        return f;
    }
    void OnData3sec() override {
        Calls.Run([this] { ++Records; });
    }
    void OnExchangeEnd(int32_t, int32_t) override {
        Calls.Run([this] { Session.MainEnded(); });
    }
    void OnSignalData(uint8_t, uint8_t) override {}
    void OnSignalEnd(int32_t, int32_t) override {
        Calls.Run([this] { Session.SignalEnded(); });
    }

    template <class F> bool DrainUntil(F done) {
        return test::Eventually([&] {
            Calls.Drain();
            return done();
        });
    }
    void TearDown() override {
        Session.Close();
        Calls.Close();
        Session.WaitForAll([this] { Calls.Drain(); });
    }
};

TEST_F(TSessionFixture, StopEndsBothThreadsWhichAreJoinedOnceReturned) {
    Session.StartMain(&Connection);
    Session.StartSignal(&Connection, Experiment);
    EXPECT_TRUE(Session.MainRunning() && Session.SignalRunning());
    ASSERT_TRUE(DrainUntil([&] { return Records >= 3; }));

    Session.StopMain(); // the waveform thread first
    EXPECT_TRUE(Session.MainStopping());
    EXPECT_TRUE(Session.SignalStopping());
    EXPECT_TRUE(Session.Running()) << "the references stay until the ends are handed in";
    ASSERT_TRUE(DrainUntil([&] { return !Session.Running(); }));
    EXPECT_FALSE(Session.MainStopping());
    EXPECT_FALSE(Session.SignalStopping());
    EXPECT_TRUE(test::Eventually([&] { return !Session.ReapRetired(); }));
    EXPECT_EQ(Joins.load(), 2);

    // Started again, as after a Stop and a Start of the operator.
    Session.StartMain(&Connection);
    EXPECT_EQ(Made.load(), 3);
}

TEST_F(TSessionFixture, RefusedStartsCarryTheOperatorsText) {
    auto text = [](auto f) {
        try {
            f();
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
        return std::string("(no refusal)");
    };
    EXPECT_EQ(text([&] { Session.StartMain(nullptr); }), "Подключение не определено");
    EXPECT_EQ(text([&] { Session.StartSignal(nullptr, Experiment); }), "Подключение не определено");
    Session.StartMain(&Connection);
    Session.StartSignal(&Connection, Experiment);
    EXPECT_EQ(text([&] { Session.StartMain(&Connection); }), "Чтение 3 сек уже осуществляется");
    EXPECT_EQ(text([&] { Session.StartSignal(&Connection, Experiment); }),
              "Чтение формы сигналов уже осуществляется");
    EXPECT_EQ(Made.load(), 2);
}

TEST_F(TSessionFixture, CloseWaitsForAThreadCaughtInsideACallToTheWindow) {
    Session.StartMain(&Connection);
    ASSERT_TRUE(DrainUntil([&] { return Records >= 1; }));
    // The window closes while the thread waits for it to take a record.
    Session.Close();
    Calls.Close();
    Session.WaitForAll([this] { Calls.Drain(); });
    EXPECT_FALSE(Session.Running());
    EXPECT_EQ(Joins.load(), 1);
    Session.StartMain(&Connection); // nothing starts once closed
    EXPECT_EQ(Made.load(), 1);
    EXPECT_FALSE(Session.Running());
}

} // namespace
} // namespace qz
