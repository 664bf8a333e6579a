\name{base64_encode}
\alias{base64_encode}
\alias{base64_decode}
\title{Encode bytes as base64 text and decode it back}
\description{
Encode raw vectors or strings as base64 text (RFC 4648: the standard or the URL-safe
alphabet, with or without \code{"="} padding, on one line or in lines of a chosen
width), and decode such text back to bytes or strings. Decoding is strict: any text
that is not exactly base64 under the options is refused with an error that names its
first offending byte.
}
\usage{
base64_encode(x, url = FALSE, pad = TRUE, width = 0, eol = "\n",
              as = c("raw", "string"))
base64_decode(x, url = FALSE, breaks = FALSE, as = c("raw", "string"))
}
\arguments{
\item{x}{for \code{base64_encode}, the bytes to encode: a raw vector, or a string taken
  as \code{\link{charToRaw}} gives its bytes; with \code{as = "string"}, also a
  character vector, each element encoded on its own. For \code{base64_decode}, the
  text: a single string or a raw vector of its bytes; with \code{as = "string"}, also a
  character vector, each element decoded on its own. \code{NA} elements stay
  \code{NA}.}
\item{url}{\code{TRUE} for the URL-safe alphabet, with \code{"-"} and \code{"_"} in
  place of \code{"+"} and \code{"/"}. Decoding URL-safe text takes padding or its
  absence; where padding is present it must be right, and a length of one more than a
  multiple of 4 is refused.}
\item{pad}{\code{FALSE} leaves the \code{"="} padding off.}
\item{width}{0 for one line; a positive multiple of 4 breaks the text into lines of that
  many characters (76 for MIME, 64 for PEM), joined by \code{eol}. No line end follows
  the last line (\code{\link{base64_encode_file}} ends it, as text files end).}
\item{eol}{the line end, \code{"\n"} or \code{"\r\n"}.}
\item{breaks}{\code{TRUE} skips line ends (line feeds and carriage returns) wherever
  they stand. Every other byte stays as strict as without it.}
\item{as}{\code{"raw"} for a raw vector, \code{"string"} for a character vector.}
}
\details{
Without \code{url}, text must be padded and its length a multiple of 4 (line ends
aside, with \code{breaks}). Refused are a length that is not right, a byte outside the
alphabet (spaces included, and line ends unless \code{breaks}), and \code{"="} anywhere
but as padding: one or two at the very end, after the two or three characters of the
last group. So \code{"YQ==YWJj"}, \code{"YW=j"}, \code{"===="} and \code{"YWJj===="} are
refused. Bits of the last character before the padding that fill no byte are ignored:
\code{"QR=="} decodes like \code{"QQ=="}, as in other strict decoders. The error names
the first offending byte, counted in the text as given, line ends included, and a
length that is not right only when every byte is valid; a line end refused because
\code{breaks = FALSE} says how to accept it. For
elements of a character vector it names the element, as in
\code{`x[3]` is not base64 text: byte 5 (0x21) is outside the base64 alphabet}.

A string cannot hold a NUL byte: decoding with \code{as = "string"} to bytes that hold
one is an error that names the element. Decoded strings carry their bytes as they are,
marked in no encoding.

Each option against the call users know from other packages, all giving the same text:
\tabular{ll}{
  \code{base64_encode(x, url = TRUE, pad = FALSE, as = "string")} \tab
    jsonlite's \code{base64url_enc(x)} \cr
  \code{base64_decode(text, url = TRUE)} \tab jsonlite's \code{base64url_dec(text)} \cr
  \code{base64_encode(x, width = 76, as = "string")} \tab
    base64enc's \code{base64encode(x, linewidth = 76)}, joined with \code{"\n"} \cr
  \code{base64_decode(text, breaks = TRUE)} \tab base64enc's \code{base64decode(text)}
    on text in lines \cr
  \code{base64_encode(values, as = "string")} \tab
    \code{vapply(values, function(v) base64enc::base64encode(charToRaw(v)), "")} \cr
}
Unlike those, \code{base64_decode} never skips a byte it does not know.
}
\value{
With \code{as = "raw"}, a raw vector: the text for \code{base64_encode} (use
\code{\link{rawToChar}} for a string), the bytes for \code{base64_decode}. With
\code{as = "string"}, a character vector with one element for each element of a
character \code{x}, or one string for a raw \code{x}.
}
\seealso{\code{\link{base64_encode_file}} for files of any size.}
\examples{
text <- base64_encode("hello")
rawToChar(text)
rawToChar(base64_decode(text))
base64_decode("AP8QgA==")
identical(base64_decode(base64_encode(as.raw(0:255))), as.raw(0:255))

# Strings in, strings out, one for each element.
base64_encode(c("hello", NA, "world"), as = "string")
base64_decode(c("aGVsbG8=", "d29ybGQ="), as = "string")

# The URL-safe alphabet without padding, as web tokens use it.
token <- base64_encode(as.raw(c(0xfb, 0xff, 0xbf)), url = TRUE, pad = FALSE,
                       as = "string")
token
base64_decode(token, url = TRUE)

# MIME lines of 76 characters, and decoding them.
mime <- base64_encode(as.raw(0:99), width = 76, eol = "\r\n", as = "string")
cat(mime, "\n")
identical(base64_decode(mime, breaks = TRUE), as.raw(0:99))

try(base64_decode("aGVs bG8"))   # a space is not base64
try(base64_decode("aA==aGk="))   # nor is "=" inside the text
}
\keyword{utilities}
