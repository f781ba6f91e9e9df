#pragma once

// Simulated disks and volume devices for the storage inventories. Their answers are laid out at
// the byte offsets Windows uses, written here independently of the library's own records.

#include "tests/fakes/FakePlatform.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Ovra {
namespace fakes {

// A disk behind \\.\PHYSICALDRIVEn: answers the storage-property (device descriptor) and geometry
// queries. By default a fixed disk with no strings and a 1000 x 255 x 63 x 512 geometry.
class FakeDisk : public FakeDevice {
public:
    enum StringField { kVendor = 12, kProduct = 16, kSerial = 24 };  // offset fields
    static const std::size_t kDescriptorSize = 551;

    FakeDisk();

    // Places the strings after the descriptor header, NUL-terminated; an empty one gets offset 0.
    FakeDisk& SetIdentity(const std::string& vendor, const std::string& product,
                          const std::string& serial);
    // Writes `bytes` at `offset` (truncated at the descriptor's end, no terminator added) and
    // points `field` at it.
    FakeDisk& PlaceRaw(StringField field, std::uint32_t offset, const std::string& bytes);
    FakeDisk& SetOffset(StringField field, std::uint32_t offset);
    FakeDisk& SetRemovable(bool removable);
    FakeDisk& SetGeometry(long long cylinders, std::uint32_t tracksPerCylinder,
                          std::uint32_t sectorsPerTrack, std::uint32_t bytesPerSector);

    bool refuseDescriptor = false;
    bool refuseGeometry = false;

    int Control(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                std::uint32_t outSize, std::uint32_t* bytesReturned, std::uint32_t* error) override;

private:
    std::vector<std::uint8_t> m_descriptor;
    std::uint8_t m_geometry[24] = {};
};

// A volume device behind \\.\C: answering the disk-extents query with one extent per listed disk.
class FakeVolumeDevice : public FakeDevice {
public:
    explicit FakeVolumeDevice(std::vector<std::uint32_t> disks) : m_disks(std::move(disks)) {}
    int Control(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                std::uint32_t outSize, std::uint32_t* bytesReturned, std::uint32_t* error) override;

private:
    std::vector<std::uint32_t> m_disks;
};

std::shared_ptr<FakeDisk> AddDisk(FakePlatform& fake, std::size_t number);
std::shared_ptr<FakeVolumeDevice> AddVolumeDevice(FakePlatform& fake, wchar_t letter,
                                                  std::vector<std::uint32_t> disks);

// A mounted volume with the facts the inventory keeps.
FakeVolume MakeVolume(const std::wstring& label, const std::wstring& fileSystem,
                      std::uint32_t serial, std::uint64_t totalBytes,
                      std::uint64_t freeBytesAvailable, std::uint32_t driveType = 3);

}  // namespace fakes
}  // namespace Ovra
