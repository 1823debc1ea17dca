// The PDF protocol from qzcli: the painting classes need an application object, which qzcli
// makes only while a protocol is written, on the offscreen platform, so that qzcli keeps
// running where there is no display.
#include "report/rpPdf.h"
#include "tools/qzcli/CliReport.h"

#include <QGuiApplication>

namespace qz {
namespace {

// The toolkit's notes (a missing runtime folder and the like) are not the operator's
// business; its critical messages still reach stderr.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

} // namespace

TrpPdfWriter CliPdfWriter() {
    return [](const TrpAssessment& a, const TrpSource& source, const TrpProtocolInfo& info,
              const std::string& file, std::string& error) {
        if (QCoreApplication::instance()) return RpWritePdf(a, source, info, file, error);
        qputenv("QT_QPA_PLATFORM", "offscreen");
        const QtMessageHandler before = qInstallMessageHandler(QuietMessages);
        int argc = 1;
        char name[] = "qzcli";
        char* argv[] = {name, nullptr};
        bool ok = false;
        {
            QGuiApplication app(argc, argv);
            ok = RpWritePdf(a, source, info, file, error);
        }
        qInstallMessageHandler(before);
        return ok;
    };
}

} // namespace qz
