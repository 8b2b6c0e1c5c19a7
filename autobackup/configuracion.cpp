#include "autobackup/configuracion.h"

#include "autobackup/soporte.h"
#include "core/cifrado.h"
#include "core/scripts.h"
#include "platform/paths.h"

#include <QFile>
#include <QStringDecoder>

#include <cerrno>
#include <cmath>

namespace v7::autobackup {

namespace {

QString decodificar(const QByteArray& linea) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString texto = utf8(linea);
    if (!utf8.hasError()) {
        return texto;
    }
    texto.clear();
    for (const char c : linea) {
        texto.append(caracterWindows1252(static_cast<unsigned char>(c)));
    }
    return texto;
}

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
        const QString plano = DescifrarCadena(linea);
        if (esNombreHost(plano)) {
            return plano;
        }
    }
    return linea;
}

QString puertoDeLinea(const QString& linea) {
    return linea.size() > 5 && formaCifrada(linea) ? DescifrarCadena(linea) : linea;
}

QString rutaDeLinea(const QString& linea) {
    if (linea.contains(QLatin1Char('/'))) {
        return linea;
    }
    return formaCifrada(linea) ? DescifrarCadena(linea) : linea;
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
        falla = Falla{6, QStringLiteral("Desbordamiento: el puerto ") + texto.trimmed() +
                             QStringLiteral(" del archivo de configuración no está entre 1 y 65535")};
        return std::nullopt;
    }
    return int(qRound(n));
}

LecturaConfiguracion leerConfiguracionRespaldo(const QString& ruta) {
    LecturaConfiguracion r;
    QFile f(ruta);
    if (!f.exists()) {
        r.estado = EstadoLectura::NoExiste;
        const ErrorSistema e = errorSistema(ENOENT);
        r.falla = Falla{e.numero, e.descripcion};
        return r;
    }
    if (!f.open(QIODevice::ReadOnly)) {
        r.estado = EstadoLectura::Error;
        const ErrorSistema e = errorSistema(EACCES);
        r.falla = Falla{e.numero, e.descripcion + QStringLiteral(": ") + ruta};
        return r;
    }
    const QByteArray contenido = f.readAll();
    if (contenido.isEmpty()) {
        r.estado = EstadoLectura::Vacia;
        return r;
    }
    ConfiguracionRespaldo& c = r.campos;
    for (QByteArray crudo : contenido.split('\n')) {
        if (crudo.endsWith('\r')) {
            crudo.chop(1);
        }
        const QString linea = decodificar(crudo);
        // A line goes to the first field still empty, so an empty line leaves the next one the same field.
        if (c.usuario.isEmpty()) {
            c.usuario = DescifrarCadena(linea);
        } else if (c.clave.isEmpty()) {
            c.clave = DescifrarCadena(linea);
        } else if (c.servidor.isEmpty()) {
            c.servidor = servidorDeLinea(linea);
        } else if (c.puerto.isEmpty()) {
            c.puerto = puertoDeLinea(linea);
        } else if (c.ruta.isEmpty()) {
            c.ruta = rutaDeLinea(linea);
        }
    }
    r.estado = EstadoLectura::Leida;
    return r;
}

} // namespace v7::autobackup
