#include <Ovra/ServiceShells.h>

namespace Ovra {

DiagService::DiagService() = default;
DiagService::DiagService(const DiagService& other) : Service(other) {}
DiagService& DiagService::operator=(const DiagService& other) {
    Service::operator=(other);
    return *this;
}
DiagService::~DiagService() = default;

RebootService::RebootService() = default;
RebootService::RebootService(const RebootService& other) : Service(other) {}
RebootService& RebootService::operator=(const RebootService& other) {
    Service::operator=(other);
    return *this;
}
RebootService::~RebootService() = default;

}  // namespace Ovra
