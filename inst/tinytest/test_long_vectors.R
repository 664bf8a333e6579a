# Raw vectors longer than 2^31 - 1 bytes: about 7 GB of memory, a minute of page faults.
enc <- function(x) .Call(client:::tarnwick_base64_encode, x)
dec <- function(x) .Call(client:::tarnwick_base64_decode, x)
txt <- function(s) charToRaw(s)

## ---- longer than 2^31 - 1 bytes on 64-bit R ----
if (.Machine$sizeof.pointer == 8 && !nzchar(Sys.getenv("CLIENT_SKIP_LONG"))) {
  n <- 2^31 + 2
  big <- raw(n)
  big[c(1, n)] <- as.raw(c(0xfb, 0xff))
  text <- enc(big)
  expect_equal(length(text), 4 * ceiling(n / 3))
  expect_identical(text[c(1:4, length(text) - 3:0)], txt("+wAA/w=="))
  rm(big)
  back <- dec(text)
  rm(text)
  expect_equal(length(back), n)
  expect_identical(back[c(1, 2, n - 1, n)], as.raw(c(0xfb, 0, 0, 0xff)))
  rm(back)
  invisible(gc())
}
