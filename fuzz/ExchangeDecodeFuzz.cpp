// Arbitrary bytes as the meter's settings, scale-coefficient and 3-second answers: the
// decoders must never read past the answer, crash or trap, whatever the meter sends.
#include "exchange/monCsvExport.h"
#include "exchange/monNumberText.h"
#include "exchange/monStorage.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qz;
    TmonStorage st;
    DecodeSettings(data, size, st.Settings);
    double uScale = 1, iScale = 1;
    DecodeScaleKoeffs(data, size, uScale, iScale);
    // The scale answer is only 12 bytes: let the tail of a long input choose the scales too.
    if (size > 12) DecodeScaleKoeffs(data + size - 12, 12, uScale, iScale);
    for (bool extended : {false, true}) {
        Decode3sec(data, size, extended, st.Settings, uScale, iScale, st.Data3sec);
        st.Settings.HasNeutral = extended;
        // The export prints whatever the decoding left; any number must format.
        FormatMeasurementsCsv(TmonCsvDevice{}, st, 1, 1, nullptr);
    }
    if (size >= 8) {
        double v;
        std::memcpy(&v, data, sizeof v);
        FormatGeneral15(v, ',');
        for (int decimals : {int(kmonFloatDigits), 0, 3, 9})
            NumberText(v, decimals, ',');
    }
    return 0;
}
