// Ovra-Bases' side of the POSIX backend: the backend itself lives in the internal library
// (PosixPlatform.h), so that nothing of it is exported.
#include "base/platform/PosixPlatform.h"

namespace Ovra {
namespace platform {

const BackendTraits& Traits() {
    static const BackendTraits traits = {L"/", L".so", true};
    return traits;
}

Platform& DefaultPlatform() {
    return posix::PosixBackend();
}

}  // namespace platform
}  // namespace Ovra
