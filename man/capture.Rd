\name{capture_stdout}
\alias{capture_stdout}
\alias{capture_stderr}
\alias{capture_output}
\title{Capture what R, compiled code and child programs print}
\description{
Evaluate \code{code} and return everything written meanwhile to the process's standard
output (descriptor 1), standard error (descriptor 2), or both, as lines of text or as
bytes. Unlike \code{\link{capture.output}} and \code{\link{sink}}, which see only what
R itself prints, these catch the output of C, C++ and Fortran code
(\code{printf}, \code{std::cout}, \code{REprintf}) and of programs started with
\code{\link{system}} or \code{\link{system2}} as well.
}
\usage{
capture_stdout(code, raw = FALSE, split = FALSE)
capture_stderr(code, raw = FALSE, split = FALSE)
capture_output(code, raw = FALSE, split = FALSE)
}
\arguments{
\item{code}{the expression to evaluate, once, in the calling environment. Its value
  is printed when visible, as at the console, so \code{capture_stdout(1:3)} gives
  \code{"[1] 1 2 3"}.}
\item{raw}{\code{FALSE} for a character vector of lines, \code{TRUE} for a raw vector
  of the exact bytes written.}
\item{split}{\code{TRUE} to also show the output as it is written, on the stream it
  is taken from (for \code{capture_output}, standard output), as
  \code{\link{with_stdout_file}(split = TRUE)} does; the value is the same. A failing
  call then shows nothing again: it has been seen already.}
}
\details{
\code{capture_output} takes both streams into one, in the order they were written, as
the shell's \code{>file 2>&1} does.

The streams are rerouted to a temporary file in R's session temporary folder, never to
a pipe, so output of any size passes; the file is removed however the call ends. R's
buffer for the stream, and for standard output the C library's, is flushed before the
switch and before the stream is put back: what compiled code printed before the call
is not captured, and what it printed inside is. The C library writes standard error at
once but buffers standard output when it is a file, so in \code{capture_output} lines
that compiled code prints with \code{printf} can come after later ones on standard
error.

Lines come back as \code{\link{readLines}} gives them, without re-encoding: a last line
without a line end is kept, and nothing written gives \code{character(0)}. A string
cannot hold a NUL byte: a line that holds one ends at it, as \code{readLines} ends it,
and one warning says so. With \code{raw = TRUE} the bytes come back exactly, NUL bytes
and invalid UTF-8 included.

\strong{When \code{code} fails.} If \code{code} raises an error or is interrupted, the
streams are put back first; then what \code{code} printed until then is printed where
R printed that stream before the call (for \code{capture_output}, standard output), as
text without NUL bytes, and the error or interrupt goes on. A failing call thus shows its output as if it had not been
captured, ahead of the error's message. The guarantees of \code{\link{with_stdout}}
hold here too: the streams come back also when an interrupt strikes while they are
switched or put back, and when a flush on the way back fails.

Captures nest with each other and with the \code{with_*()} functions: an inner capture
takes what is printed inside it, and the outer one gets the rest, in order.

A closed stream is not captured: with descriptor 1 closed, \code{capture_stdout} fails
with "Bad file descriptor" before \code{code} runs, as \code{\link{with_stdout_file}}
does.

\strong{What is captured, in each front end.} Everything written to the stream while
\code{code} runs: by C, C++ and Fortran code, by child programs, and by R itself
(\code{cat()}, \code{print()}, the printed value, messages, warnings printed at once),
in the order it was written. That holds in \command{Rscript}, \code{R -f}, a terminal
R, a GUI console that shows R's output itself (RStudio, R.app, Rgui), under an active
\code{\link{sink}} of either type, inside \code{\link{capture.output}}, and in knitr
and Sweave documents: R's own output is sent to the descriptor for the call's extent
(see \code{\link{with_stdout}}) and goes back where it went afterwards, so a user's sink
receives none of what the call takes. A message signalled by \code{code} is captured
by \code{capture_stderr} and \code{capture_output} even where a handler outside would
take it first, as knitr's does. Warnings are conditions: unless \code{options(warn =
1)} prints them at once, R reports them after the top-level call, and knitr records
them itself. A replayed failure goes where R printed before the call: the console, a
sink or the descriptor.
}
\value{
A character vector of lines, or with \code{raw = TRUE} a raw vector. Failed system
calls raise errors as for \code{\link{with_stdout_file}}.
}
\seealso{\code{\link{with_stdout_file}} to send output to a file of your choice,
\code{\link{capture.output}}.}
\examples{
capture_stdout(system("echo printed by a child program"))
capture_stdout(1:3)
capture_stderr(message("a message"))
capture_output({
  cat("to standard output\n")
  system("echo to standard error 1>&2")
})
capture_stdout(fd_write(1, as.raw(c(0x00, 0xff))), raw = TRUE)

# Watch the output and get it too, as in a test that checks what was printed.
lines <- capture_output(system("echo seen and kept"), split = TRUE)

# A failing call shows its output, then the error.
try(capture_stdout({
  cat("printed before the error\n")
  stop("failed inside")
}))
}
\keyword{utilities}
