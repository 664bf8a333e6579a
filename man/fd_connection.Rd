\name{fd_connection}
\alias{fd_connection}
\title{A connection that writes to a descriptor}
\description{
Make a write-only R connection onto a descriptor that the process holds, such as a
pipe that a parent process handed to a worker, so that \code{\link{writeLines}},
\code{\link{cat}}, \code{\link{writeBin}}, \code{\link{serialize}} and
\code{\link{sink}} write to it. R itself opens connections only onto files, pipes it
starts and sockets, never onto a descriptor it inherited.
}
\usage{
fd_connection(fd)
}
\arguments{
\item{fd}{a descriptor open for writing: a single non-negative whole number (integer
  or double). It stays yours: closing the connection leaves it open.}
}
\details{
The connection is open in binary mode (\code{"wb"}) from the start. Its writes are not
buffered: each reaches the descriptor before the writing function returns, in the
order written, so output through the connection and output of C code or child
programs on the same descriptor never change places. A write goes on after a short
write and after an interrupted system call; on a non-blocking descriptor that cannot
take more yet, it waits until it can, taking interrupts meanwhile, so nothing is lost.
A pipe whose reader has gone gives an error, not R's "ignoring SIGPIPE signal".

A descriptor that is not open, or open only for reading, is refused with an error of
class \code{client_system_error} (field \code{errno}). A write that fails raises
"Cannot write to fd \var{n}" with the system's reason; after that the connection takes
nothing more, silently, since R may print the error through that very connection (as
a message sink): close it. Writing to a pipe that no one reads blocks once the pipe is
full, as any writer does.
}
\value{A connection of class \code{c("fd_connection", "connection")}.}
\seealso{\code{\link{fd_write}} for one \code{write(2)} of a raw vector,
\code{\link{with_stdout}}, which sends R's own output along with the descriptor.}
\examples{
con <- fd_connection(1)   # standard output, wherever it goes
writeLines(c("one line", "and another"), con)
cat("numbers:", 1:3, "\n", file = con)
close(con)                # descriptor 1 stays open

\dontrun{
# In a worker whose parent handed it descriptor 3:
con <- fd_connection(3)
serialize(result, con)
close(con)
}
}
\keyword{connection}
