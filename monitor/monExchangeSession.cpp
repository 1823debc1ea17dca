#include "monitor/monExchangeSession.h"

#include <stdexcept>
#include <thread>

namespace qz {

TmonExchangeSession::TmonExchangeSession(TmonExchangeFactory factory, IExchangeListener* listener,
                                         TmonSharedStorage* storage)
    : FFactory(std::move(factory)), FListener(listener), FStorage(storage) {}

TmonExchangeSession::~TmonExchangeSession() {
    Close();
    WaitForAll([] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); });
}

void TmonExchangeSession::CheckStartMain(const TccnConnection* c) const {
    if (!c) throw std::runtime_error("Подключение не определено");
    if (FMain) throw std::runtime_error("Чтение 3 сек уже осуществляется");
    if (!FFactory.MakeMain) throw std::logic_error("qzmonitor: no exchange threads");
}

void TmonExchangeSession::StartMain(const TccnConnection* c) {
    CheckStartMain(c);
    if (FClosed) return;
    FMain = FFactory.MakeMain(FListener, c, FStorage);
    FMain->SetReconnect(FReconnect);
    FMainStopping = false;
    FMain->Start();
}

void TmonExchangeSession::CheckStartSignal(const TccnConnection* c) const {
    if (!c) throw std::runtime_error("Подключение не определено");
    if (FSignal) throw std::runtime_error("Чтение формы сигналов уже осуществляется");
}

void TmonExchangeSession::StartSignal(const TccnConnection* c, TSigExperiment* experiment) {
    CheckStartSignal(c);
    if (!FFactory.MakeSignal || FClosed) return;
    FSignal = FFactory.MakeSignal(FListener, c, FStorage, experiment);
    FSignal->SetReconnect(FReconnect);
    FSignalStopping = false;
    FSignal->Start();
}

void TmonExchangeSession::StopMain() {
    if (FSignal) StopSignal();
    if (FMain) {
        FMain->Stop();
        FMainStopping = true;
    }
}

void TmonExchangeSession::StopSignal() {
    if (FSignal) {
        FSignal->Stop();
        FSignalStopping = true;
    }
}

void TmonExchangeSession::MainEnded() {
    // The thread is still inside its own end call: it is joined once that has returned.
    if (FMain) FRetired.push_back(std::move(FMain));
    FMainStopping = false;
}

void TmonExchangeSession::SignalEnded() {
    if (FSignal) FRetired.push_back(std::move(FSignal));
    FSignalStopping = false;
}

bool TmonExchangeSession::ReapRetired() {
    for (auto it = FRetired.begin(); it != FRetired.end();) {
        if ((*it)->Finished()) {
            (*it)->Join();
            it = FRetired.erase(it);
        } else {
            ++it;
        }
    }
    return !FRetired.empty();
}

void TmonExchangeSession::Close() {
    FClosed = true;
    if (FSignal) FSignal->Stop();
    if (FMain) FMain->Stop();
}

bool TmonExchangeSession::AllFinished() const {
    for (auto* t : {FMain.get(), FSignal.get()})
        if (t && !t->Finished()) return false;
    for (auto& t : FRetired)
        if (!t->Finished()) return false;
    return true;
}

void TmonExchangeSession::WaitForAll(const std::function<void()>& pump) {
    while (!AllFinished())
        pump();
    for (auto* t : {FMain.get(), FSignal.get()})
        if (t) t->Join();
    for (auto& t : FRetired)
        t->Join();
    FMain.reset();
    FSignal.reset();
    FRetired.clear();
}

} // namespace qz
