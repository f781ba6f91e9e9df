#pragma once

namespace Ovra {
namespace ata {

// The one table of ATA SMART attribute names; "Unknown attribute" for an id without one.
const wchar_t* AttributeName(int id);

}  // namespace ata
}  // namespace Ovra
