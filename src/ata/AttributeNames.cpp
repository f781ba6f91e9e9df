#include "src/ata/AttributeNames.h"

namespace Ovra {
namespace ata {

namespace {

struct NamedId {
    int id;
    const wchar_t* name;
};

// The names most drive makers use; a few ids mean different things to different makers, and
// the common meaning is given.
const NamedId kNames[] = {
    {1, L"Raw Read Error Rate"},
    {2, L"Throughput Performance"},
    {3, L"Spin-Up Time"},
    {4, L"Start/Stop Count"},
    {5, L"Reallocated Sectors Count"},
    {7, L"Seek Error Rate"},
    {8, L"Seek Time Performance"},
    {9, L"Power-On Hours"},
    {10, L"Spin Retry Count"},
    {11, L"Calibration Retry Count"},
    {12, L"Power Cycle Count"},
    {13, L"Soft Read Error Rate"},
    {22, L"Helium Level"},
    {170, L"Available Reserved Space"},
    {171, L"Program Fail Count"},
    {172, L"Erase Fail Count"},
    {173, L"Wear Leveling Count"},
    {174, L"Unexpected Power Loss Count"},
    {175, L"Power Loss Protection Failure"},
    {177, L"Wear Range Delta"},
    {179, L"Used Reserved Block Count"},
    {180, L"Unused Reserved Block Count"},
    {181, L"Program Fail Count Total"},
    {182, L"Erase Fail Count Total"},
    {183, L"SATA Downshift Error Count"},
    {184, L"End-to-End Error"},
    {187, L"Reported Uncorrectable Errors"},
    {188, L"Command Timeout"},
    {189, L"High Fly Writes"},
    {190, L"Airflow Temperature"},
    {191, L"G-Sense Error Rate"},
    {192, L"Power-Off Retract Count"},
    {193, L"Load/Unload Cycle Count"},
    {194, L"Temperature"},
    {195, L"Hardware ECC Recovered"},
    {196, L"Reallocation Event Count"},
    {197, L"Current Pending Sector Count"},
    {198, L"Offline Uncorrectable"},
    {199, L"UltraDMA CRC Error Count"},
    {200, L"Multi-Zone Error Rate"},
    {201, L"Soft Read Error Rate"},
    {202, L"Data Address Mark Errors"},
    {220, L"Disk Shift"},
    {221, L"G-Sense Error Rate"},
    {222, L"Loaded Hours"},
    {223, L"Load/Unload Retry Count"},
    {224, L"Load Friction"},
    {225, L"Load/Unload Cycle Count"},
    {226, L"Load-in Time"},
    {227, L"Torque Amplification Count"},
    {228, L"Power-Off Retract Count"},
    {230, L"GMR Head Amplitude"},
    {231, L"Life Left"},
    {232, L"Endurance Remaining"},
    {233, L"Media Wearout Indicator"},
    {234, L"Average Erase Count"},
    {235, L"Good Block Count"},
    {240, L"Head Flying Hours"},
    {241, L"Total LBAs Written"},
    {242, L"Total LBAs Read"},
    {250, L"Read Error Retry Rate"},
    {254, L"Free Fall Protection"},
};

}  // namespace

const wchar_t* AttributeName(int id) {
    for (const NamedId& entry : kNames)
        if (entry.id == id) return entry.name;
    return L"Unknown attribute";
}

}  // namespace ata
}  // namespace Ovra
