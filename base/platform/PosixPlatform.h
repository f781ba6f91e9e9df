#pragma once

// The POSIX backend of the seam. It lives in an internal library (with the Linux answers under
// it) that Ovra-Bases links, to install it as the default platform, and so do the tests: a test
// that replaces a system call (linux/Syscalls.h) installs its own copy, which the call reaches.

#include "base/platform/Platform.h"

namespace Ovra {
namespace platform {
namespace posix {

// This module's backend: one per module that links the library.
Platform& PosixBackend();

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
