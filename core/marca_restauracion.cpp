#include "core/marca_restauracion.h"

#include "core/consultas.h"
#include "core/sqlutil.h"
#include "platform/archivo_seguro.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QUuid>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace v7 {

namespace {

const QString kArchivo = QStringLiteral("archivo=");
const QString kInicio = QStringLiteral("inicio=");
const QString kUsuario = QStringLiteral("usuario=");
const QString kProceso = QStringLiteral("proceso=");
const QString kEquipo = QStringLiteral("equipo=");
const QString kCarpeta = QStringLiteral("carpeta=");
const QString kId = QStringLiteral("id=");

// The server's mark: a setting of the database, which neither DROP SCHEMA nor pg_restore (without
// --create) touches, and which a backup never carries into an archive it may write.
const QString kAjuste = QStringLiteral("v7.restauracion_pendiente");

// One field a line, in both marks.
QString texto(const MarcaRestauracion& marca) {
    QString t;
    t += kArchivo + marca.archivo + QLatin1Char('\n');
    t += kInicio + marca.inicio.toString(Qt::ISODate) + QLatin1Char('\n');
    t += kUsuario + marca.usuario + QLatin1Char('\n');
    t += kProceso + QString::number(marca.proceso) + QLatin1Char('\n');
    t += kEquipo + marca.equipo + QLatin1Char('\n');
    t += kCarpeta + marca.carpeta + QLatin1Char('\n');
    t += kId + marca.id + QLatin1Char('\n');
    return t;
}

MarcaRestauracion leer(const QString& texto) {
    MarcaRestauracion m;
    for (const QString& linea : texto.split(QLatin1Char('\n'))) {
        if (linea.startsWith(kArchivo)) {
            m.archivo = linea.mid(kArchivo.size());
        } else if (linea.startsWith(kInicio)) {
            m.inicio = QDateTime::fromString(linea.mid(kInicio.size()), Qt::ISODate);
        } else if (linea.startsWith(kUsuario)) {
            m.usuario = linea.mid(kUsuario.size());
        } else if (linea.startsWith(kProceso)) {
            m.proceso = linea.mid(kProceso.size()).toLongLong();
        } else if (linea.startsWith(kEquipo)) {
            m.equipo = linea.mid(kEquipo.size());
        } else if (linea.startsWith(kCarpeta)) {
            m.carpeta = linea.mid(kCarpeta.size());
        } else if (linea.startsWith(kId)) {
            m.id = linea.mid(kId.size());
        }
    }
    return m;
}

// 42501: the login is not a superuser (only one may give a database such a setting).
bool sinDerecho(const db::DbError& e) {
    return e.sqlState == QLatin1String("42501");
}

QString sinMarcaServidor(const db::DbError& e) {
    return QStringLiteral("No se pudo registrar el inicio de la restauración en el servidor") +
           (sinDerecho(e)
                ? QStringLiteral(" (solo un usuario con permisos de Superusuario puede restaurar la base de datos)")
                : QString()) +
           QStringLiteral(": ") + e.description;
}

} // namespace

MarcaRestauracion nuevaMarcaRestauracion(const QString& archivo, const QString& usuario) {
    MarcaRestauracion m;
    m.archivo = archivo;
    m.inicio = QDateTime::currentDateTime();
    m.usuario = usuario;
    m.proceso = ::getpid();
    m.equipo = paths::hostName();
    m.carpeta = paths::programFolder();
    m.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    return m;
}

QString rutaMarcaRestauracion() {
    return paths::programFolder() + QStringLiteral("config/v7.restauracion.pendiente");
}

QString marcarRestauracion(const MarcaRestauracion& marca) {
    const QString carpeta = paths::programFolder() + QStringLiteral("config");
    if (!QDir().mkpath(carpeta)) {
        return QStringLiteral("No se pudo crear la carpeta ") + carpeta + QLatin1Char('.');
    }
    archivo::OpcionesEscritura o;
    o.modo = 0600;
    o.conservarDuenoYModo = false;
    return archivo::escribirAtomico(rutaMarcaRestauracion(), texto(marca).toUtf8(), o);
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
    const archivo::Lectura l = archivo::leerRegular(ruta, 64 * 1024);
    if (!l.ok()) {
        return MarcaRestauracion{};
    }
    return leer(QString::fromUtf8(l.datos));
}

QString marcarRestauracionServidor(db::Connection& conexion, const MarcaRestauracion& marca, db::DbError* error) {
    db::DbError e;
    qint64 n = 0;
    if (!conexion.execute(QStringLiteral("ALTER DATABASE veliro7 SET ") + kAjuste + QStringLiteral(" = ") +
                              citarLiteral(texto(marca)),
                          n, e)) {
        if (error != nullptr) {
            *error = e;
        }
        return sinMarcaServidor(e);
    }
    return QString();
}

QString probarMarcaRestauracionServidor() {
    db::Transaccion tx = sql::transaccion();
    db::DbError e;
    if (!tx.begin(e)) {
        return QString();
    }
    const QString motivo = marcarRestauracionServidor(tx.connection(), MarcaRestauracion{}, &e);
    tx.rollback();
    return sinDerecho(e) ? motivo : QString();
}

QString borrarMarcaRestauracionServidor(db::Connection& conexion, db::DbError* error) {
    db::DbError e;
    qint64 n = 0;
    if (!conexion.execute(QStringLiteral("ALTER DATABASE veliro7 RESET ") + kAjuste, n, e)) {
        if (error != nullptr) {
            *error = e;
        }
        return QStringLiteral("No se pudo quitar la marca de la restauración en el servidor: ") + e.description;
    }
    return QString();
}

LecturaMarcaServidor leerMarcaRestauracionServidor(db::Connection& conexion) {
    LecturaMarcaServidor r;
    db::DbError e;
    // Settings of a database live in pg_db_role_setting from 9.0 on; an older server cannot hold this one.
    auto version = conexion.query(QStringLiteral("SELECT current_setting('server_version_num')"), e);
    if (!version || version->eof()) {
        r.error = e.description;
        return r;
    }
    if (version->text(0).toInt() < 90000) {
        r.ok = true;
        return r;
    }
    const QString prefijo = kAjuste + QLatin1Char('=');
    auto rs = conexion.query(QStringLiteral("SELECT substr(c, ") + QString::number(prefijo.size() + 1) +
                                 QStringLiteral(") FROM pg_db_role_setting s JOIN pg_database d ON d.oid = "
                                                "s.setdatabase, unnest(s.setconfig) c WHERE d.datname = 'veliro7' "
                                                "AND s.setrole = 0 AND position(") +
                                 citarLiteral(prefijo) + QStringLiteral(" in c) = 1"),
                             e);
    if (!rs) {
        r.error = e.description;
        return r;
    }
    r.ok = true;
    if (!rs->eof()) {
        r.marca = leer(rs->text(0));
    }
    return r;
}

EstadoRestauracion restauracionPendiente(db::Connection& conexion) {
    EstadoRestauracion r;
    const std::optional<MarcaRestauracion> archivo = leerMarcaRestauracion();
    const LecturaMarcaServidor servidor = leerMarcaRestauracionServidor(conexion);
    if (!servidor.ok) {
        r.errorServidor = servidor.error;
        r.pendiente = archivo;
    } else if (servidor.marca) {
        r.pendiente = servidor.marca;
    } else if (archivo && archivo->id.isEmpty()) {
        r.pendiente = archivo;
    }
    return r;
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
    const bool otroEquipo = !marca.equipo.isEmpty() && marca.equipo != paths::hostName();
    const bool otraCarpeta = !marca.carpeta.isEmpty() && marca.carpeta != paths::programFolder();
    if (otroEquipo || otraCarpeta) {
        t += QStringLiteral(" Se ejecutó ") +
             (otroEquipo ? QStringLiteral("en el equipo ") + marca.equipo + QStringLiteral(", ") : QString()) +
             QStringLiteral("desde la carpeta ") + marca.carpeta + QLatin1Char('.');
    }
    return t;
}

} // namespace v7
