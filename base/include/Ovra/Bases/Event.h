#pragma once

#include <Ovra/Bases/Export.h>

namespace Ovra {

// A waitable event. Copies refer to the same event (a duplicated handle).
class OVRA_BASES_API Event {
public:
    Event();
    Event(const Event& other);
    Event& operator=(const Event& other);
    ~Event();

    // Creates the event (manual reset when `manualReset` is nonzero, signalled when
    // `initialState` is nonzero). Only unnamed events are supported: a name is refused with 0.
    // Closes an event held before. Nonzero on success.
    int Create(int manualReset, int initialState, const wchar_t* name);
    int Set();
    int Reset();
    void Close();
    // The waitable handle; null when not created.
    void* GetHandle() const { return m_handle; }

private:
    void* m_handle;
};

}  // namespace Ovra
