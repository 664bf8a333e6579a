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
Decoding stops at the first \code{"="}: whatever follows it is not looked at. Text
whose length is not a multiple of 4, or that has a byte outside the alphabet before
its first \code{"="} (spaces and line breaks included), is refused with an error that
says where.
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
}
\keyword{utilities}
