// Encrypting 100 MB and 2.3 GB for one RSA-2048 certificate: ours (the export's streamed
// path) against openssl's DER mode (whole message in memory) and its streaming mode on the
// same file, each run in a child process so its time and peak memory are its own.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <QFile>

#include "crypto/certificate.h"
#include "crypto/encryptor.h"
#include "crypto/exportflow.h"

namespace {

struct Measure
{
    bool ok = false;
    double seconds = 0;
    double peakMb = 0;
};

Measure runChild(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        // The tools' progress output would break the table; their exit status says enough.
        if (!std::freopen("/dev/null", "w", stderr))
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    Measure m;
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peakMb = usage.ru_maxrss / 1024.0;  // kilobytes on Linux
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

// Keeps the fastest run and the highest peak; a failed run fails the figure.
void keep(Measure &best, const Measure &m, bool first)
{
    if (first || !m.ok) {
        best = m;
        return;
    }
    if (!best.ok)
        return;
    const double peak = std::max(best.peakMb, m.peakMb);
    if (m.seconds < best.seconds)
        best = m;
    best.peakMb = peak;
}

// One run, its output removed, and the disk left idle (untimed) for the next tool.
Measure runOnce(const std::vector<std::string> &args, const std::string &output, bool flush)
{
    Measure m = runChild(args);
    if (m.ok && flush) {
        const Measure flushed = runChild({"sync", "-d", output});
        m.ok = flushed.ok;
        m.seconds += flushed.seconds;
    }
    std::remove(output.c_str());
    runChild({"sync"});
    return m;
}

// The child: encrypt the file as the export and `velomark-cli encrypt` do.
int encryptChild(const char *in, const char *out, const char *certFile)
{
    velomark::Certificate certificate;
    if (!certificate.LoadFromFile(certFile))
        return 3;
    QFile input(QString::fromLocal8Bit(in));
    if (!input.open(QIODevice::ReadOnly))
        return 2;
    velomark::SilentOperator op;
    velomark::Encryptor encryptor;
    velomark::configureExportEncryptor(encryptor);
    return velomark::encryptFileFor(op, encryptor, certificate, input, QString::fromLocal8Bit(out))
                   == velomark::ExportOutcome::Written
               ? 0
               : 4;
}

std::string selfPath()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

bool makeInput(const std::string &file, std::size_t size)
{
    FILE *f = std::fopen(file.c_str(), "wb");
    if (!f)
        return false;
    std::vector<char> block(1 << 20);
    std::uint32_t x = 12345;
    for (char &c : block) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = size - done < block.size() ? size - done : block.size();
        if (std::fwrite(block.data(), 1, n, f) != n) {
            std::fclose(f);
            return false;
        }
        done += n;
    }
    return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (argc == 5 && std::strcmp(argv[1], "--child") == 0)
        return encryptChild(argv[2], argv[3], argv[4]);

    char dirTemplate[] = "/tmp/bench_crypto.XXXXXX";
    const char *dir = mkdtemp(dirTemplate);
    if (!dir)
        return 1;
    const std::string base(dir);
    const std::string cert = base + "/cert.pem";
    const std::string key = base + "/key.pem";
    if (!runChild({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-subj",
                   "/CN=Bench", "-days", "2"})
             .ok) {
        std::fprintf(stderr, "openssl cannot make the certificate\n");
        return 1;
    }
    const std::string self = selfPath();

    std::printf("%-8s | %-17s | %-17s | %-17s | %-17s | %-9s | %-9s | %s\n", "input", "ours s / MB",
                "DER mode s / MB", "-stream s / MB", "-stream+flush s/MB", "ours/strm", "ours/s+f", "peak/input");
    std::printf("---------+-------------------+-------------------+-------------------+-------------------+-----------"
                "+-----------+-----------\n");
    const auto cell = [](const Measure &m) {
        char text[32];
        if (m.ok)
            std::snprintf(text, sizeof text, "%7.2f / %7.1f", m.seconds, m.peakMb);
        else
            std::snprintf(text, sizeof text, "%17s", "failed");
        return std::string(text);
    };
    bool verified = false;
    for (const std::size_t mb : {100u, 2300u}) {
        const std::size_t size = mb * 1000 * 1000;
        const std::string in = base + "/in" + std::to_string(mb);
        // On the disk before the clock starts, so no run pays for writing the input back.
        if (!makeInput(in, size) || !runChild({"sync"}).ok)
            return 1;
        const int runs = mb >= 1000 ? 2 : 3;
        const std::string ourFile = base + "/ours.der";
        if (!runChild({self, "--child", in, ourFile, cert}).ok) {
            std::fprintf(stderr, "our encryption failed at %zu MB\n", mb);
            return 1;
        }
        if (!verified) {
            // The figures only count when openssl opens what we wrote.
            verified = runChild({"openssl", "cms", "-decrypt", "-binary", "-inform", "DER", "-in", ourFile, "-inkey",
                                 key, "-out", base + "/back"})
                           .ok
                       && runChild({"cmp", "-s", in, base + "/back"}).ok;
            if (!verified) {
                std::fprintf(stderr, "openssl cannot decrypt our output\n");
                return 1;
            }
            std::remove((base + "/back").c_str());
        }
        std::remove(ourFile.c_str());
        runChild({"sync"});
        // The tools take turns, so none is favoured by the state the one before left.
        const std::string otherFile = base + "/openssl.der";
        const std::vector<std::string> derMode{"openssl", "cms", "-encrypt", "-binary", "-aes128", "-outform", "DER",
                                               "-in", in, "-out", otherFile, cert};
        std::vector<std::string> streamMode = derMode;
        streamMode.insert(streamMode.begin() + 7, "-stream");
        Measure ours, der, stream, flushed;
        for (int run = 0; run < runs; ++run) {
            keep(ours, runOnce({self, "--child", in, ourFile, cert}, ourFile, false), run == 0);
            keep(der, runOnce(derMode, otherFile, false), run == 0);
            keep(stream, runOnce(streamMode, otherFile, false), run == 0);
            keep(flushed, runOnce(streamMode, otherFile, true), run == 0);
        }
        if (!ours.ok) {
            std::fprintf(stderr, "our encryption failed at %zu MB\n", mb);
            return 1;
        }
        const auto ratio = [&ours](const Measure &m) {
            char text[16] = "-";
            if (m.ok)
                std::snprintf(text, sizeof text, "%9.2f", ours.seconds / m.seconds);
            return std::string(text);
        };
        std::printf("%5zu MB | %s | %s | %s | %s | %9s | %9s | %9.4f\n", mb, cell(ours).c_str(), cell(der).c_str(),
                    cell(stream).c_str(), cell(flushed).c_str(), ratio(stream).c_str(), ratio(flushed).c_str(),
                    ours.peakMb / (size / 1e6));
        std::fflush(stdout);
        std::remove(in.c_str());
    }
    std::printf("(time: best of runs, wall clock, ours including the flush to disk before the file is replaced;\n"
                " MB: peak resident set of the process; openssl's DER mode holds the whole message)\n");
    runChild({"rm", "-rf", base});
    return 0;
}
