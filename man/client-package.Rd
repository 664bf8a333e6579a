\name{client-package}
\alias{client-package}
\alias{client}
\docType{package}
\title{Descriptor-level output rerouting and base64 for R processes}
\description{
Functions that act on the process's descriptors, below R's connections, so that they
reach output of compiled code and of child programs as well as R's own:
\itemize{
  \item \code{\link{with_stdout_file}}, \code{\link{with_stderr_file}},
    \code{\link{with_stdout}} and \code{\link{with_stderr}} evaluate code with
    standard output or standard error rerouted, and always put the stream back;
  \item \code{\link{capture_stdout}}, \code{\link{capture_stderr}} and
    \code{\link{capture_output}} return what the process printed while code ran, as
    lines or bytes;
  \item \code{\link{set_stdout}}, \code{\link{set_stderr}},
    \code{\link{set_stdout_file}} and \code{\link{set_stderr_file}} switch a stream
    by hand and hand back a duplicate of the earlier one;
  \item \code{\link{fd_write}} writes bytes to a descriptor with one system call;
  \item \code{\link{disable_inheritance}} keeps descriptors from programs started
    later;
  \item \code{\link{base64_encode}} and \code{\link{base64_decode}} convert between
    bytes and base64 text.
}
Child R processes that load the shared object without the package can call the
registered routines behind these functions with \code{.Call}; see the README.
}
\examples{
log <- tempfile()
with_stdout_file(log, system("echo from a child program"))
readLines(log)
unlink(log)
}
\keyword{package}
