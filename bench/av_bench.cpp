// av_bench: compute-only figures of the library, printed one per line as
// "name value unit" for bench/compare.sh (and for people):
//
//   segment cipher and the old one-segment-at-a-time loop, one core;
//   container writes to /dev/null (no storage at all), one core and all cores;
//   container reads of a file in /dev/shm into memory, one core and all cores;
//   PBKDF2 per set of credentials, RSA wrap and unwrap of one file key;
//   peak resident memory of the whole run.
//
//   av_bench [--size-mib N] [--reps N]
//
// Medians over the repetitions. "One core" pins the process (and the helper
// threads it starts) to the first CPU it may use. HOME is pointed at a fresh
// temporary folder, so no real key-ring file is ever touched.

#include "container/CCryptFile.h"
#include "crypto/AvCredentials.h"
#include "crypto/AvEncrypt.h"
#include "crypto/AvSegmentCipher.h"
#include "crypto/SecureString.h"
#include "keyring/AvKeyring.h"

#include <cryptopp/secblock.h>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::size_t Chunk = 512 * 1024; // what the file tools hand to the container
constexpr std::size_t Segment = 4096;

struct Options
{
    std::size_t sizeMib = 1024;
    int reps = 5;
};

double seconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double medianSeconds(int reps, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < reps; ++i)
        times.push_back(seconds(work));
    return median(times);
}

void report(const char* name, double value, const char* unit)
{
    std::printf("%-34s %10.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

// Pins the process to its first allowed CPU, or restores the full set.
class CpuPin
{
public:
    CpuPin() { sched_getaffinity(0, sizeof m_all, &m_all); }
    void one()
    {
        cpu_set_t single;
        CPU_ZERO(&single);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &m_all)) {
                CPU_SET(cpu, &single);
                break;
            }
        }
        sched_setaffinity(0, sizeof single, &single);
    }
    void all() { sched_setaffinity(0, sizeof m_all, &m_all); }
    int count() const { return CPU_COUNT(&m_all); }

private:
    cpu_set_t m_all;
};

// A temporary HOME with an in-memory account that owns new containers.
class BenchAccount
{
public:
    BenchAccount()
    {
        char pattern[] = "/tmp/av_bench-XXXXXX";
        if (const char* dir = mkdtemp(pattern))
            m_home = dir;
        setenv("HOME", m_home.c_str(), 1);
        AvKeyring& ring = AvKeyring::instance();
        ring.Reset();
        ring.credentials = std::make_unique<AvCredentials>("123456", SecureString("bench password"), 0);
        m_keyId = ring.CreateKeyPair();
        ring.activeCryptKeyID = m_keyId;
    }
    ~BenchAccount()
    {
        AvKeyring::instance().Reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_home, ignored);
    }
    std::uint64_t keyId() const { return m_keyId; }

private:
    std::string m_home;
    std::uint64_t m_keyId = 0;
};

bool writeContainer(const std::string& path, std::uint64_t owner, const std::uint8_t* chunk, std::size_t total)
{
    std::uint32_t code = 0;
    CCryptFile container(path, CCryptFile::Create, 0, code);
    if (code != 0 || container.AddShare(owner, "123456") != 0)
        return false;
    for (std::size_t done = 0; done < total; done += Chunk) {
        std::size_t written = 0;
        if (container.Write(chunk, std::min(Chunk, total - done), written) != 0)
            return false;
    }
    return container.Close(false) == 0;
}

bool readContainer(const std::string& path, std::uint8_t* chunk)
{
    std::uint32_t code = 0;
    CCryptFile container(path, CCryptFile::ReadOnly, 0, code);
    if (code != 0)
        return false;
    for (;;) {
        std::size_t count = 0;
        code = container.Read(chunk, Chunk, count);
        if ((code & 0xA0000000u) == 0xA0000000u)
            return false;
        if (count < Chunk)
            return true;
    }
}

void cipherFigures(const Options& options, std::uint8_t* chunk)
{
    const double bytes = double(options.sizeMib) * 1024 * 1024;
    AvAesRecord key;
    GenerateAesKey(key);
    AvSegmentCipher cipher;
    cipher.setKey(key, true);
    const double interleaved = medianSeconds(options.reps, [&] {
        for (std::size_t done = 0, segment = 0; done < bytes; done += Chunk, segment += Chunk / Segment)
            cipher.cryptSegments(segment, Chunk / Segment, Segment, chunk, chunk);
    });
    report("cipher_interleaved_1core", bytes / interleaved / 1e9, "GB/s");

    const double oneByOne = medianSeconds(options.reps, [&] {
        for (std::size_t done = 0, segment = 0; done < bytes; done += Segment, ++segment) {
            ResetAes(key, std::int32_t(segment & 0x7FFFFFFF));
            ProcessAes(key, chunk + done % Chunk, Segment);
        }
    });
    report("cipher_per_segment_1core", bytes / oneByOne / 1e9, "GB/s");
}

void containerFigures(const Options& options, CpuPin& pin, std::uint8_t* chunk, std::uint64_t owner)
{
    const std::size_t total = options.sizeMib * 1024 * 1024;
    const double bytes = double(total);
    bool ok = true;
    for (const bool oneCore : { true, false }) {
        oneCore ? pin.one() : pin.all();
        const double write =
            medianSeconds(options.reps, [&] { ok &= writeContainer("/dev/null", owner, chunk, total); });
        report(oneCore ? "container_write_devnull_1core" : "container_write_devnull_all", bytes / write / 1e9, "GB/s");
    }
    pin.all();

    char pattern[] = "/dev/shm/av_bench-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) {
        std::fprintf(stderr, "no file in /dev/shm: reads skipped\n");
        return;
    }
    close(fd);
    const std::string path = pattern;
    ok &= writeContainer(path, owner, chunk, total);
    for (const bool oneCore : { true, false }) {
        oneCore ? pin.one() : pin.all();
        const double read = medianSeconds(options.reps, [&] { ok &= readContainer(path, chunk); });
        report(oneCore ? "container_read_shm_1core" : "container_read_shm_all", bytes / read / 1e9, "GB/s");
    }
    pin.all();
    unlink(path.c_str());
    if (!ok)
        std::fprintf(stderr, "a container operation failed: figures above are not valid\n");
}

void keyFigures(const Options& options, std::uint64_t owner)
{
    const int rounds = 20 * options.reps;
    const double pbkdf2 = medianSeconds(rounds, [] { AvCredentials("123456", SecureString("bench password"), 0); });
    report("pbkdf2_per_credentials", pbkdf2 * 1e3, "ms");

    AvKeyring& ring = AvKeyring::instance();
    const AvKeyPublic* publicKey = ring.FindPublicKey(owner);
    const AvKeyPrivate* privateKey = ring.FindPrivateKey(owner);
    if (!publicKey || !privateKey)
        return;
    AvAesRecord fileKey;
    GenerateAesKey(fileKey);
    std::vector<double> wrapTimes;
    std::vector<double> unwrapTimes;
    for (int i = 0; i < 10 * rounds; ++i) {
        std::uint8_t buffer[512];
        std::uint32_t length = sizeof buffer;
        AesToRaw(fileKey, buffer, length);
        wrapTimes.push_back(seconds([&] { EncryptRsa(buffer, length, sizeof buffer, publicKey->publicKey); }));
        unwrapTimes.push_back(seconds([&] { DecryptRsa(buffer, length, privateKey->privateKey); }));
    }
    report("rsa_wrap_per_file", median(wrapTimes) * 1e3, "ms");
    report("rsa_unwrap_per_file", median(unwrapTimes) * 1e3, "ms");
}

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--size-mib" || arg == "--reps") && i + 1 < argc) {
            const long value = std::strtol(argv[++i], nullptr, 10);
            if (value <= 0)
                return false;
            if (arg == "--reps")
                options.reps = int(value);
            else
                options.sizeMib = std::size_t(value);
            continue;
        }
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: av_bench [--size-mib N] [--reps N]\n");
        return 2;
    }
    CpuPin pin;
    std::printf("# av_bench: %zu MiB, %d repetitions, %d CPUs\n", options.sizeMib, options.reps, pin.count());

    CryptoPP::SecByteBlock chunk(Chunk);
    for (std::size_t i = 0; i < Chunk; ++i)
        chunk[i] = std::uint8_t(i * 131 + 7);

    BenchAccount account;
    pin.one();
    cipherFigures(options, chunk.data());
    pin.all();
    containerFigures(options, pin, chunk.data(), account.keyId());
    keyFigures(options, account.keyId());

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    report("peak_rss", double(usage.ru_maxrss) / 1024.0, "MiB");
    return 0;
}
