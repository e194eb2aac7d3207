// A temporary folder for a test, removed with everything in it afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "fs/path_separator.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace tavrin::fs::testing {

class TempFolder {
public:
    TempFolder() {
        namespace stdfs = std::filesystem;
        std::error_code ec;
        const stdfs::path base = stdfs::temp_directory_path(ec);
        static int serial = 0;
        // Test processes may run in parallel: the process id keeps their
        // folders apart, mkdir's atomicity the rest.
        for (int attempt = 0; attempt < 1000; ++attempt) {
            const stdfs::path candidate =
                base / ("tavrin-fs-" + std::to_string(processId()) + "-" + std::to_string(serial++));
            if (stdfs::create_directory(candidate, ec)) {
                root_ = candidate.string();
                return;
            }
        }
        ADD_FAILURE() << "no temporary folder could be made in " << base;
    }
    ~TempFolder() {
        if (root_.empty()) return;
        std::error_code ec;
        // Give back permissions a test took away, so that everything goes.
        for (auto it = std::filesystem::recursive_directory_iterator(
                 root_, std::filesystem::directory_options::skip_permission_denied, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            if (it->is_directory(ec) && !it->is_symlink(ec))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(root_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder's path, without a trailing separator.
    const std::string& path() const { return root_; }
    // The path of `relative` inside the folder ("a/b" uses the separator).
    std::string at(const std::string& relative) const {
        std::string out = root_;
        out += kPathSeparator;
        for (char c : relative) out += (c == '/') ? kPathSeparator : c;
        return out;
    }
    std::string makeFolder(const std::string& relative) const {
        const std::string p = at(relative);
        std::filesystem::create_directories(p);
        return p;
    }
    std::string makeFile(const std::string& relative, const std::string& content = "x") const {
        const std::string p = at(relative);
        std::filesystem::create_directories(std::filesystem::path(p).parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }

private:
    static long processId() {
#ifdef _WIN32
        return static_cast<long>(_getpid());
#else
        return static_cast<long>(::getpid());
#endif
    }

    std::string root_;
};

}  // namespace tavrin::fs::testing
