// The exclusive lock a store holds on its database file for as long as it is open.
//
// The lock is flock(LOCK_EX|LOCK_NB) on a descriptor of its own, kept open for the store's
// whole life. POSIX drops every fcntl lock a process holds on a file (SQLite's own locks) as
// soon as *any* descriptor of that file is closed, so this process must never open and close a
// second descriptor of a database file it already has open: a process-wide registry of locked
// files, keyed by (device, inode), is consulted first, and a hit is refused without touching
// the file. The registry's mutex is held from the stat through open, flock and registration,
// so two threads opening a new file cannot both succeed.
//
// Files that this process writes as something other than a store (a server's logs) can be
// claimed: locked and entered in the same registry, so that no store, of this process or
// another, opens them while they are written. look_at_file() tells who holds a file without
// disturbing the holder.
//
// Forks: the lock is released with an explicit unlock before the descriptor is closed, so a
// forked child's copy of the descriptor cannot keep it. A FileLock belongs to the process that
// acquired it: released in a forked child it does nothing at all (the parent still holds the
// file). The child keeps its copy of the registry, so a file that its parent had open stays
// refused in the child: the database library's own state for that file, copied at the fork,
// no longer follows the file. The registry's mutex is held across fork(), so that the child
// never inherits it locked.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "util/file.h"
#include "util/result.h"

namespace quorvane::store {

inline constexpr const char* kAlreadyOpenText = "Database already open. Cannot acquire lock.";

class FileLock {
 public:
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&&) = delete;
  // Unlocks and closes the descriptor, then removes the file from the registry. Every SQLite
  // connection to the file must be closed before. In a forked child, does nothing.
  ~FileLock();

  // Opens `path` for reading and writing (created when missing, mode 0666 less the umask,
  // close-on-exec) and locks it. Fails with kAlreadyOpenText when this process or another
  // holds it, or with the system's error text.
  static Result<FileLock> acquire(const std::string& path);

  // Locks and registers a file that this process has opened itself to write as something
  // other than a store (a server's log), so that no store opens it while the lock is held.
  // The lock takes over `file`; fd() gives it. Fails with kAlreadyOpenText when this process
  // or another holds the file (when it is this process, `file` is kept open for good, as in
  // acquire(): closing it would drop the holder's locks), or with the system's error text.
  static Result<FileLock> claim(UniqueFd file);

  // The locked descriptor.
  int fd() const { return fd_; }

 private:
  // With the registry's mutex held: locks `file` and enters it in the registry. Fails as
  // claim() does.
  static Result<FileLock> lock_and_register(UniqueFd file);

  FileLock(int fd, dev_t dev, ino_t ino, uint64_t generation)
      : fd_(fd), dev_(dev), ino_(ino), generation_(generation) {}
  int fd_ = -1;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  uint64_t generation_ = 0;  // the fork generation of the process that holds the lock
};

// Who holds a file with the lock above.
enum class FileHolder { Nobody, ThisProcess, AnotherProcess };

struct FileLook {
  FileHolder holder = FileHolder::Nobody;
  std::string head;  // the file's first bytes, as many as were asked for (fewer when shorter)
};

// A look at the file at `path`, symlinks followed, that disturbs no holder of it. A file that
// this process holds (a store, or a claimed file) is answered from the registry and never
// opened. Any other regular file is opened read-only, probed with flock(LOCK_EX|LOCK_NB)
// (unlocked again at once) and, when nobody holds it, its first `head_bytes` bytes are read;
// all of this with the registry locked, so that no store of this process opens the file
// before the probe's descriptor is closed again. A missing file, one that cannot be opened and
// one that is not a regular file: Nobody, with an empty head.
FileLook look_at_file(const std::string& path, size_t head_bytes);

}  // namespace quorvane::store
