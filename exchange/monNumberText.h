// How the quantities of the measurement storage are written as text in the files and lines
// the system exports. A value the meter sent as a 32-bit float is written with the fewest
// digits that read back to the same float (220.4482, not 220.448196411133); a value the
// decoding computed is rounded to a fixed number of decimals chosen per quantity (a
// frequency deviation of 0.01 Hz reads 0.01, not 0.00999999999999801).
#pragma once

#include <string>

namespace qz {

// Decimals of a quantity, or one of the two forms that have none.
enum : int {
    kmonFloatDigits = -1,   // a 32-bit float: the shortest text that reads back to it
    kmonGeneralDigits = -2, // up to 15 significant digits (the record's time stamp)
};

// What a field of TmonData3sec (named as in the structure) or of TmonSettings is: its
// decimals and its unit ("В", "Гц", "%"; empty for a pure number).
struct TmonQuantityText {
    int Decimals = kmonGeneralDigits;
    const char* Unit = "";
};
// `index` is the element of a grouped field (for the power arrays it tells the total, which
// is computed, from the phases, which the meter sent). An unknown name gets the general form.
TmonQuantityText RecordFieldText(const char* name, int index);

// The shortest text of a float that reads back to the same float: fixed notation when that
// is no longer than the exponent form, otherwise a mantissa and "E" ("1,5E-07").
std::string FloatText(float v, char decimalSeparator);
// Rounded to `decimals` (0..9) places, trailing zeros and a bare separator dropped, "-0"
// written as "0". Beyond 1e15 in magnitude the general form takes over.
std::string FixedText(double v, int decimals, char decimalSeparator);
// In the form `decimals` asks for (kmonFloatDigits, kmonGeneralDigits or 0..9). Not a
// number: "NAN", "INF", "-INF".
std::string NumberText(double v, int decimals, char decimalSeparator);

} // namespace qz
