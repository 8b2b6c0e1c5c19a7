#include "core/marca_restauracion.h"

#include "platform/archivo_seguro.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace v7 {

namespace {

const QString kArchivo = QStringLiteral("archivo=");
const QString kInicio = QStringLiteral("inicio=");
const QString kUsuario = QStringLiteral("usuario=");
const QString kProceso = QStringLiteral("proceso=");

} // namespace

QString rutaMarcaRestauracion() {
    return paths::programFolder() + QStringLiteral("config/v7.restauracion.pendiente");
}

QString marcarRestauracion(const MarcaRestauracion& marca) {
    const QString carpeta = paths::programFolder() + QStringLiteral("config");
    if (!QDir().mkpath(carpeta)) {
        return QStringLiteral("No se pudo crear la carpeta ") + carpeta + QLatin1Char('.');
    }
    QString texto;
    texto += kArchivo + marca.archivo + QLatin1Char('\n');
    texto += kInicio + marca.inicio.toString(Qt::ISODate) + QLatin1Char('\n');
    texto += kUsuario + marca.usuario + QLatin1Char('\n');
    texto += kProceso + QString::number(marca.proceso) + QLatin1Char('\n');
    archivo::OpcionesEscritura o;
    o.modo = 0600;
    o.conservarDuenoYModo = false;
    return archivo::escribirAtomico(rutaMarcaRestauracion(), texto.toUtf8(), o);
}

QString borrarMarcaRestauracion() {
    const QString ruta = rutaMarcaRestauracion();
    if (::unlink(QFile::encodeName(ruta).constData()) != 0 && errno != ENOENT) {
        return archivo::motivoDeError(ruta, errno);
    }
    return QString();
}

std::optional<MarcaRestauracion> leerMarcaRestauracion() {
    const QString ruta = rutaMarcaRestauracion();
    struct stat st {};
    if (::lstat(QFile::encodeName(ruta).constData(), &st) != 0) {
        return std::nullopt;
    }
    MarcaRestauracion m;
    const archivo::Lectura l = archivo::leerRegular(ruta, 64 * 1024);
    if (!l.ok()) {
        return m;
    }
    for (const QString& linea : QString::fromUtf8(l.datos).split(QLatin1Char('\n'))) {
        if (linea.startsWith(kArchivo)) {
            m.archivo = linea.mid(kArchivo.size());
        } else if (linea.startsWith(kInicio)) {
            m.inicio = QDateTime::fromString(linea.mid(kInicio.size()), Qt::ISODate);
        } else if (linea.startsWith(kUsuario)) {
            m.usuario = linea.mid(kUsuario.size());
        } else if (linea.startsWith(kProceso)) {
            m.proceso = linea.mid(kProceso.size()).toLongLong();
        }
    }
    return m;
}

QString textoRestauracionPendiente(const MarcaRestauracion& marca) {
    QString t = QStringLiteral("La última restauración de la base de datos no terminó");
    if (marca.inicio.isValid()) {
        t += QStringLiteral(" (comenzó el ") + marca.inicio.toString(QStringLiteral("dd/MM/yyyy 'a las' HH:mm")) +
             QLatin1Char(')');
    }
    t += QStringLiteral(": la base de datos puede estar incompleta.");
    if (!marca.archivo.isEmpty()) {
        t += QStringLiteral(" Archivo de respaldo: ") + marca.archivo + QLatin1Char('.');
    }
    return t;
}

} // namespace v7
