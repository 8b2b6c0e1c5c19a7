#include "platform/espera_ui.h"

#include <QApplication>

namespace v7 {

void CursorEspera::poner(bool on) {
    if (on == m_on) {
        return;
    }
    m_on = on;
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

} // namespace v7
