#include "store/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

#include "util/file.h"
#include "util/fork_generation.h"
#include "util/no_destructor.h"

namespace quorvane::store {

namespace {

struct Registry {
  std::mutex mutex;
  std::set<std::pair<dev_t, ino_t>> open_files;
};

void lock_registry_for_fork();
void unlock_registry_after_fork();

Registry& registry() {
  static NoDestructor<Registry> instance;
  static const bool fork_handlers =
      (at_fork(lock_registry_for_fork, unlock_registry_after_fork, unlock_registry_after_fork),
       true);
  (void)fork_handlers;
  return instance.get();
}

void lock_registry_for_fork() { registry().mutex.lock(); }
void unlock_registry_after_fork() { registry().mutex.unlock(); }

std::string system_error_text(int err) { return std::strerror(err); }

}  // namespace

FileLock::FileLock(FileLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      dev_(other.dev_),
      ino_(other.ino_),
      generation_(other.generation_) {}

FileLock::~FileLock() {
  if (fd_ < 0 || !owned_by_this_process(generation_)) return;
  // The entry goes in the same hold of the mutex as the close: once the descriptor is closed,
  // an unlinked file's inode is free, and a new file can get its number at once; an entry
  // left behind for a moment would refuse that new file as "already open".
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  // Unlocked before the close: a forked child may hold a copy of this descriptor, and the lock
  // belongs to the open file that the copy shares, so closing ours alone would not free it.
  (void)::flock(fd_, LOCK_UN);
  ::close(fd_);
  r.open_files.erase({dev_, ino_});
}

Result<FileLock> FileLock::acquire(const std::string& path) {
  if (has_nul_byte(path)) return Err{kNulInPathText};
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && r.open_files.count({st.st_dev, st.st_ino}) > 0) {
    return Err{kAlreadyOpenText};
  }
  UniqueFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (!file) return Err{system_error_text(errno)};
  return lock_and_register(std::move(file));
}

Result<FileLock> FileLock::claim(UniqueFd file) {
  std::lock_guard lock(registry().mutex);
  return lock_and_register(std::move(file));
}

Result<FileLock> FileLock::lock_and_register(UniqueFd file) {
  Registry& r = registry();
  struct stat st {};
  if (::fstat(file.get(), &st) != 0) return Err{system_error_text(errno)};
  if (r.open_files.count({st.st_dev, st.st_ino}) > 0) {
    // This process holds the file already (reached through another name, or between a stat
    // and an open): the descriptor must not be closed while the holder has SQLite's locks on
    // it, so it is kept until exit.
    (void)file.release();
    return Err{kAlreadyOpenText};
  }
  if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (err == EWOULDBLOCK) return Err{kAlreadyOpenText};
    return Err{system_error_text(err)};
  }
  r.open_files.insert({st.st_dev, st.st_ino});
  return FileLock(file.release(), st.st_dev, st.st_ino, fork_generation());
}

FileLook look_at_file(const std::string& path, size_t head_bytes) {
  FileLook look;
  if (has_nul_byte(path)) return look;
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return look;
  if (r.open_files.count({st.st_dev, st.st_ino}) > 0) {
    look.holder = FileHolder::ThisProcess;
    return look;
  }
  if (!S_ISREG(st.st_mode)) return look;
  UniqueFd probe(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!probe || ::fstat(probe.get(), &st) != 0) return look;
  if (r.open_files.count({st.st_dev, st.st_ino}) > 0) {
    // Reached through another name between the stat and the open: see lock_and_register().
    (void)probe.release();
    look.holder = FileHolder::ThisProcess;
    return look;
  }
  if (!S_ISREG(st.st_mode)) return look;
  if (::flock(probe.get(), LOCK_EX | LOCK_NB) == 0) {
    (void)::flock(probe.get(), LOCK_UN);
  } else if (errno == EWOULDBLOCK) {
    look.holder = FileHolder::AnotherProcess;
    return look;
  }
  look.head.resize(head_bytes);
  const ssize_t n = ::pread(probe.get(), look.head.data(), head_bytes, 0);
  look.head.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return look;
}

}  // namespace quorvane::store
