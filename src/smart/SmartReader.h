#pragma once

#include <Ovra/HddSmartInfo.h>

#include <cstddef>
#include <map>

namespace Ovra {
namespace smart {

// Reads the monitored attributes of physical disk `disk` from the device: 0, 121, 127 or 105, as
// HddSmartInfo::GetNowSmartAttr documents.
int ReadSmartAttributes(std::size_t disk, std::map<unsigned char, HddSmartAttr>& attrs);

}  // namespace smart
}  // namespace Ovra
