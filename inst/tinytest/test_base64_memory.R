# Large codec results are advised onto huge pages: the advice must neither scatter the
# address space into pieces nor leave memory behind, and must not change a byte.
source("helpers.R")
mib <- 2^20

## ---- results across the advice threshold equal results made in small pieces ----
# Pieces of 3 * 2^18 bytes (and their 2^20 characters) are too short to be advised, so
# the whole and the pieces are made with and without the advice. The lengths cover every
# remainder modulo 3; the advised vectors start wherever the allocator puts them.
set.seed(1)
piece <- 3 * 2^18
bad <- character()
sizes <- c(2 * mib - 1, 2 * mib + 2, 4 * mib, 9 * mib + 1)
if (long_tests()) {
  sizes <- c(sizes, 40 * mib + 2)
} else {
  skip_block(long_test_skipped("results of 40 MiB, 550 MB of memory"))
}
for (n in sizes) {
  bytes <- as.raw(sample(0:255, n, replace = TRUE))
  starts <- seq(1, n, by = piece)
  text <- unlist(lapply(starts, function(s) enc(bytes[s:min(n, s + piece - 1)])))
  if (!identical(enc(bytes), text)) bad <- c(bad, sprintf("encode %.0f", n))
  if (!identical(dec(text), bytes)) bad <- c(bad, sprintf("decode %.0f", n))
  # Malformed text, a bad byte opening the last group but one: the provisional vector
  # holds the groups before it, then zeros.
  groups <- length(text) / 4
  text[4 * groups - 7] <- charToRaw("!")
  expected <- c(bytes[seq_len(3 * groups - 6)], raw(6))
  if (!identical(dec(text), expected)) bad <- c(bad, sprintf("malformed %.0f", n))
}
expect_equal(bad, character(), info = paste("differ:", paste(bad, collapse = ", ")))
rm(bytes, text, expected)

## ---- a thousand calls over mixed sizes leave maps and resident size as they were ----
if (!long_tests()) exit_file(long_test_skipped("a thousand calls of up to 40 MB"))
# The address space and the resident size are read where only Linux shows them.
if (!all(file.exists(c("/proc/self/maps", "/proc/self/status")))) {
  exit_file("no /proc/self/maps and /proc/self/status (Linux): memory after calls unseen")
}
got <- in_child(quote({
  enc <- function(x) .Call(client:::tarnwick_base64_encode, x)
  dec <- function(x) .Call(client:::tarnwick_base64_decode, x)
  maps <- function() readLines("/proc/self/maps")
  rss_mib <- function() {
    line <- grep("^VmRSS:", readLines("/proc/self/status"), value = TRUE)
    as.numeric(gsub("[^0-9]", "", line)) / 1024
  }
  set.seed(2)
  # Small to well above the threshold, the largest beyond any heap threshold of
  # malloc; every text decodes, some malformed so that the provisional vector is made.
  sizes <- c(10, 1000, 64000, 1e6, 2.5e6, 5e6, 12e6, 40e6)
  inputs <- lapply(sizes, function(n) as.raw(sample(0:255, n, replace = TRUE)))
  texts <- lapply(inputs, enc)
  broken <- lapply(texts, function(t) { t[length(t) %/% 2] <- as.raw(0x21); t })
  order <- c(sample(rep(1:7, length.out = 490)), rep(8L, 10))[sample(500)]
  # Every size once first, so that the heap has grown to its working size; what counts
  # is what the thousand calls after that leave.
  for (i in seq_along(sizes)) { enc(inputs[[i]]); dec(texts[[i]]); dec(broken[[i]]) }
  invisible(gc())
  before <- c(maps = length(maps()), rss = rss_mib())
  for (k in seq_along(order)) {
    i <- order[[k]]
    invisible(enc(inputs[[i]]))
    invisible(dec(if (k %% 5 == 0) broken[[i]] else texts[[i]]))
  }
  invisible(gc())
  list(before = before, after = c(maps = length(maps()), rss = rss_mib()),
    libc = !any(grepl("libasan|vgpreload", maps())))
}))
info <- paste(got$output, collapse = "\n")
expect_equal(got$status, 0L, info = info)
# The sanitizers and valgrind bring allocators of their own, which keep freed memory
# in quarantine and map more as they go: there is nothing of the C library's to see.
if (isTRUE(got$value$libc)) {
  expect_true(got$value$after[["maps"]] <= got$value$before[["maps"]] + 8,
    info = paste(info, toString(unlist(got$value))))
  # Under qemu the resident size is the emulator's, which keeps what the program's heap
  # gave back (brk): seen growing by 17 to 160 MiB, with the advice and without it.
  if (!nzchar(Sys.getenv("CLIENT_EMULATOR"))) {
    expect_true(got$value$after[["rss"]] <= got$value$before[["rss"]] + 16,
      info = paste(info, toString(unlist(got$value))))
  }
}
