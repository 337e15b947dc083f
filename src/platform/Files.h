#pragma once
// Files and paths. A backslash in a file or folder name is a path delimiter: NormalizePath
// turns it into '/', and every function that takes a path normalises it first. The
// functions that split names accept both '\' and '/'.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/DateTime.h"
#include "platform/Object.h"

inline constexpr char PathDelim = '/';

class EFileError : public EOSError {
public:
    using EOSError::EOSError;
};

// '\' -> '/'; runs of delimiters collapse to one (a leading "//" as well).
std::string NormalizePath(std::string_view path);
bool IsPathDelimiter(char c);  // '\' or '/'

// Folder part including its trailing delimiter ("" when none).
std::string ExtractFilePath(std::string_view fileName);
// Folder part without a trailing delimiter (but "/" for a file in the root).
std::string ExtractFileDir(std::string_view fileName);
std::string ExtractFileName(std::string_view fileName);
// Extension with its dot ("" when none); a dot in a folder name is not an extension.
std::string ExtractFileExt(std::string_view fileName);
// File name without folder and extension.
std::string ExtractFileBaseName(std::string_view fileName);
// Replaces the extension, or appends `ext` when there is none; `ext` includes its dot.
std::string ChangeFileExt(std::string_view fileName, std::string_view ext);
std::string IncludeTrailingPathDelimiter(std::string_view path);
std::string ExcludeTrailingPathDelimiter(std::string_view path);
// Absolute form of a path (relative to the current folder), normalised, without resolving links.
std::string ExpandFileName(std::string_view path);

bool FileExists(std::string_view fileName);       // a regular file (or a link to one)
bool DirectoryExists(std::string_view dirName);
int64_t FileSize(std::string_view fileName);      // -1 when it does not exist
// Creates the folder with all missing parents; true when it exists afterwards.
bool ForceDirectories(std::string_view dirName);
bool DeleteFile(std::string_view fileName);
bool RenameFile(std::string_view from, std::string_view to);

// Whole file; raises EFileError when it cannot be opened or read.
std::string ReadWholeFile(std::string_view fileName);
// Appends bytes, creating the file when missing (not its folder); raises EFileError.
void AppendToFile(std::string_view fileName, std::string_view bytes);
// Replaces the file atomically: temporary file in the same folder, flushed, then renamed.
// Raises EFileError; the old file stays intact on failure.
void WriteFileAtomic(std::string_view fileName, std::string_view bytes);

// Last-write time in local time; false when the file does not exist.
bool FileAgeLocal(std::string_view fileName, TDateTime& result);

// A file opened for reading and/or writing. On this platform others may always read and
// write the same file while it is open.
class TFileStream : public TObject {
public:
    enum class Mode { Create, OpenRead, OpenWrite, OpenReadWrite };
    // Create truncates or creates; the Open modes need an existing file. Raises EFileError.
    TFileStream(std::string_view fileName, Mode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    void Write(const void* data, size_t count);  // all bytes or EFileError
    void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }
    size_t Read(void* data, size_t count);       // up to count bytes; 0 at the end
    int64_t Seek(int64_t offset, int whence);    // SEEK_SET / SEEK_CUR / SEEK_END
    int64_t Position() const;
    int64_t Size() const;
    void Close();
    const std::string& FileName() const { return FFileName; }

private:
    std::string FFileName;
    int FHandle = -1;
};
