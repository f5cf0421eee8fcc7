#pragma once

#include <functional>
#include <string>
#include <sys/stat.h>

namespace tandrel {

// While a finished join is copied into an existing file, the file's old contents wait in a
// backup that reached the disk before the first byte was overwritten:
//   NAME.tandrel-backup beside the file, or
//   DEVICE-INODE.tandrel-backup beside it when NAME is too long, or in the spare folder when
//   the file's own folder takes no new file.
// It is removed once the new contents are on the disk, copied back after a failure, and
// left for the next join to the same file when the join is killed.
std::string BackupBeside(const std::string &target, const struct stat &st);
std::string BackupInSpare(const std::string &spareFolder, const struct stat &st);

struct CopyIntoRequest {
    int fromFd = -1;   // the finished join, read from its start
    int targetFd = -1; // the existing file, open for writing
    std::string target;
    std::string spareFolder;
    bool durable = true;
    std::function<void()> keepAlive; // called between the steps of every copy
};

// Copies the join into the existing file itself, so that every name of it shows the join.
// Space is reserved first; where the file system cannot reserve it, the free space must
// cover the growth. 0 on success, else the errno of the failure, after which the file holds
// its old contents again (or, should that fail too, the backup stays and says so).
int CopyIntoPlace(const CopyIntoRequest &request);

// Before a join to output: a backup that a killed join left is copied back into its file and
// removed, with a notice. False after an error message, when the join must not go on.
bool RestoreLeftBackup(const std::string &output, const std::string &spareFolder);

} // namespace tandrel
