# Writing bytes to a descriptor, and keeping descriptors from child programs.

fd_write <- function(fd, data) {
  fd <- as_fd(fd)
  data <- as_bytes(data, "data")
  invisible(.Call(tarnwick_write, fd, data))
}

disable_inheritance <- function() {
  invisible(.Call(tarnwick_disable_inheritance))
}

fd_connection <- function(fd) {
  fd <- as_fd(fd)
  raise_as(sys.call(), checked(.Call(tarnwick_fd_connection, fd)), fd = fd)
}
