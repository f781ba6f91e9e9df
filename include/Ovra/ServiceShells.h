#pragma once

#include <Ovra/Export.h>
#include <Ovra/PlatformCommon/Service.h>

namespace Ovra {

// Base of the server's diagnostic service. Abstract: Create, Destroy, Start and Stop are left to
// the derived service, which lives outside this library.
class OVRA_PLATFORM_MISC_API DiagService : public Service {
public:
    DiagService();
    DiagService(const DiagService& other);
    DiagService& operator=(const DiagService& other);
    ~DiagService() override;
};

// Base of the server's reboot service; abstract like DiagService.
class OVRA_PLATFORM_MISC_API RebootService : public Service {
public:
    RebootService();
    RebootService(const RebootService& other);
    RebootService& operator=(const RebootService& other);
    ~RebootService() override;
};

}  // namespace Ovra
