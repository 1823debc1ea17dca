// How far a meter's journals have been delivered to the broker, kept in a small file in the
// meter's folder so that a collector started again goes on where it stopped.
#pragma once

#include "common/DateTime.h"

#include <string>

namespace qz {

struct TcolMark {
    TDateTime Record = 0;      // meter time of the last record the broker acknowledged
    TDateTime OutageBegan = 0; // local begin time of the last outage whose begin it has
    TDateTime OutageEnded = 0; // local end time of the last outage whose end it has
    bool operator==(const TcolMark& o) const {
        return Record == o.Record && OutageBegan == o.OutageBegan && OutageEnded == o.OutageEnded;
    }
    bool operator!=(const TcolMark& o) const { return !(*this == o); }
};

// "<folder>/published.mark".
std::string MarkFileName(const std::string& folder);

// An absent file is the mark at the start (true, nothing delivered). A file that cannot be
// read or is damaged gives false with the operator's text; the mark is then the start: the
// journals are delivered again rather than any record skipped.
bool LoadMark(const std::string& fileName, TcolMark& mark, std::string& error);
// Replaces the file atomically and flushes it to the disk (a new file renamed over the old).
bool SaveMark(const std::string& fileName, const TcolMark& mark, std::string& error);
// The text form and its parser (the parser takes any bytes).
std::string MarkText(const TcolMark& mark);
bool ParseMarkText(const std::string& text, TcolMark& mark);

} // namespace qz
