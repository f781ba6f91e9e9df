#include "src/timesync/ObserverSlot.h"

namespace Ovra {

void TimeSyncService::ObserverSlot::Notify(TimeSyncService* service, int code, long long& time,
                                           const std::wstring& server) {
    Call([&](TimeSyncServiceObserver* observer) {
        observer->OnTimeSync(service, code, time, server);
    });
}

}  // namespace Ovra
