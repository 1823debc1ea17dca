// The PDF protocol from qzcli: the painting classes need an application object, which qzcli
// makes only when a protocol is to be written, on the offscreen platform, so that qzcli
// keeps running where there is no display.
#include "report/rpPdf.h"
#include "tools/qzcli/CliReport.h"

#include <QGuiApplication>
#include <memory>

namespace qz {

TrpPdfWriter CliPdfWriter() {
    return [](const TrpAssessment& a, const TrpSource& source, const TrpProtocolInfo& info,
              const std::string& file, std::string& error) {
        static std::unique_ptr<QGuiApplication> app;
        if (!QCoreApplication::instance()) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            static int argc = 1;
            static char name[] = "qzcli";
            static char* argv[] = {name, nullptr};
            app = std::make_unique<QGuiApplication>(argc, argv);
        }
        return RpWritePdf(a, source, info, file, error);
    };
}

} // namespace qz
