// Any bytes of any length as the ATA and NVMe pages a health reading parses: every parser stays
// inside the length it is given, the ATA page walks fill only entries the page names, and no
// self-test comes out with a kind or result the interface does not name.
#include "src/ata/AtaPages.h"
#include "src/health/NvmePages.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void CheckTests(const std::vector<Ovra::DiskSelfTest>& tests, std::size_t most) {
    if (tests.size() > most) std::abort();
    for (const Ovra::DiskSelfTest& test : tests) {
        if (test.kind < Ovra::DiskSelfTest::Offline || test.kind > Ovra::DiskSelfTest::Conveyance ||
            test.result < Ovra::DiskSelfTest::Passed ||
            test.result > Ovra::DiskSelfTest::HandlingDamage)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly `size` bytes, so that a read past the length is a heap overflow.
    const std::vector<std::uint8_t> bytes(data, data + size);
    const std::uint8_t* page = bytes.data();
    for (std::size_t i = 0; i < Ovra::ata::kAttributeEntries; ++i) {
        const Ovra::ata::AttributeEntry entry = Ovra::ata::AttributeAt(page, size, i);
        if (entry.id != 0 && page[2 + 12 * i] != entry.id) std::abort();
        Ovra::ata::ThresholdAt(page, size, i);
    }
    Ovra::ata::ReadAttributes(page, size, page, size);
    Ovra::ata::PageChecksumOk(page, size);
    Ovra::ata::IdentifyChecksumOk(page, size);
    Ovra::DiskHealth health;
    Ovra::ata::ReadIdentity(page, size, health);
    Ovra::ata::ReadSelfTestStatus(page, size);
    CheckTests(Ovra::ata::ReadSelfTestLog(page, size), 21);
    Ovra::ata::ReadErrorCount(page, size);

    Ovra::health::ReadNvmeIdentity(page, size, health);
    Ovra::health::ReadNvmeHealthLog(page, size);
    Ovra::health::NvmeCanSelfTest(page, size);
    if (Ovra::health::NvmeErrorLogEntries(page, size) > 64) std::abort();
    if (Ovra::health::NvmeSelfTestRemaining(page, size) > 100) std::abort();
    CheckTests(Ovra::health::ReadNvmeSelfTests(page, size), 20);
    Ovra::health::CountNvmeErrors(page, size);
    return 0;
}
