\name{base64_encode_file}
\alias{base64_encode_file}
\alias{base64_decode_file}
\title{Encode a file as base64 text and decode it back, in bounded memory}
\description{
Read \code{input} and write its base64 encoding, or the bytes its base64 text decodes
to, into \code{output}, through buffers of a few hundred KiB: memory stays the same
whatever the size of the file. The options are those of \code{\link{base64_encode}}
and \code{\link{base64_decode}}, and so is the strictness.
}
\usage{
base64_encode_file(input, output, url = FALSE, pad = TRUE, width = 0, eol = "\n")
base64_decode_file(input, output, url = FALSE, breaks = FALSE)
}
\arguments{
\item{input}{the file to read, a single non-empty string; \code{~} is expanded.}
\item{output}{the file to write, a single non-empty string; \code{~} is expanded. See
  \sQuote{Details} for what happens to each kind of file.}
\item{url, pad, width, eol, breaks}{as for \code{\link{base64_encode}} and
  \code{\link{base64_decode}}.}
}
\details{
What happens to \code{output} depends on what it names:
\itemize{
  \item \strong{A regular file, or a path that does not exist yet.} The output is
  written to a new file beside it, created so that only its owner can read it, and
  renamed into place when it is complete, with the mode of the file it replaces (or,
  for a new file, the mode \code{0666} as the umask narrows it): decoding a key over a
  key file of mode \code{0600} leaves it readable by its owner alone. On any failure
  (malformed text, an error while reading or writing, a full disk, an interrupt)
  \code{output} stays as it was and the new file is removed. \code{output} may name
  \code{input}, directly or through a link: the file is converted in place.
  \item \strong{A symbolic link}, at any depth: it is followed, and its final target
  is replaced as above, the new file beside the target, so the link stays a link. A
  link whose target does not exist creates that target, as \command{cp} does. Links
  that lead round in a loop are refused with the system's reason. When the target's
  folder cannot be written to, the call fails and nothing changes.
  \item \strong{Anything else}: a FIFO, a character device such as \file{/dev/null},
  or a descriptor named as \file{/dev/stdout}, \file{/dev/fd/1} or
  \file{/proc/self/fd/1}, whatever that descriptor refers to. It is opened as it is
  and the output streamed into it: no new file, no rename, nothing emptied. A
  descriptor of this R process is written through itself, at its own offset, as the
  shell writes to it; another stream is appended to. Opening a FIFO waits for a
  reader. As with any stream, a failure midway leaves the part already written there.
}

An interrupt ends the call within one buffer; reading from a pipe, a FIFO or
\file{/dev/stdin} waits for the buffer to fill first.

Malformed text is refused with an error that names the offending byte by its offset
in the file, counted from 1, line ends included: the first byte outside the alphabet
or the first \code{"="} that is not padding; a length that is not right is reported
only when every byte is valid. Errors while opening, reading or writing give the
system's reason, and those while reading or writing name the offset where they
happened.

\code{base64_encode_file(input, output)} writes what \command{base64 -w0} writes;
\code{width = 76} writes the MIME lines of \command{base64 -w76}, the last one ended
by \code{eol} as in any text file. \code{base64_decode_file(input, output, breaks =
TRUE)} decodes what \command{base64} writes.
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

# Into a pipe, as the shell's base64 writes: here R's own standard output.
bytes <- tempfile()
writeBin(charToRaw("hello"), bytes)
if (file.exists("/dev/stdout")) base64_encode_file(bytes, "/dev/stdout")
unlink(bytes)
}
\keyword{file}
