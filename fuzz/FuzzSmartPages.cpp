// Any bytes of any length as every ATA and NVMe page a health reading parses: no parser reads
// past the length it is given, and an attribute entry comes from the page's own bytes.
#include "src/ata/AtaPages.h"
#include "src/health/NvmePages.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> copy(data, data + size);  // reading past `size` overflows
    const std::uint8_t* page = copy.data();
    for (std::size_t i = 0; i < Ovra::ata::kAttributeEntries; ++i) {
        const Ovra::ata::AttributeEntry entry = Ovra::ata::AttributeAt(page, size, i);
        if (entry.id != 0 && page[2 + 12 * i] != entry.id) std::abort();
    }
    Ovra::DiskHealth health;
    health.attributes = Ovra::ata::ReadAttributes(page, size, page, size);
    Ovra::ata::ReadIdentity(page, size, health);
    Ovra::ata::IdentifyChecksumOk(page, size);
    Ovra::ata::ReadSelfTestStatus(page, size);
    health.selfTests = Ovra::ata::ReadSelfTestLog(page, size);
    health.errorLogCount = Ovra::ata::ReadErrorCount(page, size);
    Ovra::health::ReadNvmeIdentity(page, size, health);
    health.nvme = Ovra::health::ReadNvmeHealthLog(page, size);
    Ovra::health::NvmeCanSelfTest(page, size);
    Ovra::health::NvmeErrorLogEntries(page, size);
    Ovra::health::NvmeSelfTestRemaining(page, size);
    health.selfTests = Ovra::health::ReadNvmeSelfTests(page, size);
    Ovra::health::CountNvmeErrors(page, size);
    return 0;
}
