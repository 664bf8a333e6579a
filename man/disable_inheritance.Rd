\name{disable_inheritance}
\alias{disable_inheritance}
\title{Keep this process's descriptors from programs it starts later}
\description{
Mark the process's descriptors close-on-exec, so that programs started afterwards
(through \code{\link{system}}, \code{\link{system2}}, \code{\link{pipe}} and the like)
do not inherit them: a child program then cannot hold a pipe or a file of this
process open. Descriptors 0 to 15 are all tried; from 16 on, the sweep goes on up to
the first descriptor that is not open.
}
\usage{
disable_inheritance()
}
\details{
Descriptors 0, 1 and 2 are marked too. Functions that hand a child program its
standard streams explicitly (such as \code{system(intern = TRUE)} and
\code{system2(stdout = TRUE)}) still do so; a plain \code{system()} call starts its
program without the standard streams that are still marked.

The mark on descriptor 1 or 2 lasts until that stream is rerouted or put back, which
gives the descriptor a new file and no mark: after a later
\code{\link{capture_stdout}}, \code{\link{with_stdout_file}} or
\code{\link{set_stdout}}, descriptor 1 is inheritable again, and so is descriptor 2
after their \code{stderr} and \code{output} forms. Call \code{disable_inheritance()}
right before starting the program that should inherit nothing. On other descriptors
the mark lasts for the whole process and cannot be undone from R, which is why the
example runs in a child R process.
}
\value{\code{NULL}, invisibly. The sweep never fails: descriptors that cannot be
marked are passed over.}
\examples{
code <- c(
  "con <- file(tempfile(), 'w')   # a descriptor that programs would inherit",
  "seen <- function() length(system('ls /dev/fd', intern = TRUE))",
  "before <- seen()",
  "client::disable_inheritance()",
  "cat('a child program saw', before, 'descriptors before and', seen(), 'after\\\\n')")
script <- tempfile(fileext = ".R")
writeLines(code, script)
system2(file.path(R.home("bin"), "Rscript"), c("--vanilla", shQuote(script)))
unlink(script)
}
\keyword{utilities}
