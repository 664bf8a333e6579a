\name{with_stdout}
\alias{with_stdout}
\alias{with_stderr}
\alias{with_stdout_file}
\alias{with_stderr_file}
\alias{with_output_file}
\alias{suppress_output}
\title{Evaluate code with standard output or standard error rerouted}
\description{
Evaluate \code{code} with the process's standard output (descriptor 1) or standard
error (descriptor 2) rerouted to a file or to a descriptor you hold, and put the
earlier stream back afterwards: on normal return, when \code{code} raises an error,
and when it is interrupted. Calls nest: each puts back the stream it found.

Output written by C code and by child programs started inside \code{code} (through
\code{\link{system}}, \code{\link{system2}} and the like) lands in the file too, and so
does R's own output, in the order it was all written, whatever front end runs R: a
terminal, a GUI console, an active \code{\link{sink}}, \code{\link{capture.output}},
knitr. \code{\link{sink}} alone diverts only the output that R itself prints.

\code{with_output_file} sends both streams into one file, as the shell's
\code{>file 2>&1} does, so that lines land in the order they were written;
\code{suppress_output} sends both to the null device and returns the value of
\code{code}, for R code, compiled code and child programs alike.
}
\usage{
with_stdout_file(path, code, append = FALSE, split = FALSE)
with_stderr_file(path, code, append = FALSE, split = FALSE)
with_output_file(path, code, append = FALSE, split = FALSE)
with_stdout(fd, code)
with_stderr(fd, code)
suppress_output(code)
}
\arguments{
\item{path}{the file to write to, a single non-empty string; \code{~} is expanded. The
  file is created with mode 0644 (narrowed by the umask) if it is missing; an existing
  one is emptied, or appended to. Do not name one path in two calls, as in
  \code{with_stdout_file(p, with_stderr_file(p, code))}: each call opens the file on its
  own, and the two streams overwrite each other's lines. \code{with_output_file(p,
  code)} is the way to send both streams into one file.}
\item{append}{\code{TRUE} to add to the end of the file, as a log is kept: every write
  lands at the file's end, also when other processes append to the same file.}
\item{split}{\code{TRUE} to keep seeing the output while it goes into the file, as
  \code{\link{sink}(split = TRUE)} and the shell's \command{tee} do: see
  \sQuote{Split}.}
\item{fd}{a descriptor that you hold, such as a pipe inherited from a parent process:
  a single non-negative whole number (integer or double). It is \emph{consumed}: it is
  closed as soon as the stream refers to it, so its number must not be used or closed
  again afterwards, also not after \code{code} has run. The other standard stream is
  the exception: \code{with_stdout(2, code)} sends standard output where standard
  error goes and leaves standard error open.}
\item{code}{the expression to evaluate. It is evaluated once, in the calling
  environment, after the stream has been switched.}
}
\details{
\strong{R's own output.} While \code{code} runs, what R prints to the rerouted stream
goes where the descriptor goes: \code{cat()}, \code{print()}, messages, warnings
printed at once (\code{options(warn = 1)}) and anything else written to
\code{stdout()} or \code{stderr()}. For standard output the call pushes a
\code{\link{sink}} onto a connection to descriptor 1 (see \code{\link{fd_connection}})
over whatever sink is active; for standard error it makes such a connection the
message sink. Afterwards R's output goes back where it went: the sink stack as it was
(sinks that \code{code} pushed and left are taken off), the message sink that was in
force, the console. A message that \code{code} signals while standard error is
rerouted is printed at once, where the call sends it, and goes no further: handlers
outside the call (\code{suppressMessages()} around it, knitr's) do not see it; put them
inside \code{code}.

R's own buffer for the stream is flushed before the switch and before the stream is
put back, so every line lands where it was written. For standard output the flush also
sends out what compiled code left in the C library's buffer.

The stream is put back however \code{code} ends: when it returns, when it raises an
error, and when it is interrupted. An error is reported where the user sees it: the
stream is put back before R prints the error's message, so that the message of an error
that leaves \code{with_stderr_file} reaches the console rather than the file. This
holds for a warning turned into an error (\code{options(warn = 2)}) too. An interrupt
can come at any moment, also while the stream is being switched or put back, and
still never leaves the stream switched, R's output diverted or the saved duplicate
open: interrupts are held from the switch until its duplicate is
recorded, and while the stream is put back. \code{code} itself runs with interrupts as
the caller has them.

A flush that fails when the stream is put back (a pipe whose reader has gone, say) does
not keep it from being put back. Its error is raised afterwards, in place of the value
of \code{code}. If \code{code} raised an error, that error is the one raised, and the
failed flush comes as a warning.

\strong{Split.} With \code{split = TRUE}, everything that reaches the file also reaches,
as it is written, the stream that the descriptor held before the call: a line that a
child program writes shows there within a few milliseconds, while \code{code} still
runs. The file is exactly what it would be without \code{split}, and the copy has
every byte once, in the order written. \code{with_output_file} copies the merged
streams to the earlier standard output, as \code{2>&1 | tee} does;
\code{with_stdout_file} and \code{with_stderr_file} copy to their own earlier stream.
Where R's own output went elsewhere than descriptor 1 before the call (an active sink,
a GUI console), R's lines also go on there, as \code{sink(split = TRUE)} sends them; R
cannot split its message stream, so messages reach the earlier descriptor 2 only.

A thread of the package follows the file as it grows and copies what arrives; the
descriptor itself goes to the file as without \code{split}. The thread blocks every
signal and holds only close-on-exec descriptors, so interrupts still reach R and
programs started meanwhile inherit nothing of it. A slow reader of the earlier stream
slows the copy and nothing else: the call waits at its end until everything has been
copied, as \command{tee} does. If that reader goes away (a closed pipe), \code{code}
runs on, the file keeps everything, R is not killed by \code{SIGPIPE}, and one warning
says that the copy stopped. However the call ends, the thread is stopped and its
descriptors closed before it returns. A program that outlives \code{code}, such as
\code{system("job &")}, goes on writing into the file, as it would without
\code{split}; what it writes after the call has returned is not copied. With
\code{append = TRUE} the copy starts at the file's end, and lines that other processes
append to the file meanwhile are copied too. If the copy cannot be started, an error
is raised before anything changes.

If the switch fails (the file cannot be opened, the stream is closed, no descriptor is
left), an error that names the call is raised before \code{code} runs, and the stream
is unchanged. Such errors have the class \code{client_system_error}, with the system's
error number in \code{errno} and the path or descriptor in \code{path} or \code{fd}; a
bad argument raises a \code{client_bad_argument} error (see \code{\link{client}}). A
closed stream is refused rather than rerouted: with descriptor 1 closed,
\code{with_stdout_file()} fails with "Bad file descriptor", as \code{with_stdout()}
does.
}
\value{The value of \code{code}.}
\seealso{\code{\link{capture_stdout}} to get the output back as text,
\code{\link{set_stdout}} to switch and restore by hand.}
\examples{
log <- tempfile(fileext = ".log")
answer <- with_stdout_file(log, {
  cat("printed by R\n")
  system("echo printed by a child program")   # sink() would miss this line
  fd_write(1, "written to descriptor 1\n")
  42
})
answer
readLines(log)

# The stream comes back also when the code fails.
try(with_stderr_file(log, {
  system("echo a child program complains 1>&2")
  stop("failed inside")
}))
readLines(log)

# Both streams into one log, added to its end.
with_output_file(log, append = TRUE, {
  cat("to standard output\n")
  message("to standard error")
})
readLines(log)

# A job's log that can be watched as it is written, as `job 2>&1 | tee job.log`.
with_output_file(log, split = TRUE, {
  system("echo step 1; sleep 0.1; echo step 2")
})
readLines(log)

# Nothing printed, by R or by a child program; the value comes back.
suppress_output({
  system("echo never seen")
  "the value"
})

# A descriptor: here a duplicate of the log file's, taken while stdout referred to it.
fd <- with_stdout_file(log, set_stdout(1, drop = FALSE))
with_stdout(fd, cat("through the descriptor\n"))   # fd is closed from here on
readLines(log)
unlink(log)
}
\keyword{utilities}
