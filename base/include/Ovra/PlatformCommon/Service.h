#pragma once

#include <Ovra/Bases/Cs.h>
#include <Ovra/Bases/Export.h>
#include <Ovra/Bases/Thread.h>

#include <atomic>

namespace Ovra {

#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4251)  // standard-library members of exported classes
#endif

// The thread-owning root of the services.
class OVRA_PLATFORM_COMMON_API RawService : public Thread {
public:
    RawService();
    RawService(const RawService& other);
    RawService& operator=(const RawService& other);
    ~RawService() override;
};

// A service with a life cycle (Create/Start/Stop/Destroy), a reference count and one lock that
// derived classes use as their own.
class OVRA_PLATFORM_COMMON_API Service : public RawService {
public:
    Service(const Service& other);
    ~Service() override;

    virtual int Create() = 0;
    virtual void Destroy() = 0;
    virtual int Start() = 0;
    virtual void Stop() = 0;
    // The new reference count. Release never destroys the object: the host owns it.
    virtual unsigned long long AddRef();
    virtual unsigned long long Release();

protected:
    Service();
    // Assigns the Thread part, then the reference count and the lock (a fresh lock: see Cs).
    Service& operator=(const Service& other);

    std::atomic<unsigned long long> m_refCount;
    Cs m_cs;
};

#if defined(_MSC_VER)
#pragma warning(pop)
#endif

}  // namespace Ovra
