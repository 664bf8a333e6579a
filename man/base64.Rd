\name{base64_encode}
\alias{base64_encode}
\alias{base64_decode}
\title{Encode bytes as base64 text and decode it back}
\description{
Encode a raw vector or a string as base64 text (the standard alphabet of RFC 4648,
with \code{"="} padding and no line breaks), and decode such text back to bytes.
}
\usage{
base64_encode(x)
base64_decode(x)
}
\arguments{
\item{x}{for \code{base64_encode}, the bytes to encode: a raw vector, or a single
  string, taken as \code{\link{charToRaw}} gives its bytes. For
  \code{base64_decode}, the base64 text: a single string or a raw vector of its
  bytes.}
}
\details{
\code{base64_decode} accepts only well-formed text and refuses anything else with an
error that names the first offending byte: text whose length is not a multiple of 4,
a byte outside the alphabet (spaces and line breaks included), and \code{"="}
anywhere but as padding. Padding is one or two \code{"="} at the very end of the text,
after the two or three characters of the last group; so \code{"YQ==YWJj"},
\code{"YW=j"}, \code{"===="} and \code{"YWJj===="} are refused. Bits of the last
character before the padding that fill no byte are ignored: \code{"QR=="} decodes
like \code{"QQ=="}, as in other strict decoders.
}
\value{
A raw vector: the encoded text for \code{base64_encode} (use \code{\link{rawToChar}}
for a string), the decoded bytes for \code{base64_decode}.
}
\examples{
text <- base64_encode("hello")
rawToChar(text)
rawToChar(base64_decode(text))
base64_decode("AP8QgA==")
identical(base64_decode(base64_encode(as.raw(0:255))), as.raw(0:255))
try(base64_decode("aGVs bG8"))   # a space is not base64
try(base64_decode("aA==aGk="))   # nor is "=" inside the text
}
\keyword{utilities}
