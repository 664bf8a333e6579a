\name{base64_encode_file}
\alias{base64_encode_file}
\alias{base64_decode_file}
\title{Encode a file as base64 text and decode it back, in bounded memory}
\description{
Read \code{input} and write its base64 encoding, or the bytes its base64 text decodes
to, into \code{output}, a chunk at a time: memory stays under about 64 MiB whatever
the size of the file. The options are those of \code{\link{base64_encode}} and
\code{\link{base64_decode}}, and so is the strictness.
}
\usage{
base64_encode_file(input, output, url = FALSE, pad = TRUE, width = 0, eol = "\n")
base64_decode_file(input, output, url = FALSE, breaks = FALSE)
}
\arguments{
\item{input}{the file to read, a single non-empty string; \code{~} is expanded.}
\item{output}{the file to write, a single non-empty string; it is created, or replaced
  once the whole output is written.}
\item{url, pad, width, eol, breaks}{as for \code{\link{base64_encode}} and
  \code{\link{base64_decode}}.}
}
\details{
The output is written to a new file beside \code{output} and renamed into place when
it is complete. On any failure (malformed text, an error while reading or writing, an
interrupt) \code{output} stays as it was and the new file is removed.

Malformed text is refused with an error that names the offset of the offending byte in
the file, counted from 1, line ends included. The file is read once, so a bad byte is
reported as it is reached, before a length that is wrong only at the end.

\code{base64_encode_file(input, output)} writes what \command{base64 -w0} writes,
without its final line end; \code{width = 76} writes MIME lines like
\command{base64 -w76}. \code{base64_decode_file(input, output, breaks = TRUE)} decodes
what \command{base64} writes.
}
\value{The number of bytes written to \code{output}, invisibly.}
\seealso{\code{\link{base64_encode}}}
\examples{
data <- tempfile()
text <- tempfile()
back <- tempfile()
writeBin(as.raw(0:255), data)
base64_encode_file(data, text, width = 76)
readLines(text)
n <- base64_decode_file(text, back, breaks = TRUE)
n
identical(readBin(back, "raw", 1000), as.raw(0:255))
unlink(c(data, text, back))
}
\keyword{file}
