/* A front end that shows R's output itself, as GUI consoles do: it embeds R, takes
 * R's output away from descriptors 1 and 2 and writes what R prints through the
 * console callback into two files of its own, one for output and one for messages.
 * Test-only; built by the tests.
 * Usage: console OUTPUT_FILE MESSAGE_FILE SCRIPT: sources SCRIPT, exits 0 unless it
 * fails. */
#define R_INTERFACE_PTRS 1
#include <stdio.h>
#include <stdlib.h>

#include <Rembedded.h>
#include <Rinterface.h>
#include <Rinternals.h>

/* Where the console shows output (stream 0) and messages (stream 1). */
static FILE* console[2];

static void write_console(const char* text, int length, int stream) {
  FILE* shown = console[stream == 0 ? 0 : 1];
  fwrite(text, 1, (size_t)length, shown);
  fflush(shown);
}

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  console[0] = fopen(argv[1], "w");
  console[1] = fopen(argv[2], "w");
  if (console[0] == NULL || console[1] == NULL) return 2;
  char* r_args[] = {"R", "--vanilla", "--silent", "--no-echo"};
  Rf_initialize_R(4, r_args);
  /* GUI consoles name themselves; R shows it as .Platform$GUI. */
  R_GUIType = "test console";
  R_Outputfile = NULL;
  R_Consolefile = NULL;
  ptr_R_WriteConsole = NULL;
  ptr_R_WriteConsoleEx = write_console;
  setup_Rmainloop();
  int failed = 0;
  SEXP call = PROTECT(Rf_lang2(Rf_install("source"), Rf_mkString(argv[3])));
  R_tryEval(call, R_GlobalEnv, &failed);
  UNPROTECT(1);
  Rf_endEmbeddedR(0);
  fclose(console[0]);
  fclose(console[1]);
  return failed ? 1 : 0;
}
