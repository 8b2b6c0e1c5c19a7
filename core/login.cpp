#include "core/login.h"

#include "core/errores.h"
#include "core/scripts.h"
#include "core/session.h"
#include "platform/archivo_seguro.h"
#include "platform/events.h"
#include "platform/paths.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdlib>

namespace v7 {

using err::kCrLf;

namespace {

// Whether a value can stand bare after "NAME=" in a connection string.
bool valorSimple(const QString& v) {
    return !v.isEmpty() && !v.contains(QLatin1Char(';')) && !v.contains(QLatin1Char('{')) &&
           !v.contains(QLatin1Char('}')) && v.trimmed() == v;
}

// A libpq option value: in single quotes with quotes and backslashes escaped.
QString valorLibpq(const QString& v) {
    QString q = v;
    q.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    q.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

// What the login could not do at the step that failed, as the first sentence of a server's error.
QString queNoSeHizo(int linea) {
    switch (linea) {
    case 6:
        return QStringLiteral("No se pudo establecer la conexión con el servidor de base de datos.");
    case 7:
    case 8:
        return QStringLiteral("No se pudieron consultar los catálogos de la base de VELIRO7.");
    case 16:
        return QStringLiteral("No se pudo consultar la configuración de los respaldos automáticos.");
    default:
        return QStringLiteral("No se pudo iniciar la sesión.");
    }
}

// A server's error as the user reads it: the Spanish sentence first (from the server's words, else from
// its SQLSTATE), then the server's own words. A connection-class state says nothing more than the first
// sentence of a connection that could not be opened.
QString textoErrorServidor(const QString& que, const db::DbError& e, bool conectando) {
    const bool claseConexion = e.sqlState.startsWith(QLatin1String("08"));
    if (err::fraseDeErrorSql(e.description).isEmpty() && !(conectando && claseConexion)) {
        const QString frase = err::fraseDeSqlState(e.sqlState);
        if (!frase.isEmpty()) {
            return err::textoParaUsuario(que + kCrLf + frase, e.description);
        }
    }
    return err::textoParaUsuario(que, e.description);
}

SalidaPrograma& salida() {
    static SalidaPrograma s;
    return s;
}

} // namespace

QString cadenaConexionOdbc(const QString& driver, const QString& servidor, int puerto, const QString& usuario,
                           const QString& pwd) {
    // psqlODBC strips braces only from PWD: a user or server that cannot stand bare is handed to libpq
    // through pqopt (and then left out of SERVER=/UID=, which the driver refuses to combine with it).
    QStringList opciones;
    QString s = QStringLiteral("DRIVER={") + driver + QLatin1Char('}');
    if (valorSimple(servidor)) {
        s += QStringLiteral(";SERVER=") + servidor;
    } else {
        opciones << QStringLiteral("host=") + valorLibpq(servidor);
    }
    s += QStringLiteral(";PORT=") + QString::number(puerto) + QStringLiteral(";DATABASE=veliro7");
    if (valorSimple(usuario)) {
        s += QStringLiteral(";UID=") + usuario;
    } else {
        opciones << QStringLiteral("user=") + valorLibpq(usuario);
    }
    if (!opciones.isEmpty()) {
        s += QStringLiteral(";pqopt=") + db::braceValue(opciones.join(QLatin1Char(' ')));
    }
    return s + QStringLiteral(";PWD=") + pwd;
}

QString cadenaConexionPrincipal(const QString& servidor, int puerto, const QString& usuario, const QString& clave) {
    return cadenaConexionOdbc(kDriverPrincipal, servidor, puerto, usuario, db::braceValue(clave));
}

QString cadenaConexionAlterna(const QString& servidor, int puerto, const QString& usuario, const QString& clave) {
    return cadenaConexionOdbc(kDriverAlterno, servidor, puerto, usuario,
                              valorSimple(clave) ? clave : db::braceValue(clave));
}

bool abrirSinCongelar(db::Connection& conexion, db::DbError& error) {
    bool ok = false;
    db::DbError e;
    events::esperarEnHilo([&] { ok = conexion.open(e); });
    if (!ok) {
        error = e;
    }
    return ok;
}

std::optional<int> puertoDesdeTexto(const QString& text) {
    bool ok = false;
    const qlonglong n = text.trimmed().toLongLong(&ok);
    if (!ok || n < 1 || n > 65535) {
        return std::nullopt;
    }
    return int(n);
}

FalloLogin clasificarFalloLogin(const db::DbError& error, int& contadorDriver) {
    const QString& d = error.description;
    if (d.contains(QStringLiteral("database \"veliro7\" does not exist")) ||
        d.contains(QStringLiteral("no existe la base de datos «veliro7»"))) {
        return FalloLogin::CrearBase;
    }
    // The driver of this system says "Connection refused" / "could not connect" where older
    // drivers said "Could not connect to the server".
    if (d.contains(QStringLiteral("Could not connect to the server")) ||
        d.contains(QStringLiteral("Connection refused")) || d.contains(QStringLiteral("could not connect to server")) ||
        d.contains(QStringLiteral("No route to host")) || d.contains(QStringLiteral("timeout expired"))) {
        return FalloLogin::PuertoBloqueado;
    }
    if (d.contains(QStringLiteral("password authentication failed for user")) ||
        d.contains(QStringLiteral("la autentifi"))) {
        return FalloLogin::ClaveIncorrecta;
    }
    if (d.contains(QStringLiteral("Error catastrófico")) ||
        d.toLower().contains(QStringLiteral("connection reset by peer"))) {
        return FalloLogin::ErrorCatastrofico;
    }
    if (d.contains(QStringLiteral("pg_hba.conf"))) {
        return FalloLogin::PgHba;
    }
    if (d.contains(QStringLiteral("ODBC"))) {
        ++contadorDriver;
        return contadorDriver < 2 ? FalloLogin::ReintentarDriver : FalloLogin::SinDriver;
    }
    if (d.isEmpty()) {
        return FalloLogin::SinDescripcion;
    }
    return FalloLogin::Otro;
}

QString textoFalloLogin(FalloLogin kind, const db::DbError& error, const QString& puertoTecleado, int linea) {
    const QChar q(QLatin1Char('"'));
    switch (kind) {
    case FalloLogin::PuertoBloqueado:
        return QStringLiteral("Por favor, verifique que el puerto de conexión ") + puertoTecleado +
               QStringLiteral(" no este bloqueado") + kCrLf +
               QStringLiteral("por algún firewall o antivirus. Así como también que el servidor de base") + kCrLf +
               QStringLiteral("de datos este activo.");
    case FalloLogin::ClaveIncorrecta:
        return QStringLiteral("El nombre de usuario o el password que proporcionó es incorrecto, ambos son sensibles a "
                              "mayúsculas y minúsculas, tenga presente lo anterior e inténtelo nuevamente.") +
               kCrLf + QStringLiteral("Adicionalmente verifique que la dirección Ip del servidor este correcta");
    case FalloLogin::ErrorCatastrofico:
        return QStringLiteral("No se puede establecer la conexión con el servidor. Verifique que") + kCrLf +
               QStringLiteral("el servidor se encuentre activo. Se recomienda reiniciar el servidor de VELIRO");
    case FalloLogin::PgHba:
        return QStringLiteral("No se puede acceder al módulo, es necesario habilitar la dirección IP de éste equipo en "
                              "el módulo de Administración, apartado ") +
               q + QStringLiteral("Permisos") + q + kCrLf + kCrLf +
               QStringLiteral("Si es la primer ocasión que accede al módulo, utilice la dirección IP 127.0.0.1, "
                              "posteriormente acceda al apartado ") +
               q + QStringLiteral("Permisos") + q + QStringLiteral(" y habilite la dirección IP real del equipo");
    case FalloLogin::SinDriver:
        return QStringLiteral("No se encuentra el driver de la base de datos, favor de reinstalar la aplicación");
    case FalloLogin::SinDescripcion:
        return QStringLiteral("No se logró establecer la conexión con el servidor, verifique") + kCrLf +
               QStringLiteral("que la dirección IP de su computadora se encuentre habilitada") + kCrLf +
               QStringLiteral("en el Modulo de Administración opcion ") + q + QStringLiteral("Permisos") + q;
    case FalloLogin::Otro:
    case FalloLogin::CrearBase:
    case FalloLogin::ReintentarDriver:
        break;
    }
    const QString referencia =
        err::ocurrio(err::kOcurrioErrorNo, error.number) + QStringLiteral(" en la línea ") + QString::number(linea);
    if (!error.sqlState.isEmpty()) {
        // The server's (or its driver's) words, often English: never alone, and never the statement.
        return textoErrorServidor(queNoSeHizo(linea), error, linea == 6) + kCrLf + kCrLf + referencia + kCrLf +
               QStringLiteral("Apartado: IniciarSesion");
    }
    return referencia + kCrLf + QStringLiteral("Descripción: ") + error.description + kCrLf +
           QStringLiteral("Apartado: IniciarSesion");
}

QString claseDeGrupo(const QString& grupo) {
    if (grupo.isEmpty() || grupo == QLatin1String("v7_super")) {
        return QStringLiteral("superusuario");
    }
    if (grupo == QLatin1String("v7_admin")) {
        return QStringLiteral("administrador");
    }
    return QString();
}

QString consultaClaseUsuario() {
    return QStringLiteral("SELECT pg_user.usename, pg_group.groname FROM pg_user, pg_group, catalogos.analistas "
                          "WHERE pg_user.usesysid = ANY(pg_group.grolist) AND usuario = usename AND usuario = "
                          "session_user");
}

QString consultaExisteAnalistas() {
    return QStringLiteral("SELECT 1 FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = "
                          "c.relnamespace WHERE n.nspname = 'catalogos' AND c.relname = 'analistas'");
}

QString textoSinPermisos(const QString& usuario) {
    return QStringLiteral("El usuario \"") + usuario +
           QStringLiteral("\" no tiene permisos para consultar los catalogos de la base de VELIRO7.") + kCrLf +
           QStringLiteral("La base de datos existe; inicie la sesión con un usuario Superusuario ó Administrador.");
}

QString rutaArchivoSesion() {
    return paths::workFolder() + QStringLiteral("V7.pres.sesion.cnf");
}

bool escribirArchivoSesion(const ArchivoSesion& datos, const QString& ruta) {
    auto campo = [](const QString& v) {
        return QLatin1Char('"') + QString(v).remove(QLatin1Char('"')) + QLatin1Char('"');
    };
    const QString line = campo(datos.usuario) + QLatin1Char(',') + campo(datos.servidor) + QLatin1Char(',') +
                         campo(datos.puerto) + QLatin1Char(',') + QString::number(datos.opciones) + kCrLf;
    return archivo::escribirAtomico(ruta, line.toUtf8()).isEmpty();
}

std::optional<ArchivoSesion> leerArchivoSesion(const QString& ruta) {
    QFile f(ruta);
    if (!f.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QString line = QString::fromUtf8(f.readLine()).trimmed();
    // Comma-separated fields, each optionally in double quotes.
    QStringList fields;
    QString cur;
    bool inQuotes = false;
    for (QChar c : line) {
        if (c == QLatin1Char('"')) {
            inQuotes = !inQuotes;
        } else if (c == QLatin1Char(',') && !inQuotes) {
            fields << cur;
            cur.clear();
        } else {
            cur += c;
        }
    }
    fields << cur;
    ArchivoSesion s;
    s.usuario = fields.value(0);
    s.servidor = fields.value(1);
    s.puerto = fields.value(2);
    s.opciones = fields.value(3).trimmed().toInt() != 0 ? 1 : 0;
    return s;
}

ResultadoCrearBase crearBaseDatos(const QString& servidor, const QString& puerto, const QString& usuario,
                                  const QString& clave) {
    const QString carpeta = sesion().RutaTemporal;
    const QString conexion = QStringLiteral(" -h ") + citarSh(servidor) + QStringLiteral(" -p ") + citarSh(puerto) +
                             QStringLiteral(" -U ") + citarSh(usuario);
    const QString crear = carpeta + QStringLiteral("v7.CreateV7.bat");
    QString r =
        CrearArchivoBat(crear, QStringLiteral("createdb -E UNICODE") + conexion + QStringLiteral(" veliro7"), clave);
    if (r != QLatin1String("OK")) {
        return {false, r + kCrLf + QStringLiteral("[Rutina] CrearBase")};
    }
    if (!EjecutarArchivoBat(crear).isEmpty()) {
        QFile::remove(crear);
        return {false, QStringLiteral("No se logró crear la base de datos")};
    }
    QFile::remove(crear);

    const QString salidaTxt = carpeta + QStringLiteral("v7.CheckBD.txt");
    const QString revisar = carpeta + QStringLiteral("v7.CheckBD.bat");
    r = CrearArchivoBat(revisar, QStringLiteral("psql -l") + conexion + QStringLiteral(" >  ") + citarSh(salidaTxt),
                        clave);
    if (r != QLatin1String("OK")) {
        return {false, QString()};
    }
    if (!EjecutarArchivoBat(revisar).isEmpty()) {
        QFile::remove(revisar);
        return {false, QStringLiteral("No se logró lanzar el archivo por lotes VerificaBD")};
    }
    QFile::remove(revisar);
    QFile f(salidaTxt);
    if (!f.exists()) {
        return {false, QStringLiteral("No se econtró el archivo \"v7.CheckBD.txt\"") + kCrLf +
                           QStringLiteral("Reintentelo nuevamente")};
    }
    if (f.open(QIODevice::ReadOnly)) {
        QTextStream ts(&f);
        while (!ts.atEnd()) {
            if (ts.readLine().contains(QLatin1String("veliro7"))) {
                f.close();
                QFile::remove(salidaTxt);
                return {true, QString()};
            }
        }
    }
    return {false, QString()};
}

void terminarPrograma(int code) {
    if (salida()) {
        salida()(code);
        return;
    }
    std::fflush(nullptr);
    std::exit(code);
}

void setSalidaPrograma(SalidaPrograma s) {
    salida() = std::move(s);
}

} // namespace v7
