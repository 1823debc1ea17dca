// Waveform blocks of a journal as IEEE C37.111-1999 files: one configuration file (.cfg) and
// one ASCII data file (.dat) per block, which standard waveform viewers open.
//
// The samples are the stored values of the waveform display (the raw sample times the
// block's channel factor, plus 32768), and each channel's multipliers give the same volts and
// amperes as the snapshot CSV: value = a * sample + b = (32768 - sample) * 2 * k, so
// a = -2k and b = 65536k, k being the display's volts or amperes per sample unit.
//
// The meter does not state its sampling rate. The files assume a number of samples per
// nominal period (64 unless the caller says otherwise) at the nominal frequency, and say so
// in the station name.
#pragma once

#include "common/DateTime.h"
#include "exchange/monStorage.h"
#include "journal/jnJournal.h"
#include "journal/jnSeries.h"

#include <cstdint>
#include <string>

namespace qz {

struct TjnComtradeOptions {
    int SamplesPerPeriod = 64;
};

// The two files of one block. False when the block holds no sample of any channel.
bool FormatComtrade(const TjnMeter& meter, const TmonSettings& settings,
                    const TjnWaveformView& block, const TjnComtradeOptions& options,
                    std::string& cfg, std::string& dat);

// The base name of a block's files: "<factory>_<yymmdd>_<hhmmss>_<id>".
std::string ComtradeBaseName(const TjnMeter& meter, const TjnWaveformView& block);

// Writes the pair of every block with meter times from..to of the journals into `folder`
// (made when it is missing). `written` counts the pairs. False with the operator's text in
// `error`.
bool ExportComtrade(TjnSeries& journals, const std::string& folder, TDateTime from, TDateTime to,
                    const TjnComtradeOptions& options, int64_t& written, std::string& error);

} // namespace qz
