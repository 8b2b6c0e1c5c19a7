// Single values of the key store by their full path, root key, key path and value name in one
// text ("HKEY_LOCAL_MACHINE\SOFTWARE\VELIRO7\Globals\PuertoPg"). Failures are shown through
// v7::avisar and never stop the caller.
#pragma once

#include <QString>

namespace v7 {

// The value's data as text; empty when the value or its key is absent (silently) or when the store
// cannot be read (after a message).
QString LeerRegistro(const QString& fullPath);

// Writes the value, creating its key as needed. A write refused for lack of rights shows the
// message that asks for an administrator; any other failure shows its error.
void EscribirRegistro(const QString& fullPath, const QString& data);

} // namespace v7
