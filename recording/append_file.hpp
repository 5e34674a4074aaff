#pragma once
// Appending to the tool's text files (recordings, their CSV, metrics files) so that every line in
// them stays whole: a write that fails part-way, as on a full disk, is cut back to the size the
// file had before it.

#include <filesystem>
#include <string>
#include <string_view>

namespace zanst::recording {

// The outcome of a file operation; `message` says what went wrong, for the user.
struct FileResult {
    bool ok = true;
    std::string message;
};

// "<what> <path>: <why>".
FileResult fileFailure(std::string_view what, const std::filesystem::path& path, std::string_view why);

// Appends `text` to the existing file `path`, whole or not at all. `folderKind` names the folder
// in the message when it has gone ("the recording folder no longer exists").
FileResult appendWhole(const std::filesystem::path& path, std::string_view text, std::string_view folderKind);

} // namespace zanst::recording
