#pragma once

// Device pages built byte by byte, independently of the library's readers: the ATA attribute,
// threshold and IDENTIFY pages with valid checksums, and the NVMe health log and Identify data.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Ovra {
namespace testing_health {

using Bytes = std::vector<std::uint8_t>;

struct AtaEntry {
    std::uint8_t id;
    std::uint16_t flags;
    std::uint8_t value;
    std::uint8_t worst;
    long long raw;
};

// Sets the last byte so that the page sums to 0 modulo 256.
inline void Seal(Bytes& page) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 1 < page.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + page[i]);
    page.back() = static_cast<std::uint8_t>(0x100 - sum);
}

inline Bytes AttributePage(const std::vector<AtaEntry>& entries) {
    Bytes page(512, 0);
    page[0] = 0x10;
    for (std::size_t i = 0; i < entries.size() && i < 30; ++i) {
        std::uint8_t* at = page.data() + 2 + 12 * i;
        const AtaEntry& e = entries[i];
        at[0] = e.id;
        at[1] = static_cast<std::uint8_t>(e.flags);
        at[2] = static_cast<std::uint8_t>(e.flags >> 8);
        at[3] = e.value;
        at[4] = e.worst;
        for (int b = 0; b < 6; ++b) at[5 + b] = static_cast<std::uint8_t>(e.raw >> (8 * b));
        at[11] = 0x5A;  // reserved: never part of the raw value
    }
    Seal(page);
    return page;
}

inline Bytes ThresholdPage(const std::vector<std::pair<std::uint8_t, std::uint8_t>>& entries) {
    Bytes page(512, 0);
    page[0] = 0x10;
    for (std::size_t i = 0; i < entries.size() && i < 30; ++i) {
        page[2 + 12 * i] = entries[i].first;
        page[3 + 12 * i] = entries[i].second;
    }
    Seal(page);
    return page;
}

// ATA strings: two characters per little-endian word, the first in the high byte.
inline void PutAta(Bytes& page, std::size_t word, std::size_t words, const std::string& text) {
    std::string padded = text;
    padded.resize(2 * words, ' ');
    for (std::size_t i = 0; i < padded.size(); ++i) page[2 * word + (i ^ 1)] = padded[i];
}

inline Bytes IdentifyPage(const std::string& model, const std::string& serial,
                          const std::string& firmware) {
    Bytes page(512, 0);
    PutAta(page, 10, 10, serial);
    PutAta(page, 23, 4, firmware);
    PutAta(page, 27, 20, model);
    page[510] = 0xA5;
    Seal(page);
    return page;
}

struct NvmeLogFields {
    int criticalWarning = 0;
    int kelvin = 323;
    int spare = 100;
    int spareThreshold = 10;
    int used = 0;
    long long mediaErrors = 0;
};

inline void Put(Bytes& page, std::size_t at, unsigned long long value, int bytes) {
    for (int b = 0; b < bytes; ++b) page[at + b] = static_cast<std::uint8_t>(value >> (8 * b));
}

inline Bytes NvmeLog(const NvmeLogFields& f) {
    Bytes page(512, 0);
    Put(page, 0, f.criticalWarning, 1);
    Put(page, 1, f.kelvin, 2);
    Put(page, 3, f.spare, 1);
    Put(page, 4, f.spareThreshold, 1);
    Put(page, 5, f.used, 1);
    Put(page, 160, f.mediaErrors, 8);
    return page;
}

inline Bytes NvmeIdentify(const std::string& serial, const std::string& model,
                          const std::string& firmware) {
    Bytes page(4096, 0);
    auto put = [&page](std::size_t at, std::size_t size, std::string text) {
        text.resize(size, ' ');
        for (std::size_t i = 0; i < size; ++i) page[at + i] = text[i];
    };
    put(4, 20, serial);
    put(24, 40, model);
    put(64, 8, firmware);
    return page;
}

}  // namespace testing_health
}  // namespace Ovra
