#include "platform/carpeta_privada.h"

#include "platform/process.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace v7::archivo {

CarpetaPrivada::CarpetaPrivada(const Carpeta& dentro, const QString& prefijo)
    : m_dentro(dentro), m_carpeta(dentro.crearCarpetaTemporal(prefijo)) {
    if (m_carpeta.ok()) {
        m_nombre = QFileInfo(m_carpeta.ruta()).fileName();
        m_limpieza = std::make_unique<process::Limpieza>([this] { descartar(); });
    }
}

CarpetaPrivada::~CarpetaPrivada() {
    if (m_carpeta.ok()) {
        descartar();
    }
    m_limpieza.reset();
}

void CarpetaPrivada::descartar() const {
    // Through the folder's own descriptor: nobody else can write in it.
    for (const QString& n : m_carpeta.nombres()) {
        m_carpeta.borrar(n);
    }
    // By then its name may hold a link or someone else's folder, moved there after this one was moved away:
    // only this very folder, emptied, goes (rmdir takes no link and no folder that holds anything).
    struct stat aqui {};
    struct stat alli {};
    if (::fstat(m_carpeta.fd(), &aqui) == 0 && m_dentro.estado(m_nombre, &alli) && S_ISDIR(alli.st_mode) &&
        alli.st_dev == aqui.st_dev && alli.st_ino == aqui.st_ino) {
        ::unlinkat(m_dentro.fd(), QFile::encodeName(m_nombre).constData(), AT_REMOVEDIR);
    }
}

} // namespace v7::archivo
