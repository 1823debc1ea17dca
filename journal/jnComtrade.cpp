#include "journal/jnComtrade.h"

#include "common/SystemErrorText.h"
#include "exchange/monSignalBlock.h"
#include "journal/jnOutFile.h"
#include "protocol/QZ2Models.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace qz {
namespace {

struct TChannelId {
    int32_t Key;       // channel number in the experiment
    const char* Id;    // ASCII: the files are plain ASCII
    const char* Phase; // phase identification
    bool Current;
};
// The order of the snapshot CSV's waveform columns.
const TChannelId kChannels[11] = {
    {2, "UA", "A", false},    {5, "IA", "A", true},     {3, "UB", "B", false},
    {6, "IB", "B", true},     {4, "UC", "C", false},    {7, "IC", "C", true},
    {1, "UN", "N", false},    {8, "IN", "N", true},     {9, "UAB", "AB", false},
    {10, "UBC", "BC", false}, {11, "UCA", "CA", false},
};

std::string Real(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

// dd/mm/yyyy,hh:mm:ss.ssssss
std::string Stamp(TDateTime t) {
    const TDateTimeParts p = DecodeDateTime(t);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d,%02d:%02d:%02d.%06d", p.Day, p.Month, p.Year,
                  p.Hour, p.Minute, p.Second, p.MSec * 1000);
    return buf;
}

} // namespace

std::string ComtradeBaseName(const TjnMeter& meter, const TjnWaveformView& block) {
    const TDateTimeParts p = DecodeDateTime(block.MeterTime);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%d_%02d%02d%02d_%02d%02d%02d_%06lld", meter.FactoryNumber,
                  ((p.Year % 100) + 100) % 100, p.Month, p.Day, p.Hour, p.Minute, p.Second,
                  static_cast<long long>(block.Id));
    return buf;
}

bool FormatComtrade(const TjnMeter& meter, const TmonSettings& settings,
                    const TjnWaveformView& block, const TjnComtradeOptions& options,
                    std::string& cfg, std::string& dat) {
    const bool neutral = ModelHasNeutral(meter.ModelIndex);
    TmonSignalExperiment experiment(neutral);
    TmonStorage storage;
    storage.Settings = settings;
    storage.SignalData = block.Data;
    storage.SignalSize = int32_t(block.Size);
    // Every channel, the line voltages too, decoded as the waveform window decodes them.
    const bool allLines[3] = {true, true, true};
    experiment.Refill(storage, block.ChannelMask, block.SizeCode, ModelIsA(meter.ModelIndex),
                      allLines);
    const TSigExperiment& exp = *experiment.Get();
    const double uCoef = UCoefOf(settings.VoltageRatio);
    const double iCoef = ICoefOf(settings.NominalCurrent, neutral);

    const TSigChannel* channels[11];
    int count = 0;
    const TChannelId* ids[11];
    for (const TChannelId& c : kChannels) {
        const TSigChannel* ch = exp.FindChannel(c.Key);
        if (ch && ch->SampleCount() > 0) {
            ids[count] = &c;
            channels[count++] = ch;
        }
    }
    if (count == 0) return false;
    const uint32_t samples = exp.QuantCount;
    const double frequency = settings.NominalFrequency > 0 ? settings.NominalFrequency : 50.0;
    const double rate = options.SamplesPerPeriod * frequency;

    const char* model = meter.ModelIndex >= 0 ? QZ2Model(meter.ModelIndex).CmdLineName : "qz2";
    std::string upper = model;
    for (char& ch : upper)
        ch = char(std::toupper(static_cast<unsigned char>(ch)));
    cfg.clear();
    cfg += upper + " " + std::to_string(meter.FactoryNumber) + " (" +
           std::to_string(options.SamplesPerPeriod) + " samples per period assumed)," + upper +
           "-" + std::to_string(meter.FactoryNumber) + ",1999\r\n";
    cfg += std::to_string(count) + "," + std::to_string(count) + "A,0D\r\n";
    for (int i = 0; i < count; ++i) {
        const double k = ids[i]->Current ? iCoef : uCoef;
        cfg += std::to_string(i + 1) + "," + ids[i]->Id + "," + ids[i]->Phase + ",," +
               (ids[i]->Current ? "A" : "V") + "," + Real(-2 * k) + "," + Real(65536 * k) +
               ",0,0,65535,1,1,P\r\n";
    }
    cfg += Real(frequency) + "\r\n1\r\n" + Real(rate) + "," + std::to_string(samples) + "\r\n";
    cfg += Stamp(block.MeterTime) + "\r\n" + Stamp(block.MeterTime) + "\r\nASCII\r\n1\r\n";

    dat.clear();
    char buf[32];
    for (uint32_t s = 0; s < samples; ++s) {
        const long long us = std::llround(double(s) * 1e6 / rate);
        std::snprintf(buf, sizeof buf, "%u,%lld", s + 1, us);
        dat += buf;
        for (int i = 0; i < count; ++i) {
            // A channel shorter than the block: the standard's mark of a missing sample.
            const unsigned v = s < channels[i]->SampleCount() ? channels[i]->Samples[s] : 99999u;
            std::snprintf(buf, sizeof buf, ",%u", v);
            dat += buf;
        }
        dat += "\r\n";
    }
    return true;
}

bool ExportComtrade(TjnSeries& journals, const std::string& folder, TDateTime from, TDateTime to,
                    const TjnComtradeOptions& options, int64_t& written, std::string& error) {
    written = 0;
    if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        error = "Не удалось создать папку " + folder + ": " + SystemErrorText(errno);
        return false;
    }
    bool ok = true;
    std::string cfg, dat;
    const bool walked = journals.ForEachWaveform(
        from, to,
        [&](size_t j, const TjnWaveformView& block) {
            TmonSettings settings;
            if (!journals.Decoder(j).SettingsOf(block.SettingsId, settings, error))
                return ok = false;
            const TjnMeter& meter = journals.Journal(j).Meter();
            if (!FormatComtrade(meter, settings, block, options, cfg, dat)) return true;
            const std::string base = folder + "/" + ComtradeBaseName(meter, block);
            TjnOutFile c, d;
            if (!c.Open(base + ".cfg", error) || !d.Open(base + ".dat", error)) return ok = false;
            c.Write(cfg);
            d.Write(dat);
            // The data first: a configuration never names data that is not there.
            if (!d.Commit(error) || !c.Commit(error)) return ok = false;
            ++written;
            return true;
        },
        error);
    return walked && ok;
}

} // namespace qz
