#include "trends/monTrendSource.h"

#include <algorithm>

namespace qz {

namespace {

bool EarlierThan(const TTrendSample& s, TDateTime t) {
    return s.Time < t;
}
bool TimeBefore(TDateTime t, const TTrendSample& s) {
    return t < s.Time;
}

} // namespace

TmonTrendMemorySource::TmonTrendMemorySource(std::string name, bool live)
    : FName(std::move(name)), FLive(live) {}

bool TmonTrendMemorySource::Append(const TTrendSample& s) {
    std::lock_guard<std::mutex> g(FLock);
    if (!(s.Time == s.Time)) return false;
    if (!FSamples.empty() && s.Time < FSamples.back().Time) return false;
    FSamples.push_back(s);
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

size_t TmonTrendMemorySource::ReadFrom(size_t index, size_t max,
                                       std::vector<TTrendSample>& out) const {
    std::lock_guard<std::mutex> g(FLock);
    if (index >= FSamples.size()) return 0;
    const size_t n = std::min(max, FSamples.size() - index);
    out.insert(out.end(), FSamples.begin() + long(index), FSamples.begin() + long(index + n));
    return n;
}

bool TmonTrendMemorySource::Live() const {
    std::lock_guard<std::mutex> g(FLock);
    return FLive;
}

std::string TmonTrendMemorySource::Name() const {
    std::lock_guard<std::mutex> g(FLock);
    return FName;
}

TTrendFileOpener TrendFileOpener = nullptr;

std::unique_ptr<ITrendSource> OpenTrendFile(const std::string& path, std::string& error) {
    error.clear();
    if (!TrendFileOpener) {
        error = "Открытие файлов записи в этой сборке недоступно: " + path;
        return nullptr;
    }
    std::unique_ptr<ITrendSource> s = TrendFileOpener(path, error);
    if (!s && error.empty()) error = "Не удалось открыть файл записи " + path;
    if (s) error.clear();
    return s;
}

} // namespace qz
