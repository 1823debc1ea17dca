#include "trends/monTrendSource.h"

#include <algorithm>
#include <exception>

namespace qz {

namespace {

bool EarlierThan(const TTrendSample& s, TDateTime t) {
    return s.Time < t;
}
bool TimeBefore(TDateTime t, const TTrendSample& s) {
    return t < s.Time;
}

} // namespace

TmonTrendMemorySource::TmonTrendMemorySource(std::string name, bool live, size_t capacity)
    : FCapacity(capacity), FName(std::move(name)), FLive(live) {}

bool TmonTrendMemorySource::Append(const TTrendSample& s) {
    std::lock_guard<std::mutex> g(FLock);
    if (!(s.Time == s.Time)) return false;
    if (!FSamples.empty() && s.Time < FSamples.back().Time) return false;
    FSamples.push_back(s);
    if (FCapacity && FSamples.size() > FCapacity) {
        FSamples.pop_front();
        ++FDropped;
    }
    return true;
}

void TmonTrendMemorySource::SetLive(bool live) {
    std::lock_guard<std::mutex> g(FLock);
    FLive = live;
}

size_t TmonTrendMemorySource::Count() const {
    std::lock_guard<std::mutex> g(FLock);
    return FSamples.size();
}

size_t TmonTrendMemorySource::End() const {
    std::lock_guard<std::mutex> g(FLock);
    return FDropped + FSamples.size();
}

bool TmonTrendMemorySource::Span(TDateTime& first, TDateTime& last) const {
    std::lock_guard<std::mutex> g(FLock);
    if (FSamples.empty()) return false;
    first = FSamples.front().Time;
    last = FSamples.back().Time;
    return true;
}

size_t TmonTrendMemorySource::ReadRange(TDateTime from, TDateTime to,
                                        std::vector<TTrendSample>& out) const {
    std::lock_guard<std::mutex> g(FLock);
    if (!(from <= to)) return 0;
    auto b = std::lower_bound(FSamples.begin(), FSamples.end(), from, EarlierThan);
    auto e = std::upper_bound(b, FSamples.end(), to, TimeBefore);
    out.insert(out.end(), b, e);
    return size_t(e - b);
}

size_t TmonTrendMemorySource::ReadFrom(size_t position, size_t max,
                                       std::vector<TTrendSample>& out) const {
    std::lock_guard<std::mutex> g(FLock);
    const size_t end = FDropped + FSamples.size();
    // Positions position .. position + max - 1, clipped to those held (without overflowing).
    const size_t last = max > end - std::min(position, end) ? end : position + max;
    const size_t first = std::max(position, FDropped);
    if (first >= last) return 0;
    out.insert(out.end(), FSamples.begin() + long(first - FDropped),
               FSamples.begin() + long(last - FDropped));
    return last - first;
}

bool TmonTrendMemorySource::Live() const {
    std::lock_guard<std::mutex> g(FLock);
    return FLive;
}

std::string TmonTrendMemorySource::Name() const {
    std::lock_guard<std::mutex> g(FLock);
    return FName;
}

void TmonTrendMemorySource::AddOutage(const TTrendOutage& o) {
    std::lock_guard<std::mutex> g(FLock);
    if (!FOutages.empty() && FOutages.back().Began == o.Began)
        FOutages.back() = o;
    else
        FOutages.push_back(o);
}

void TmonTrendMemorySource::SetOutages(std::vector<TTrendOutage> outages) {
    std::lock_guard<std::mutex> g(FLock);
    FOutages = std::move(outages);
}

void TmonTrendMemorySource::SetNotice(std::string notice) {
    std::lock_guard<std::mutex> g(FLock);
    FNotice = std::move(notice);
}

std::vector<TTrendOutage> TmonTrendMemorySource::Outages() const {
    std::lock_guard<std::mutex> g(FLock);
    return FOutages;
}

std::string TmonTrendMemorySource::Notice() const {
    std::lock_guard<std::mutex> g(FLock);
    return FNotice;
}

const char* const kmonTrendLoadCancelled = "Чтение записи прервано";

std::unique_ptr<ITrendSource> OpenTrendFile(TTrendFileOpener opener, const std::string& path,
                                            std::string& error, TTrendLoadProgress* progress) {
    error.clear();
    if (!opener) {
        error = "Открытие файлов записи в этой сборке недоступно: " + path;
        return nullptr;
    }
    std::unique_ptr<ITrendSource> s = opener(path, error, progress);
    if (!s && error.empty()) error = "Не удалось открыть файл записи " + path;
    if (s) error.clear();
    return s;
}

TmonTrendFileLoad::TmonTrendFileLoad(std::string path, TTrendFileOpener opener)
    : FPath(std::move(path)) {
    FThread = std::thread([this, opener] {
        try {
            FResult = OpenTrendFile(opener, FPath, FError, &FProgress);
        } catch (const std::exception& e) {
            // Memory running out on a huge file, say: the window tells the operator.
            FResult.reset();
            FError = "Не удалось открыть файл записи " + FPath + ": " + e.what();
        }
        FFinished = true;
    });
}

TmonTrendFileLoad::~TmonTrendFileLoad() {
    Cancel();
    if (FThread.joinable()) FThread.join();
}

double TmonTrendFileLoad::Fraction() const {
    const int64_t total = FProgress.Total.load(), done = FProgress.Done.load();
    if (total <= 0) return 0;
    return std::clamp(double(done) / double(total), 0.0, 1.0);
}

std::unique_ptr<ITrendSource> TmonTrendFileLoad::Take(std::string& error) {
    error.clear();
    if (!FFinished) {
        error = "Чтение записи ещё не закончено: " + FPath;
        return nullptr;
    }
    if (FThread.joinable()) FThread.join();
    error = FError;
    return std::move(FResult);
}

} // namespace qz
