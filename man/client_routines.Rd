\name{client_routines}
\alias{client_routines}
\title{The routines of client.so, for processes that load it by hand}
\description{
The package installs two shared objects. \file{client_package.so} is its own library,
the one its functions call. \file{client.so} beside it holds the eight routines alone,
fixed, for a process that must not attach the package (a child R that reroutes its
streams before anything else runs, say) and loads the object with
\code{\link{dyn.load}}. The file must keep the name \file{client.so}, so that R finds
its \code{R_init_client} entry, and the routines must be reached through their
registered symbols (\code{\link{getNativeSymbolInfo}}): names given as strings are
refused.
}
\details{
The routines check nothing beyond what R's accessors check: pass exactly the types
below, each with at least one element. They raise R errors located in the library,
such as \code{"Cannot write to fd (system error 9, Bad file descriptor)
@client:<line> (tarnwick_write)"}.
\tabular{lll}{
  routine \tab arguments \tab result \cr
  \code{tarnwick_set_stdout}, \code{tarnwick_set_stderr} \tab integer descriptor,
    logical drop flag \tab \code{NULL}, or with the flag \code{FALSE} a close-on-exec
    duplicate of the earlier stream \cr
  \code{tarnwick_set_stdout_to_file}, \code{tarnwick_set_stderr_to_file} \tab
    character path \tab the duplicate of the earlier stream; the file is created with
    mode 0644 or emptied \cr
  \code{tarnwick_write} \tab integer descriptor, raw vector \tab bytes written by one
    \code{write()}, 0 when it would block \cr
  \code{tarnwick_disable_inheritance} \tab none \tab \code{NULL} \cr
  \code{tarnwick_base64_encode} \tab raw vector \tab its standard, padded base64
    text, a raw vector \cr
  \code{tarnwick_base64_decode} \tab raw vector of text \tab the decoded bytes; for
    malformed text a vector of zeros or partly decoded bytes, never an error \cr
}
A descriptor handed to a set routine is consumed: it is closed once the stream refers
to it. \file{client.so} also exports \code{r_throw_error} and
\code{r_throw_system_error}, which raise R errors in the same format, for native code
that links against it.
}
\seealso{\code{\link{set_stdout}}, \code{\link{base64_decode}}: the package's
functions check their arguments, keep the streams safe under errors and interrupts,
and decode strictly.}
\examples{
log <- tempfile()
script <- tempfile(fileext = ".R")
writeLines(c(
  sprintf("dll <- dyn.load(\%s)",
    deparse(system.file("libs", "client.so", package = "client"))),
  "routine <- function(name) getNativeSymbolInfo(name, dll, TRUE)",
  sprintf("saved <- .Call(routine('tarnwick_set_stdout_to_file'), \%s)", deparse(log)),
  "system('echo this lands in the log')",
  "invisible(.Call(routine('tarnwick_set_stdout'), saved, TRUE))"), script)
system2(file.path(R.home("bin"), "Rscript"), c("--vanilla", shQuote(script)))
readLines(log)
unlink(c(log, script))
}
\keyword{programming}
