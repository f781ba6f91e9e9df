#pragma once

namespace Ovra {

// A timeout that never runs out (Windows' INFINITE), for every wait that takes milliseconds.
const unsigned int kInfinite = 0xFFFFFFFF;

}  // namespace Ovra
