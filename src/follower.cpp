// The copier of follower.h: one thread per follower, which reads the file as it grows
// and writes what it read to the descriptor, and a mutex and condition variable that
// hand it the file and the request to stop.

#include "follower.h"

#include "io.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace follow {

// Bytes read from the file at a time.
constexpr std::size_t buffer_size = std::size_t{1} << 16;

// How long the thread waits for the file to grow before it looks again: well within
// the 50 ms in which a line should show, and few wake-ups for a quiet job.
constexpr auto idle_wait = std::chrono::milliseconds(5);

struct follower {
  std::mutex lock;
  std::condition_variable wake;
  int file_fd = -1;       // set once, under the lock
  bool stopping = false;  // under the lock
  bool copy_rest = true;  // under the lock
  int out_fd = -1;
  int copy_error = 0;  // the thread's own until it is joined
  std::unique_ptr<std::uint8_t[]> buffer;
  pthread_t thread;
};

namespace {

// The thread: waits for the file, then reads it to its end over and over, copying what
// it reads, until asked to stop; then copies what is left, unless told not to. A failed
// write ends the copy: its errno is kept for stop().
void* run(void* data) {
  auto* f = static_cast<follower*>(data);
  for (;;) {
    int file_fd = -1;
    bool stopping = false;
    {
      std::unique_lock<std::mutex> held(f->lock);
      f->wake.wait(held, [f] { return f->file_fd != -1 || f->stopping; });
      if (f->stopping && !f->copy_rest) return nullptr;
      file_fd = f->file_fd;
      stopping = f->stopping;
    }
    if (file_fd == -1) return nullptr;  // stopped before there was a file
    const ssize_t got = read(file_fd, f->buffer.get(), buffer_size);
    if (got > 0) {
      std::size_t done = 0;
      f->copy_error =
          write_all(f->out_fd, f->buffer.get(), static_cast<std::size_t>(got), &done);
      if (f->copy_error != 0) return nullptr;
      continue;
    }
    if (got == -1 && errno == EINTR) continue;
    // The end of what the file holds, or a file that cannot be read: after a stop
    // request, seen before this read, everything written before it has been copied.
    if (stopping || got == -1) return nullptr;
    std::unique_lock<std::mutex> held(f->lock);
    f->wake.wait_for(held, idle_wait, [f] { return f->stopping; });
  }
}

// Starts f's thread with every signal blocked: signals stay for R's thread, and a
// reader that has gone gives EPIPE. Returns 0 or the error of pthread_create(). A
// pthread, not a std::thread, whose template would be instantiated, and exported, for
// this library's own types.
int start_thread(follower* f) noexcept {
  sigset_t all;
  sigset_t old_mask;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &old_mask);
  const int err = pthread_create(&f->thread, nullptr, run, f);
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  return err;
}

}  // namespace

follower* start(int out_fd, int* err) noexcept {
  follower* f = new (std::nothrow) follower;
  std::uint8_t* buffer = new (std::nothrow) std::uint8_t[buffer_size];
  if (f == nullptr || buffer == nullptr) {
    delete f;
    delete[] buffer;
    *err = ENOMEM;
    return nullptr;
  }
  f->buffer.reset(buffer);
  f->out_fd = out_fd;
  *err = start_thread(f);
  if (*err != 0) {
    delete f;
    return nullptr;
  }
  return f;
}

bool follow_file(follower* f, int file_fd) noexcept {
  {
    std::lock_guard<std::mutex> held(f->lock);
    if (f->file_fd != -1) return false;
    f->file_fd = file_fd;
  }
  f->wake.notify_one();
  return true;
}

int stop(follower* f, bool copy_rest) noexcept {
  {
    std::lock_guard<std::mutex> held(f->lock);
    f->stopping = true;
    f->copy_rest = copy_rest;
  }
  f->wake.notify_one();
  pthread_join(f->thread, nullptr);
  // Not retried: on Linux, close() frees the descriptor even on EINTR.
  close(f->out_fd);
  if (f->file_fd != -1) close(f->file_fd);
  const int err = f->copy_error;
  delete f;
  return err;
}

}  // namespace follow
