// report: a visit's service report from the service log, as a PDF (through the PDF writer loaded
// at run time), as JSON, or both. The content is worked out once for both.

#include "cli/interrupts.hpp"
#include "cli/pdf_writer.hpp"
#include "cli/runners.hpp"
#include "cli/service_log_access.hpp"
#include "files/app_data.hpp"

#include <QCoreApplication>
#include <QSaveFile>

#include <filesystem>
#include <memory>

namespace zanst::cli {

namespace {

std::string programPath() {
    std::error_code ec;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

// Written whole or not at all, so a failure never replaces an earlier report.
std::string writeJson(const QByteArray& json, const std::string& path) {
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit()) {
        return "cannot write " + path + ": " + file.errorString().toStdString();
    }
    return {};
}

} // namespace

int runReport(const Invocation& invocation, const Console& console) {
    const auto& args = std::get<ReportArgs>(invocation.args);
    const auto fail = [&console](ExitCode code, const std::string& line) {
        console.error("report: " + line);
        return cli::code(code);
    };
    // The writer first: it makes the application (a QGuiApplication), and without it nothing is
    // written at all.
    std::optional<PdfWriter> writer;
    std::unique_ptr<QCoreApplication> guiApplication;
    if (args.pdf) {
        std::string error;
        writer = PdfWriter::load(programPath(), ZANST_VERSION, error);
        if (!writer) {
            return fail(ExitCode::Failed, error);
        }
        if (QCoreApplication::instance() == nullptr) {
            guiApplication.reset(writer->makeApplication());
        }
    }
    application();

    OpenedLog opened = openServiceLog(args.serviceDb, app::appDataFolder().toStdString());
    if (!opened.log) {
        return fail(opened.failure, opened.error);
    }
    servicelog::ServiceLog& log = *opened.log;
    const FoundVisit found = findVisit(log, args.visit);
    if (found.id.isEmpty()) {
        return fail(found.failure, found.error);
    }
    const auto visit = log.visit(found.id);
    if (!visit) {
        return fail(ExitCode::Failed, log.lastError().message.toStdString());
    }
    std::optional<servicelog::VisitRecord> previous;
    if (const auto previousId = log.previousVisit(found.id); previousId && !previousId->isEmpty()) {
        previous = log.visit(*previousId);
    }
    const report::ReportContent content = report::buildReport(*visit, previous);

    std::string out;
    if (args.json) {
        if (const std::string error = writeJson(report::reportJson(content), *args.json); !error.empty()) {
            return fail(ExitCode::Failed, error);
        }
        out += "Report of visit " + found.id.toStdString() + " written to " + *args.json + "\n";
    }
    if (args.pdf) {
        const report::PdfResult pdf = writer->write(content, QString::fromStdString(*args.pdf));
        if (!pdf.ok) {
            console.print(out);
            return fail(ExitCode::Failed, "cannot write " + *args.pdf + ": " + pdf.error.toStdString());
        }
        out += "Report of visit " + found.id.toStdString() + " written to " + *args.pdf + " (" +
               std::to_string(pdf.pages) + (pdf.pages == 1 ? " page" : " pages") +
               (pdf.shortened ? "; shortened to what three pages hold, the JSON has everything" : "") + ")\n";
    }
    console.print(out);
    return code(ExitCode::Success);
}

} // namespace zanst::cli
