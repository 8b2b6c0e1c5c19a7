// The hourglass pointer of a window's long operation: set and cleared through one object, which
// also restores the pointer when it goes away, so no path leaves it on.
#pragma once

namespace v7 {

class CursorEspera {
public:
    CursorEspera() = default;
    CursorEspera(const CursorEspera&) = delete;
    CursorEspera& operator=(const CursorEspera&) = delete;
    ~CursorEspera() { poner(false); }

    void poner(bool on);
    bool puesto() const { return m_on; }

private:
    bool m_on = false;
};

} // namespace v7
