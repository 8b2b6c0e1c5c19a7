// The scripts compiled into the programs (files of this folder).
#pragma once

#include <QString>

namespace v7 {

// The text of the embedded script of that file name (UTF-8); empty with ok = false when there is none.
QString recurso(const QString& nombreArchivo, bool* ok = nullptr);

} // namespace v7
