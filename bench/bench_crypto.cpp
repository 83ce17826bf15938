// Encrypting 1, 10 and 100 MB for one RSA-2048 certificate: ours against openssl's DER mode
// (whole message in memory) and its streaming mode, each run in a child process so its
// time and peak memory are its own.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/binarydata.h"
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

Measure best(const std::vector<std::string> &args, int runs)
{
    Measure result;
    for (int i = 0; i < runs; ++i) {
        const Measure m = runChild(args);
        if (!m.ok)
            return m;
        if (!result.ok || m.seconds < result.seconds)
            result = m;
        if (m.peakMb > result.peakMb)
            result.peakMb = m.peakMb;
    }
    return result;
}

// The child: read the file, encrypt it as the export does, write the message.
int encryptChild(const char *in, const char *out, const char *certFile)
{
    FILE *input = std::fopen(in, "rb");
    if (!input)
        return 2;
    std::vector<std::uint8_t> bytes;
    struct stat info;
    if (fstat(fileno(input), &info) == 0)
        bytes.resize(static_cast<std::size_t>(info.st_size));
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), input);
    std::fclose(input);
    if (got != bytes.size())
        return 2;
    velomark::Certificate certificate;
    if (!certificate.LoadFromFile(certFile))
        return 3;
    velomark::Encryptor encryptor;
    velomark::configureExportEncryptor(encryptor);
    encryptor.SetRecipientCert(certificate);
    velomark::BinaryData data;
    data.Assign(std::move(bytes));
    if (!encryptor.EncryptBinaryData(data))
        return 4;
    const velomark::Bytes message = data.GetData();
    data.Clear();
    FILE *output = std::fopen(out, "wb");
    if (!output)
        return 5;
    const bool written = std::fwrite(message.data(), 1, message.size(), output) == message.size();
    return std::fclose(output) == 0 && written ? 0 : 5;
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

    std::printf("%-7s | %-16s | %-16s | %-16s | %-9s | %-9s | %s\n", "input", "ours s / MB", "DER mode s / MB",
                "-stream s / MB", "ours/DER", "ours/strm", "peak/input");
    std::printf("--------+------------------+------------------+------------------+-----------+-----------+-----------\n");
    bool verified = false;
    for (std::size_t mb : {1u, 10u, 100u}) {
        const std::size_t size = mb * 1000 * 1000;
        const std::string in = base + "/in" + std::to_string(mb);
        if (!makeInput(in, size))
            return 1;
        const int runs = mb >= 100 ? 2 : 3;
        const Measure ours = best({self, "--child", in, base + "/ours.der", cert}, runs);
        const Measure der = best({"openssl", "cms", "-encrypt", "-binary", "-aes128", "-outform", "DER", "-in", in,
                                  "-out", base + "/der.der", cert},
                                 runs);
        const Measure stream = best({"openssl", "cms", "-encrypt", "-binary", "-aes128", "-outform", "DER", "-stream",
                                     "-in", in, "-out", base + "/stream.der", cert},
                                    runs);
        if (!ours.ok || !der.ok || !stream.ok) {
            std::fprintf(stderr, "a run failed at %zu MB\n", mb);
            return 1;
        }
        if (!verified) {
            // The figures only count when openssl opens what we wrote.
            verified = runChild({"openssl", "cms", "-decrypt", "-binary", "-inform", "DER", "-in", base + "/ours.der",
                                 "-inkey", key, "-out", base + "/back"})
                           .ok
                       && runChild({"cmp", "-s", in, base + "/back"}).ok;
            if (!verified) {
                std::fprintf(stderr, "openssl cannot decrypt our output\n");
                return 1;
            }
        }
        std::printf("%4zu MB | %6.3f / %6.1f  | %6.3f / %6.1f  | %6.3f / %6.1f  | %9.2f | %9.2f | %9.2f\n", mb,
                    ours.seconds, ours.peakMb, der.seconds, der.peakMb, stream.seconds, stream.peakMb,
                    ours.seconds / der.seconds, ours.seconds / stream.seconds, ours.peakMb / (size / 1e6));
        std::remove(in.c_str());
    }
    std::printf("(time: best of runs, wall clock; MB: peak resident set of the process)\n");
    runChild({"rm", "-rf", base});
    return 0;
}
