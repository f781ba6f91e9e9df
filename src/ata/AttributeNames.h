#pragma once

namespace Ovra {
namespace health {

// The one table of ATA SMART attribute names; "Unknown attribute" for an id without one.
const wchar_t* AttributeName(int id);

}  // namespace health
}  // namespace Ovra
