#include "capture/capture_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace zanst::capture {

namespace {

void putLe(std::vector<std::uint8_t>& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
    }
}

std::uint64_t getLe(std::span<const std::uint8_t> in, std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        v |= static_cast<std::uint64_t>(in[at + static_cast<std::size_t>(i)]) << (8 * i);
    }
    return v;
}

std::string kept(const Capture& c) {
    return " (" + std::to_string(c.records.size()) + " records before it kept)";
}

} // namespace

std::vector<std::uint8_t> encodeHeader(const Header& header) {
    std::vector<std::uint8_t> out(kMagic.begin(), kMagic.end());
    putLe(out, header.version, 2);
    putLe(out, kHeaderSize, 2);
    putLe(out, header.lineRate, 4);
    putLe(out, static_cast<std::uint64_t>(header.startUnixMs), 8);
    return out;
}

void encodeRecord(std::vector<std::uint8_t>& out, std::uint64_t timeUs, RecordKind kind,
                  std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const std::size_t n = std::min(bytes.size(), kMaxRecordBytes);
        putLe(out, timeUs, 8);
        out.push_back(static_cast<std::uint8_t>(kind));
        putLe(out, n, 2);
        out.insert(out.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        bytes = bytes.subspan(n);
    }
}

Capture readCapture(std::span<const std::uint8_t> file) {
    Capture c;
    if (file.size() < 12 || !std::equal(kMagic.begin(), kMagic.end(), file.begin())) {
        c.status = ReadStatus::NotACapture;
        c.message = "Not a capture file (no ZANSTCAP header)";
        return c;
    }
    c.header.version = static_cast<std::uint16_t>(getLe(file, 8, 2));
    if (c.header.version != kVersion) {
        c.status = ReadStatus::UnsupportedVersion;
        c.message = "Capture format version " + std::to_string(c.header.version) +
                    " is not supported (this program reads version " + std::to_string(kVersion) + ")";
        return c;
    }
    const std::size_t headerSize = static_cast<std::size_t>(getLe(file, 10, 2));
    if (headerSize < kHeaderSize || file.size() < headerSize) {
        c.status = ReadStatus::Truncated;
        c.message = "Capture header cut short";
        return c;
    }
    c.header.lineRate = static_cast<std::uint32_t>(getLe(file, 12, 4));
    c.header.startUnixMs = static_cast<std::int64_t>(getLe(file, 16, 8));

    std::size_t at = headerSize;
    c.validBytes = at;
    std::uint64_t lastTime = 0;
    while (at < file.size()) {
        if (file.size() - at < kRecordHeaderSize) {
            c.status = ReadStatus::Truncated;
            c.message = "Capture cut short at byte " + std::to_string(at) + kept(c);
            return c;
        }
        Record r;
        r.timeUs = getLe(file, at, 8);
        const std::uint8_t kind = file[at + 8];
        r.length = static_cast<std::size_t>(getLe(file, at + 9, 2));
        std::string damage;
        if (kind > static_cast<std::uint8_t>(RecordKind::Mode)) {
            damage = "unknown record kind " + std::to_string(kind);
        } else if (r.length == 0) {
            damage = "empty record";
        } else if (kind == static_cast<std::uint8_t>(RecordKind::Mode) && r.length != 1) {
            damage = "mode record of " + std::to_string(r.length) + " bytes";
        } else if (r.timeUs < lastTime) {
            damage = "time going back";
        }
        if (!damage.empty()) {
            c.status = ReadStatus::Corrupt;
            c.message = "Capture damaged at byte " + std::to_string(at) + ": " + damage + kept(c);
            return c;
        }
        if (file.size() - at - kRecordHeaderSize < r.length) {
            c.status = ReadStatus::Truncated;
            c.message = "Capture cut short at byte " + std::to_string(at) + kept(c);
            return c;
        }
        r.kind = static_cast<RecordKind>(kind);
        r.offset = c.data.size();
        const auto from = file.begin() + static_cast<std::ptrdiff_t>(at + kRecordHeaderSize);
        c.data.insert(c.data.end(), from, from + static_cast<std::ptrdiff_t>(r.length));
        c.records.push_back(r);
        lastTime = r.timeUs;
        at += kRecordHeaderSize + r.length;
        c.validBytes = at;
    }
    return c;
}

Capture readCaptureFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Capture c;
        c.status = ReadStatus::NotACapture;
        c.message = "Cannot open " + path + ": " + std::strerror(errno);
        return c;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    return readCapture(bytes);
}

bool CaptureWriter::open(const std::string& path, std::int64_t startUnixMs) {
    close();
    error_.clear();
    written_ = 0;
    lastTimeUs_ = 0;
    file_.open(path, std::ios::binary | std::ios::trunc);
    if (!file_) {
        error_ = "Cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    Header header;
    header.startUnixMs = startUnixMs;
    pending_ = encodeHeader(header);
    return flush();
}

void CaptureWriter::append(std::uint64_t timeUs, RecordKind kind, std::span<const std::uint8_t> bytes) {
    if (!file_.is_open()) {
        return;
    }
    // A clock read on another path may lag a little; the file's times never go back.
    lastTimeUs_ = std::max(lastTimeUs_, timeUs);
    encodeRecord(pending_, lastTimeUs_, kind, bytes);
}

bool CaptureWriter::flush() {
    if (!file_.is_open()) {
        return false;
    }
    if (!pending_.empty()) {
        file_.write(reinterpret_cast<const char*>(pending_.data()),
                    static_cast<std::streamsize>(pending_.size()));
        file_.flush();
        if (!file_) {
            error_ = std::string("Capture write failed: ") + std::strerror(errno);
            file_.close();
            pending_.clear();
            return false;
        }
        written_ += pending_.size();
        pending_.clear();
    }
    return true;
}

void CaptureWriter::close() {
    if (file_.is_open()) {
        flush();
        file_.close();
    }
    pending_.clear();
}

} // namespace zanst::capture
