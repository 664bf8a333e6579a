\name{fd_write}
\alias{fd_write}
\title{Write bytes to a descriptor with one system call}
\description{
Write the bytes of a raw vector, or of a string, to a descriptor with exactly one
\code{write()} call and report how many bytes went out. A descriptor in non-blocking
mode that cannot take data right now counts as zero bytes written, not as an error.
}
\usage{
fd_write(fd, data)
}
\arguments{
\item{fd}{a descriptor: a single non-negative whole number (integer or double). It
  stays open.}
\item{data}{a raw vector, or a single string, whose bytes are written as
  \code{\link{charToRaw}} gives them, without conversion or terminating NUL.}
}
\details{
The write is neither repeated nor continued: a short count means that only the first
bytes went out, and writing the rest is up to the caller. The bytes go straight to
the descriptor, past R's connections and past \code{\link{sink}}.

On a blocking descriptor the call waits until the system takes some bytes: a full
pipe whose reader is slow or stuck holds R there, and an interrupt (Ctrl-C) does not
end the wait, since R's handler for it lets the system restart \code{write()}. Where
R must stay responsive, set the descriptor non-blocking; a full pipe then gives
\code{0} at once, and the caller decides when to try again.
}
\value{
Invisibly, the number of bytes written, an integer; \code{0} when the descriptor would
block. Other failures (a descriptor that is not open, a pipe without reader, an
interrupted call) raise an error such as \code{"Cannot write to fd (system error 9,
Bad file descriptor) @client:...(tarnwick_write)"}. Unlike the package's other errors,
it is a plain error, without the class \code{client_system_error}: catching it to add
the class would take longer than a short write. A bad argument raises a
\code{client_bad_argument} error.
}
\seealso{\code{\link{with_stdout}}}
\examples{
n <- fd_write(1, "written to descriptor 1\n")
n
fd_write(1, as.raw(c(0x6f, 0x6b, 0x0a)))   # "ok" and a line break
}
\keyword{connection}
