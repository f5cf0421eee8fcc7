#pragma once

#include <functional>
#include <string>
#include <sys/stat.h>

namespace tandrel {

struct OutputFileOptions {
    // Data and folder entry reach the disk before Commit returns.
    bool durable = true;
    // Where an unfinished file may wait when the output's own folder takes no new file.
    std::string spareFolder;
};

// The join's output on its way to the chosen name, so that nothing half-written ever carries
// it and nothing is left behind by a killed join:
// - a new name: written unnamed (O_TMPFILE) in its folder, linked in at Commit (unless
//   something else took the name meanwhile);
// - an existing file of one name that the user may give the same owner: written unnamed
//   beside it, then renamed over it with its permission bits, owner and group;
// - any other existing file (hard links, a folder that takes no new file, another owner):
//   finished unnamed, then copied into the file itself, so every name of it shows the join,
//   its old contents kept in a backup until then (see OutputBackup.h);
// - a symbolic link: all of this for its final target; the link stays a link (one planted
//   by another user in a shared sticky folder is refused, as the kernel refuses it);
// - a FIFO, a device or a socket: written straight through, never renamed or removed.
// Where the file system refuses unnamed files, a short unique hidden name that tells its process
// stands in and is renamed into place (FAT has no hard links); the next join into that folder
// removes the stand-ins of killed joins. Modes, owners and groups that the file system does
// not keep (FAT) are no failure.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Prepares writing to chosen. shouldStop is asked while a FIFO waits for its reader.
    // False with Error() set (0 after a stop).
    bool Open(const std::string &chosen, const std::function<bool()> &shouldStop,
              const OutputFileOptions &options = {});
    // Open for reading and writing (write-only for a FIFO, device or socket).
    int Fd() const { return fd_; }
    // A name that opens this same file for writing ("/proc/self/fd/N" or the stand-in name);
    // empty for a socket.
    std::string WritePath() const;
    bool Seekable() const { return seekable_; }
    // Whether Commit syncs what is written to Fd() to the disk.
    bool SyncedAtCommit() const {
        return durable_ && (mode_ == Mode::Create || mode_ == Mode::Rename);
    }
    // Gives the written file the chosen name. False with Error() set; the old file is intact.
    // keepAlive is called between the steps of a copy into place, which is not stopped.
    bool Commit(const std::function<void()> &keepAlive = nullptr);
    // Forgets the written data; the chosen name keeps what it had. A regular file behind one
    // of our own descriptors is cut back to where the join began; again: the join is made
    // again there (its descriptor's offset goes back too).
    void Discard(bool again = false);
    int Error() const { return error_; }

private:
    enum class Mode { None, Create, Rename, CopyInto, Direct };
    bool Fail(int err);
    // procName: path is one of our descriptors' /proc names, a link only the kernel follows.
    bool OpenDirect(const std::string &path, const struct stat &st,
                    const std::function<bool()> &shouldStop, bool procName = false);
    bool CreateTemp(const std::string &folder, bool privateMode);
    // Writes into the regular file behind one of our own descriptors, never replacing it.
    bool WriteThrough(int fd, const struct stat &st);
    bool Name(const std::string &dest, bool replace);
    bool CopyIntoPlace();
    void SyncFolder(const std::string &folder);
    void CloseAll();

    Mode mode_ = Mode::None;
    int fd_ = -1;
    int targetFd_ = -1; // the existing file itself, when copying into it
    bool seekable_ = true;
    bool socket_ = false;
    bool durable_ = true;
    std::string target_;   // the chosen name with its links followed
    std::string tempName_; // the stand-in name, when the file system has no unnamed files
    std::string spareFolder_;
    struct stat old_ {};
    off_t keepBytes_ = -1; // what our own descriptor's regular file held before the join
    off_t startedAt_ = -1; // and where its offset was
    std::function<void()> keepAlive_;
    int error_ = 0;
};

// The path with every symbolic link on it followed, folders included (the name itself when it
// holds none); relative links count from their own folder. A link in a shared sticky folder
// (as /tmp) that is neither the user's nor the folder owner's is not followed (EACCES), as the
// kernel's guard of such folders does. othersLink is set when a followed link is another
// user's. False with errno set (ELOOP after 40 links).
bool FollowLinks(const std::string &path, std::string &result, bool *othersLink = nullptr);

} // namespace tandrel
