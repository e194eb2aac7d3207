// End-to-end benchmarks of `msg2pst convert`, each against `cat` of the same
// files in the same run (cat writes them into one file, which is then synced
// once, as msg2pst syncs its PST). Every run is a child process: its wall
// time, CPU time and its own peak RSS.
//
//   bench_cli [OPTIONS] e2e [DIR]
//       the 3,000-message corpus (HTML and two 12 KB attachments each,
//       about 113 MiB, written first) or DIR, then the real samples of
//       ../shared/samples/msg when present. Target: msg2pst / cat <= 1.2.
//   bench_cli [OPTIONS] jobs [--per-folder N]
//       a root with eight equal sub-folders (N messages each, 400 by
//       default) converted with `--multiple --jobs 2` against `--jobs 1`,
//       both with --threads 0 unless --threads is given, so that the ratio
//       is that of the folders converted side by side. Target: >= 1.7.
//   bench_cli [OPTIONS] million [--files N] [--folders F]
//       N message files (1,000,000) in F folders (1,000), written first as
//       hard links to a pool of 1,000 small messages; the conversion against
//       cat, R rounds, and its peak RSS. Targets: msg2pst / cat <= 1.2,
//       peak RSS <= 64 MB. Takes minutes and gigabytes: never part of the
//       tests. On a machine whose cores are busy with other work the ratio
//       says little: msg2pst needs CPU time (its own reading, parsing and
//       writing), cat almost none, so each round prints the load average.
//   bench_cli [OPTIONS] huge [--mb N]
//       200 small messages and one with an attachment of N MiB (256) in one
//       folder; the peak RSS against the largest file. Target: at most the
//       largest message plus 32 MB.
//
// OPTIONS: --msg2pst PATH (default: beside this program), --rounds R (3),
// --threads N (passed to msg2pst), --keep
// (keep the generated trees and outputs), --work DIR (where they go; the
// system's temporary folder by default).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "synthetic_msg.h"

namespace {

using namespace tavrin;
namespace fsys = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Run {
    bool started = false;
    int exitCode = -1;
    double seconds = 0;
    double cpu = 0;  // user + system
    long peakRssKb = 0;
};

double cpuOf(const struct rusage& ru) {
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
}

// This program, for the launcher below.
std::string gSelf;

// Runs argv (argv[0] a path) and waits for it: its time and rusage.
Run runAndWait(char* const* argv) {
    Run r;
    const auto t0 = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) return r;
    if (pid == 0) {
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    int status = 0;
    struct rusage ru {};
    ::wait4(pid, &status, 0, &ru);
    r.started = true;
    r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.cpu = cpuOf(ru);
    r.peakRssKb = ru.ru_maxrss;
    return r;
}

// bench_cli --launch FD PROGRAM ARGS...: runs PROGRAM and writes its
// figures to FD. A process's peak RSS counts what it held before its exec
// as well, and a child forked from this benchmark (which may hold a list
// of a million paths) would start with all of it: so every program is
// started from a freshly executed small launcher instead.
int launch(int fd, char** argv) {
    const Run r = runAndWait(argv);
    char buf[128];
    const int n = std::snprintf(buf, sizeof buf, "%d %.9f %.9f %ld", r.exitCode, r.seconds, r.cpu, r.peakRssKb);
    (void)!::write(fd, buf, static_cast<size_t>(n));
    return 0;
}

// Runs argv[0] with stdout to `outFd` (or /dev/null) and stderr to `errPath`.
Run spawn(const std::vector<std::string>& args, int outFd = -1, const std::string& errPath = "/dev/null") {
    int pipefd[2];
    if (::pipe(pipefd) != 0) return {};
    std::vector<std::string> full{gSelf, "--launch", std::to_string(pipefd[1])};
    full.insert(full.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (const auto& a : full) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return {};
    if (pid == 0) {
        ::close(pipefd[0]);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(outFd >= 0 ? outFd : null, 1);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(err >= 0 ? err : null, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipefd[1]);
    char buf[128] = {};
    ssize_t got = 0, n;
    while (got < static_cast<ssize_t>(sizeof buf) - 1 && (n = ::read(pipefd[0], buf + got, sizeof buf - 1 - got)) > 0)
        got += n;
    ::close(pipefd[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    Run r;
    r.started = std::sscanf(buf, "%d %lf %lf %ld", &r.exitCode, &r.seconds, &r.cpu, &r.peakRssKb) == 4;
    if (!r.started) r.exitCode = -1;
    return r;
}

// `cat` of every file into one new file (in batches of arguments), synced
// at the end.
Run catAll(const std::vector<std::string>& files, const std::string& out) {
    Run total;
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return total;
    const auto t0 = Clock::now();
    total.started = true;
    total.exitCode = 0;
    constexpr size_t kBatch = 2000;
    for (size_t i = 0; i < files.size(); i += kBatch) {
        std::vector<std::string> args{"/bin/cat"};
        args.insert(args.end(), files.begin() + static_cast<std::ptrdiff_t>(i),
                    files.begin() + static_cast<std::ptrdiff_t>(std::min(files.size(), i + kBatch)));
        const Run r = spawn(args, fd);
        total.cpu += r.cpu;
        total.peakRssKb = std::max(total.peakRssKb, r.peakRssKb);
        if (r.exitCode != 0) total.exitCode = r.exitCode;
    }
    if (::fsync(fd) != 0) total.exitCode = 1;
    ::close(fd);
    total.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    return total;
}

std::vector<std::string> filesBelow(const fsys::path& dir, uint64_t* bytes = nullptr) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fsys::recursive_directory_iterator(dir, ec); it != fsys::recursive_directory_iterator();
         it.increment(ec)) {
        if (ec) break;
        if (it->is_regular_file(ec)) {
            out.push_back(it->path().string());
            if (bytes) *bytes += it->file_size(ec);
        }
    }
    return out;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::string loadAverage() {
    std::ifstream f("/proc/loadavg");
    std::string a, b, c;
    f >> a >> b >> c;
    return a + " " + b + " " + c;
}

struct Options {
    std::string msg2pst;
    int rounds = 3;
    std::optional<int> threads;
    bool keep = false;
    fsys::path work;
};

// The shape of the end-to-end corpus: HTML and two 12 KB attachments.
bench::MessageShape e2eShape(int) {
    bench::MessageShape s;
    s.attachment = true;
    s.binaryAttachment = true;
    s.attachments = 2;
    s.attachmentBytes = 12 * 1024;
    s.bodyBytes = 1400;
    s.htmlBytes = 3400;
    return s;
}

// A small message for the million-file tree.
bench::MessageShape smallShape(int) {
    bench::MessageShape s;
    s.bodyBytes = 600;
    s.htmlBytes = 0;
    s.fillers = 4;
    return s;
}

// msg2pst convert against cat on the files below `src`, `rounds` times in
// alternating order. Returns the median ratio (0 when a run failed), and
// msg2pst's peak RSS in `peakKb`.
double compareWithCat(const Options& o, const std::string& label, const fsys::path& src,
                      const std::vector<std::string>& extra = {}, long* peakKb = nullptr) {
    uint64_t bytes = 0;
    const std::vector<std::string> files = filesBelow(src, &bytes);
    if (files.empty()) {
        std::printf("%s: no files in %s\n", label.c_str(), src.c_str());
        return 0;
    }
    std::printf("%s: %zu files, %.1f MiB, load average %s\n", label.c_str(), files.size(), bytes / 1048576.0,
                loadAverage().c_str());
    std::vector<double> ratios, conv, copy;
    long peak = 0;
    const std::string pst = (o.work / (label + ".pst")).string(), cat = (o.work / (label + ".cat")).string();
    const std::string err = (o.work / (label + ".err")).string();
    for (int r = 0; r < o.rounds; ++r) {
        std::error_code ec;
        fsys::remove(pst, ec);
        std::vector<std::string> args{o.msg2pst, "convert"};
        if (o.threads) args.push_back("--threads=" + std::to_string(*o.threads));
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(src.string());
        args.push_back(pst);
        Run c, v;
        if (r % 2 == 0) {
            c = catAll(files, cat);
            v = spawn(args, -1, err);
        } else {
            v = spawn(args, -1, err);
            c = catAll(files, cat);
        }
        fsys::remove(cat, ec);
        // 1: some files were not converted (damaged samples); still a run.
        if (c.exitCode != 0 || v.exitCode > 1) {
            std::printf("  round %d failed: cat %d, msg2pst %d (see %s)\n", r, c.exitCode, v.exitCode, err.c_str());
            return 0;
        }
        std::printf("  round %d: cat %.3f s (cpu %.3f), msg2pst %.3f s (cpu %.3f, exit %d), ratio %.2f, peak RSS %.1f MB; "
                    "load average %s\n",
                    r, c.seconds, c.cpu, v.seconds, v.cpu, v.exitCode, v.seconds / c.seconds, v.peakRssKb / 1024.0,
                    loadAverage().c_str());
        ratios.push_back(v.seconds / c.seconds);
        conv.push_back(v.seconds);
        copy.push_back(c.seconds);
        peak = std::max(peak, v.peakRssKb);
    }
    const double ratio = median(ratios);
    std::printf("  %s: msg2pst %.3f s median (%.0f files/s, %.1f MiB/s), cat %.3f s; msg2pst / cat %.2f median "
                "(target <= 1.20: %s); peak RSS %.1f MB\n",
                label.c_str(), median(conv), files.size() / median(conv), bytes / 1048576.0 / median(conv),
                median(copy), ratio, ratio <= 1.2 ? "met" : "MISSED", peak / 1024.0);
    if (!o.keep) {
        std::error_code ec;
        fsys::remove(pst, ec);
        fsys::remove(err, ec);
    }
    if (peakKb) *peakKb = peak;
    return ratio;
}

int runE2e(const Options& o, const std::string& dir) {
    fsys::path src = dir;
    if (src.empty()) {
        src = o.work / "corpus3000";
        const auto t0 = Clock::now();
        bench::writeCorpus(src, 3000, e2eShape);
        std::printf("corpus: 3000 messages written to %s in %.1f s\n", src.c_str(),
                    std::chrono::duration<double>(Clock::now() - t0).count());
    }
    compareWithCat(o, "corpus", src);
    const fsys::path samples = fsys::path(TAVRIN_SHARED_DIR_DEFAULT) / "samples" / "msg";
    std::error_code ec;
    if (fsys::is_directory(samples, ec)) {
        Options many = o;
        many.rounds = std::max(o.rounds, 5);  // a small tree: more rounds against the noise
        compareWithCat(many, "samples", samples);
    } else {
        std::printf("samples: %s is absent, skipped\n", samples.c_str());
    }
    return 0;
}

int runJobs(const Options& o, int perFolder) {
    const fsys::path root = o.work / "eight";
    const auto t0 = Clock::now();
    for (int k = 0; k < 8; ++k) bench::writeCorpus(root / ("folder" + std::to_string(k)), perFolder, e2eShape);
    uint64_t bytes = 0;
    const size_t files = filesBelow(root, &bytes).size();
    std::printf("jobs: 8 sub-folders of %d messages (%.1f MiB) written in %.1f s; load average %s\n", perFolder,
                bytes / 1048576.0, std::chrono::duration<double>(Clock::now() - t0).count(), loadAverage().c_str());
    const int threads = o.threads.value_or(0);
    std::vector<double> ratios, one, two;
    long peak1 = 0, peak2 = 0;
    for (int r = 0; r < o.rounds; ++r) {
        auto run = [&](int jobs) {
            const fsys::path out = o.work / ("out-jobs" + std::to_string(jobs));
            std::error_code ec;
            fsys::remove_all(out, ec);
            fsys::create_directories(out);
            return spawn({o.msg2pst, "convert", "--multiple", "--jobs=" + std::to_string(jobs),
                          "--threads=" + std::to_string(threads), root.string(), out.string()},
                         -1, (o.work / ("jobs" + std::to_string(jobs) + ".err")).string());
        };
        Run a, b;
        if (r % 2 == 0) {
            a = run(1);
            b = run(2);
        } else {
            b = run(2);
            a = run(1);
        }
        if (a.exitCode != 0 || b.exitCode != 0) {
            std::printf("  round %d failed: --jobs 1 exit %d, --jobs 2 exit %d\n", r, a.exitCode, b.exitCode);
            return 1;
        }
        std::printf("  round %d: --jobs 1 %.3f s (cpu %.3f, %.1f MB), --jobs 2 %.3f s (cpu %.3f, %.1f MB), speed-up %.2f\n",
                    r, a.seconds, a.cpu, a.peakRssKb / 1024.0, b.seconds, b.cpu, b.peakRssKb / 1024.0,
                    a.seconds / b.seconds);
        ratios.push_back(a.seconds / b.seconds);
        one.push_back(a.seconds);
        two.push_back(b.seconds);
        peak1 = std::max(peak1, a.peakRssKb);
        peak2 = std::max(peak2, b.peakRssKb);
    }
    const double s = median(ratios);
    std::printf("  --threads %d: --jobs 1 %.3f s (%.0f messages/s), --jobs 2 %.3f s (%.0f messages/s); speed-up %.2f "
                "median (target >= 1.70: %s); peak RSS %.1f / %.1f MB\n",
                threads, median(one), files / median(one), median(two), files / median(two), s,
                s >= 1.7 ? "met" : "MISSED", peak1 / 1024.0, peak2 / 1024.0);
    if (!o.keep) {
        std::error_code ec;
        fsys::remove_all(root, ec);
        fsys::remove_all(o.work / "out-jobs1", ec);
        fsys::remove_all(o.work / "out-jobs2", ec);
    }
    return 0;
}

int runMillion(const Options& o, long files, int folders) {
    const fsys::path pool = o.work / "pool", src = o.work / "million";
    const auto t0 = Clock::now();
    constexpr int kPool = 1000;
    bench::writeCorpus(pool, kPool, smallShape);
    const long perFolder = (files + folders - 1) / folders;
    long made = 0;
    for (int f = 0; f < folders && made < files; ++f) {
        const fsys::path d = src / ("folder" + std::to_string(f));
        fsys::create_directories(d);
        for (long i = 0; i < perFolder && made < files; ++i, ++made) {
            const fsys::path from = pool / ("m" + std::to_string(made % kPool) + ".msg");
            const fsys::path to = d / ("m" + std::to_string(i) + ".msg");
            std::error_code ec;
            fsys::create_hard_link(from, to, ec);
            if (ec) fsys::copy_file(from, to, ec);
            if (ec) {
                std::printf("cannot write %s: %s\n", to.c_str(), ec.message().c_str());
                return 1;
            }
        }
    }
    std::printf("million: %ld message files in %d folders written in %.1f s; load average %s\n", made, folders,
                std::chrono::duration<double>(Clock::now() - t0).count(), loadAverage().c_str());
    long peak = 0;
    const double ratio = compareWithCat(o, "million", src, {}, &peak);
    std::printf("  peak RSS %.1f MB (target <= 64 MB: %s)\n", peak / 1024.0,
                ratio > 0 && peak <= 64 * 1024 ? "met" : "MISSED");
    if (!o.keep) {
        std::error_code ec;
        fsys::remove_all(src, ec);
        fsys::remove_all(pool, ec);
    }
    return ratio > 0 ? 0 : 1;
}

int runHuge(const Options& o, int mb) {
    const fsys::path src = o.work / "huge";
    bench::writeCorpus(src, 200, smallShape);
    bench::writeCorpus(src / "big", 1, [mb](int) {
        bench::MessageShape s;
        s.attachment = true;
        s.binaryAttachment = true;
        s.attachmentBytes = size_t(mb) << 20;
        return s;
    });
    std::error_code ec;
    const uint64_t largest = fsys::file_size(src / "big" / "m0.msg", ec);
    std::printf("huge: 200 small messages and one of %.1f MiB; load average %s\n", largest / 1048576.0,
                loadAverage().c_str());
    const std::string pst = (o.work / "huge.pst").string(), err = (o.work / "huge.err").string();
    std::vector<std::string> args{o.msg2pst, "convert"};
    if (o.threads) args.push_back("--threads=" + std::to_string(*o.threads));
    args.push_back(src.string());
    args.push_back(pst);
    const Run v = spawn(args, -1, err);
    const double over = v.peakRssKb / 1024.0 - largest / 1048576.0;
    std::printf("  msg2pst %.2f s (exit %d); peak RSS %.1f MB, %.1f MB above the largest message (target <= 32 MB: %s)\n",
                v.seconds, v.exitCode, v.peakRssKb / 1024.0, over, v.exitCode == 0 && over <= 32 ? "met" : "MISSED");
    if (!o.keep) {
        fsys::remove_all(src, ec);
        fsys::remove(pst, ec);
        fsys::remove(err, ec);
    }
    return v.exitCode == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--launch") == 0) return launch(std::atoi(argv[2]), argv + 3);
    {
        std::error_code ec;
        gSelf = fsys::read_symlink("/proc/self/exe", ec).string();
    }
    Options o;
    std::string mode, dir;
    long files = 1000000;
    int folders = 1000, perFolder = 400, mb = 256;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--msg2pst") o.msg2pst = next();
        else if (a == "--rounds") o.rounds = std::max(1, std::atoi(next().c_str()));
        else if (a == "--threads") o.threads = std::max(0, std::atoi(next().c_str()));
        else if (a == "--keep") o.keep = true;
        else if (a == "--work") o.work = next();
        else if (a == "--files") files = std::max(1L, std::atol(next().c_str()));
        else if (a == "--folders") folders = std::max(1, std::atoi(next().c_str()));
        else if (a == "--per-folder") perFolder = std::max(1, std::atoi(next().c_str()));
        else if (a == "--mb") mb = std::clamp(std::atoi(next().c_str()), 1, 3000);
        else if (mode.empty() && (a == "e2e" || a == "jobs" || a == "million" || a == "huge")) mode = a;
        else if (mode == "e2e" && dir.empty() && a.rfind("--", 0) != 0) dir = a;
        else {
            std::fprintf(stderr,
                         "usage: bench_cli [--msg2pst PATH] [--rounds R] [--threads N] [--keep] [--work DIR]\n"
                         "                 e2e [DIR] | jobs [--per-folder N] | million [--files N] [--folders F] | huge [--mb N]\n");
            return 2;
        }
    }
    if (mode.empty()) mode = "e2e";
    if (o.msg2pst.empty()) {
        std::error_code ec;
        o.msg2pst = (fsys::read_symlink("/proc/self/exe", ec).parent_path() / "msg2pst").string();
    }
    o.msg2pst = fsys::absolute(o.msg2pst).string();
    if (::access(o.msg2pst.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "bench_cli: %s is not a program\n", o.msg2pst.c_str());
        return 2;
    }
    const bool ownWork = o.work.empty();
    if (ownWork) o.work = fsys::temp_directory_path() / ("tavrin-bench-cli-" + std::to_string(::getpid()));
    fsys::create_directories(o.work);
    std::printf("msg2pst: %s\n", o.msg2pst.c_str());
    int rc = 0;
    if (mode == "e2e") rc = runE2e(o, dir);
    else if (mode == "jobs") rc = runJobs(o, perFolder);
    else if (mode == "huge") rc = runHuge(o, mb);
    else rc = runMillion(o, files, folders);
    if (ownWork && !o.keep) {
        std::error_code ec;
        fsys::remove_all(o.work, ec);
    }
    return rc;
}
