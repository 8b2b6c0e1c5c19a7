// A private folder made inside a folder that others may write, and removed with what it holds.
#pragma once

#include "platform/archivo_seguro.h"

#include <QString>

#include <memory>

namespace v7::process {
class Limpieza;
}

namespace v7::archivo {

// A private folder (0700, named prefijo and six random letters and digits: nobody can plant its name in
// advance) made inside dentro, a folder that others may write. What it holds goes when the object goes, and
// also when a signal ends the program meanwhile; the folder itself is removed only while it is still the one
// made here, so a folder swapped in at its name keeps what it holds. dentro must outlive it.
class CarpetaPrivada {
public:
    CarpetaPrivada(const Carpeta& dentro, const QString& prefijo);
    ~CarpetaPrivada();
    CarpetaPrivada(const CarpetaPrivada&) = delete;
    CarpetaPrivada& operator=(const CarpetaPrivada&) = delete;

    bool ok() const { return m_carpeta.ok(); }
    const Carpeta& carpeta() const { return m_carpeta; }

private:
    void descartar() const;

    const Carpeta& m_dentro;
    Carpeta m_carpeta;
    QString m_nombre;
    std::unique_ptr<process::Limpieza> m_limpieza;
};

} // namespace v7::archivo
