#pragma once

// State that copies of an exported object share. The exported headers can only name such a record
// by a raw pointer member, so the count lives in the record itself: `new T` hands its creator the
// first reference, and the last Release deletes the record. The count is atomic because copies,
// and the workers serving them, live on different threads.

#include <atomic>

namespace Ovra {

template <class T>
class SharedRecord {
public:
    using Record = T;

    SharedRecord(const SharedRecord&) = delete;
    SharedRecord& operator=(const SharedRecord&) = delete;

    void AddRef() { m_references.fetch_add(1, std::memory_order_relaxed); }
    void Release() {
        // acq_rel: every holder's use of the record happens before its deletion.
        if (m_references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete static_cast<T*>(this);
    }

protected:
    SharedRecord() = default;
    ~SharedRecord() = default;

private:
    std::atomic<long> m_references{1};
};

// Points a raw pointer member at `record` (null allowed), for copying, assigning and dropping. The
// new reference is taken before the old one goes, so assigning a record to its own holder is safe.
template <class T>
void Reassign(T*& holder, typename T::Record* record) {
    if (record) record->AddRef();
    T* previous = holder;
    holder = record;
    if (previous) previous->Release();
}

// One reference for as long as a scope runs, such as a worker's.
template <class T>
class SharedRef {
public:
    explicit SharedRef(T* record) : m_record(record) { m_record->AddRef(); }
    ~SharedRef() { m_record->Release(); }
    SharedRef(const SharedRef&) = delete;
    SharedRef& operator=(const SharedRef&) = delete;

    T* operator->() const { return m_record; }

private:
    T* m_record;
};

}  // namespace Ovra
