## ----setup--------------------------------------------------------------------
library(client)
knit_descriptors()
folder <- tempfile("recipes-")
dir.create(folder)

## ----log----------------------------------------------------------------------
log <- file.path(folder, "job.log")
job <- function(run) {
  cat("run", run, "starting, said R\n")
  system("ls /no/such/folder")   # complains on standard error
  system(sprintf("echo run %d: done", run))
  run
}
for (run in 1:2) with_output_file(log, job(run), append = TRUE)
readLines(log)

## ----log-error----------------------------------------------------------------
tryCatch(with_output_file(file.path(folder, "no", "such.log"), job(3)),
  client_system_error = function(e) {
    sprintf("cannot log to %s: system error %d", e$path, e$errno)
  })

## ----silence------------------------------------------------------------------
value <- suppress_output({
  system("echo a chatty program; echo and its warnings 1>&2")
  fd_write(2, "what C code writes to descriptor 2\n")
  message("and a message from R")
  "the value"
})
value

## ----capture------------------------------------------------------------------
capture_stdout({
  cat("printed by R\n")
  system("printf 'one\\ntwo\\n'")
})
capture_output({
  message("a message")
  system("echo out; echo err 1>&2")
})
capture_stdout(fd_write(1, as.raw(c(0x41, 0x0a))), raw = TRUE)

## ----document, error = TRUE---------------------------------------------------
{ cat("a, from R\n"); system("echo b, from a child program"); cat("c, from R\n") }
fd_write(1, "written to descriptor 1 as C code would\n")
system("echo before the error"); stop("the error comes after it")

## ----connection---------------------------------------------------------------
con <- fd_connection(1)
writeLines("a line through the connection", con)
close(con)   # the descriptor stays open

## ----pem----------------------------------------------------------------------
der <- as.raw(0:47)   # stands in for the bytes of a certificate
pem <- c("-----BEGIN CERTIFICATE-----",
  base64_encode(der, width = 64, as = "string"), "-----END CERTIFICATE-----")
writeLines(pem)
body <- paste(pem[-c(1, length(pem))], collapse = "\n")
identical(base64_decode(body, breaks = TRUE), der)
mime <- base64_encode(as.raw(1:80), width = 76, eol = "\r\n", as = "string")
length(base64_decode(mime, breaks = TRUE))
tryCatch(base64_decode("YWJj\n"), client_malformed_base64 = conditionMessage)

## ----jwt----------------------------------------------------------------------
header <- base64_encode('{"alg":"none"}', url = TRUE, pad = FALSE, as = "string")
claims <- base64_encode('{"sub":"42"}', url = TRUE, pad = FALSE, as = "string")
token <- paste(header, claims, "", sep = ".")
token
segments <- strsplit(token, ".", fixed = TRUE)[[1]]
base64_decode(segments[1:2], url = TRUE, as = "string")

## ----data-uri-----------------------------------------------------------------
uri <- paste0("data:text/plain;base64,", base64_encode("hello, world", as = "string"))
uri
rawToChar(base64_decode(sub("^data:[^,]*;base64,", "", uri)))

## ----files--------------------------------------------------------------------
data <- file.path(folder, "data.bin")
text <- file.path(folder, "data.b64")
back <- file.path(folder, "back.bin")
writeBin(as.raw(sample(0:255, 1e6, replace = TRUE)), data)
base64_encode_file(data, text, width = 76)
base64_decode_file(text, back, breaks = TRUE)
identical(readBin(back, "raw", 2e6), readBin(data, "raw", 2e6))
hello <- file.path(folder, "hello.txt")
writeLines("hello", hello)
base64_encode_file(hello, "/dev/stdout")

## ----child--------------------------------------------------------------------
script <- file.path(folder, "child.R")
writeLines(c(
  sprintf("dll <- dyn.load(%s)", deparse(system.file("libs", "client.so",
    package = "client"))),
  "routine <- function(name) getNativeSymbolInfo(name, dll, TRUE)",
  sprintf("saved <- .Call(routine('tarnwick_set_stdout_to_file'), %s)",
    deparse(file.path(folder, "child.log"))),
  "system('echo from a program the child started')",
  "invisible(.Call(routine('tarnwick_set_stdout'), saved, TRUE))"), script)
system2(file.path(R.home("bin"), "Rscript"), c("--vanilla", shQuote(script)))
readLines(file.path(folder, "child.log"))

## ----inherit, eval = FALSE----------------------------------------------------
#  client::disable_inheritance()
#  system2("long-running-server", wait = FALSE)

## ----cleanup, include = FALSE-------------------------------------------------
unlink(folder, recursive = TRUE)

