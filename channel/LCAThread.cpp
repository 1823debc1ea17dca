#include "channel/LCAThread.h"

#include "channel/LCAObject.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace qz {
namespace {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

std::string WithText(const char* format, const std::string& text) {
    std::string s = format;
    const auto pos = s.find("%s");
    if (pos != std::string::npos) s.replace(pos, 2, text);
    return s;
}

std::string WithNumber(const char* format, long value) {
    return WithText(format, std::to_string(value));
}

std::atomic<uint32_t> gDumpLimit{kLCADefaultDumpLimit};
std::atomic<uint8_t> gAddedLogMask{0};

// The classes a channel opened with `mask` reports now.
uint8_t EffectiveMask(uint8_t mask) {
    return uint8_t(mask | gAddedLogMask.load(std::memory_order_relaxed));
}

std::string HexDump(const uint8_t* data, uint32_t count) {
    static const char kHex[] = "0123456789ABCDEF";
    const uint32_t limit = gDumpLimit.load(std::memory_order_relaxed);
    const uint32_t n = limit == 0 || count < limit ? count : limit;
    std::string out;
    out.reserve(n * 3);
    for (uint32_t i = 0; i < n; ++i) {
        out += kHex[data[i] >> 4];
        out += kHex[data[i] & 15];
        out += ' ';
    }
    return out;
}

} // namespace

void LCASetDumpLimit(uint32_t bytes) {
    gDumpLimit.store(bytes, std::memory_order_relaxed);
}

uint32_t LCADumpLimit() {
    return gDumpLimit.load(std::memory_order_relaxed);
}

void LCASetAddedLogMask(uint8_t mask) {
    gAddedLogMask.store(mask, std::memory_order_relaxed);
}

uint8_t LCAAddedLogMask() {
    return gAddedLogMask.load(std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------------------------
// TLCAPerform

TLCAPerform::~TLCAPerform() {
    if (Line && Line->ConnectingChannel == this) Line->AbortConnect();
    FinishCommand(true);
    if (Line) {
        if (Line->HoldingChannel == this) Line->HoldingChannel = nullptr;
        if (Line->ConnectedChannel == this) Line->ConnectedChannel = nullptr;
    }
}

void TLCAPerform::FinishCommand(bool cancel) {
    TEvent* event = nullptr;
    if (Command) {
        event = Command->Event;
        // Only the holder's task can have I/O in flight on the line's blocks; cancelling for
        // any other channel would abort the holder's transfer.
        const bool running = Command->State != TLCACommand::stWaiting;
        if (cancel && Line && Line->HoldingChannel == this && running) {
            Line->WriteOverlapped.Cancel();
            Line->ReadOverlapped.Cancel();
            if (Line->PCA) Line->PCA->CancelIO();
        }
        Command.reset();
    }
    AttemptCount = 0;
    if (event) event->Set();
}

// ---------------------------------------------------------------------------------------------
// TPhysicoLine

TPhysicoLine::TPhysicoLine(TLCAThread* thread, int32_t serial) : Thread(thread), Serial(serial) {
    TimerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    Tags[enWrite] = {this, enWrite};
    Tags[enRead] = {this, enRead};
    Tags[enTimer] = {this, enTimer};
    Tags[enConnect] = {this, enConnect};
    // The loop handles a transfer's end as soon as Advance reports it; the blocks need not
    // set their flags for that (only a transfer that fails to start sets one by hand).
    WriteOverlapped.SetQuietCompletion(true);
    ReadOverlapped.SetQuietCompletion(true);
}

TPhysicoLine::~TPhysicoLine() {
    // Channels first: their tasks end (clients wake) while the physical channel still exists.
    while (!Channels.empty())
        Channels.pop_back();
    AbortConnect();
    PCA.reset();
    if (Registered && Thread) {
        Thread->EpollSet(WriteOverlapped.WaitFd(), 0, nullptr, false);
        Thread->EpollSet(ReadOverlapped.WaitFd(), 0, nullptr, false);
        Thread->EpollSet(TimerFd, 0, nullptr, false);
    }
    if (TimerFd >= 0) close(TimerFd);
}

int TPhysicoLine::IndexOf(const TLCAPerform* channel) const {
    for (size_t i = 0; i < Channels.size(); ++i)
        if (Channels[i].get() == channel) return int(i);
    return -1;
}

TLCAPerform* TPhysicoLine::AddChannel(const TLCAParams& params, int32_t& error) {
    error = 1;
    if (!PCA) {
        std::unique_ptr<TPCACustom> pca = CreatePCA(params.Pca);
        if (!pca) return nullptr;
        if (pca->Handle() == -1) {
            error = pca->LastError();
            return nullptr;
        }
        PCA = std::move(pca);
        PCA->SetProgressProc([this](const std::string& text) { Thread->PostProgress(this, text); });
    }
    ++NextId;
    auto channel = std::make_unique<TLCAPerform>(params);
    channel->Line = this;
    channel->LineHandle = Serial;
    channel->Id = NextId;
    Channels.push_back(std::move(channel));
    error = 0;
    return Channels.back().get();
}

void TPhysicoLine::RemoveChannel(TLCAPerform* channel) {
    const int i = IndexOf(channel);
    if (i < 0) return;
    // Destroy while it is still in the list, so its task ends as the line's channel.
    std::unique_ptr<TLCAPerform> owned = std::move(Channels[size_t(i)]);
    owned.reset();
    Channels.erase(Channels.begin() + i);
}

TLCAPerform* TPhysicoLine::FindWaiting(int threshold, size_t start) {
    const TLCAPerform* r = ConnectedChannel;
    TLCAPerform* best = nullptr;
    const size_t n = Channels.size();
    for (size_t k = 0; k < n; ++k) {
        TLCAPerform* c = Channels[(start + k) % n].get();
        if (c == r || c->Params.Priority <= threshold) continue;
        if (!c->Command || c->Command->State != TLCACommand::stWaiting) continue;
        if (!best || c->Params.Priority > best->Params.Priority) best = c;
    }
    return best;
}

TLCAPerform* TPhysicoLine::SelectNext() {
    if (HoldingChannel) return HoldingChannel;
    TLCAPerform* r = ConnectedChannel;
    const int p = r ? r->Params.Priority : 0;
    const int idx = r ? IndexOf(r) : 0;
    const size_t s = idx < 0 ? 0 : size_t(idx);
    if (TLCAPerform* c = FindWaiting(p, s)) return c;
    if (r && r->PriorityLock) return r;
    for (int t = p - 1; t >= 0; --t)
        if (TLCAPerform* c = FindWaiting(t, s)) return c;
    return r;
}

void TPhysicoLine::ConnectAttempts(TLCAPerform* channel) {
    ConnectingChannel = channel;
    // The first pass makes the first attempt, or fails at once when none is left.
    AfterConnectStep(TPCACustom::ConnectFailed, {});
}

void TPhysicoLine::AfterConnectStep(int result, const TPCACustom::TConnectWait& wait) {
    TLCAPerform* c = ConnectingChannel;
    TPCACustom::TConnectWait w = wait;
    for (;;) {
        if (result == TPCACustom::ConnectPending) {
            Watch(w);
            return;
        }
        if (result == TPCACustom::ConnectDone) {
            DisarmTimer();
            ConnectingChannel = nullptr;
            Connected = true;
            ConnectedChannel = c;
            c->EverConnected = true;
            Thread->Log("Соединение установлено.", lcaLogConnect, c->Handle());
            if (c->Command) HoldingChannel = c;
            StartIO();
            return;
        }
        // No pause between attempts.
        if (c->AttemptCount >= int32_t(c->Params.MaxAttemptCountOnConnect)) {
            DisarmTimer();
            ConnectingChannel = nullptr;
            ConnectFailed(c);
            return;
        }
        ++c->AttemptCount;
        if (c->EverConnected) ++c->Reconnects;
        result = PCA->BeginConnect(w);
    }
}

void TPhysicoLine::ConnectFailed(TLCAPerform* c) {
    c->LastError = PCA->LastError() != 0 ? PCA->LastError() : 22;
    Thread->Log(WithText("Соединение не установлено: %s", LCAErrorText(c->LastError)),
                lcaLogConnect, c->Handle());
    c->FinishCommand(true);
    HoldingChannel = nullptr;
    ConnectedChannel = nullptr;
}

void TPhysicoLine::Watch(const TPCACustom::TConnectWait& w) {
    if (w.Fd >= 0) {
        Thread->EpollSet(w.Fd, w.Events, &Tags[enConnect], true);
        ConnectFd = w.Fd;
        ArmedMask |= 1u << enConnect;
    }
    if (w.TimeoutMs >= 0)
        ArmTimer(uint32_t(w.TimeoutMs));
    else if (w.TimeoutMs != TPCACustom::KeepTimeout)
        DisarmTimer();
}

void TPhysicoLine::Unwatch() {
    // Before the channel may close the descriptor: a closed one cannot be taken out.
    if (ConnectFd >= 0) Thread->EpollSet(ConnectFd, 0, nullptr, false);
    ConnectFd = -1;
    ArmedMask &= ~(1u << enConnect);
}

void TPhysicoLine::AbortConnect() {
    if (!ConnectingChannel) return;
    Unwatch();
    DisarmTimer();
    if (PCA) PCA->AbortConnect();
    Thread->DeliverProgress(); // the helper has ended: what it did up to the abort
    ConnectingChannel = nullptr;
    Connected = false;
}

void TPhysicoLine::LogProgress(const std::string& text) const {
    // Steps are told from places that cannot let an exception through (a hang-up in the
    // channel's destructor): a callback that throws loses the step, not the process.
    try {
        Thread->LogMasked(text, lcaLogConnect, ProgressHandle, ProgressMask);
    } catch (...) {
    }
}

void TPhysicoLine::Serve() {
    if (ConnectingChannel) return; // the connect goes on in OnReady
    TLCAPerform* c = SelectNext();
    if (!c) {
        HoldingChannel = nullptr;
        ConnectedChannel = nullptr;
        return;
    }
    const bool needed =
        (c != ConnectedChannel && PCA->NeedReconnect(c->Params.Pca)) || (!Connected && c->Command);
    if (needed) {
        ProgressHandle = c->Handle();
        ProgressMask = c->Params.LogMask;
        Thread->Log("Соединение...", lcaLogConnect, c->Handle());
        Connected = false;
        if (PCA->SetParams(c->Params.Pca) != 0) {
            ConnectFailed(c);
            return;
        }
        ConnectAttempts(c); // connected, failed, or under way
        return;
    }
    if (c->Command) HoldingChannel = c;
    StartIO();
}

void TPhysicoLine::ArmTimer(uint32_t ms) {
    itimerspec spec{};
    spec.it_value.tv_sec = time_t(ms / 1000);
    spec.it_value.tv_nsec = long(ms % 1000) * 1000000L;
    // A zero value would disarm the timer; a zero time-out must expire at once instead.
    if (ms == 0) spec.it_value.tv_nsec = 1;
    timerfd_settime(TimerFd, 0, &spec, nullptr);
    TimerArmed = true;
}

void TPhysicoLine::DisarmTimer() {
    if (!TimerArmed) return;
    itimerspec spec{};
    timerfd_settime(TimerFd, 0, &spec, nullptr); // also clears an expiry not yet read
    TimerArmed = false;
}

void TPhysicoLine::StartIO() {
    TLCAPerform* h = HoldingChannel;
    if (!h || !h->Command) return;
    h->LastError = 0;
    TLCACommand& k = *h->Command;
    if (k.State != TLCACommand::stWaiting) return;
    int result;
    uint32_t moved = 0;
    if (k.Direction == 0)
        result = PCA->Write(k.Buffer, k.Count, &WriteOverlapped, moved);
    else if (k.Direction == 1)
        result = PCA->Read(k.Buffer, k.Count, kInfinite, &ReadOverlapped, moved);
    else
        return;
    if (result == -1) {
        k.State = TLCACommand::stFailedToStart;
        Block(k.Direction).Signal();
        return;
    }
    k.State = k.Direction == 0 ? TLCACommand::stWriting : TLCACommand::stReading;
    // A write usually goes out at once and an answer may already be waiting: finish such a
    // transfer now instead of after another turn of the wait, without arming its time-out.
    // The line is then served again before the worker waits (the task may have ended, or
    // must reconnect and start anew).
    if (Block(k.Direction).Advance()) {
        HandleSignal(k.Direction == 0 ? enWrite : enRead);
        Thread->ServeAgain = true;
        return;
    }
    ArmTimer(k.TimeoutMs);
}

void TPhysicoLine::AbortCurrent() {
    TLCAPerform* h = HoldingChannel;
    if (h && h->Command) {
        h->LastError = lcaErrAborted;
        Thread->Log(WithText("Задание не выполнено: %s", LCAErrorText(lcaErrAborted)), lcaLogTask,
                    h->Handle());
        h->FinishCommand(true);
    }
    HoldingChannel = nullptr;
}

void TPhysicoLine::OnReady(Entry entry) {
    if (ConnectingChannel && (entry == enConnect || entry == enTimer)) {
        bool timedOut = false;
        if (entry == enTimer) {
            uint64_t expirations = 0;
            if (read(TimerFd, &expirations, sizeof expirations) != sizeof expirations) return;
            timedOut = true;
        }
        Unwatch();
        TPCACustom::TConnectWait w;
        const int result = PCA->ContinueConnect(timedOut, w);
        Thread->DeliverProgress(); // the attempt's steps before its outcome
        AfterConnectStep(result, w);
        return;
    }
    if (entry == enConnect) return; // a connect that has ended since
    if (entry == enTimer) {
        uint64_t expirations = 0;
        // Nothing to read: the timer was re-armed after it became ready; not an expiry.
        if (read(TimerFd, &expirations, sizeof expirations) != sizeof expirations) return;
        HandleSignal(enTimer);
        return;
    }
    TLCAPerform* h = HoldingChannel;
    if (!h || !h->Command) return;
    if (h->Command->State == TLCACommand::stFailedToStart || Block(uint8_t(entry)).Advance())
        HandleSignal(entry);
}

void TPhysicoLine::HandleSignal(Entry entry) {
    if (entry != enTimer) Block(uint8_t(entry)).ResetEvent();
    TLCAPerform* h = HoldingChannel;
    if (!h || !h->Command) return;
    TLCACommand& k = *h->Command;
    bool cancel = false;
    if (entry == enTimer) {
        *k.DoneRef = 0;
        h->LastError = 5;
        Thread->Log(WithText("Задание не выполнено: %s", LCAErrorText(5)), lcaLogError,
                    h->Handle());
        cancel = true;
    } else {
        uint32_t n = 0;
        if (k.State != TLCACommand::stFailedToStart && !Block(uint8_t(entry)).GetResult(n)) n = 0;
        *k.DoneRef = n;
        if (n == 0) {
            // The connection is taken as lost: reconnect on the next pass and run the same
            // task again, within the channel's remaining connection attempts.
            Connected = false;
            h->LastError = 22;
            PCA->Disconnect();
            k.State = TLCACommand::stWaiting;
            DisarmTimer();
            Thread->Log(LCAErrorText(h->LastError), lcaLogError, h->Handle());
        } else {
            h->AttemptCount = 0;
            Thread->Log(WithNumber(k.Direction == 0 ? "Задание выполнено. Отправлено %s байт"
                                                    : "Задание выполнено. Принято %s байт",
                                   long(n)),
                        lcaLogTask, h->Handle());
            if (EffectiveMask(h->Params.LogMask) & lcaLogDump)
                Thread->Log(HexDump(k.Buffer, n), lcaLogDump, h->Handle());
        }
    }
    if (k.State != TLCACommand::stWaiting) {
        DisarmTimer();
        h->FinishCommand(cancel);
    }
}

void TPhysicoLine::UpdateWaitSet() {
    uint32_t want = 0;
    const TLCAPerform* h = HoldingChannel;
    if (h && h->Command && h->Command->State != TLCACommand::stWaiting) {
        if (h->Command->Direction == 0) want |= 1u << enWrite;
        if (h->Command->Direction == 1) want |= 1u << enRead;
        if (h->Command->State != TLCACommand::stFailedToStart) want |= 1u << enTimer;
    }
    if (ConnectingChannel) want |= 1u << enTimer; // a pause or a connect time-out
    if (!Registered) {
        Thread->EpollSet(WriteOverlapped.WaitFd(), 0, &Tags[enWrite], true);
        Thread->EpollSet(ReadOverlapped.WaitFd(), 0, &Tags[enRead], true);
        Thread->EpollSet(TimerFd, 0, &Tags[enTimer], true);
        Registered = true;
        ArmedMask &= 1u << enConnect;
    }
    const int fds[3] = {WriteOverlapped.WaitFd(), ReadOverlapped.WaitFd(), TimerFd};
    for (int e = 0; e < 3; ++e) {
        const uint32_t bit = 1u << e;
        if ((want ^ ArmedMask) & bit)
            Thread->EpollSet(fds[e], (want & bit) ? uint32_t(EPOLLIN) : 0u, &Tags[e], false);
    }
    ArmedMask = want | (ArmedMask & (1u << enConnect)); // the connect's own entry stays
}

// ---------------------------------------------------------------------------------------------
// TLCAThread

TLCAThread::TLCAThread(TLCALogProc logProc) : LogProc(std::move(logProc)) {
    EpollFd = epoll_create1(EPOLL_CLOEXEC);
    WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = nullptr;
    epoll_ctl(EpollFd, EPOLL_CTL_ADD, WakeFd, &ev);
    Thread = std::thread([this] { Body(); });
    WorkerId = Thread.get_id();
    try {
        Log("Модуль логических каналов доступа инициализирован.", lcaLogOpenClose,
            kModuleLCAHandle);
    } catch (...) {
        // The callback's failure is its own; the module runs without that message.
    }
}

TLCAThread::~TLCAThread() {
    Stop();
    Lines.clear();
    try {
        Log("Модуль логических каналов доступа закрыт.", lcaLogOpenClose, kModuleLCAHandle);
    } catch (...) {
        // A log callback that throws must not take the process down with the module.
    }
    if (WakeFd >= 0) close(WakeFd);
    if (EpollFd >= 0) close(EpollFd);
}

void TLCAThread::Stop() {
    std::lock_guard<std::mutex> lock(StopMutex);
    if (!Thread.joinable()) return;
    PostRequest(lcaReqStop, nullptr);
    Thread.join();
}

void TLCAThread::EpollSet(int fd, uint32_t events, void* tag, bool add) {
    if (fd < 0) return;
    epoll_event ev{};
    ev.events = events;
    ev.data.ptr = tag;
    if (!tag && !add) {
        epoll_ctl(EpollFd, EPOLL_CTL_DEL, fd, &ev);
        return;
    }
    epoll_ctl(EpollFd, add ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &ev);
}

void TLCAThread::PostRequest(int32_t kind, TLCARequest* request) {
    {
        std::lock_guard<std::mutex> lock(QueueMutex);
        if (!Accepting) {
            if (request) {
                request->Result = 2;
                if (request->Event) request->Event->Set();
            }
            return;
        }
        Queue.push_back({kind, request});
    }
    const uint64_t one = 1;
    ssize_t w;
    do {
        w = write(WakeFd, &one, sizeof one);
    } while (w < 0 && errno == EINTR);
}

int32_t TLCAThread::RequestAndWait(int32_t kind, TLCAHandle& handle, void* data) {
    // A request from the worker's own thread (e.g. from the log callback) could never be
    // answered; refuse it instead of waiting forever.
    if (std::this_thread::get_id() == WorkerId) return 2;
    TEvent done(true, false);
    TLCARequest request;
    request.Event = &done;
    request.Handle = handle;
    request.Result = 0;
    request.Data = data;
    PostRequest(kind, &request);
    done.Wait(-1);
    handle = request.Handle;
    return request.Result;
}

int32_t TLCAThread::Transfer(uint8_t direction, void* buffer, uint32_t timeoutMs, TEvent* event,
                             uint32_t& done, uint32_t count, TLCAHandle handle) {
    std::unique_ptr<TEvent> own;
    if (!event) {
        own = std::make_unique<TEvent>(false, false);
        event = own.get();
    }
    event->Reset();
    done = 0;
    auto* task = new TLCACommand;
    task->Direction = direction;
    task->State = TLCACommand::stWaiting;
    task->Buffer = static_cast<uint8_t*>(buffer);
    task->Count = count;
    task->Event = event;
    task->DoneRef = &done;
    task->TimeoutMs = timeoutMs;
    TLCAHandle h = handle;
    if (own) {
        if (std::this_thread::get_id() == WorkerId) {
            delete task;
            return 2;
        }
        TLCARequest request;
        request.Event = event;
        request.Handle = handle;
        request.Data = task;
        request.WakeOnTaskEnd = true;
        PostRequest(lcaReqTask, &request);
        event->Wait(-1);
        if (request.Result != 0) {
            delete task; // a refused task stays the client's
            return request.Result;
        }
        if (done != 0) return 0;
        return RequestAndWait(lcaReqLastError, h, nullptr);
    }
    const int32_t result = RequestAndWait(lcaReqTask, h, task);
    if (result != 0) {
        delete task; // a refused task stays the client's
        return result;
    }
    return 0;
}

void TLCAThread::Body() {
    epoll_event events[64];
    try {
        while (!Terminated) {
            do {
                ServeAgain = false;
                for (auto& line : Lines)
                    line->Serve();
            } while (ServeAgain);
            for (auto& line : Lines)
                line->UpdateWaitSet();
            const int n = epoll_wait(EpollFd, events, 64, -1);
            if (n < 0) {
                if (errno == EINTR) continue;
                break;
            }
            bool requests = false;
            for (int i = 0; i < n; ++i)
                if (events[i].data.ptr == nullptr) requests = true;
            if (requests) {
                uint64_t count;
                while (read(WakeFd, &count, sizeof count) > 0) {
                }
                DeliverProgress();
                std::deque<Item> batch;
                {
                    std::lock_guard<std::mutex> lock(QueueMutex);
                    batch.swap(Queue);
                }
                for (const Item& item : batch)
                    HandleItem(item);
                continue; // completions are level-triggered: they come again next pass
            }
            // One signalled entry per line and pass: after it the line is served again before
            // anything else of it is looked at.
            std::vector<const TPhysicoLine*> handled;
            for (int i = 0; i < n && !Terminated; ++i) {
                auto* tag = static_cast<TPhysicoLine::Tag*>(events[i].data.ptr);
                TPhysicoLine* line = tag->Line;
                if (!(line->ArmedMask & (1u << tag->Which))) continue;
                bool seen = false;
                for (const TPhysicoLine* l : handled)
                    seen = seen || l == line;
                if (seen) continue;
                handled.push_back(line);
                line->OnReady(tag->Which);
            }
        }
    } catch (...) {
        // The loop ends; its clients are released below.
    }
    EndEverything();
}

void TLCAThread::EndEverything() {
    std::deque<Item> rest;
    {
        std::lock_guard<std::mutex> lock(QueueMutex);
        Accepting = false;
        rest.swap(Queue);
    }
    for (const Item& item : rest) {
        if (item.Request) {
            item.Request->Result = 2;
            if (item.Request->Event) item.Request->Event->Set();
        }
    }
    // A client in a transfer waits for its task: end them all now, not when the lines go.
    // A synchronous transfer then asks for the last error and gets 2 like any later call.
    for (auto& line : Lines) {
        for (auto& channel : line->Channels) {
            if (!channel->Command) continue;
            channel->LastError = 2;
            TEvent* event = channel->Command->Event;
            try {
                channel->FinishCommand(true);
            } catch (...) {
                channel->Command.reset();
                if (event) event->Set(); // the client is released in any case
            }
        }
    }
}

void TLCAThread::HandleItem(const Item& item) {
    if (!item.Request) {
        if (item.Kind == lcaReqStop) Terminated = true;
        return;
    }
    TLCARequest& request = *item.Request;
    try {
        HandleRequest(item.Kind, request);
    } catch (...) {
        if (request.Result == 0) request.Result = 1;
    }
    // The client is released whatever happened, except a synchronous transfer whose task was
    // registered: the end of the task releases it.
    if (!(request.WakeOnTaskEnd && item.Kind == lcaReqTask && request.Result == 0))
        request.Event->Set();
}

void TLCAThread::HandleRequest(int32_t kind, TLCARequest& request) {
    switch (kind) {
    case lcaReqOpen: {
        const auto* params = static_cast<const TLCAParams*>(request.Data);
        if (!params) {
            request.Result = lcaErrBadBuffer;
            request.Handle = kInvalidLCAHandle;
            return;
        }
        int32_t error = 0;
        request.Handle = OpenPerform(*params, error);
        request.Result = error;
        if (!request.Handle.IsValid())
            Log(WithText("Ошибка открытия логического канала: %s", LCAErrorText(error)),
                lcaLogError, kInvalidLCAHandle);
        else
            Log("Логический канал открыт.", lcaLogOpenClose, request.Handle);
        return;
    }
    case lcaReqLastError: {
        const TLCAPerform* p = FindPerform(request.Handle);
        request.Result = p ? p->LastError : 3;
        return;
    }
    case lcaReqClose: {
        // The channel is gone once closed: its mask is taken first, or its close would
        // never be logged.
        const TLCAPerform* closing = FindPerform(request.Handle);
        const uint8_t mask = closing ? closing->Params.LogMask : 0;
        request.Result = ClosePerform(request.Handle);
        if (request.Result == 0)
            LogMasked("Логический канал закрыт.", lcaLogOpenClose, request.Handle, mask);
        else
            Log(WithText("Ошибка закрытия логического канала: %s", LCAErrorText(request.Result)),
                lcaLogError, request.Handle);
        return;
    }
    case lcaReqTask: {
        auto* task = static_cast<TLCACommand*>(request.Data);
        if (!task) {
            request.Result = lcaErrBadBuffer;
            return;
        }
        request.Result = RegisterTask(task, request.Handle);
        if (request.Result == 0) {
            const char* what = task->Direction == 0   ? "запись"
                               : task->Direction == 1 ? "чтение"
                                                      : "No name";
            Log(WithText("Задание логическому каналу принято на выполнение (%s).", what),
                lcaLogTask, request.Handle);
        } else {
            Log(WithText("Ошибка регистрации задания: %s", LCAErrorText(request.Result)),
                lcaLogError, request.Handle);
        }
        return;
    }
    case lcaReqReleaseLock:
        request.Result = ReleaseLock(request.Handle);
        if (request.Result == 0)
            Log("Блокировка логического канала снята.", lcaLogTask, request.Handle);
        else
            Log(WithText("Ошибка при снятии блокировки: %s", LCAErrorText(request.Result)),
                lcaLogError, request.Handle);
        return;
    case lcaReqPriority: {
        TLCAPerform* p = FindPerform(request.Handle);
        const auto* value = static_cast<const uint8_t*>(request.Data);
        if (p && value) {
            p->Params.Priority = *value;
            request.Result = 0;
            Log(WithNumber("Установлен приоритет на логическом канале (%s).", *value), lcaLogTask,
                request.Handle);
        } else {
            request.Result = p ? lcaErrBadBuffer : 3;
            Log(WithText("Приоритет на логическом канале не установлен: %s",
                         LCAErrorText(request.Result)),
                lcaLogError, request.Handle);
        }
        return;
    }
    case lcaReqPriorityLock: {
        TLCAPerform* p = FindPerform(request.Handle);
        const auto* value = static_cast<const uint8_t*>(request.Data);
        if (p && value) {
            p->PriorityLock = *value != 0;
            request.Result = 0;
            Log(WithText("%s блокировка по приоритету на логическом канале.",
                         p->PriorityLock ? "Установлена" : "Снята"),
                lcaLogTask, request.Handle);
        } else {
            request.Result = p ? lcaErrBadBuffer : 3;
            Log(WithText("Операция с блокировкой по приоритету не выполнена: %s",
                         LCAErrorText(request.Result)),
                lcaLogError, request.Handle);
        }
        return;
    }
    case lcaReqCheckDevice: {
        TLCAPerform* p = FindPerform(request.Handle);
        // A line that connects belongs to its connect until it is done.
        if (p && p->Line && p->Line->IsConnecting())
            request.Result = pcaNoDevice;
        else
            request.Result = (p && p->Line && p->Line->PCA) ? p->Line->PCA->CheckDevice() : 3;
        return;
    }
    case lcaReqReconnects: {
        const TLCAPerform* p = FindPerform(request.Handle);
        auto* count = static_cast<uint32_t*>(request.Data);
        request.Result = !p ? 3 : !count ? lcaErrBadBuffer : 0;
        if (request.Result == 0) *count = p->Reconnects;
        return;
    }
    case lcaReqCancel: {
        TLCAPerform* p = FindPerform(request.Handle);
        if (!p) {
            request.Result = 3;
            return;
        }
        p->Cancelled = true;
        TPhysicoLine* line = p->Line;
        if (line->ConnectingChannel == p) line->AbortConnect();
        if (line->HoldingChannel == p) {
            line->AbortCurrent(); // its transfer is cancelled, the line released
        } else if (p->Command) {
            p->LastError = lcaErrAborted;
            Log(WithText("Задание не выполнено: %s", LCAErrorText(lcaErrAborted)), lcaLogTask,
                request.Handle);
            p->FinishCommand(false); // not started: no transfer of its own to cancel
        }
        request.Result = 0;
        return;
    }
    default:
        request.Result = 0;
        return;
    }
}

TLCAPerform* TLCAThread::FindPerform(TLCAHandle handle) const {
    for (const auto& line : Lines)
        for (const auto& c : line->Channels)
            if (c->Handle() == handle) return c.get();
    return nullptr;
}

TPhysicoLine* TLCAThread::FindLine(const TLCAParams& params) const {
    for (const auto& line : Lines)
        if (line->PCA && line->PCA->IsSameChannel(params.Pca)) return line.get();
    return nullptr;
}

TLCAHandle TLCAThread::OpenPerform(const TLCAParams& params, int32_t& error) {
    TPhysicoLine* line = FindLine(params);
    TLCAPerform* channel = nullptr;
    if (line) {
        channel = line->AddChannel(params, error);
    } else {
        // A line that fails to open uses up its number all the same: numbers only grow.
        auto fresh = std::make_unique<TPhysicoLine>(this, ++LastLineSerial);
        channel = fresh->AddChannel(params, error);
        if (channel) Lines.push_back(std::move(fresh));
    }
    return channel ? channel->Handle() : kInvalidLCAHandle;
}

int32_t TLCAThread::ClosePerform(TLCAHandle handle) {
    TLCAPerform* channel = FindPerform(handle);
    if (!channel) return 3;
    TPhysicoLine* line = channel->Line;
    line->RemoveChannel(channel);
    if (line->Channels.empty()) {
        for (size_t i = 0; i < Lines.size(); ++i) {
            if (Lines[i].get() == line) {
                // Out of the list first: its hang-up is logged while it goes, and the list
                // must be whole then.
                std::unique_ptr<TPhysicoLine> gone = std::move(Lines[i]);
                Lines.erase(Lines.begin() + long(i));
                gone.reset();
                break;
            }
        }
    }
    return 0;
}

int32_t TLCAThread::ReleaseLock(TLCAHandle handle) {
    TLCAPerform* channel = FindPerform(handle);
    if (!channel) return 3;
    TPhysicoLine* line = channel->Line;
    if (line->ConnectingChannel == channel) {
        // The line is being connected for this channel's task: it is as good as held by it,
        // and a release aborts that task as it would once it runs.
        line->AbortConnect();
        line->HoldingChannel = channel;
    }
    if (line->HoldingChannel != channel) return lcaErrBadLockHandle;
    line->AbortCurrent();
    return 0;
}

int32_t TLCAThread::RegisterTask(TLCACommand* task, TLCAHandle handle) {
    TLCAPerform* channel = FindPerform(handle);
    if (!channel) return 3;
    if (!task->Buffer) return lcaErrBadBuffer;
    if (!task->Event) return lcaErrBadEvent;
    if (channel->Command) {
        channel->LastError = lcaErrTaskExists;
        return lcaErrTaskExists;
    }
    if (channel->Cancelled) {
        channel->LastError = lcaErrAborted;
        return lcaErrAborted;
    }
    channel->Command.reset(task);
    return 0;
}

void TLCAThread::LogMasked(const std::string& text, uint8_t msgClass, TLCAHandle handle,
                           uint8_t mask) const {
    if (LogProc && (EffectiveMask(mask) & msgClass) == msgClass) LogProc(text, msgClass, handle);
}

void TLCAThread::PostProgress(TPhysicoLine* line, const std::string& text) {
    if (std::this_thread::get_id() == WorkerId) {
        DeliverProgress();
        line->LogProgress(text);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(ProgressMutex);
        ProgressQueue.emplace_back(line->Serial, text);
    }
    const uint64_t one = 1;
    ssize_t w;
    do {
        w = write(WakeFd, &one, sizeof one);
    } while (w < 0 && errno == EINTR);
}

void TLCAThread::DeliverProgress() {
    // Only the worker logs, and only it may look at the lines (a line's channel also ends
    // its connect on the thread that frees the module, while the lines are being freed).
    if (std::this_thread::get_id() != WorkerId) return;
    std::deque<std::pair<int32_t, std::string>> batch;
    {
        std::lock_guard<std::mutex> lock(ProgressMutex);
        batch.swap(ProgressQueue);
    }
    for (const auto& step : batch)
        for (const auto& line : Lines)
            if (line && line->Serial == step.first) line->LogProgress(step.second);
}

void TLCAThread::Log(const std::string& text, uint8_t msgClass, TLCAHandle handle) const {
    if (!LogProc) return;
    if (handle != kModuleLCAHandle) {
        const TLCAPerform* p = FindPerform(handle);
        if (!p || (EffectiveMask(p->Params.LogMask) & msgClass) != msgClass) return;
    }
    LogProc(text, msgClass, handle);
}

} // namespace qz
