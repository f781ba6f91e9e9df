#include <Ovra/PlatformCommon/Service.h>

namespace Ovra {

RawService::RawService() = default;
RawService::RawService(const RawService& other) : Thread(other) {}
RawService& RawService::operator=(const RawService& other) {
    Thread::operator=(other);
    return *this;
}
RawService::~RawService() = default;

Service::Service() : m_refCount(0) {}

Service::Service(const Service& other)
    : RawService(other), m_refCount(other.m_refCount.load()), m_cs(other.m_cs) {}

Service& Service::operator=(const Service& other) {
    Thread::operator=(other);
    m_refCount.store(other.m_refCount.load());
    m_cs = other.m_cs;
    return *this;
}

Service::~Service() = default;

unsigned long long Service::AddRef() {
    return ++m_refCount;
}

unsigned long long Service::Release() {
    return --m_refCount;
}

}  // namespace Ovra
