#include "store/file_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "test_support.h"

namespace quorvane::store {
namespace {

using testing::TempDir;

// Whether another open file description of `path` could take the lock now.
bool lockable_from_a_new_descriptor(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return locked;
}

// The lock on `path`, or nothing (the failure reported).
std::optional<FileLock> locked(const std::string& path) {
  auto lock = FileLock::acquire(path);
  EXPECT_TRUE(lock) << (lock ? "" : lock.error());
  if (!lock) return std::nullopt;
  return std::optional<FileLock>(std::move(lock).value());
}

// A child that runs `body`, whose result (true: success) is its exit status, and which the
// alarm ends should it hang.
template <class Body>
pid_t fork_child(Body body) {
  const pid_t child = fork();
  if (child == 0) {
    alarm(20);
    _exit(body() ? 0 : 1);
  }
  return child;
}

bool exited_cleanly(pid_t child) {
  int status = 0;
  if (waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(FileLock, ReleasedInAForkedChildLeavesTheParentsLockInPlace) {
  TempDir dir;
  const std::string path = dir.file("a.db");
  std::optional<FileLock> lock = locked(path);
  ASSERT_TRUE(lock);
  const pid_t child = fork_child([&] {
    // The child's copy shares the parent's open file: unlocking it would free the parent's lock.
    lock.reset();
    return !lockable_from_a_new_descriptor(path);
  });
  ASSERT_TRUE(exited_cleanly(child));
  EXPECT_FALSE(lockable_from_a_new_descriptor(path));
  lock.reset();
  EXPECT_TRUE(lockable_from_a_new_descriptor(path));
}

TEST(FileLock, ParentsReleaseFreesTheFileWhileAChildHoldsACopy) {
  TempDir dir;
  const std::string path = dir.file("a.db");
  std::optional<FileLock> lock = locked(path);
  ASSERT_TRUE(lock);
  int release[2];
  ASSERT_EQ(pipe(release), 0);
  int answer[2];
  ASSERT_EQ(pipe(answer), 0);
  const pid_t child = fork_child([&] {
    ::close(release[1]);
    ::close(answer[0]);
    char byte = 0;
    if (::read(release[0], &byte, 1) != 1) return false;
    // The parent has let the file go, but this process's copy of the registry still names
    // it, and so does the database library's state copied at the fork: refused here.
    auto again = FileLock::acquire(path);
    const bool refused = !again && again.error() == kAlreadyOpenText;
    // The child's own locks on other files work as usual.
    const std::string other = path + "-child";
    bool own = static_cast<bool>(FileLock::acquire(other));  // acquired and released
    own = own && static_cast<bool>(FileLock::acquire(other));
    const char result = refused && own ? 'y' : 'n';
    return ::write(answer[1], &result, 1) == 1;
  });
  ::close(release[0]);
  ::close(answer[1]);

  lock.reset();
  // At once, while the child holds its copy of the descriptor: in this process and from a
  // descriptor of its own (as another process would).
  EXPECT_TRUE(lockable_from_a_new_descriptor(path));
  {
    auto again = FileLock::acquire(path);
    EXPECT_TRUE(again) << again.error();
  }
  const char go = 'g';
  ASSERT_EQ(::write(release[1], &go, 1), 1);
  char result = 0;
  EXPECT_EQ(::read(answer[0], &result, 1), 1);
  EXPECT_EQ(result, 'y');
  ::close(release[1]);
  ::close(answer[0]);
  EXPECT_TRUE(exited_cleanly(child));
}

}  // namespace
}  // namespace quorvane::store
