// Times a repair with delete-duplicates over a large table against cp of the same file:
//   salvora_dedup_bench [RECORDS] [FOLDER] [RUNS]
// RECORDS (10000000) records of 100 bytes, every tenth a copy of an earlier one; FOLDER is
// where the scratch files go (the system's temporary folder); each measurement runs RUNS (2)
// times after a sync and the fastest run counts. A plain repair (all record checks, no
// filters) is timed too. Peak memory is the process's maximum resident set after the runs.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/enginecontext.h"
#include "engine/recovery.h"
#include "platform/platform.h"

namespace {

using salvora::EngineContext;
namespace platform = salvora::platform;

constexpr std::size_t recordLength = 100;
constexpr std::size_t fieldCount = 6;
constexpr std::size_t headerLength = 32 + 32 * fieldCount + 1;

struct Field {
    const char *name;
    char type;
    std::uint8_t length;
    std::uint8_t decimals;
};

constexpr Field fields[fieldCount] = {
    {"NAME", 'C', 40, 0}, {"CITY", 'C', 30, 0},  {"AMOUNT", 'N', 12, 2},
    {"BORN", 'D', 8, 0},  {"ACTIVE", 'L', 1, 0}, {"CODE", 'C', 8, 0},
};

constexpr const char *cities[] = {"Lisbon", "Oslo",   "Tallinn", "Valencia",
                                  "Graz",   "Aarhus", "Porto",   "Ghent"};

// Every tenth record repeats an earlier record that is itself an original.
bool isCopy(std::uint64_t i) {
    return i % 10 == 9;
}
std::uint64_t originalOf(std::uint64_t i) {
    std::uint64_t j = (i * 2654435761u) % i;
    return isCopy(j) ? j - 1 : j;
}

void putNumber(std::uint8_t *p, std::size_t width, std::uint64_t value, char fill) {
    for (std::size_t k = width; k-- > 0;) {
        p[k] = static_cast<std::uint8_t>('0' + value % 10);
        value /= 10;
        if (value == 0) {
            std::memset(p, fill, k);
            return;
        }
    }
}

// Distinct ids give distinct records; every field passes its check.
void makeRecord(std::uint8_t *r, std::uint64_t id) {
    std::memset(r, ' ', recordLength);
    std::uint8_t *p = r + 1;
    std::memcpy(p, "Customer ", 9);
    putNumber(p + 9, 10, id, '0');
    p += 40;
    const char *city = cities[id % 8];
    std::memcpy(p, city, std::strlen(city));
    p += 30;
    putNumber(p, 12, (id * 7919) % 100000000 + 100, ' ');
    std::memmove(p, p + 1, 9); // make room for the point: nnnnnnnnn.nn
    p[9] = '.';
    p += 12;
    putNumber(p, 4, 1950 + id % 60, '0');
    putNumber(p + 4, 2, 1 + id % 12, '0');
    putNumber(p + 6, 2, 1 + id % 28, '0');
    p += 8;
    *p++ = id % 3 == 0 ? 'F' : 'T';
    putNumber(p, 8, id % 100000000, '0');
}

bool writeTable(platform::Platform &os, const std::string &path, std::uint64_t records) {
    platform::OpenResult opened =
        os.openFile(path, {platform::Access::ReadWrite, platform::Share::None,
                           platform::Disposition::CreateAlways, true});
    if (!opened)
        return false;
    std::vector<std::uint8_t> header(headerLength, 0);
    header[0] = 0x03;
    header[1] = 124;
    header[2] = 5;
    header[3] = 7;
    for (int i = 0; i < 4; ++i)
        header[4 + i] = static_cast<std::uint8_t>(records >> (8 * i));
    header[8] = headerLength & 0xFF;
    header[9] = headerLength >> 8;
    header[10] = recordLength & 0xFF;
    header[11] = recordLength >> 8;
    std::size_t displacement = 1;
    for (std::size_t f = 0; f < fieldCount; ++f) {
        std::uint8_t *d = &header[32 + 32 * f];
        std::memcpy(d, fields[f].name, std::strlen(fields[f].name));
        d[11] = static_cast<std::uint8_t>(fields[f].type);
        d[12] = static_cast<std::uint8_t>(displacement);
        d[16] = fields[f].length;
        d[17] = fields[f].decimals;
        displacement += fields[f].length;
    }
    header[headerLength - 1] = 0x0D;
    if (!opened.file->write(header.data(), header.size()).ok())
        return false;

    constexpr std::size_t perChunk = 80000;
    std::vector<std::uint8_t> chunk(perChunk * recordLength);
    for (std::uint64_t first = 0; first < records; first += perChunk) {
        std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(perChunk, records - first));
        for (std::size_t k = 0; k < n; ++k) {
            std::uint64_t i = first + k;
            makeRecord(&chunk[k * recordLength], isCopy(i) ? originalOf(i) : i);
        }
        if (!opened.file->write(chunk.data(), n * recordLength).ok())
            return false;
    }
    std::uint8_t end = 0x1A;
    return opened.file->write(&end, 1).ok();
}

double seconds(const std::function<void()> &work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Fastest of `runs`, each after writing back what earlier runs left dirty.
double best(int runs, platform::Platform &os, const std::string &target,
            const std::function<void()> &work) {
    double fastest = 0;
    for (int r = 0; r < runs; ++r) {
        os.removeFile(target);
        if (std::system("sync") != 0)
            std::fprintf(stderr, "sync failed\n");
        double s = seconds(work);
        fastest = r == 0 ? s : std::min(fastest, s);
    }
    return fastest;
}

double peakResidentMiB() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

std::uint32_t storedRecordCount(platform::Platform &os, const std::string &path) {
    platform::OpenResult opened = os.openFile(path, {});
    std::uint8_t header[8] = {};
    if (!opened || opened.file->read(header, sizeof header).bytes != sizeof header)
        return 0;
    return static_cast<std::uint32_t>(header[4] | header[5] << 8 | header[6] << 16) |
           static_cast<std::uint32_t>(header[7]) << 24;
}

} // namespace

int main(int argc, char **argv) {
    platform::Platform &os = platform::nativePlatform();
    std::uint64_t records = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000;
    std::string folder = argc > 2 ? argv[2] : os.tempFolder();
    int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 2;
    if (records == 0 || records > 0xFFFFFFFFu) {
        std::fprintf(stderr, "RECORDS must be 1 .. 4294967295\n");
        return 2;
    }
    std::string source = platform::joinPath(folder, "dedup_bench_source.dbf");
    std::string copy = platform::joinPath(folder, "dedup_bench_copy.dbf");
    std::string output = platform::joinPath(folder, "dedup_bench_output.dbf");

    std::uint64_t copies = records / 10;
    std::uint64_t distinct = records - copies;
    std::printf("table: %llu records of %zu bytes, %llu of them copies of earlier ones\n",
                static_cast<unsigned long long>(records), recordLength,
                static_cast<unsigned long long>(copies));
    double made = seconds([&] {
        if (!writeTable(os, source, records)) {
            std::fprintf(stderr, "cannot write %s\n", source.c_str());
            std::exit(1);
        }
    });
    std::printf("  written in %.2f s\n", made);

    std::string cp = "cp --reflink=never '" + source + "' '" + copy + "'";
    std::string cpSync = cp + " && sync '" + copy + "'";
    double cpTime = best(runs, os, copy, [&] {
        if (std::system(cp.c_str()) != 0)
            std::fprintf(stderr, "cp failed\n");
    });
    double cpSyncTime = best(runs, os, copy, [&] {
        if (std::system(cpSync.c_str()) != 0)
            std::fprintf(stderr, "cp failed\n");
    });
    os.removeFile(copy);

    bool failed = false;
    auto repair = [&](std::uint32_t deleteDuplicates, std::uint64_t expected) {
        return best(runs, os, output, [&] {
            EngineContext context(os);
            salvora::RecoveryRequest request;
            request.source = source;
            request.output = output;
            request.options.deleteDuplicates = deleteDuplicates;
            salvora::RunObserver quiet;
            int result = salvora::runRecovery(context, request, quiet).result;
            if (result != salvora::recoveryFixed || storedRecordCount(os, output) != expected) {
                std::fprintf(stderr, "repair gave %d with %u records, expected %llu\n", result,
                             storedRecordCount(os, output),
                             static_cast<unsigned long long>(expected));
                failed = true;
            }
        });
    };
    double plainTime = repair(0, records);
    double plainPeak = peakResidentMiB();
    double dedupTime = repair(1, distinct);
    double dedupPeak = peakResidentMiB();
    os.removeFile(output);
    os.removeFile(source);

    double keyMiB = static_cast<double>(distinct * (recordLength - 1)) / (1024.0 * 1024.0);
    std::printf("cp:                %.3f s\n", cpTime);
    std::printf("cp + sync:         %.3f s\n", cpSyncTime);
    std::printf("all checks:        %.3f s  = %.2f x cp, %.2f x (cp + sync)\n", plainTime,
                plainTime / cpTime, plainTime / cpSyncTime);
    std::printf("delete duplicates: %.3f s  = %.2f x cp, %.2f x (cp + sync)\n", dedupTime,
                dedupTime / cpTime, dedupTime / cpSyncTime);
    std::printf("peak resident:     %.1f MiB without duplicates filter, %.1f MiB with it\n",
                plainPeak, dedupPeak);
    std::printf("distinct keys:     %.1f MiB (%llu x %zu bytes); peak / keys = %.2f\n", keyMiB,
                static_cast<unsigned long long>(distinct), recordLength - 1, dedupPeak / keyMiB);
    std::printf("checks/cp ratio: %.2f\n", plainTime / cpTime);
    std::printf("dedup/cp ratio: %.2f\n", dedupTime / cpTime);
    return failed ? 1 : 0;
}
