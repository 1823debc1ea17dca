// qzcli built without the Qt painting classes writes no PDF.
#include "tools/qzcli/CliReport.h"

namespace qz {
TrpPdfWriter CliPdfWriter() {
    return {};
}
} // namespace qz
