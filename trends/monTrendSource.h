// Where the trends window takes its samples from: the journal of the current recording, a
// journal file opened later, or (in tests and the demo) samples kept in memory.
#pragma once

#include "trends/monTrendQuantity.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qz {

// Samples in time order. A source that is being recorded grows at its end only and may let go
// of its oldest samples; readers may ask from any thread, while the writer appends.
//
// Positions number the samples in the order they were appended, from 0; a sample keeps its
// position when older ones are let go, so that a reader can follow a source by positions.
class ITrendSource {
public:
    virtual ~ITrendSource() = default;
    // Samples held now.
    virtual size_t Count() const = 0;
    // The position after the newest sample: the number of samples ever appended.
    virtual size_t End() const { return Count(); }
    // The most samples held at once; older ones are let go (0: no limit).
    virtual size_t Capacity() const { return 0; }
    // Times of the first and the last sample; false while there is none.
    virtual bool Span(TDateTime& first, TDateTime& last) const = 0;
    // Appends to `out` the samples with from <= Time <= to, in time order; returns how many.
    virtual size_t ReadRange(TDateTime from, TDateTime to,
                             std::vector<TTrendSample>& out) const = 0;
    // Appends to `out` the samples held at positions position .. position + max - 1 (those let
    // go are skipped), in order; returns how many.
    virtual size_t ReadFrom(size_t position, size_t max, std::vector<TTrendSample>& out) const = 0;
    // Whether samples may still be appended (the current recording), or the file is closed.
    virtual bool Live() const = 0;
    // Takes what the source's file gained since it was read (a journal another program is
    // still recording); true when samples were added. Sources filled by their owner have
    // nothing to take.
    virtual bool Refresh() { return false; }
    // A name for the window's caption: the journal file, or what the samples are.
    virtual std::string Name() const = 0;
    // The meter's settings the samples were measured with, for the limit lines: a journal
    // keeps them; samples without them leave `out` alone and answer false.
    virtual bool SettingsInForce(TmonSettings& out) const {
        (void)out;
        return false;
    }
    // The stretches in which the meter was not read, in the order they began (a journal keeps
    // them; samples in memory have none unless told).
    virtual std::vector<TTrendOutage> Outages() const { return {}; }
    // What the operator should know about the samples before trusting them (a journal whose
    // recording was not finished); "" for nothing.
    virtual std::string Notice() const { return ""; }
};

// The samples a live poll keeps for the trends window: eight days of 3-second records (some
// 25 MB). The journal keeps every record; the window shows the newest days of a longer poll.
constexpr size_t kmonTrendLiveSamples = 8 * 24 * 1200;

// Samples held in memory, safe to append from one thread while others read.
class TmonTrendMemorySource : public ITrendSource {
public:
    // `capacity`: the most samples held, the oldest let go first (0: no limit).
    explicit TmonTrendMemorySource(std::string name = "", bool live = true, size_t capacity = 0);
    // A sample older than the last one is refused (false): a trend never runs backwards in
    // time, and the readers rely on the order.
    bool Append(const TTrendSample& s);
    void SetLive(bool live);
    // An outage begins (or, with the same Began as the last one, gets its end).
    void AddOutage(const TTrendOutage& o);
    void SetOutages(std::vector<TTrendOutage> outages);
    void SetNotice(std::string notice);

    size_t Count() const override;
    size_t End() const override;
    size_t Capacity() const override { return FCapacity; }
    bool Span(TDateTime& first, TDateTime& last) const override;
    size_t ReadRange(TDateTime from, TDateTime to, std::vector<TTrendSample>& out) const override;
    size_t ReadFrom(size_t position, size_t max, std::vector<TTrendSample>& out) const override;
    bool Live() const override;
    std::string Name() const override;
    std::vector<TTrendOutage> Outages() const override;
    std::string Notice() const override;

private:
    mutable std::mutex FLock;
    std::deque<TTrendSample> FSamples;
    size_t FDropped = 0; // position of FSamples.front()
    const size_t FCapacity;
    std::string FName;
    bool FLive;
    std::vector<TTrendOutage> FOutages;
    std::string FNotice;
};

// How far the opening of a file has come: the opener fills it from its own thread while the
// window shows it, and stops early when asked to.
struct TTrendLoadProgress {
    std::atomic<int64_t> Done{0};
    std::atomic<int64_t> Total{0}; // 0 while not known
    std::atomic<bool> Cancel{false};
};

// The text an opener gives when it stopped because it was asked to.
extern const char* const kmonTrendLoadCancelled;

// Opening a journal file as a source, for the window's "open a file" command. The program
// gives the window the journal's opener; without one (null) opening a file ends with the error
// below. `progress` may be null.
using TTrendFileOpener = std::unique_ptr<ITrendSource> (*)(const std::string& path,
                                                           std::string& error,
                                                           TTrendLoadProgress* progress);
// Opens `path` through `opener`. Null with `error` set when there is no opener or it fails; an
// opener that returns null without a text gets a generic one naming the file.
std::unique_ptr<ITrendSource> OpenTrendFile(TTrendFileOpener opener, const std::string& path,
                                            std::string& error,
                                            TTrendLoadProgress* progress = nullptr);

// Writing the power-quality protocol (a PDF) of a journal file over meter times from..to, for
// the window's "Протокол…". The program gives it beside the opener; null: the window offers no
// protocol. False with the operator's text in `error`; `progress` may be null.
using TTrendProtocolWriter = bool (*)(const std::string& journal, TDateTime from, TDateTime to,
                                      const std::string& pdf, std::string& error,
                                      TTrendLoadProgress* progress);

// Opens a file on a thread of its own, so that a week's journal does not stop the window.
// Destroying it asks the opener to stop and waits for the thread.
class TmonTrendFileLoad {
public:
    TmonTrendFileLoad(std::string path, TTrendFileOpener opener);
    ~TmonTrendFileLoad();
    TmonTrendFileLoad(const TmonTrendFileLoad&) = delete;
    TmonTrendFileLoad& operator=(const TmonTrendFileLoad&) = delete;

    const std::string& Path() const { return FPath; }
    // Share of the records read, 0..1 (0 while the total is not known).
    double Fraction() const;
    void Cancel() { FProgress.Cancel = true; }
    bool Finished() const { return FFinished.load(); }
    // After Finished(): the opened source, or null with the opener's text in `error`. Once.
    std::unique_ptr<ITrendSource> Take(std::string& error);

private:
    const std::string FPath;
    TTrendLoadProgress FProgress;
    std::atomic<bool> FFinished{false};
    std::unique_ptr<ITrendSource> FResult;
    std::string FError;
    std::thread FThread;
};

} // namespace qz
