// Where the trends window takes its samples from: the journal of the current recording, a
// journal file opened later, or (in tests and the demo) samples kept in memory.
#pragma once

#include "trends/monTrendQuantity.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qz {

// Samples in time order. A source that is being recorded grows at its end only; readers may
// ask from any thread, while the writer appends.
class ITrendSource {
public:
    virtual ~ITrendSource() = default;
    // Samples held now.
    virtual size_t Count() const = 0;
    // Times of the first and the last sample; false while there is none.
    virtual bool Span(TDateTime& first, TDateTime& last) const = 0;
    // Appends to `out` the samples with from <= Time <= to, in time order; returns how many.
    virtual size_t ReadRange(TDateTime from, TDateTime to,
                             std::vector<TTrendSample>& out) const = 0;
    // Appends to `out` up to `max` samples from position `index` on (the way to follow new
    // samples: ask from the count already read); returns how many.
    virtual size_t ReadFrom(size_t index, size_t max, std::vector<TTrendSample>& out) const = 0;
    // Whether samples may still be appended (the current recording), or the file is closed.
    virtual bool Live() const = 0;
    // A name for the window's caption: the journal file, or what the samples are.
    virtual std::string Name() const = 0;
    // The meter's settings the samples were measured with, for the limit lines: a journal
    // keeps them; samples without them leave `out` alone and answer false.
    virtual bool SettingsInForce(TmonSettings& out) const {
        (void)out;
        return false;
    }
};

// Samples held in memory, safe to append from one thread while others read.
class TmonTrendMemorySource : public ITrendSource {
public:
    explicit TmonTrendMemorySource(std::string name = "", bool live = true);
    // A sample older than the last one is refused (false): a trend never runs backwards in
    // time, and the readers rely on the order.
    bool Append(const TTrendSample& s);
    void SetLive(bool live);

    size_t Count() const override;
    bool Span(TDateTime& first, TDateTime& last) const override;
    size_t ReadRange(TDateTime from, TDateTime to, std::vector<TTrendSample>& out) const override;
    size_t ReadFrom(size_t index, size_t max, std::vector<TTrendSample>& out) const override;
    bool Live() const override;
    std::string Name() const override;

private:
    mutable std::mutex FLock;
    std::vector<TTrendSample> FSamples;
    std::string FName;
    bool FLive;
};

// Opening a journal file as a source, for the window's "open a file" command. The journal
// installs its opener here; until it does, the opener is null and opening a file ends with
// the error below.
using TTrendFileOpener = std::unique_ptr<ITrendSource> (*)(const std::string& path,
                                                           std::string& error);
extern TTrendFileOpener TrendFileOpener;
// Opens `path` through the installed opener. Null with `error` set when there is no opener or
// it fails; an opener that returns null without a text gets a generic one naming the file.
std::unique_ptr<ITrendSource> OpenTrendFile(const std::string& path, std::string& error);

} // namespace qz
