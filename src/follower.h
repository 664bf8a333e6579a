// A copier that follows a file as it grows, on a thread of its own, and copies what
// arrives to a descriptor: what split = TRUE runs while code writes into a file. No R
// here: the thread never touches R's API or its memory, and the harness in
// tools/threads/ runs it alone.
#ifndef CLIENT_FOLLOWER_H
#define CLIENT_FOLLOWER_H

namespace follow {

struct follower;

// Starts a follower whose thread waits for a file and then copies it to out_fd. The
// thread blocks every signal. Takes out_fd on success; returns null with *err set (and
// out_fd left to the caller) when the thread or its memory cannot be had.
follower* start(int out_fd, int* err) noexcept;

// Hands the follower the file to copy, from the descriptor's current offset on; the
// follower owns file_fd from here on. From then on what the file gains is copied
// within a few milliseconds. A follower takes one file: false, with file_fd left to the
// caller, when it has one already.
bool follow_file(follower* f, int file_fd) noexcept;

// Stops the follower and frees it: with copy_rest, once what the file holds has all
// been copied (which waits for a slow reader, as tee does), else at once. Closes both
// descriptors. Returns the errno of the write to out_fd that stopped the copy, or 0.
int stop(follower* f, bool copy_rest) noexcept;

}  // namespace follow

#endif  // CLIENT_FOLLOWER_H
