#pragma once

#include <string>

namespace ovractl {

// The usual name of a SMART attribute id, as drive tools show it.
inline std::string SmartAttributeName(unsigned char id) {
    switch (id) {
        case 1:
            return "Raw Read Error Rate";
        case 2:
            return "Throughput Performance";
        case 3:
            return "Spin-Up Time";
        case 4:
            return "Start/Stop Count";
        case 5:
            return "Reallocated Sectors Count";
        case 7:
            return "Seek Error Rate";
        case 9:
            return "Power-On Hours";
        case 10:
            return "Spin Retry Count";
        case 11:
            return "Calibration Retry Count";
        case 12:
            return "Power Cycle Count";
        case 13:
            return "Soft Read Error Rate";
        case 193:
            return "Load/Unload Cycle Count";
        case 194:
            return "Temperature";
        case 195:
            return "Hardware ECC Recovered";
        case 196:
            return "Reallocation Event Count";
        case 197:
            return "Current Pending Sector Count";
        case 198:
            return "Offline Uncorrectable";
        case 199:
            return "UltraDMA CRC Error Count";
        case 200:
            return "Multi-Zone Error Rate";
        case 202:
            return "Data Address Mark Errors";
        case 221:
            return "G-Sense Error Rate";
        case 228:
            return "Power-Off Retract Count";
        default:
            return "Attribute " + std::to_string(id);
    }
}

}  // namespace ovractl
