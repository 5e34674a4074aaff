#pragma once
// The service report's PDF writer, loaded at run time only for `report --pdf`: it needs Qt Gui
// (fonts, a QGuiApplication), which pulls X11, EGL and GL, and zanst-cli itself must run on a
// board without them. The writer is libzanst_report_pdf.so, built from report/report_pdf with
// the entry points below; it takes the rest of the report code from zanst-cli itself.
//
// Where it is looked for: the file ZANST_REPORT_PDF_LIBRARY names (the build tree's tests), else
// beside the program (the build tree), else the package's private library folder relative to the
// program (/usr/bin/../lib/<triplet>/zanst).

#include "report/report_content.hpp"
#include "report/report_pdf.hpp"

#include <QString>

#include <optional>
#include <string>
#include <vector>

class QCoreApplication;

namespace zanst::cli {

inline constexpr const char* kPdfWriterFile = "libzanst_report_pdf.so";
inline constexpr const char* kPdfWriterVariable = "ZANST_REPORT_PDF_LIBRARY";

// The entry points, C linkage so that their names are plain. The interface text must be the
// program's own (its version and the layout of the content), or the writer is refused.
extern "C" {
using PdfInterfaceFunction = const char* (*)();
// A QGuiApplication, offscreen unless QT_QPA_PLATFORM chose a platform; the caller owns it.
using PdfApplicationFunction = QCoreApplication* (*)();
using PdfWriteFunction = bool (*)(const report::ReportContent* content, const QString* path,
                                  report::PdfResult* result);
}
inline constexpr const char* kPdfInterfaceSymbol = "zanst_report_pdf_interface";
inline constexpr const char* kPdfApplicationSymbol = "zanst_report_pdf_application";
inline constexpr const char* kPdfWriteSymbol = "zanst_report_pdf_write";

// Raised when an entry point changes its meaning.
inline constexpr int kPdfInterfaceRevision = 1;

// What both sides compare: the version and the size of what crosses between them. Inline, so that
// the writer works it out from its own build, not from the program's.
inline std::string pdfInterfaceText(const char* version) {
    return std::string(version) + "/" + std::to_string(kPdfInterfaceRevision) + "/" +
           std::to_string(sizeof(report::ReportContent)) + "/" + std::to_string(sizeof(report::PdfResult));
}

class PdfWriter {
  public:
    // Loads the writer; empty with `error` set (one line: where it was looked for, why it failed).
    static std::optional<PdfWriter> load(const std::string& programPath, const char* version,
                                         std::string& error);

    // The places looked in, in order.
    static std::vector<std::string> candidates(const std::string& programPath);

    QCoreApplication* makeApplication() const { return application_(); }
    report::PdfResult write(const report::ReportContent& content, const QString& path) const;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    PdfApplicationFunction application_ = nullptr;
    PdfWriteFunction write_ = nullptr;
};

} // namespace zanst::cli
