#include "append_file.hpp"

#include <cerrno>
#include <fstream>
#include <system_error>

namespace zanst::recording {

namespace fs = std::filesystem;

FileResult fileFailure(std::string_view what, const fs::path& path, std::string_view why) {
    return {false, std::string(what) + " " + path.string() + ": " + std::string(why)};
}

FileResult appendWhole(const fs::path& path, std::string_view text, std::string_view folderKind) {
    std::error_code ec;
    if (!fs::is_directory(path.parent_path(), ec)) {
        return fileFailure("Cannot write", path,
                           "the " + std::string(folderKind) + " folder no longer exists");
    }
    const auto before = fs::file_size(path, ec);
    std::ofstream file(path, std::ios::binary | std::ios::app);
    if (!file) {
        return fileFailure("Cannot write", path, std::generic_category().message(errno));
    }
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.close();
    if (!file) {
        const std::string why = std::generic_category().message(errno);
        if (!ec) {
            std::error_code ignored;
            fs::resize_file(path, before, ignored);
        }
        return fileFailure("Cannot write", path, why);
    }
    return {};
}

} // namespace zanst::recording
