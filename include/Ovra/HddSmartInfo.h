#pragma once

#include <Ovra/Bases/Thread.h>
#include <Ovra/Export.h>

#include <cstddef>
#include <map>

namespace Ovra {

#pragma pack(push, 1)
// One SMART attribute of one disk. The layout is part of the interface: hosts receive these
// records inside maps, so the fields are byte-packed.
struct HddSmartAttr {
    unsigned char id;        // equal to the key the record is stored under
    unsigned int reserved;   // always 0
    unsigned char value;     // current (normalised) value
    unsigned char worst;     // worst value the drive has recorded
    unsigned int threshold;  // from the threshold page, 0 to 255
    unsigned short flags;    // status-flags word
};
#pragma pack(pop)
static_assert(sizeof(HddSmartAttr) == 13, "HddSmartAttr is a packed 13-byte record");

class HddSmartInfo;

// Implemented by the host and registered with HddSmartInfo::SetObserver. Called on the monitoring
// thread after every cycle, with no lock held: it may read the snapshot with GetSmartAttr. It must
// not destroy the monitor that calls it.
class HddSmartInfoObserver {
public:
    virtual void OnSmartAttrUpdate(HddSmartInfo* info) = 0;

protected:
    virtual ~HddSmartInfoObserver() = default;
};

struct HddSmartInfoData;

// Disk-health monitor. Reads SMART attributes straight from physical disks on demand, and, once
// switched on with EnableCheck, runs a worker that after every wait of the check time reads the
// disks that are due, stores them as the snapshot and notifies the observer.
//
// Copies share one state record (observer, disk lists, snapshot, check time, lock). Beyond what the
// operations below promise:
//  - Attribute ids that the drive's pages do not fill are reported with value, worst, flags and
//    threshold 0.
//  - The record is reference-counted: it lives as long as the last monitor that refers to it and
//    as long as a worker that serves it. Destroying a monitor stops its worker first and waits for
//    it. Assigning to a monitor whose check is on stops its worker, switches to the source's record
//    and starts the worker again on it (from inside its own observer, the assignment only stops
//    it).
//  - Disks to watch are named with AddCheckDisk (one cycle) or SetCheckAllDisks (every cycle).
class OVRA_PLATFORM_MISC_API HddSmartInfo : private Thread {
public:
    HddSmartInfo();
    HddSmartInfo(const HddSmartInfo& other);
    HddSmartInfo& operator=(const HddSmartInfo& other);
    virtual ~HddSmartInfo();

    // Null removes the observer; a cycle under way calls the observer it had already read.
    void SetObserver(HddSmartInfoObserver* observer);
    // Wait before each cycle, in ms; the value is widened with its sign, so -1 waits without limit
    // and 0 runs cycles back to back. Takes effect at the next wait.
    void SetCheckTime(short checkTime);
    // Nonzero starts the worker (once); 0 asks it to stop without waiting. Always 0.
    int EnableCheck(int enable);

    // Queues `disk` to be read by the next cycle.
    void AddCheckDisk(size_t disk);
    // Nonzero makes every cycle read the disks 0 to 31 (queued disks are then dropped).
    void SetCheckAllDisks(int enable);

    // Reads one disk now. 0 success; 121 no such device; 127 SMART unavailable; 105 the threshold
    // page could not be read. `attrs` keeps its other keys on success and is untouched on failure.
    int GetNowSmartAttr(size_t disk, std::map<unsigned char, HddSmartAttr>& attrs) const;
    // Reads the disks 0 to 31 now into `all` (entries of unreadable disks stay as they were). 1
    // when at least one disk was read, else 0.
    int GetNowSmartAttr(std::map<size_t, std::map<unsigned char, HddSmartAttr>>& all) const;

    // Copies one disk's stored readings: 0 found, 1 not found (`attrs` untouched).
    int GetSmartAttr(size_t disk, std::map<unsigned char, HddSmartAttr>& attrs) const;
    // Copies the whole snapshot: 1 when it holds a disk, else 0.
    int GetSmartAttr(std::map<size_t, std::map<unsigned char, HddSmartAttr>>& all) const;

protected:
    unsigned int OnThreadEntry() override;

private:
    HddSmartInfoData* m_data;
};

}  // namespace Ovra
