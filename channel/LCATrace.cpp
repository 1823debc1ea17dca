#include "channel/LCATrace.h"

#include "common/SystemErrorText.h"

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace qz {

struct TLCATrace::TState {
    struct TItem {
        TTraceEntry Entry;
        uint64_t DroppedBefore = 0; // messages lost just before this one
    };
    struct TPendingDump {
        TTraceDirection Direction;
        uint32_t Moved;
    };

    TSink Sink;
    uint8_t Mask = 0;
    size_t Capacity = 0;
    std::function<std::chrono::system_clock::time_point()> Clock;
    std::string Started; // the first line

    mutable std::mutex Mutex;
    std::condition_variable Wake;
    std::deque<TItem> Queue;
    bool Closed = false;     // Stop was asked: nothing more is taken
    uint64_t DroppedNow = 0; // since the last message that found room
    uint64_t DroppedTotal = 0;
    std::string Error; // the first failed write
    // Per channel: what the last finished task moved, for the dump that follows it.
    std::map<std::pair<int32_t, int32_t>, TPendingDump> Pending;

    void Take(const std::string& text, uint8_t msgClass, TLCAHandle handle);
};

void TLCATrace::TState::Take(const std::string& text, uint8_t msgClass, TLCAHandle handle) {
    const auto now = Clock();
    const bool wanted = msgClass != 0 && (msgClass & Mask) == msgClass;
    if (!wanted && msgClass != lcaLogTask) return;
    TTraceDirection direction = TTraceDirection::Unknown;
    uint32_t moved = 0;
    const bool taskDone =
        msgClass == lcaLogTask && (Mask & lcaLogDump) && TraceTaskDone(text, direction, moved);
    if (!wanted && !taskDone) return;

    std::lock_guard<std::mutex> lock(Mutex);
    if (Closed) return;
    const auto key = std::make_pair(handle.Id, handle.LineHandle);
    if (taskDone) Pending[key] = {direction, moved};
    if (!wanted) return;
    TItem item;
    item.Entry.Time = now;
    item.Entry.Class = msgClass;
    item.Entry.Handle = handle;
    if (msgClass == lcaLogDump) {
        const auto it = Pending.find(key);
        if (it != Pending.end()) {
            item.Entry.Direction = it->second.Direction;
            item.Entry.Moved = it->second.Moved;
            Pending.erase(it);
        }
    }
    if (Queue.size() >= Capacity) {
        ++DroppedNow;
        ++DroppedTotal;
        return;
    }
    item.Entry.Text = text;
    item.DroppedBefore = DroppedNow;
    DroppedNow = 0;
    Queue.push_back(std::move(item));
    if (Queue.size() == 1) Wake.notify_one();
}

namespace {

// The file a trace writes, rotated when it reaches its size limit.
class TTraceFile {
public:
    using TClock = std::function<std::chrono::system_clock::time_point()>;
    TTraceFile(FILE* file, std::string path, uint64_t maxBytes, TClock clock)
        : File(file), Path(std::move(path)), Clock(std::move(clock)) {
        struct stat st {};
        // Only a regular file can be renamed and begun anew; a terminal, a pipe or a device
        // is written as it comes.
        if (maxBytes && file != stderr && fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode)) {
            MaxBytes = maxBytes;
            Size = uint64_t(st.st_size);
        }
    }
    ~TTraceFile() {
        if (File && File != stderr) std::fclose(File);
    }
    TTraceFile(const TTraceFile&) = delete;
    TTraceFile& operator=(const TTraceFile&) = delete;

    bool Write(const std::vector<std::string>& lines) {
        bool ok = true;
        for (const auto& line : lines) {
            if (MaxBytes && Size >= MaxBytes && !Capped) ok = Rotate() && ok;
            if (Capped || !File) continue;
            ok = Put(line) && ok;
        }
        return (!File || std::fflush(File) == 0) && ok;
    }

private:
    bool Put(const std::string& line) {
        Size += line.size() + 1;
        return std::fputs(line.c_str(), File) >= 0 && std::fputc('\n', File) != EOF;
    }
    std::string Stamp() const { return FormatTraceTime(Clock()) + " TRACE - "; }

    bool Rotate() {
        const std::string older = Path + ".1";
        const std::string limit = std::to_string(MaxBytes) + " байт";
        if (std::rename(Path.c_str(), older.c_str()) != 0) {
            // The folder does not let the file be renamed: the trace stops growing here.
            Capped = true;
            const std::string why = SystemErrorText(errno);
            return Put(Stamp() + "файл трассировки достиг " + limit + " и не переименован (" + why +
                       "): дальнейшие строки не записываются");
        }
        bool ok =
            Put(Stamp() + "файл трассировки достиг " + limit + ", эта часть переименована в " +
                SanitizeTraceText(older) + "; продолжение в " + SanitizeTraceText(Path));
        ok = std::fclose(File) == 0 && ok;
        File = nullptr;
        Size = 0;
        const int fd =
            ::open(Path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 && !(File = fdopen(fd, "a"))) ::close(fd);
        if (!File) {
            Capped = true;
            return false;
        }
        return Put(Stamp() + "продолжение трассировки; предыдущая часть в " +
                   SanitizeTraceText(older) + " (более ранние части удалены)") &&
               ok;
    }

    FILE* File;
    std::string Path;
    TClock Clock;
    uint64_t MaxBytes = 0; // 0: not rotated
    uint64_t Size = 0;
    bool Capped = false;
};

} // namespace

std::unique_ptr<TLCATrace> TLCATrace::Open(const std::string& path, uint8_t mask,
                                           std::string& error, TLCATraceOptions options) {
    FILE* opened = stderr;
    if (path != "-") {
        // Opened without waiting: a named pipe nobody reads is refused at once (ENXIO)
        // instead of holding up the start; the writes themselves may then wait.
        const int fd = path.empty()
                           ? -1
                           : ::open(path.c_str(),
                                    O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
        FILE* f = nullptr;
        if (fd >= 0) {
            const int flags = fcntl(fd, F_GETFL);
            if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0 ||
                !(f = fdopen(fd, "a"))) {
                const int err = errno;
                ::close(fd);
                errno = err;
            }
        }
        if (!f) {
            const int err = path.empty() ? ENOENT : errno;
            error = "Не удалось открыть файл трассировки \"" + SanitizeTraceText(path) +
                    "\": " + SystemErrorText(err);
            return nullptr;
        }
        opened = f;
    }
    TTraceFile::TClock clock = options.Clock;
    if (!clock) clock = [] { return std::chrono::system_clock::now(); };
    auto file = std::make_shared<TTraceFile>(opened, path, options.MaxFileBytes, std::move(clock));
    auto sink = [file](const std::vector<std::string>& lines) { return file->Write(lines); };
    return std::make_unique<TLCATrace>(std::move(sink), mask, std::move(options));
}

TLCATrace::TLCATrace(TSink sink, uint8_t mask, TLCATraceOptions options)
    : state_(std::make_shared<TState>()), mask_(mask) {
    state_->Sink = std::move(sink);
    state_->Mask = mask;
    state_->Capacity = options.Capacity ? options.Capacity : 1;
    state_->Clock =
        options.Clock ? std::move(options.Clock) : [] { return std::chrono::system_clock::now(); };
    state_->Started = FormatTraceTime(state_->Clock()) + " TRACE - трассировка начата, маска " +
                      std::to_string(mask);
    writer_ = std::thread([this] { Run(); });
}

TLCATrace::~TLCATrace() {
    Stop();
}

TLCALogProc TLCATrace::LogProc() const {
    std::shared_ptr<TState> state = state_;
    return [state](const std::string& text, uint8_t msgClass, TLCAHandle handle) {
        state->Take(text, msgClass, handle);
    };
}

uint8_t TLCATrace::ChannelLogMask() const {
    return (mask_ & lcaLogDump) ? uint8_t(mask_ | lcaLogTask) : mask_;
}

void TLCATrace::Run() {
    TState& s = *state_;
    std::vector<std::string> lines;
    auto flush = [&s, &lines] {
        if (!s.Sink(lines)) {
            const int err = errno;
            std::lock_guard<std::mutex> lock(s.Mutex);
            if (s.Error.empty())
                s.Error = "Ошибка записи в файл трассировки: " + SystemErrorText(err);
        }
        lines.clear();
    };
    // The first line is stamped when the trace was made, before any message could be.
    lines.push_back(s.Started);
    flush();
    while (true) {
        std::deque<TState::TItem> batch;
        bool closing;
        {
            std::unique_lock<std::mutex> lock(s.Mutex);
            s.Wake.wait(lock, [&s] { return !s.Queue.empty() || s.Closed; });
            batch.swap(s.Queue);
            closing = s.Closed;
        }
        for (const auto& item : batch) {
            if (item.DroppedBefore)
                lines.push_back(FormatTraceDropped(item.Entry.Time, item.DroppedBefore));
            FormatTraceEntry(item.Entry, lines);
        }
        // Closed is set under the lock and nothing is queued after it, so the batch taken
        // with it was the last one.
        if (closing) break;
        flush();
    }
    uint64_t dropped;
    {
        std::lock_guard<std::mutex> lock(s.Mutex);
        dropped = s.DroppedNow;
    }
    const auto now = s.Clock();
    if (dropped) lines.push_back(FormatTraceDropped(now, dropped));
    lines.push_back(FormatTraceTime(now) + " TRACE - трассировка окончена");
    flush();
}

bool TLCATrace::Stop() {
    if (!stopped_) {
        stopped_ = true;
        {
            std::lock_guard<std::mutex> lock(state_->Mutex);
            state_->Closed = true;
        }
        state_->Wake.notify_one();
        if (writer_.joinable()) writer_.join();
        std::lock_guard<std::mutex> lock(state_->Mutex);
        ok_ = state_->Error.empty();
        // The file closes with the last reference to the sink; a callback still held by the
        // module keeps the state but never writes again.
        state_->Sink = nullptr;
    }
    return ok_;
}

std::string TLCATrace::ErrorText() const {
    std::lock_guard<std::mutex> lock(state_->Mutex);
    return state_->Error;
}

uint64_t TLCATrace::Dropped() const {
    std::lock_guard<std::mutex> lock(state_->Mutex);
    return state_->DroppedTotal;
}

} // namespace qz
