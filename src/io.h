// Writing to descriptors without R, shared by the file routines and the copier's thread.
#ifndef CLIENT_IO_H
#define CLIENT_IO_H

#include <cstddef>

// Writes all of data[0, n) to fd: on after short writes and EINTR, waiting with poll()
// while a non-blocking descriptor would block. Returns 0 or the errno of the write that
// failed; *done counts the bytes written either way. Touches no R, so any thread may
// call it.
int write_all(int fd, const void* data, std::size_t n, std::size_t* done) noexcept;

#endif  // CLIENT_IO_H
