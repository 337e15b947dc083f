#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

bool IsPathDelimiter(char c) { return c == '/' || c == '\\'; }

std::string NormalizePath(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (IsPathDelimiter(c)) {
            if (!out.empty() && out.back() == '/') continue;
            out += '/';
        } else {
            out += c;
        }
    }
    return out;
}

namespace {
size_t LastDelimiter(std::string_view s) {
    for (size_t i = s.size(); i > 0; --i)
        if (IsPathDelimiter(s[i - 1])) return i - 1;
    return std::string_view::npos;
}

std::string Native(std::string_view path) { return NormalizePath(path); }
}  // namespace

std::string ExtractFilePath(std::string_view fileName) {
    size_t p = LastDelimiter(fileName);
    return p == std::string_view::npos ? std::string() : std::string(fileName.substr(0, p + 1));
}

std::string ExtractFileDir(std::string_view fileName) {
    size_t p = LastDelimiter(fileName);
    if (p == std::string_view::npos) return {};
    if (p == 0) return std::string(fileName.substr(0, 1));
    return std::string(fileName.substr(0, p));
}

std::string ExtractFileName(std::string_view fileName) {
    size_t p = LastDelimiter(fileName);
    return std::string(p == std::string_view::npos ? fileName : fileName.substr(p + 1));
}

std::string ExtractFileExt(std::string_view fileName) {
    std::string name = ExtractFileName(fileName);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string ExtractFileBaseName(std::string_view fileName) {
    std::string name = ExtractFileName(fileName);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string ChangeFileExt(std::string_view fileName, std::string_view ext) {
    std::string folder = ExtractFilePath(fileName);
    return folder + ExtractFileBaseName(fileName) + std::string(ext);
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
    std::string s(path);
    if (s.empty() || !IsPathDelimiter(s.back())) s += PathDelim;
    return s;
}

std::string ExcludeTrailingPathDelimiter(std::string_view path) {
    std::string s(path);
    while (s.size() > 1 && IsPathDelimiter(s.back())) s.pop_back();
    return s;
}

std::string ExpandFileName(std::string_view path) {
    std::string p = Native(path);
    if (p.empty() || p[0] != '/') {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd)) p = IncludeTrailingPathDelimiter(cwd) + p;
    }
    // Resolve "." and ".." textually.
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= p.size()) {
        size_t j = p.find('/', i);
        if (j == std::string::npos) j = p.size();
        std::string part = p.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out;
    for (const auto& part : parts) out += "/" + part;
    if (out.empty()) out = "/";
    if (p.size() > 1 && p.back() == '/' && out != "/") out += '/';
    return out;
}

bool FileExists(std::string_view fileName) {
    struct stat st{};
    return stat(Native(fileName).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(std::string_view dirName) {
    struct stat st{};
    return stat(Native(dirName).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t FileSize(std::string_view fileName) {
    struct stat st{};
    if (stat(Native(fileName).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool ForceDirectories(std::string_view dirName) {
    std::string dir = ExcludeTrailingPathDelimiter(Native(dirName));
    if (dir.empty()) return false;
    if (DirectoryExists(dir)) return true;
    std::string parent = ExtractFileDir(dir);
    if (!parent.empty() && parent != dir && !ForceDirectories(parent)) return false;
    if (mkdir(dir.c_str(), 0777) == 0) return true;
    return errno == EEXIST && DirectoryExists(dir);
}

bool DeleteFile(std::string_view fileName) { return unlink(Native(fileName).c_str()) == 0; }

bool RenameFile(std::string_view from, std::string_view to) {
    return rename(Native(from).c_str(), Native(to).c_str()) == 0;
}

std::string ReadWholeFile(std::string_view fileName) {
    TFileStream f(fileName, TFileStream::Mode::OpenRead);
    std::string out;
    char buf[65536];
    for (;;) {
        size_t n = f.Read(buf, sizeof buf);
        if (n == 0) break;
        out.append(buf, n);
    }
    return out;
}

void AppendToFile(std::string_view fileName, std::string_view bytes) {
    std::string path = Native(fileName);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) throw EFileError(errno, "Cannot open file \"" + path + "\"");
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            int e = errno;
            close(fd);
            throw EFileError(e, "Cannot write file \"" + path + "\"");
        }
        done += static_cast<size_t>(n);
    }
    close(fd);
}

void WriteFileAtomic(std::string_view fileName, std::string_view bytes) {
    std::string path = Native(fileName);
    std::string tmp = path + ".tmp-XXXXXX";
    int fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) throw EFileError(errno, "Cannot create file \"" + path + "\"");
    auto fail = [&](const char* what) {
        int e = errno;
        close(fd);
        unlink(tmp.c_str());
        throw EFileError(e, std::string(what) + " \"" + path + "\"");
    };
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("Cannot write file");
        }
        done += static_cast<size_t>(n);
    }
    // Keep the permissions of the file being replaced; a new file gets the usual ones.
    struct stat st{};
    mode_t mode = 0666;
    if (stat(path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode &= ~mask;
    }
    fchmod(fd, mode);
    if (fsync(fd) != 0) fail("Cannot write file");
    if (close(fd) != 0) {
        int e = errno;
        unlink(tmp.c_str());
        throw EFileError(e, "Cannot write file \"" + path + "\"");
    }
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        int e = errno;
        unlink(tmp.c_str());
        throw EFileError(e, "Cannot replace file \"" + path + "\"");
    }
}

bool FileAgeLocal(std::string_view fileName, TDateTime& result) {
    struct stat st{};
    if (stat(Native(fileName).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    result = UnixToLocalDateTime(st.st_mtim.tv_sec, static_cast<int>(st.st_mtim.tv_nsec));
    return true;
}

// ---- TFileStream ----

TFileStream::TFileStream(std::string_view fileName, Mode mode) : FFileName(Native(fileName)) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
        case Mode::OpenRead: flags |= O_RDONLY; break;
        case Mode::OpenWrite: flags |= O_WRONLY; break;
        case Mode::OpenReadWrite: flags |= O_RDWR; break;
    }
    FHandle = open(FFileName.c_str(), flags, 0666);
    if (FHandle < 0) {
        throw EFileError(errno, std::string(mode == Mode::Create ? "Cannot create file" : "Cannot open file") +
                                    " \"" + FFileName + "\"");
    }
    struct stat st{};
    if (fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(FHandle);
        FHandle = -1;
        throw EFileError(EISDIR, "Cannot open file \"" + FFileName + "\"");
    }
}

TFileStream::~TFileStream() { Close(); }

void TFileStream::Close() {
    if (FHandle >= 0) {
        ::close(FHandle);
        FHandle = -1;
    }
}

void TFileStream::Write(const void* data, size_t count) {
    if (FHandle < 0) throw EFileError(EBADF, "Stream write error \"" + FFileName + "\"");
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(FHandle, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EFileError(errno, "Stream write error \"" + FFileName + "\"");
        }
        done += static_cast<size_t>(n);
    }
}

size_t TFileStream::Read(void* data, size_t count) {
    if (FHandle < 0) throw EFileError(EBADF, "Stream read error \"" + FFileName + "\"");
    for (;;) {
        ssize_t n = ::read(FHandle, data, count);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno != EINTR) throw EFileError(errno, "Stream read error \"" + FFileName + "\"");
    }
}

int64_t TFileStream::Seek(int64_t offset, int whence) {
    off_t r = lseek(FHandle, static_cast<off_t>(offset), whence);
    if (r < 0) throw EFileError(errno, "Stream seek error \"" + FFileName + "\"");
    return static_cast<int64_t>(r);
}

int64_t TFileStream::Position() const {
    off_t r = lseek(FHandle, 0, SEEK_CUR);
    return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t TFileStream::Size() const {
    struct stat st{};
    return fstat(FHandle, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}
