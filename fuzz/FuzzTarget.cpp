// One libFuzzer target; HEMATIX_FUZZ_TARGET names its entry (fuzz/entries/FuzzEntries.h).
// With HEMATIX_FUZZ_WRITE_SEEDS=DIR in the environment it writes its starting inputs and ends.
#include "fuzz/entries/FuzzEntries.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const fuzzentry::Entry& entry()
{
    static const fuzzentry::Entry* e = fuzzentry::find(QStringLiteral(HEMATIX_FUZZ_TARGET));
    if (!e) {
        std::fprintf(stderr, "no fuzz entry named %s\n", HEMATIX_FUZZ_TARGET);
        std::abort();
    }
    return *e;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzentry::ensureApplication();
    const QString seeds = qEnvironmentVariable("HEMATIX_FUZZ_WRITE_SEEDS");
    if (!seeds.isEmpty()) {
        fuzzentry::writeSeeds(entry(), seeds);
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A copy, as the program reads files into byte arrays of its own.
    entry().run(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}
