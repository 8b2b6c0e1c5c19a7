#include "autobackup/configuracion.h"

#include "autobackup/soporte.h"
#include "core/cifrado.h"
#include "core/scripts.h"
#include "platform/paths.h"

#include <QFile>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace v7::autobackup {

namespace {

bool esNombreHost(const QString& texto) {
    if (texto.isEmpty()) {
        return false;
    }
    for (const QChar c : texto) {
        const bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'.' ||
                        c == u'-' || c == u'_' || c == u':';
        if (!ok) {
            return false;
        }
    }
    return true;
}

} // namespace

bool ConfiguracionRespaldo::incompleta() const {
    return usuario.isEmpty() || clave.isEmpty() || servidor.isEmpty() || puerto.isEmpty() || ruta.isEmpty();
}

QString rutaConfiguracionRespaldo() {
    return paths::programFolder() + QStringLiteral("config/v7.respaldo.dat");
}

bool formaCifrada(const QString& linea) {
    if (linea.isEmpty() || linea.size() % 2 != 0) {
        return false;
    }
    for (const QChar c : linea) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) {
            return false;
        }
    }
    return true;
}

QString servidorDeLinea(const QString& linea) {
    if (formaCifrada(linea)) {
        const QString plano = autobackup::DescifrarCadena(linea);
        if (esNombreHost(plano)) {
            return plano;
        }
    }
    return linea;
}

QString puertoDeLinea(const QString& linea) {
    return linea.size() > 5 && formaCifrada(linea) ? autobackup::DescifrarCadena(linea) : linea;
}

QString rutaDeLinea(const QString& linea) {
    if (linea.contains(QLatin1Char('/'))) {
        return linea;
    }
    return formaCifrada(linea) ? autobackup::DescifrarCadena(linea) : linea;
}

std::optional<int> puertoConfigurado(const QString& texto, Falla& falla) {
    bool ok = false;
    const double n = texto.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(n)) {
        falla = Falla{kErrorTipos, QStringLiteral("No coinciden los tipos: el puerto '") + texto +
                                       QStringLiteral("' del archivo de configuración no es un número")};
        return std::nullopt;
    }
    if (n < 0.5 || n >= 65535.5) {
        falla =
            Falla{err::kDesbordamiento, QStringLiteral("Desbordamiento: el puerto ") + texto.trimmed() +
                                            QStringLiteral(" del archivo de configuración no está entre 1 y 65535")};
        return std::nullopt;
    }
    return int(qRound(n));
}

namespace {

// The settings file is five short lines: anything much bigger is not one.
constexpr qint64 kTamanoMaximo = 64 * 1024;
constexpr int kLineaMaxima = 4096;

// Whether the raw bytes can be a settings file's lines: no control byte but CR, LF and TAB (UTF-16 text
// is full of NULs), no overlong line.
bool pareceConfiguracion(const QByteArray& contenido) {
    int largo = 0;
    for (const char c : contenido) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n') {
            largo = 0;
            continue;
        }
        if ((u < 0x20 && c != '\r' && c != '\t') || u == 0x7F || ++largo > kLineaMaxima) {
            return false;
        }
    }
    return true;
}

} // namespace

LecturaConfiguracion leerConfiguracionRespaldo(const QString& ruta) {
    LecturaConfiguracion r;
    const QByteArray nativa = QFile::encodeName(ruta);
    struct stat enlace {};
    if (::lstat(nativa.constData(), &enlace) != 0) {
        r.estado = EstadoLectura::NoExiste;
        const ErrorSistema e = errorSistema(ENOENT);
        r.falla = Falla{e.numero, e.descripcion};
        return r;
    }
    // O_NONBLOCK: a FIFO at that name must not hold the run (and the backup lock) forever.
    const int fd = ::open(nativa.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        const ErrorSistema e = errorSistema(err);
        if (err == ENOENT && S_ISLNK(enlace.st_mode)) {
            r.estado = EstadoLectura::NoExiste;
            r.falla = Falla{e.numero, e.descripcion + QStringLiteral(": ") + ruta + QStringLiteral(" es un enlace a ") +
                                          QFile::symLinkTarget(ruta) + QStringLiteral(", que no existe")};
        } else {
            r.estado = EstadoLectura::Error;
            r.falla = Falla{e.numero, e.descripcion + QStringLiteral(": ") + ruta};
        }
        return r;
    }
    QFile f;
    if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        r.estado = EstadoLectura::Error;
        const ErrorSistema e = errorSistema(EACCES);
        r.falla = Falla{e.numero, e.descripcion + QStringLiteral(": ") + ruta};
        return r;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        r.estado = EstadoLectura::Error;
        const ErrorSistema e = errorSistema(EISDIR);
        r.falla = Falla{e.numero, e.descripcion + QStringLiteral(": ") + ruta +
                                      (S_ISDIR(st.st_mode) ? QStringLiteral(" es una carpeta, no un archivo")
                                                           : QStringLiteral(" no es un archivo regular"))};
        return r;
    }
    const QByteArray contenido = f.read(kTamanoMaximo + 1);
    if (contenido.isEmpty()) {
        r.estado = EstadoLectura::Vacia;
        return r;
    }
    if (contenido.size() > kTamanoMaximo || !pareceConfiguracion(contenido)) {
        r.estado = EstadoLectura::Alterada;
        return r;
    }
    ConfiguracionRespaldo& c = r.campos;
    bool cifradas = true;
    for (QByteArray crudo : contenido.split('\n')) {
        if (crudo.endsWith('\r')) {
            crudo.chop(1);
        }
        const QString linea = textoUtf8OWindows1252(crudo);
        // A line goes to the first field still empty, so an empty line leaves the next one the same field.
        // The schedule window always scrambles user and password.
        if (c.usuario.isEmpty()) {
            cifradas = cifradas && (linea.isEmpty() || formaCifrada(linea));
            c.usuario = autobackup::DescifrarCadena(linea);
        } else if (c.clave.isEmpty()) {
            cifradas = cifradas && (linea.isEmpty() || formaCifrada(linea));
            c.clave = autobackup::DescifrarCadena(linea);
        } else if (c.servidor.isEmpty()) {
            c.servidor = servidorDeLinea(linea);
        } else if (c.puerto.isEmpty()) {
            c.puerto = puertoDeLinea(linea);
        } else if (c.ruta.isEmpty()) {
            c.ruta = rutaDeLinea(linea);
        }
    }
    if (!cifradas || c.usuario.isEmpty()) {
        r.campos = ConfiguracionRespaldo{};
        r.estado = EstadoLectura::Alterada;
        return r;
    }
    r.estado = EstadoLectura::Leida;
    return r;
}

} // namespace v7::autobackup
