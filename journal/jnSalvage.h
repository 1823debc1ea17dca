// What is left of a damaged journal, copied into a new one. The damaged file is read page by
// page, not through its tables' trees, so that a lost or broken page costs only the rows it
// held: every table leaf page that can be parsed gives its rows, each row whole or not at all
// (a row whose overflow pages are missing is lost), and the log beside the file, when there is
// one, supplies the newer pages it committed. Rows are told apart by their shape (the number
// and kinds of their columns), and keep their ids, so that each record still names the
// settings and scale answers it was recorded with.
#pragma once

#include "common/DateTime.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qz {

// What was saved of one kind of row and what is known to be lost.
struct TjnSalvageCount {
    int64_t Saved = 0;
    int64_t Missing = 0; // ids between the first and the last saved one that were not found
    int64_t Broken = 0;  // rows found without all of their pages
    int64_t FirstId = 0, LastId = 0;
    TDateTime LastTime = 0; // meter time (answers, records, blocks) or start (outages)
};

struct TjnSalvageReport {
    bool MeterSaved = false;
    bool UsedLog = false; // the log beside the file added its committed pages
    int64_t Pages = 0, UnreadablePages = 0;
    TjnSalvageCount Answers, Records, Waveforms, Outages;
};

// Copies every readable row of `broken` into a new finished journal `target` (never an
// existing file). False with the operator's text when nothing can be saved (no meter row, a
// file that is no journal) or the new journal cannot be written; `report` says what was saved.
bool SalvageJournal(const std::string& broken, const std::string& target, TjnSalvageReport& report,
                    std::string& error);

// The report as the operator reads it, one line per kind of row.
std::string SalvageReportText(const TjnSalvageReport& report, const std::string& target);

} // namespace qz
