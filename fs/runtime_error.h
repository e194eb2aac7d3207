// Run-time error numbers reported by the folder scanner (pathLogger) and the
// line reader (UnicodeReader) for misuse.
//
// These two classes report misuse with the classic run-time error numbers
// that their callers test for. They come back as ordinary tavrin::Error
// values (through Status and Result), never as exceptions; file-system
// failures keep their own numbers (see fs/result.h) and pass through.
#pragma once

#include <cstdint>
#include <string>

#include "fs/result.h"

namespace tavrin::fs::rt {

inline constexpr int32_t kBadFileNumber = 52;         // "Bad file name or number"
inline constexpr int32_t kFileAlreadyOpen = 55;       // "File already open"
inline constexpr int32_t kInputPastEndOfFile = 62;    // "Input past end of file"
inline constexpr int32_t kKeyAlreadyAssociated = 457; // "This key is already associated with an element of this collection"

// The standard text of a run-time error number ("Input past end of file").
std::string runtimeErrorText(int32_t number);

// An Error carrying the run-time error number and its standard text.
Error runtimeError(int32_t number);

// True when `e` carries one of the run-time error numbers above.
bool isRuntimeError(const Error& e);

}  // namespace tavrin::fs::rt
