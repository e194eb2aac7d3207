// A real, small, full-able file system for tests of a full disk: a tmpfs of
// a given size mounted on a fresh folder. Mounting needs the right to mount
// (root, outside an unprivileged container); without it the test skips.
#pragma once

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tavrin::testing {

class SmallDisk {
public:
    // `readOnly`: mounted read-only, an output that cannot be written even
    // by root.
    explicit SmallDisk(uint64_t bytes, bool readOnly = false) {
#ifdef _WIN32
        (void)bytes;
        (void)readOnly;  // Windows mounts no tmpfs: every user of this skips
#else
        path_ = std::filesystem::temp_directory_path() /
                ("tavrin-small-disk-" + std::to_string(::getpid()) + "-" + std::to_string(serial()++));
        std::filesystem::create_directories(path_);
        const std::string cmd = "mount -t tmpfs -o size=" + std::to_string(bytes) + (readOnly ? ",ro" : "") + " tmpfs '" + path_.string() +
                                "' >/dev/null 2>&1";
        mounted_ = ::geteuid() == 0 && std::system(cmd.c_str()) == 0;
#endif
    }
    ~SmallDisk() {
        if (mounted_) (void)!std::system(("umount '" + path_.string() + "' >/dev/null 2>&1").c_str());
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    const std::filesystem::path& path() const { return path_; }

private:
    static int& serial() {
        static int n = 0;
        return n;
    }
    std::filesystem::path path_;
    bool mounted_ = false;
};

// Skips the test when no small file system can be mounted here.
#define TAVRIN_NEED_SMALL_DISK(disk) \
    if (!(disk).mounted()) GTEST_SKIP() << "no tmpfs can be mounted here (not root, no mount rights, or Windows)"

}  // namespace tavrin::testing
