// What the descriptor routines share: the names of the standard streams, and the mode
// of the files that a stream is rerouted to.
#ifndef CLIENT_FILES_H
#define CLIENT_FILES_H

#include <sys/types.h>

// By descriptor number; errors name the stream that failed.
inline constexpr const char* stream_names[] = {"stdin", "stdout", "stderr"};

// A file created for a stream: readable by all, as the umask allows.
constexpr mode_t stream_file_mode = 0644;

#endif  // CLIENT_FILES_H
