\name{client-package}
\alias{client-package}
\alias{client}
\alias{client_error}
\alias{client_bad_argument}
\alias{client_malformed_base64}
\alias{client_system_error}
\docType{package}
\title{Descriptor-level output rerouting and base64 for R processes}
\description{
Functions that act on the process's descriptors, below R's connections, so that they
reach output of compiled code and of child programs as well as R's own, and a strict,
fast base64 codec. By task:
\itemize{
  \item Capture output as text or bytes: \code{\link{capture_stdout}},
    \code{\link{capture_stderr}}, \code{\link{capture_output}}.
  \item Send output to a file or a descriptor while code runs, and always put the
    stream back: \code{\link{with_stdout_file}}, \code{\link{with_stderr_file}},
    \code{\link{with_output_file}} (both streams into one file), each optionally
    appending, and \code{\link{with_stdout}}, \code{\link{with_stderr}}.
  \item Silence code, R's output, C code's and child programs' alike:
    \code{\link{suppress_output}}.
  \item Switch a stream by hand and put it back later: \code{\link{set_stdout}},
    \code{\link{set_stderr}}, \code{\link{set_stdout_file}},
    \code{\link{set_stderr_file}}.
  \item Write bytes to a descriptor with one system call: \code{\link{fd_write}};
    write to it through R's connections: \code{\link{fd_connection}}.
  \item Show in knitr documents what C code and child programs print:
    \code{\link{knit_descriptors}}.
  \item Keep descriptors from programs started later:
    \code{\link{disable_inheritance}}.
  \item Base64 in memory, with the URL-safe alphabet, padding or none, lines, many
    strings at once: \code{\link{base64_encode}}, \code{\link{base64_decode}}.
  \item Base64 from file to file, in bounded memory: \code{\link{base64_encode_file}},
    \code{\link{base64_decode_file}}.
}
\code{vignette("recipes", package = "client")} shows them at work: a job's log,
silencing, captured output, C output in R Markdown, PEM, MIME, JWT and data URIs,
large files.
\code{\link{client_routines}} describes \file{client.so}, which processes load by
hand to call the eight routines without the package.
}
\section{Errors}{
Every error the functions raise has the class \code{client_error}, and, by kind:
\describe{
  \item{\code{client_bad_argument}}{an argument is not what the function takes;
    \code{argument} names it.}
  \item{\code{client_malformed_base64}}{text is not base64 under the options;
    \code{offset} (counted from 1) and \code{byte} say which byte is wrong, both
    \code{NA} when only the length is.}
  \item{\code{client_system_error}}{a system call failed; \code{errno} is the error
    number, and \code{fd} or \code{path} the descriptor or file where there is one.}
}
So \code{tryCatch(with_output_file(log, job()), client_system_error = ...)} takes a log
that cannot be opened, and nothing else. One exception: \code{\link{fd_write}} raises
its system errors as plain errors, since a handler would double the time of a short
write.
}
\examples{
log <- tempfile()
with_output_file(log, system("echo out; echo err 1>&2"))
readLines(log)
tryCatch(base64_decode("YW J"), client_malformed_base64 = function(e) e$offset)
unlink(log)
}
\keyword{package}
