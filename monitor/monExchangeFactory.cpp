#include "monitor/monExchange.h"

#include "exchange/monExchangeThreads.h"

namespace qz {

namespace {

class TThreadExchange : public ImonExchange {
public:
    explicit TThreadExchange(std::unique_ptr<TExchangeThread> t) : FThread(std::move(t)) {}
    void Start() override { FThread->Start(); }
    void Stop() override { FThread->Stop(); }
    bool Finished() const override { return FThread->Finished(); }
    void Join() override { FThread->Join(); }
    std::string GetErrorText() const override { return FThread->GetErrorText(); }
    TLinkStatistics LinkStatistics() const override { return FThread->LinkStatistics(); }
    void SetReconnect(const TmonReconnect& policy) override { FThread->SetReconnect(policy); }

private:
    std::unique_ptr<TExchangeThread> FThread;
};

} // namespace

TmonExchangeFactory MakeRealExchangeFactory() {
    TmonExchangeFactory f;
    f.MakeMain = [](IExchangeListener* l, const TccnConnection* c, TmonSharedStorage* s) {
        return std::unique_ptr<ImonExchange>(
            new TThreadExchange(std::make_unique<TMainExchangeThread>(l, c, s)));
    };
    f.MakeSignal = [](IExchangeListener* l, const TccnConnection* c, TmonSharedStorage* s,
                      TSigExperiment* e) {
        return std::unique_ptr<ImonExchange>(
            new TThreadExchange(std::make_unique<TSignalExchangeThread>(l, c, s, e)));
    };
    return f;
}

} // namespace qz
