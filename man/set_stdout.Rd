\name{set_stdout}
\alias{set_stdout}
\alias{set_stderr}
\alias{set_stdout_file}
\alias{set_stderr_file}
\title{Reroute standard output or standard error}
\description{
Make the process's standard output (descriptor 1) or standard error (descriptor 2)
refer to a descriptor that you hold or to a file, and put the earlier stream back
later. The switch happens at the level of descriptors, so everything the process
writes there afterwards follows it: output of R, of compiled code and of child
programs started with \code{\link{system}} or \code{\link{system2}}.
For the common case of rerouting while one expression runs, prefer
\code{\link{with_stdout_file}} and friends, which always put the stream back.
}
\usage{
set_stdout(fd, drop = TRUE)
set_stderr(fd, drop = TRUE)
set_stdout_file(path, append = FALSE)
set_stderr_file(path, append = FALSE)
}
\arguments{
\item{fd}{a descriptor: a single non-negative whole number (integer or double). It is
  \emph{consumed}: once the stream refers to it, \code{fd} is closed, and must not be
  used or closed again. Two exceptions: rerouting a stream to its own number
  (\code{set_stdout(1)}) leaves it open, and the other standard stream is never
  consumed: \code{set_stdout(2)}, like the shell's \code{1>&2}, makes standard output
  go where standard error goes and leaves standard error open.}
\item{drop}{\code{TRUE} to let the earlier stream go, \code{FALSE} to keep a duplicate
  of it and return its number.}
\item{path}{the file to write to, a single non-empty string; \code{~} is expanded. The
  file is created with mode 0644 (narrowed by the umask) if it is missing; an existing
  one is emptied, or appended to.}
\item{append}{\code{TRUE} to add to the end of the file: every write lands at the
  file's end, also when other processes append to the same file.}
}
\details{
R's own buffer for the stream is flushed before the switch, so output written before
it stays where it was written. If the flush fails, its error is raised and nothing
changes. A closed stream is refused: with descriptor 1 closed, \code{set_stdout_file}
fails with "Bad file descriptor", as \code{set_stdout} does, and the file is not
created.

Unlike \code{\link{sink}}, which diverts only what R itself prints, these functions
change the descriptor: output of C code and of child programs is rerouted as well.

They act on the descriptor alone. What R prints follows only where R prints through
the descriptor (\command{Rscript}, a terminal); under an active \code{sink}, in a GUI
console and in knitr it goes where it went. A switch by hand has no end at which R's
sinks could be put back, so it leaves them alone: to send R's own output along in
every front end, use \code{\link{with_stdout_file}} and friends, or push
\code{sink(\link{fd_connection}(1))} yourself and pop it when you put the stream back.

A saved duplicate is close-on-exec: programs started while the stream is rerouted do
not inherit it. Were it inherited, a program left running in the background would hold
the earlier stream open (often a pipe that a parent process reads until end of file),
and the parent would wait for that program rather than for R. Putting the stream back
leaves descriptor 1 or 2 inheritable, as it was.
}
\value{
Invisibly: for \code{set_stdout} and \code{set_stderr}, \code{NULL} when \code{drop}
is \code{TRUE}, else the number of the saved duplicate of the earlier stream, an
integer. \code{set_stdout_file} and \code{set_stderr_file} always return the saved
duplicate. Hand it back to \code{set_stdout(saved)} (or \code{set_stderr}) to put the
earlier stream back; that also closes it.

Failed system calls raise errors that name the call, the system error and the place,
such as \code{"Cannot open new stdout file `/no/dir/f` (system error 2, No such file or
directory) @client:...(tarnwick_set_stdout_to_file)"}; the stream is then unchanged.
Their class is \code{client_system_error}, with the error number in \code{errno} and
the descriptor or path in \code{fd} or \code{path} (see \code{\link{client}}).
}
\seealso{\code{\link{with_stdout_file}} for scoped rerouting, \code{\link{fd_write}}.}
\examples{
log <- tempfile(fileext = ".log")
saved <- set_stdout_file(log)   # saved: a duplicate of the earlier stdout
cat("printed by R\n")
system("echo printed by a child program")
set_stdout(saved)               # stdout is back, and `saved` is closed
readLines(log)

err_log <- tempfile(fileext = ".log")
saved <- set_stderr_file(err_log)
message("a message")
set_stderr(saved)
readLines(err_log)
unlink(c(log, err_log))
}
\keyword{utilities}
