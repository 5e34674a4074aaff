#include "cli/pdf_writer.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>

#ifndef ZANST_PRIVATE_LIB_DIR
#define ZANST_PRIVATE_LIB_DIR "../lib/zanst"
#endif

namespace zanst::cli {

std::vector<std::string> PdfWriter::candidates(const std::string& programPath) {
    if (const char* named = std::getenv(kPdfWriterVariable); named != nullptr && named[0] != '\0') {
        return {named};
    }
    const std::filesystem::path folder = std::filesystem::path(programPath).parent_path();
    return {(folder / kPdfWriterFile).string(),
            (folder / ZANST_PRIVATE_LIB_DIR / kPdfWriterFile).lexically_normal().string()};
}

std::optional<PdfWriter> PdfWriter::load(const std::string& programPath, const char* version,
                                         std::string& error) {
    const std::vector<std::string> places = candidates(programPath);
    std::string tried;
    for (const std::string& place : places) {
        if (!std::filesystem::exists(place)) {
            tried += (tried.empty() ? "" : ", ") + place;
            continue;
        }
        // The writer takes the report code from this program: RTLD_NOW finds a mismatch at once.
        void* handle = dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* why = dlerror();
            error =
                "the PDF writer " + place + " cannot be loaded: " + (why != nullptr ? why : "unknown reason");
            return std::nullopt;
        }
        const auto interface = reinterpret_cast<PdfInterfaceFunction>(dlsym(handle, kPdfInterfaceSymbol));
        PdfWriter writer;
        writer.path_ = place;
        writer.application_ = reinterpret_cast<PdfApplicationFunction>(dlsym(handle, kPdfApplicationSymbol));
        writer.write_ = reinterpret_cast<PdfWriteFunction>(dlsym(handle, kPdfWriteSymbol));
        if (interface == nullptr || writer.application_ == nullptr || writer.write_ == nullptr) {
            error = "the PDF writer " + place + " is not one zanst-cli can use (entry points missing)";
            return std::nullopt;
        }
        if (interface() != pdfInterfaceText(version)) {
            error = "the PDF writer " + place + " belongs to another build (" + interface() + ", this is " +
                    pdfInterfaceText(version) + ")";
            return std::nullopt;
        }
        // Never unloaded: the application it makes lives until the program ends.
        return writer;
    }
    error = "report --pdf needs the PDF writer " + std::string(kPdfWriterFile) +
            ", which is not installed (looked for " + tried + "); --json works without it";
    return std::nullopt;
}

report::PdfResult PdfWriter::write(const report::ReportContent& content, const QString& path) const {
    report::PdfResult result;
    if (!write_(&content, &path, &result) && result.error.isEmpty()) {
        result.error = QStringLiteral("the PDF writer failed");
    }
    return result;
}

} // namespace zanst::cli
