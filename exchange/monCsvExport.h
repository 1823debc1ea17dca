// Saving the shown measurements — the last 3-second record with its harmonics and, when the
// waveform display is on, the last waveform block — to a semicolon-separated text file in
// code page 1251 that a spreadsheet opens.
#pragma once

#include "common/DateTime.h"
#include "exchange/monStorage.h"

#include <cstdint>
#include <functional>
#include <string>

namespace qz {

struct TSigExperiment;

// The application title, which also names the product folder below the documents folder.
extern const char* const kmonApplicationTitle;

// Where recordings go: "<documents>/<product folder>/Записи/" ("" when there is no documents
// folder). Shared by the window's "Запись" and qzcli.
std::string RecordingFolder(const std::string& documentsFolder);

// What the file tells about the meter: the display name of the connection's device type and
// its factory number. The window takes both from the current connection.
struct TmonCsvDevice {
    std::string DeviceName; // UTF-8
    int32_t FactoryNumber = 0;
};

class TccnConnection;
// The device part of a connection: display name of its device type and factory number
// (empty and 0 for a connection without a device).
TmonCsvDevice CsvDeviceOf(const TccnConnection& connection);

// The user's regional formats and the surroundings; the defaults suit a Russian desktop.
struct TmonCsvOptions {
    char DecimalSeparator = ',';
    // Short date plus long time, the time left out at exactly midnight. Empty: "dd.mm.yyyy"
    // and "h:nn:ss" (FormatCsvDateTime).
    std::function<std::string(TDateTime)> FormatDateTime;
    // The current local time for the file name. Empty: the computer's clock.
    std::function<TDateTime()> Now;
    // The documents folder under which the product folder is made. Empty: the user's
    // documents folder.
    std::string DocumentsFolder;
};

// A number in the general format of up to 15 significant digits: fixed notation for
// 1e-4 <= |v| < 1e15 (trailing zeros and a bare separator dropped), otherwise a mantissa and
// "E" with the exponent ("1,5E-7", "1E20"). "NAN", "INF", "-INF" for the non-numbers.
std::string FormatGeneral15(double v, char decimalSeparator);

// The default date-time text: "06.12.2026 9:05:03", or only the date at exactly midnight.
std::string FormatCsvDateTime(TDateTime dt);

// "3sec_<factory>_<yymmdd_hhmmsszzz>.csv" for the given local time.
std::string MeasurementsCsvFileName(int32_t factoryNumber, TDateTime now);

// The whole file content in code page 1251, lines ended by CR LF. The waveform factors
// convert the stored samples of the voltage and the current channels; `experiment` may be
// nullptr (the waveform display is off) and the file then ends after the waveform headers.
std::string FormatMeasurementsCsv(const TmonCsvDevice& device, const TmonStorage& storage,
                                  double currentFactor, double voltageFactor,
                                  const TSigExperiment* experiment,
                                  const TmonCsvOptions& options = TmonCsvOptions());

// Writes the file `fileName`, replacing one that exists. The content goes to a temporary
// file first and replaces the target only when it is complete, so a failure never leaves a
// half-written file. False on any failure; `error` (when given) receives the reason.
bool WriteMeasurementsCsv(const TmonCsvDevice& device, const TmonStorage& storage,
                          double currentFactor, double voltageFactor,
                          const TSigExperiment* experiment, const std::string& fileName,
                          const TmonCsvOptions& options = TmonCsvOptions(),
                          std::string* error = nullptr);

// Makes the product folder below the documents folder (with all missing parents) and writes
// a new file named by MeasurementsCsvFileName with the current time. False when the folder
// cannot be made or the file cannot be written; `fileName` (when given) receives the full
// name of the file that was (or would have been) written.
bool SaveMeasurementsToFile(const TmonCsvDevice& device, const TmonStorage& storage,
                            double currentFactor, double voltageFactor,
                            const TSigExperiment* experiment,
                            const TmonCsvOptions& options = TmonCsvOptions(),
                            std::string* fileName = nullptr, std::string* error = nullptr);

} // namespace qz
