// File services of the codec: thin POSIX wrappers with the results the decoder and the
// encoder rely on. A handle is 0 when no file is open.
#pragma once

#include <cstdint>

using JpegFileHandle = intptr_t;

enum class FileAccess { Read, ReadWrite };
enum class SeekOrigin { Start, Current };

// Read opens an existing file only; ReadWrite always creates the file anew (truncating).
// Returns 0 on failure.
JpegFileHandle fileOpen(const char* name, FileAccess access);

// True on success: also the gathered writes went out (see fileWrite).
bool fileClose(JpegFileHandle file);

// True on success; *countRead = bytes read, 0 at the end of the file. Interrupted reads retry.
bool fileRead(JpegFileHandle file, uint8_t* buffer, int32_t count, int32_t* countRead);

// True on success; *countWritten = bytes taken (a short count is the caller's error). A regular
// file opened ReadWrite gathers small writes and passes them on in large pieces, at the
// latest when it is read, sought or closed: a failure may then show at one of those calls,
// with errno telling why.
bool fileWrite(JpegFileHandle file, const uint8_t* buffer, int32_t count, int32_t* countWritten);

// True unless the platform reports failure.
bool fileSeek(JpegFileHandle file, int64_t distance, SeekOrigin origin);
