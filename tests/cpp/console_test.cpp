#include "util/console.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace quorvane {
namespace {

// Puts one end of a socket pair that keeps writes apart (each write is one packet, each
// receive takes one) in place of a stream's descriptor, so that a test sees every write.
class WritesOf {
 public:
  explicit WritesOf(std::FILE* stream) : stream_(stream), fd_(fileno(stream)) {
    std::fflush(stream_);
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends_), 0);
    saved_ = ::dup(fd_);
    EXPECT_GE(::dup2(ends_[0], fd_), 0);
  }
  ~WritesOf() {
    std::fflush(stream_);
    ::dup2(saved_, fd_);
    ::close(saved_);
    ::close(ends_[0]);
    ::close(ends_[1]);
  }
  WritesOf(const WritesOf&) = delete;
  WritesOf& operator=(const WritesOf&) = delete;

  // Every write made so far, in order.
  std::vector<std::string> taken() {
    std::vector<std::string> writes;
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::recv(ends_[1], buffer, sizeof buffer, MSG_DONTWAIT);
      if (n < 0) break;
      writes.emplace_back(buffer, static_cast<size_t>(n));
    }
    return writes;
  }

 private:
  std::FILE* stream_;
  int fd_;
  int ends_[2] = {-1, -1};
  int saved_ = -1;
};

// The length of each write, so that a failure shows how a line was cut.
std::vector<size_t> lengths_of(const std::vector<std::string>& writes) {
  std::vector<size_t> lengths;
  lengths.reserve(writes.size());
  for (const std::string& w : writes) lengths.push_back(w.size());
  return lengths;
}

TEST(Console, EachLineGoesOutInOneWrite) {
  const std::string line = "Failed to create backup database: no such directory";
  const std::string long_line(20000, 'x');  // longer than a stream's buffer
  for (auto [stream, print] :
       {std::pair{stderr, &print_stderr_line}, std::pair{stdout, &print_stdout_line}}) {
    WritesOf writes(stream);
    print(line);
    print(long_line);
    print("");
    const std::vector<std::string> taken = writes.taken();
    EXPECT_EQ(lengths_of(taken), (std::vector<size_t>{line.size() + 1, long_line.size() + 1, 1}));
    if (taken.size() == 3) {
      EXPECT_EQ(taken[0], line + "\n");
      EXPECT_TRUE(taken[1] == long_line + "\n");
      EXPECT_EQ(taken[2], "\n");
    }
  }
}

TEST(Console, WhatTheStreamHeldGoesOutBeforeTheLine) {
  WritesOf writes(stdout);
  std::fputs("before ", stdout);  // kept in the buffer: the descriptor is not a terminal
  print_stdout_line("line");
  const std::vector<std::string> taken = writes.taken();
  std::string all;
  for (const std::string& w : taken) all += w;
  EXPECT_EQ(all, "before line\n");
  ASSERT_FALSE(taken.empty());
  EXPECT_TRUE(taken.back().ends_with("line\n")) << taken.back();
}

}  // namespace
}  // namespace quorvane
