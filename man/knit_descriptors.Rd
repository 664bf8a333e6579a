\name{knit_descriptors}
\alias{knit_descriptors}
\title{Show what C code and child programs print in a knitr document}
\description{
Called once in a document's setup chunk, from then on what each expression writes to
descriptors 1 and 2 (C and C++ code, \code{\link{system}} and other child programs,
\code{\link{fd_write}}) appears in the rendered document as that expression's output,
in its place among R's own output, messages, warnings, errors and plots, as the console
would have shown it. Without it knitr collects only what R prints, and the rest goes to
the terminal that runs \code{knit()}.
}
\usage{
knit_descriptors()
}
\details{
It works in R Markdown, Quarto and Sweave-syntax documents knitted by knitr. Each
chunk runs with descriptors 1 and 2 rerouted into one temporary file, and with R's own
output sent there too while an expression runs, so everything lands in the order it
was written; what the file gained is added to the document after each expression and
before each message, warning, error and new plot. Nothing of a chunk's descriptor
output reaches the terminal. \code{\link{capture_stdout}} and its kin inside a chunk
take everything, messages included, and leave nothing in the document.

The chunk option \code{descriptors = FALSE} turns it off for one chunk. It lasts until
the end of the document: knitr sets its hooks back when \code{knit()} returns. A
document that does not call it knits as it always has; loading the package changes
nothing. Outside a document being knitted it does nothing and returns \code{FALSE}.
Inline R code is evaluated outside chunks and is not covered. NUL bytes, which a
string cannot hold, are left out. With a version of evaluate that takes no calling
handlers (before 0.15; R 4.0 in Debian 11 has 0.14) a message, warning or error shows
before the descriptor output of the expression that signalled it.
}
\value{Invisibly, \code{TRUE} when knitr is knitting, else \code{FALSE}.}
\seealso{\code{vignette("recipes", package = "client")}, which is knitted this way.}
\examples{
# In a document's setup chunk:
library(client)
knit_descriptors()
# Later chunks then show, for example, the output of
system("echo printed by a child program")
}
\keyword{utilities}
