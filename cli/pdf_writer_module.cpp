// libzanst_report_pdf.so: the report's PDF writer behind three C entry points, for zanst-cli to
// load at run time (cli/pdf_writer.hpp). Only these are exported.

#include "cli/pdf_writer.hpp"

#include <QGuiApplication>

#define ZANST_EXPORT extern "C" __attribute__((visibility("default")))

ZANST_EXPORT const char* zanst_report_pdf_interface() {
    static const std::string text = zanst::cli::pdfInterfaceText(ZANST_VERSION);
    return text.c_str();
}

namespace {

QtMessageHandler previousHandler = nullptr;

// A command line without a desktop session has no runtime folder; Qt's note about it is no news
// to anyone reading zanst-cli's errors.
void quietAboutRuntimeFolder(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.contains(QLatin1String("XDG_RUNTIME_DIR"))) {
        return;
    }
    if (previousHandler != nullptr) {
        previousHandler(type, context, message);
    }
}

} // namespace

ZANST_EXPORT QCoreApplication* zanst_report_pdf_application() {
    // A board without a display writes its PDFs all the same.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int argc = 1;
    static char name[] = "zanst-cli";
    static char* argv[] = {name, nullptr};
    previousHandler = qInstallMessageHandler(quietAboutRuntimeFolder);
    auto* app = new QGuiApplication(argc, argv);
    qInstallMessageHandler(previousHandler);
    return app;
}

ZANST_EXPORT bool zanst_report_pdf_write(const zanst::report::ReportContent* content, const QString* path,
                                         zanst::report::PdfResult* result) {
    if (content == nullptr || path == nullptr || result == nullptr) {
        return false;
    }
    *result = zanst::report::writeReportPdf(*content, *path);
    return result->ok;
}
