// A file that lines are appended to from several threads: each append is
// written whole, under a lock, so lines never interleave, and O_APPEND keeps
// them whole when several processes share the file.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

class AppendFile {
public:
    // A file that drops everything.
    AppendFile() = default;
    // Creates or appends to path; isOpen() tells whether that worked.
    explicit AppendFile(const std::string& path);
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    AppendFile(AppendFile&&) = delete;
    AppendFile& operator=(AppendFile&&) = delete;

    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
    // The errno of a failed open, 0 otherwise.
    [[nodiscard]] int openError() const { return openError_; }

    // Writes all of bytes, or as much as the file takes: a full disk must not
    // stop the program that logs.
    void append(const char* bytes, std::size_t size);

private:
    int fd_ = -1;
    int openError_ = 0;
    std::mutex mutex_;
};
