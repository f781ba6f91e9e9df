#include <Ovra/Bases/Event.h>

#include "base/platform/Platform.h"

namespace Ovra {

using platform::Sys;

Event::Event() : m_handle(nullptr) {}

Event::Event(const Event& other)
    : m_handle(other.m_handle ? Sys().DuplicateHandle(other.m_handle) : nullptr) {}

Event& Event::operator=(const Event& other) {
    if (this != &other && m_handle != other.m_handle) {
        Close();
        m_handle = other.m_handle ? Sys().DuplicateHandle(other.m_handle) : nullptr;
    }
    return *this;
}

Event::~Event() {
    Close();
}

int Event::Create(int manualReset, int initialState, const wchar_t* name) {
    if (name) return 0;
    Close();
    m_handle = Sys().CreateEventW(manualReset, initialState);
    return m_handle ? 1 : 0;
}

int Event::Set() {
    return m_handle ? Sys().SetEvent(m_handle) : 0;
}

int Event::Reset() {
    return m_handle ? Sys().ResetEvent(m_handle) : 0;
}

void Event::Close() {
    if (m_handle) {
        Sys().CloseHandle(m_handle);
        m_handle = nullptr;
    }
}

}  // namespace Ovra
