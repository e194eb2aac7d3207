// Internet mail reader: throughput on .eml files and memory on a large mbox.
//
//   bench_mime eml [--count N] [--rounds R] [--keep DIR] [--msg2pst PATH]
//       N generated .eml files (3,000 by default; plain, HTML with an
//       alternative text, and with an attached file or message): a plain
//       copy of their bytes into one file with one fsync, against reading
//       and parsing each file (readMessageFile), against the store path
//       (files read ahead, imported, saved into a new PST), and against
//       `msg2pst convert` of their folder (the engine, as users run it).
//       Each measurement runs in a child process. Target for msg2pst: at
//       most 1.5 times the copy.
//   bench_mime mbox [--size-mb S] [--biggest-mb B] [--keep DIR] [--msg2pst PATH]
//       An mbox of about S MB (2,048 by default) of 40 KB messages with one
//       message of B MB (24 by default) in the middle: split and every message
//       parsed, one at a time, then converted by `msg2pst convert` of its
//       folder. Target for both: peak RSS under 64 MB above the biggest
//       message.
//
// msg2pst is the one beside this program unless --msg2pst names another.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fs/file_io.h"
#include "store/message_files.h"
#include "store/read_ahead.h"
#include "store/session.h"

namespace {

using namespace tavrin;
using namespace tavrin::store;
namespace fsys = std::filesystem;
using Clock = std::chrono::steady_clock;

// --- the generated mail -------------------------------------------------

std::string base64Lines(size_t rawBytes, std::mt19937& rng) {
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s;
    const size_t chars = (rawBytes + 2) / 3 * 4;
    s.reserve(chars + chars / 76 * 2 + 2);
    for (size_t i = 0; i < chars; ++i) {
        s.push_back(a[rng() & 63]);
        if (i % 76 == 75) s += "\r\n";
    }
    return s + "\r\n";
}

std::string words(size_t bytes, std::mt19937& rng) {
    static const char* w[] = {"meeting", "report", "quarter", "budget", "the", "and", "of", "schedule", "caf\xC3\xA9",
                              "review", "team", "please", "attached", "thanks", "regards", "project"};
    std::string s;
    while (s.size() < bytes) {
        s += w[rng() % 16];
        s += (rng() % 12 == 0) ? "\r\n" : " ";
    }
    return s + "\r\n";
}

std::string header(int i, std::mt19937& rng) {
    char date[64];
    std::snprintf(date, sizeof date, "Mon, %d Jul 2024 %02d:%02d:%02d +0200", 1 + i % 28, i % 24, i % 60, (i * 7) % 60);
    return "Received: from mx.example.com by mail.example.org; " + std::string(date) + "\r\n" +
           "From: \"Sender " + std::to_string(i % 97) + "\" <sender" + std::to_string(i % 97) + "@example.com>\r\n" +
           "To: Ann <ann@example.org>, =?utf-8?Q?J=C3=B6rg?= <jorg@example.org>\r\nCc: team@example.org\r\n"
           "Subject: Re: =?utf-8?B?UHJvamVjdCB1cGRhdGU=?= " + std::to_string(i) + "\r\n" +
           "Date: " + date + "\r\nMessage-ID: <" + std::to_string(i) + "." + std::to_string(rng()) + "@example.com>\r\n" +
           "MIME-Version: 1.0\r\n";
}

// About `size` bytes; kinds in turn: plain, alternative, with a file, with a message.
std::string message(int i, size_t size, std::mt19937& rng) {
    std::string m = header(i, rng);
    switch (i % 4) {
        case 0:
            m += "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + words(size, rng);
            break;
        case 1:
            m += "Content-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n--alt\r\n"
                 "Content-Type: text/plain; charset=utf-8\r\n\r\n" + words(size / 3, rng) +
                 "--alt\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
                 "<html><body><p>" + words(size * 2 / 3, rng) + "</p></body></html>\r\n--alt--\r\n";
            break;
        case 2:
            m += "Content-Type: multipart/mixed; boundary=\"mix\"\r\n\r\n--mix\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" +
                 words(size / 4, rng) + "--mix\r\nContent-Type: application/pdf; name=\"report.pdf\"\r\n"
                 "Content-Disposition: attachment; filename=\"report.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                 base64Lines(size / 2, rng) + "--mix--\r\n";
            break;
        default:
            m += "Content-Type: multipart/mixed; boundary=\"mix\"\r\n\r\n--mix\r\nContent-Type: text/plain\r\n\r\nSee below.\r\n"
                 "--mix\r\nContent-Type: message/rfc822\r\n\r\n" + header(i + 1, rng) +
                 "Content-Type: text/plain; charset=utf-8\r\n\r\n" + words(size / 2, rng) + "--mix--\r\n";
            break;
    }
    return m;
}

// --- measuring ----------------------------------------------------------

std::string gMsg2pst;

struct Run {
    bool ok = false;
    double seconds = 0;
    double cpu = 0;  // user + system
    long peakRssKb = 0;
};

template <class F>
Run inChild(F work) {
    int pipefd[2];
    if (::pipe(pipefd) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipefd[0]);
        const auto t0 = Clock::now();
        const bool ok = work();
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        char buf[64];
        const int n = std::snprintf(buf, sizeof buf, "%d %.9f", ok ? 1 : 0, s);
        (void)!::write(pipefd[1], buf, static_cast<size_t>(n));
        ::_exit(0);
    }
    ::close(pipefd[1]);
    char buf[64] = {};
    ssize_t got = 0, n;
    while (got < static_cast<ssize_t>(sizeof buf) - 1 && (n = ::read(pipefd[0], buf + got, sizeof buf - 1 - got)) > 0)
        got += n;
    ::close(pipefd[0]);
    int status = 0;
    struct rusage ru {};
    ::wait4(pid, &status, 0, &ru);
    Run r;
    int ok = 0;
    if (std::sscanf(buf, "%d %lf", &ok, &r.seconds) == 2) r.ok = ok == 1 && WIFEXITED(status);
    r.peakRssKb = ru.ru_maxrss;
    r.cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
    return r;
}

// msg2pst with `args`, its output into `log`. ok: every message converted.
Run msg2pst(const std::vector<std::string>& args, const std::string& log) {
    std::vector<std::string> full{gMsg2pst};
    full.insert(full.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : full) argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto t0 = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) return {};
    if (pid == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage ru {};
    ::wait4(pid, &status, 0, &ru);
    Run r;
    r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.peakRssKb = ru.ru_maxrss;
    r.cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
    return r;
}

std::string loadAverage() {
    std::ifstream f("/proc/loadavg");
    std::string a, b, c;
    f >> a >> b >> c;
    return a + " " + b + " " + c;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

bool plainCopy(const std::vector<std::string>& inputs, const std::string& out) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (const auto& p : inputs) {
        auto b = fs::readFile(p);
        if (!b) return false;
        for (size_t done = 0; done < b->size();) {
            const ssize_t n = ::write(fd, b->data() + done, b->size() - done);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
    }
    ok = ::fsync(fd) == 0 && ok;
    return ::close(fd) == 0 && ok;
}

bool readAll(const std::vector<std::string>& inputs) {
    size_t failed = 0;
    for (const auto& p : inputs) failed += !readMessageFile(p).ok();
    return failed == 0;
}

bool convertAll(const std::vector<std::string>& inputs, const std::string& out) {
    RDOSession session;
    auto store = session.LogonPstStore(out, olStoreUnicode, "Bench");
    if (!store || !(*store)->ValidateIPMTree()) return false;
    auto inbox = (*store)->GetDefaultFolder(olFolderInbox);
    if (!inbox) return false;
    ReadAheadOptions o;
    o.threads = defaultReadAheadThreads();
    MessageReadAhead files(inputs.size(), [&](size_t i) { return inputs[i]; }, o);
    size_t failed = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        auto item = (*inbox)->Items().Add(0);
        if (!item || !(*item)->Import(files.take(i)) || !(*item)->Save()) ++failed;
    }
    return session.Logoff().ok() && failed == 0;
}

fsys::path workDir(const std::string& keep, const char* name) {
    fsys::path d = keep.empty() ? fsys::temp_directory_path() / (std::string(name) + std::to_string(::getpid())) : fsys::path(keep);
    fsys::create_directories(d);
    return d;
}

int benchEml(int count, int rounds, const std::string& keep) {
    const fsys::path dir = workDir(keep, "bench_mime_eml");
    std::mt19937 rng(7);
    std::vector<std::string> inputs;
    uint64_t bytes = 0;
    for (int i = 0; i < count; ++i) {
        const fsys::path p = dir / "mail" / ("m" + std::to_string(i) + ".eml");
        if (i == 0) fsys::create_directories(p.parent_path());
        const std::string m = message(i, 8000 + rng() % 40000, rng);
        std::ofstream(p, std::ios::binary) << m;
        inputs.push_back(p.string());
        bytes += m.size();
    }
    std::printf("%d .eml files, %.1f MB (%.1f KB each); %d rounds\n", count, bytes / 1e6, bytes / 1e3 / count, rounds);
    std::vector<double> copy, parse, convert, cli, rParse, rConvert, rCli;
    long peak = 0, cliPeak = 0;
    for (int r = 0; r < rounds; ++r) {
        const std::string copyOut = (dir / ("copy" + std::to_string(r))).string();
        const std::string pstOut = (dir / ("out" + std::to_string(r) + ".pst")).string();
        const std::string cliOut = (dir / ("msg2pst" + std::to_string(r) + ".pst")).string();
        const std::string log = (dir / "msg2pst.log").string();
        const Run c = inChild([&] { return plainCopy(inputs, copyOut); });
        const Run p = inChild([&] { return readAll(inputs); });
        const Run v = inChild([&] { return convertAll(inputs, pstOut); });
        const Run m = msg2pst({"convert", (dir / "mail").string(), cliOut}, log);
        if (!c.ok || !p.ok || !v.ok || !m.ok) {
            std::fprintf(stderr, "round %d failed (copy %d, parse %d, convert %d, msg2pst %d: see %s)\n", r, c.ok, p.ok,
                         v.ok, m.ok, log.c_str());
            return 1;
        }
        std::printf("  round %d: copy %.3f s (cpu %.3f), read+parse %.3f s (cpu %.3f, %.2f), read+parse+PST %.3f s "
                    "(cpu %.3f, %.2f), msg2pst %.3f s (cpu %.3f, %.2f), PST peak RSS %ld KB; load average %s\n",
                    r, c.seconds, c.cpu, p.seconds, p.cpu, p.seconds / c.seconds, v.seconds, v.cpu, v.seconds / c.seconds,
                    m.seconds, m.cpu, m.seconds / c.seconds, v.peakRssKb, loadAverage().c_str());
        cli.push_back(m.seconds);
        rCli.push_back(m.seconds / c.seconds);
        cliPeak = std::max(cliPeak, m.peakRssKb);
        copy.push_back(c.seconds);
        parse.push_back(p.seconds);
        convert.push_back(v.seconds);
        rParse.push_back(p.seconds / c.seconds);
        rConvert.push_back(v.seconds / c.seconds);
        peak = std::max(peak, v.peakRssKb);
        std::error_code ec;
        fsys::remove(copyOut, ec);
        fsys::remove(pstOut, ec);
        fsys::remove(cliOut, ec);
    }
    std::printf("plain copy + fsync: %.3f s median, %.0f msgs/s\n", median(copy), count / median(copy));
    std::printf("read + parse:       %.3f s median, %.0f msgs/s, %.2f x the copy\n", median(parse), count / median(parse),
                median(rParse));
    std::printf("read + parse + PST: %.3f s median, %.0f msgs/s, %.2f x the copy, peak RSS %.1f MB\n", median(convert),
                count / median(convert), median(rConvert), peak / 1024.0);
    std::printf("msg2pst convert:    %.3f s median, %.0f msgs/s, %.2f x the copy (target <= 1.50: %s), peak RSS %.1f MB\n",
                median(cli), count / median(cli), median(rCli), median(rCli) <= 1.5 ? "met" : "MISSED", cliPeak / 1024.0);
    if (keep.empty()) fsys::remove_all(dir);
    return 0;
}

int benchMbox(uint64_t sizeMb, uint64_t biggestMb, const std::string& keep) {
    const fsys::path dir = workDir(keep, "bench_mime_mbox");
    fsys::create_directories(dir / "src");
    const std::string path = (dir / "src" / "big.mbox").string();
    std::mt19937 rng(11);
    uint64_t written = 0, messages = 0;
    size_t biggest = 0;
    {
        std::ofstream out(path, std::ios::binary);
        const std::string body = words(40000, rng);
        bool bigDone = false;
        while (written < sizeMb << 20) {
            std::string m;
            if (!bigDone && written >= (sizeMb << 20) / 2) {
                m = header(static_cast<int>(messages), rng) +
                    "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nbig one\r\n--b\r\n"
                    "Content-Type: application/octet-stream; name=big.bin\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                    base64Lines(biggestMb << 20, rng) + "--b--\r\n";
                bigDone = true;
            } else {
                m = header(static_cast<int>(messages), rng) + "Content-Type: text/plain; charset=utf-8\r\n\r\n" + body +
                    "From here on a quoted line\r\n";
                // mboxrd quoting of the line above.
                const size_t q = m.find("\r\nFrom here");
                m.insert(q + 2, ">");
            }
            out << "From sender@example.com Mon Jul  1 12:00:00 2024\r\n" << m << "\r\n";
            written += m.size() + 52;
            biggest = std::max(biggest, m.size());
            ++messages;
        }
    }
    std::printf("mbox of %.1f MB, %llu messages, the biggest %.1f MB\n", written / 1048576.0,
                static_cast<unsigned long long>(messages), biggest / 1048576.0);
    const Run base = inChild([] { return true; });
    uint64_t got = 0;
    const Run split = inChild([&] {
        auto r = MboxReader::open(path);
        if (!r) return false;
        uint64_t n = 0;
        for (;;) {
            auto m = r->next();
            if (!m) return false;
            if (!*m) break;
            ++n;
        }
        got = n;
        return n == messages;
    });
    const Run parse = inChild([&] {
        auto r = MboxReader::open(path);
        if (!r) return false;
        uint64_t n = 0;
        for (;;) {
            auto m = r->nextMessage();
            if (!m) return false;
            if (!*m) break;
            if (!(*m)->second) return false;
            ++n;
        }
        return n == messages;
    });
    (void)got;
    const std::string pst = (dir / "big.pst").string(), log = (dir / "msg2pst.log").string();
    const Run cli = msg2pst({"convert", (dir / "src").string(), pst}, log);
    std::error_code ec;
    const uint64_t pstBytes = fsys::file_size(pst, ec);
    const double bigMb = biggest / 1048576.0;
    std::printf("empty child: peak RSS %.1f MB\n", base.peakRssKb / 1024.0);
    std::printf("split only:         %s, %.2f s, %.0f MB/s, peak RSS %.1f MB\n", split.ok ? "ok" : "FAILED", split.seconds,
                written / 1048576.0 / split.seconds, split.peakRssKb / 1024.0);
    const double above = parse.peakRssKb / 1024.0 - bigMb;
    std::printf("split + parse each: %s, %.2f s, %.0f MB/s, peak RSS %.1f MB = biggest message + %.1f MB (target < 64: %s)\n",
                parse.ok ? "ok" : "FAILED", parse.seconds, written / 1048576.0 / parse.seconds, parse.peakRssKb / 1024.0,
                above, above < 64 ? "met" : "MISSED");
    const double cliAbove = cli.peakRssKb / 1024.0 - bigMb;
    std::printf("msg2pst convert:    %s, %.2f s (cpu %.2f), %.0f MB/s, PST %.1f MB, peak RSS %.1f MB = biggest message + "
                "%.1f MB (target < 64: %s); load average %s\n",
                cli.ok ? "ok" : "FAILED (see msg2pst.log)", cli.seconds, cli.cpu, written / 1048576.0 / cli.seconds,
                pstBytes / 1048576.0, cli.peakRssKb / 1024.0, cliAbove, cliAbove < 64 ? "met" : "MISSED",
                loadAverage().c_str());
    if (keep.empty()) fsys::remove_all(dir);
    return split.ok && parse.ok && cli.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || (std::strcmp(argv[1], "eml") != 0 && std::strcmp(argv[1], "mbox") != 0)) {
        std::puts("usage: bench_mime eml [--count N] [--rounds R] [--keep DIR] [--msg2pst PATH]\n"
                  "       bench_mime mbox [--size-mb S] [--biggest-mb B] [--keep DIR] [--msg2pst PATH]");
        return 2;
    }
    std::error_code ec;
    gMsg2pst = (fsys::read_symlink("/proc/self/exe", ec).parent_path() / "msg2pst").string();
    int count = 3000, rounds = 3;
    uint64_t sizeMb = 2048, biggestMb = 24;
    std::string keep;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--count") count = std::max(1, std::atoi(argv[i + 1]));
        else if (a == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (a == "--size-mb") sizeMb = std::max(1, std::atoi(argv[i + 1]));
        else if (a == "--biggest-mb") biggestMb = std::max(1, std::atoi(argv[i + 1]));
        else if (a == "--keep") keep = argv[i + 1];
        else if (a == "--msg2pst") gMsg2pst = fsys::absolute(argv[i + 1]).string();
    }
    return std::strcmp(argv[1], "eml") == 0 ? benchEml(count, rounds, keep) : benchMbox(sizeMb, biggestMb, keep);
}
