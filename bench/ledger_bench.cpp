// Reading the delivery ledger at start-up against its own length: a ledger
// of N records and one of 5N, each a delivery exported and still a repeat
// candidate (the most a ledger can hold between two rewrites). Reading is
// linear when the larger takes about five times as long; the ratio is
// printed, and the run fails when it passes ten (a quadratic reading gives
// twenty-five). Best of five readings each.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "delivery/delivery_ledger.h"
#include "delivery/delivery_record.h"

namespace {

double MillisecondsToRead(const std::string& path, std::size_t records) {
    {
        std::ofstream ledger(path, std::ios::binary | std::ios::trunc);
        vorlund::DeliveryRecord record;
        record.state = vorlund::DeliveryState::kExported;
        record.digest = std::string(64, 'a');
        record.bytes = 54321;
        record.header = vorlund::DeliveryHeader{"T.DAT", 54321, "14000000000"};
        record.candidate = true;
        record.file = "/var/lib/vorlund/Out/20261209120000.txt";
        for (std::size_t number = 1; number <= records; ++number) {
            record.number = number;
            ledger << vorlund::EncodeRecord(record);
        }
    }
    double best = 1e300;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        auto ledger = vorlund::DeliveryLedger::Open(vorlund::NativePlatform(), path, "/");
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        if (!ledger || ledger->Records().size() != records) {
            std::fprintf(stderr, "the ledger of %zu records did not read whole\n", records);
            std::exit(1);
        }
        best = std::min(best, took.count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "ledger-bench.log";
    const std::size_t small = 20000;
    const double reference = MillisecondsToRead(path, small);
    const double large = MillisecondsToRead(path, 5 * small);
    std::remove(path.c_str());
    std::printf("ledger of %zu records: %.1f ms, of %zu: %.1f ms (%.1fx; linear is 5x)\n", small,
                reference, 5 * small, large, large / reference);
    return large / reference > 10 ? 1 : 0;
}
