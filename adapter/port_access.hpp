#pragma once
// Who else uses a serial port: processes that hold it open (from /proc) and UUCP-style lock files
// (LCK..ttyUSB0 holding the owner's pid). Both roots are parameters, so tests pass their own.

#include <optional>
#include <string>
#include <vector>

namespace zanst::adapter {

inline constexpr const char* kDefaultLockDir = "/run/lock";
inline constexpr const char* kDefaultProcRoot = "/proc";

struct Holder {
    int pid = 0;
    std::string name; // the process's command name, empty when it cannot be read
};

// Processes under `procRoot` with a descriptor open on `devicePath`, except `exceptPid`. Processes
// this user may not look into are not listed.
std::vector<Holder> processesHolding(const std::string& devicePath, const std::string& procRoot,
                                     int exceptPid);

// The command name of process `pid`, empty when unknown.
std::string processName(int pid, const std::string& procRoot);

// The lock file of a device: LCK.. and its path below /dev with '/' as '_' (LCK..ttyUSB0,
// LCK..pts_3).
std::string lockFilePath(const std::string& lockDir, const std::string& devicePath);

// The pid a lock file names: ASCII (HDB style, any leading blanks) or a 4-byte binary pid.
std::optional<int> lockFilePid(const std::string& contents);

// A lock file taken for one device, removed again on release (only while it still names us).
class LockFile {
  public:
    enum class Outcome {
        Taken,
        HeldByOther, // a live process holds it: pid() says which
        Unnamed,     // a lock file is there but names no process
        Unwritable,  // the folder does not let us write it: errorNumber() says why
    };

    LockFile() = default;
    ~LockFile() { release(); }
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    // Takes the lock; a stale one (its process gone) is replaced.
    Outcome take(const std::string& lockDir, const std::string& devicePath);
    void release();

    const std::string& path() const { return path_; }
    int pid() const { return pid_; }
    int errorNumber() const { return errno_; }
    bool held() const { return held_; }

  private:
    std::string path_;
    int pid_ = 0;
    int errno_ = 0;
    bool held_ = false;
};

} // namespace zanst::adapter
