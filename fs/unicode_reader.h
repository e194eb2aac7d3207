// UnicodeReader: reads a text file of UTF-16 little-endian code units line
// by line, with a line delimiter chosen by the caller, holding one 32 KiB
// chunk of the file plus the line that runs on from the previous chunk.
//
//     UnicodeReader reader;
//     if (Status s = reader.OpenFile(path, "\r\n"); !s) ...;
//     while (!*reader.Eof()) { Result<std::string> line = reader.ReadLine(); ... }
//     reader.CloseFile();
//
// A byte-order mark (FF FE) at the start is skipped; without one the file
// is read as UTF-16LE from its first byte. Lines come back as UTF-8 without
// their delimiter. A delimiter at the very end of the file ends the last
// line and does not start an empty one; two delimiters there give one empty
// last line. A line may run over any number of chunks and comes back whole.
// A file holding nothing but a byte-order mark (or nothing but one odd
// byte) reads as empty: Eof() is true at once. A final odd byte forms no
// character and is dropped.
//
// Misuse is reported with run-time error numbers (fs/runtime_error.h) as
// values, never thrown: 55 for OpenFile on an open reader, 52 for Eof,
// Length or ReadLine on a closed one, 62 for ReadLine past the end. Errors
// of opening and reading the file come back unchanged from fs::InputFile.
// The file is only ever opened read-only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fs/file_io.h"
#include "fs/result.h"

namespace tavrin::fs {

class UnicodeReader {
public:
    static constexpr int32_t kChunkBytes = 32768;

    UnicodeReader() = default;
    ~UnicodeReader();  // closes an open file
    UnicodeReader(const UnicodeReader&) = delete;
    UnicodeReader& operator=(const UnicodeReader&) = delete;

    // True once the last line has been handed out, or at once for an empty
    // file. (EOF in the reader's interface; EOF itself is a C macro.)
    Result<bool> Eof() const;
    bool IsOpen() const { return file_.isOpen(); }
    // The number of UTF-16 characters in the file (after any byte-order
    // mark; a final odd byte does not count).
    Result<int64_t> Length() const;
    void CloseFile();
    // The next line, without its delimiter.
    Result<std::string> ReadLine();
    Status OpenFile(const std::string& FileName, const std::string& LineDelim);

private:
    Status ReadChunk();

    bool endFlag_ = false;
    bool lastChunk_ = false;
    InputFile file_;
    std::u16string lineDelim_;
    int64_t chunksLeft_ = 0;      // full chunks not yet read
    int64_t contentLength_ = 0;   // bytes after the byte-order mark
    int64_t lastChunkSize_ = 0;   // contentLength_ % kChunkBytes
    int64_t chunkSize_ = kChunkBytes;
    uint64_t readOffset_ = 0;     // where the next chunk starts in the file
    size_t currentIndex_ = 0;     // next line to hand out
    std::vector<std::u16string> lines_;  // the last one runs on into the next chunk
};

}  // namespace tavrin::fs
