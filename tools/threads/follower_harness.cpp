// The copier of split = TRUE alone, without R: a writer thread appends to a file while
// the follower copies it into a pipe that a reader thread drains, and every byte must
// arrive once and in order; then the ways a follower ends: stopped before it had a
// file, stopped without copying the rest, and a reader that has gone. Built with
// -fsanitize=thread by `make tsan`, which fails on any report.
// Usage: follower_harness [ROUNDS]
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../../src/follower.h"

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
  if (ok) return;
  std::fprintf(stderr, "follower_harness: %s\n", what.c_str());
  ++failures;
}

// A new empty file in the temporary folder, open for writing, and its path.
int new_file(std::string* path) {
  const char* tmp = std::getenv("TMPDIR");
  std::string name = std::string(tmp != nullptr ? tmp : "/tmp") + "/follower-XXXXXX";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  const int fd = mkstemp(buffer.data());
  *path = buffer.data();
  return fd;
}

// Reads fd to its end into *out.
void drain(int fd, std::vector<std::uint8_t>* out) {
  std::uint8_t chunk[8192];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got > 0) {
      out->insert(out->end(), chunk, chunk + got);
    } else if (got == 0 || errno != EINTR) {
      return;
    }
  }
}

// One round: `pieces` writes of random sizes while the follower copies.
void copy_round(std::mt19937& random, int pieces) {
  std::string path;
  const int write_fd = new_file(&path);
  int pipe_fds[2];
  check(write_fd != -1 && pipe(pipe_fds) == 0, "cannot make the file or the pipe");
  std::vector<std::uint8_t> sent;
  std::vector<std::uint8_t> received;
  std::thread reader(drain, pipe_fds[0], &received);
  int err = 0;
  follow::follower* f = follow::start(pipe_fds[1], &err);
  check(f != nullptr, "start failed");
  follow::follow_file(f, open(path.c_str(), O_RDONLY | O_CLOEXEC));
  std::uniform_int_distribution<int> size(0, 70000);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int i = 0; i < pieces; ++i) {
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(size(random)));
    for (auto& b : piece) b = static_cast<std::uint8_t>(byte(random));
    check(write(write_fd, piece.data(), piece.size()) ==
              static_cast<ssize_t>(piece.size()),
          "short write to the file");
    sent.insert(sent.end(), piece.begin(), piece.end());
    if (i % 7 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  check(follow::stop(f, true) == 0, "the copy failed");
  reader.join();
  close(pipe_fds[0]);
  close(write_fd);
  unlink(path.c_str());
  check(received == sent, "the copy differs from what was written: " +
                              std::to_string(received.size()) + " bytes of " +
                              std::to_string(sent.size()));
}

// Stopped before it had a file, and stopped without copying the rest.
void early_stops() {
  int pipe_fds[2];
  check(pipe(pipe_fds) == 0, "cannot make a pipe");
  int err = 0;
  follow::follower* f = follow::start(pipe_fds[1], &err);
  check(f != nullptr && follow::stop(f, true) == 0, "stop before a file");
  close(pipe_fds[0]);
  std::string path;
  const int write_fd = new_file(&path);
  check(pipe(pipe_fds) == 0, "cannot make a pipe");
  f = follow::start(pipe_fds[1], &err);
  follow::follow_file(f, open(path.c_str(), O_RDONLY | O_CLOEXEC));
  std::vector<std::uint8_t> big(1 << 20, 0x41);
  check(write(write_fd, big.data(), big.size()) == static_cast<ssize_t>(big.size()),
        "short write to the file");
  // Nothing reads the pipe, which holds less than the file: stopping must not wait.
  follow::stop(f, false);
  close(pipe_fds[0]);
  close(write_fd);
  unlink(path.c_str());
}

// The reader has gone: the copy ends with EPIPE, and the process takes no SIGPIPE.
void reader_gone() {
  std::string path;
  const int write_fd = new_file(&path);
  int pipe_fds[2];
  check(pipe(pipe_fds) == 0, "cannot make a pipe");
  close(pipe_fds[0]);
  int err = 0;
  follow::follower* f = follow::start(pipe_fds[1], &err);
  follow::follow_file(f, open(path.c_str(), O_RDONLY | O_CLOEXEC));
  check(write(write_fd, "gone\n", 5) == 5, "short write to the file");
  check(follow::stop(f, true) == EPIPE, "a reader that has gone gives EPIPE");
  close(write_fd);
  unlink(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 50;
  // SIGPIPE at its default: were the copier's thread to take it, the harness would die.
  signal(SIGPIPE, SIG_DFL);
  std::mt19937 random(20261210);
  for (int r = 0; r < rounds; ++r) copy_round(random, 1 + r % 40);
  early_stops();
  reader_gone();
  std::printf("follower_harness: %d rounds, %d failures\n", rounds, failures);
  return failures == 0 ? 0 : 1;
}
