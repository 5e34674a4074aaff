#pragma once
// The service report as a PDF of one to three A4 pages, drawn with Qt's own PDF writer (no
// external program). Readable in black and white: out-of-band values carry a mark and bold text,
// the pictures use line styles and shapes, never colour alone. Needs a QGuiApplication (fonts);
// headless callers run it with QT_QPA_PLATFORM=offscreen.

#include "report/report_content.hpp"

#include <QString>

namespace zanst::report {

inline constexpr int kMaxPages = 3;

struct PdfResult {
    bool ok = false;
    int pages = 0;
    bool shortened = false; // more actions than three pages hold: the JSON has them all
    QString error;
};

PdfResult writeReportPdf(const ReportContent& content, const QString& path);

} // namespace zanst::report
