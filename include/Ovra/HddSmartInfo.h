#pragma once

#include <Ovra/Export.h>

namespace Ovra {}  // namespace Ovra
