#include "maintenance/restauracion.h"

#include "core/archivos.h"
#include "core/cifrado.h"
#include "core/config.h"
#include "core/listas.h"
#include "core/scripts.h"
#include "core/servidor.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/sqlutil.h"
#include "maintenance/mantenimiento.h"
#include "maintenance/restauracion_roles.h"
#include "maintenance/texto_completo.h"
#include "maintenance/zona_horaria.h"
#include "platform/archiver.h"
#include "platform/db.h"
#include "platform/events.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace v7 {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kNoModificada = QStringLiteral("La base de datos no fue modificada.");

// The installed engine's text lives for the session: a later probe that fails keeps it.
QString& motorInstaladoSesion() {
    static QString motor;
    return motor;
}

QString herramienta(const QString& carpetaBin, const QString& nombre) {
    return carpetaBin.isEmpty() ? nombre : paths::withSlash(carpetaBin) + nombre;
}

// A member of the extracted archive by its name in any case (the writer stores checksum.dat, older
// archives Checksum.dat); the exact name wins when both are there.
QString miembro(const QString& carpeta, const QString& nombre) {
    const QDir dir(carpeta);
    if (QFileInfo(dir.filePath(nombre)).isFile()) {
        return dir.filePath(nombre);
    }
    for (const QString& f : dir.entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
        if (f.compare(nombre, Qt::CaseInsensitive) == 0) {
            return dir.filePath(f);
        }
    }
    return QString();
}

QString lineasError(const QByteArray& salida, int maximo = 10) {
    QStringList lineas;
    for (const QByteArray& l : salida.split('\n')) {
        if (!l.trimmed().isEmpty()) {
            lineas << QString::fromUtf8(l).trimmed();
        }
    }
    return lineas.mid(0, maximo).join(kCrLf);
}

// Runs two sh command texts at once (each redirects its own output) and gives both exit statuses; -1 for
// a status that could not be told. The checks of an archive read it twice over: side by side they take
// the time of the longer one.
std::pair<int, int> dosALaVez(const QString& a, const QString& b, const QString& archivoEstado) {
    QFile::remove(archivoEstado);
    const QString linea = QStringLiteral("( ") + a + QStringLiteral(" ) & p=$!; ( ") + b +
                          QStringLiteral(" ); b=$?; wait $p; a=$?; printf '%s %s\\n' \"$a\" \"$b\" > ") +
                          citarSh(archivoEstado);
    process::Command c = process::Command::shellLine(linea);
    c.cLocale = true;
    (void)process::run(c);
    QFile f(archivoEstado);
    if (!f.open(QIODevice::ReadOnly)) {
        return {-1, -1};
    }
    const QList<QByteArray> partes = f.readAll().trimmed().split(' ');
    bool okA = false, okB = false;
    const int ea = partes.value(0).toInt(&okA);
    const int eb = partes.value(1).toInt(&okB);
    return {okA ? ea : -1, okB ? eb : -1};
}

QByteArray contenido(const QString& ruta) {
    QFile f(ruta);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

ArchivoVerificado rechazo(ArchivoVerificado v, FallaArchivo falla, const QString& detalle = QString()) {
    v.falla = falla;
    v.detalle = detalle;
    return v;
}

// "Dumped by pg_dump version: 15.18 (…)" of pg_restore -l.
int mayorDelVolcado(const QByteArray& lista) {
    static const QRegularExpression re(QStringLiteral("Dumped by pg_dump version: *([0-9][^\\s]*)"));
    const auto m = re.match(QString::fromUtf8(lista));
    return m.hasMatch() ? versionMayor(m.captured(1)) : -1;
}

// The installed engine: pg_config's first line through v7.version.bat. Empty with error set when it cannot
// be told now nor was told earlier in the session.
QString motorInstalado(const QString& carpetaBin, QString& error) {
    const QString carpeta = paths::withSlash(sesion().RutaTemporal);
    const QString script = carpeta + QStringLiteral("v7.version.bat");
    const QString salida = carpeta + QStringLiteral("pg_version.txt");
    const QString escrito = CrearArchivoBat(script,
                                            citarSh(herramienta(carpetaBin, QStringLiteral("pg_config"))) +
                                                QStringLiteral(" --version > ") + citarSh(salida),
                                            QString());
    QString motor;
    if (escrito != QLatin1String("OK")) {
        error = escrito;
    } else {
        int estado = -1;
        const QString lanzado = EjecutarArchivoBat(script, &estado);
        if (!lanzado.isEmpty()) {
            error = lanzado + kCrLf +
                    QStringLiteral("No se logró lanzar el archivo .bat para guardar la versión de Postgres");
        } else {
            QFile f(salida);
            if (estado == 0 && f.open(QIODevice::ReadOnly)) {
                motor = lineaVersion(f.readAll());
            }
        }
    }
    QFile::remove(script);
    QFile::remove(salida);
    if (!motor.isEmpty()) {
        motorInstaladoSesion() = motor;
        return motor;
    }
    if (!motorInstaladoSesion().isEmpty()) {
        return motorInstaladoSesion();
    }
    if (error.isEmpty()) {
        error = QStringLiteral("pg_config no informó la versión del motor de datos");
    }
    return QString();
}

QString errorGeneral(qint64 numero, const QString& descripcion, int bloque) {
    return QStringLiteral("Ocurrió el error no. ") + QString::number(numero) + kCrLf + descripcion + kCrLf + kCrLf +
           QStringLiteral("Bloque=") + QString::number(bloque) + QStringLiteral("[Rutina] BtnMontar");
}

void anexarLog(const QString& archivo, const QString& texto) {
    QFile f(archivo);
    if (f.open(QIODevice::Append)) {
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        f.write(db::redactStatement(texto).toUtf8());
    }
}

QString leerTexto(const QString& ruta) {
    QFile f(ruta);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Owner and grants of schema public, to make it again as it was after every schema was dropped.
struct EsquemaPublico {
    bool existia = false;
    QString propietario;
    QStringList concesiones; // GRANT statements
};

EsquemaPublico leerEsquemaPublico() {
    EsquemaPublico p;
    int total = 0;
    QString error;
    auto rs = ExecuteSQLrs(
        QStringLiteral("SELECT pg_get_userbyid(nspowner) FROM pg_namespace WHERE nspname = 'public'"), total, error);
    if (rs && !rs->eof()) {
        p.existia = true;
        p.propietario = rs->text(0);
        auto g =
            ExecuteSQLrs(QStringLiteral("SELECT CASE WHEN a.grantee = 0 THEN '' ELSE pg_get_userbyid(a.grantee) END, "
                                        "a.privilege_type, a.is_grantable FROM pg_namespace n, aclexplode(n.nspacl) a "
                                        "WHERE n.nspname = 'public' AND a.grantee <> n.nspowner"),
                         total, error);
        for (; g && !g->eof(); g->moveNext()) {
            const QString a = g->text(0).isEmpty() ? QStringLiteral("PUBLIC") : citarIdentificador(g->text(0));
            const bool opcion = textoABooleano(g->text(2));
            p.concesiones << QStringLiteral("GRANT ") + g->text(1) + QStringLiteral(" ON SCHEMA public TO ") + a +
                                 (opcion ? QStringLiteral(" WITH GRANT OPTION") : QString());
        }
    } else {
        // A database made without it: the server's own default.
        p.propietario = QStringLiteral("pg_database_owner");
        p.concesiones << QStringLiteral("GRANT USAGE ON SCHEMA public TO PUBLIC");
    }
    return p;
}

bool existeEsquemaPublico() {
    int total = 0;
    QString error;
    auto rs = ExecuteSQLrs(QStringLiteral("SELECT 1 FROM pg_namespace WHERE nspname = 'public'"), total, error);
    return rs && !rs->eof();
}

// Every line of a table: "schema.table#count".
const QRegularExpression& lineaTabla() {
    static const QRegularExpression re(
        QStringLiteral("^([A-Za-z_][A-Za-z0-9_$]*)\\.([A-Za-z_][A-Za-z0-9_$]*)#(\\d+)$"));
    return re;
}

} // namespace

QString rutaLogRestauracion(const QDate& fecha) {
    return paths::programFolder() + QStringLiteral("LogRestauracion_") + fecha.toString(QStringLiteral("yyyyMMdd")) +
           QStringLiteral(".txt");
}

QString rutaLogUsuariosRestaurados(const QDate& fecha) {
    return paths::programFolder() + QStringLiteral("LogUsuarioRestaurados_") +
           fecha.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".txt");
}

std::optional<ChecksumRespaldo> leerChecksum(const QByteArray& contenido) {
    static const QRegularExpression hex(QStringLiteral("^(?:[0-9A-Fa-f]{2})+$"));
    QStringList crudas;
    for (const QString& l : QString::fromLatin1(contenido).split(QRegularExpression(QStringLiteral("\\r?\\n")))) {
        const QString t = l.trimmed();
        if (t.isEmpty()) {
            continue;
        }
        if (!hex.match(t).hasMatch()) {
            return std::nullopt;
        }
        crudas << t;
    }
    if (crudas.isEmpty()) {
        return std::nullopt;
    }
    ChecksumRespaldo c;
    c.claveA = !DescifrarCadena(crudas[0], false).contains(QLatin1String("catalogos"));
    bool primera = true;
    for (const QString& cruda : crudas) {
        const QString linea = DescifrarCadena(cruda, c.claveA);
        if (linea.contains(QLatin1Char('#'))) {
            const auto m = lineaTabla().match(linea);
            if (!m.hasMatch()) {
                return std::nullopt;
            }
            bool ok = false;
            const qint64 n = m.captured(3).toLongLong(&ok);
            if (!ok) {
                return std::nullopt;
            }
            c.tablas.push_back({m.captured(1) + QLatin1Char('.') + m.captured(2), n});
        } else if (primera) {
            return std::nullopt; // the first line is always a table line
        } else if (c.fecha.isEmpty()) {
            c.fecha = linea;
        } else {
            c.motor = linea;
        }
        primera = false;
    }
    if (c.motor.isEmpty()) {
        c.motor = QStringLiteral("POSTGRESQL 8");
    }
    return c;
}

ArchivoVerificado verificarArchivo(const QString& archivo, const QString& carpeta, const QString& carpetaBin,
                                   const std::function<void()>& avanceMotor) {
    ArchivoVerificado v;
    v.carpeta = carpeta;
    QDir dir(carpeta);
    if ((dir.exists() && !dir.removeRecursively()) || !QDir().mkpath(carpeta)) {
        return rechazo(v, FallaArchivo::CarpetaTrabajo, carpeta);
    }
    QFile::setPermissions(carpeta, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // The archiver's test of the whole archive, and the extraction beside it (the members are used only
    // once the test has passed).
    const QString notas = paths::withSlash(carpeta) + QStringLiteral(".verificacion/");
    QDir().mkpath(notas);
    const auto [prueba, extraccion] =
        dosALaVez(archiver::comandoProbar(archivo) + QStringLiteral(" > ") +
                      citarSh(notas + QStringLiteral("prueba.txt")) + QStringLiteral(" 2>&1"),
                  archiver::comandoExtraer(archivo, carpeta) + QStringLiteral(" > ") +
                      citarSh(notas + QStringLiteral("extraccion.txt")) + QStringLiteral(" 2>&1"),
                  notas + QStringLiteral("estado1.txt"));
    if (prueba != 0 || !contenido(notas + QStringLiteral("prueba.txt")).contains("Everything is Ok")) {
        return rechazo(v, FallaArchivo::PruebaFallida, archiver::significadoSalida7za(prueba));
    }
    if (extraccion != 0) {
        return rechazo(v, FallaArchivo::Extraccion, archiver::significadoSalida7za(extraccion));
    }
    v.volcado = miembro(carpeta, kMiembroVolcado);
    if (v.volcado.isEmpty()) {
        return rechazo(v, FallaArchivo::FaltaMiembro, kMiembroVolcado);
    }
    const QString checksum = miembro(carpeta, kMiembroChecksum);
    if (checksum.isEmpty()) {
        return rechazo(v, FallaArchivo::FaltaMiembro, kMiembroChecksum);
    }
    v.roles = miembro(carpeta, kMiembroRoles);
    {
        QFile f(checksum);
        const auto c = f.open(QIODevice::ReadOnly) ? leerChecksum(f.readAll()) : std::nullopt;
        if (!c) {
            return rechazo(v, FallaArchivo::ChecksumInvalido);
        }
        v.checksum = *c;
    }

    if (avanceMotor) {
        avanceMotor();
    }
    QString error;
    v.motorInstalado = motorInstalado(carpetaBin, error);
    v.mayorInstalado = versionMayor(v.motorInstalado);
    if (v.mayorInstalado < 0) {
        return rechazo(v, FallaArchivo::MotorDesconocido, error);
    }
    v.mayorRespaldo = versionMayor(v.checksum.motor);
    if (v.mayorRespaldo > v.mayorInstalado) {
        return rechazo(v, FallaArchivo::MotorPosterior);
    }

    // pg_restore -l reads the header and the table of contents; a dump cut short in its data still lists,
    // so the dump is also read to its end, at the same time.
    const QString pgRestore = citarSh(herramienta(carpetaBin, QStringLiteral("pg_restore")));
    const QString lista = notas + QStringLiteral("lista.txt");
    const QString erroresLista = notas + QStringLiteral("lista.err.txt");
    const QString erroresLectura = notas + QStringLiteral("lectura.err.txt");
    const auto [listado, leido] =
        dosALaVez(pgRestore + QStringLiteral(" -l ") + citarSh(v.volcado) + QStringLiteral(" > ") + citarSh(lista) +
                      QStringLiteral(" 2> ") + citarSh(erroresLista),
                  pgRestore + QStringLiteral(" -f /dev/null ") + citarSh(v.volcado) + QStringLiteral(" 2> ") +
                      citarSh(erroresLectura),
                  notas + QStringLiteral("estado2.txt"));
    if (listado != 0) {
        const QByteArray errores = contenido(erroresLista);
        return rechazo(
            v, errores.contains("unsupported version") ? FallaArchivo::MotorPosterior : FallaArchivo::VolcadoIlegible,
            lineasError(errores));
    }
    v.listaVolcado = contenido(lista);
    if (mayorDelVolcado(v.listaVolcado) > v.mayorInstalado) {
        return rechazo(v, FallaArchivo::MotorPosterior);
    }
    if (leido != 0) {
        return rechazo(v, FallaArchivo::VolcadoIncompleto, lineasError(contenido(erroresLectura)));
    }
    return v;
}

QString mensajeArchivoRechazado(const ArchivoVerificado& v) {
    QString t;
    switch (v.falla) {
    case FallaArchivo::Ninguna:
        return QString();
    case FallaArchivo::CarpetaTrabajo:
        t = QStringLiteral("No se pudo preparar la carpeta de trabajo ") + v.detalle;
        break;
    case FallaArchivo::PruebaFallida:
        t = QStringLiteral("El archivo del respaldo está dañado, no pasó la prueba de integridad:") + kCrLf + v.detalle;
        break;
    case FallaArchivo::Extraccion:
        t = QStringLiteral("No se logró descompactar el archivo del respaldo.");
        break;
    case FallaArchivo::FaltaMiembro:
        t = QStringLiteral("El archivo del respaldo no contiene el archivo ") + v.detalle +
            QStringLiteral(", no es un respaldo de VELIRO7.");
        break;
    case FallaArchivo::ChecksumInvalido:
        t = QStringLiteral("El archivo ") + kMiembroChecksum +
            QStringLiteral(" del respaldo no es válido, no es un respaldo de VELIRO7.");
        break;
    case FallaArchivo::MotorDesconocido:
        t = QStringLiteral("No se logró conocer la versión instalada del motor de datos PostgreSQL:") + kCrLf +
            v.detalle;
        break;
    case FallaArchivo::MotorPosterior:
        t = QStringLiteral("No se puede montar el respaldo debido a que la versión instalada de") + kCrLf +
            QStringLiteral("postgres es anterior a la que contiene el respaldo");
        break;
    case FallaArchivo::VolcadoIlegible:
    case FallaArchivo::VolcadoIncompleto:
        t = QStringLiteral("El archivo ") + kMiembroVolcado +
            QStringLiteral(" del respaldo está dañado o incompleto, no se puede montar:") + kCrLf + v.detalle;
        break;
    }
    return t + kCrLf + kCrLf + kNoModificada;
}

ResultadoRestauracion restaurarRespaldo(const QString& archivo, const InterfazRestauracion& ui) {
    ResultadoRestauracion r;
    SessionState& s = sesion();
    int progreso = 0;
    auto paso = [&](int valor, const QString& estado = QString()) {
        if (valor >= 0) {
            progreso = valor;
        }
        if (ui.avance) {
            ui.avance(valor, estado);
        }
        events::pump();
    };
    auto aviso = [&](MsgIcon icono, const QString& texto) {
        if (ui.aviso) {
            ui.aviso(icono, texto);
        } else {
            avisar(icono, texto);
        }
    };
    auto detener = [&](const QString& texto, MsgIcon icono = MsgIcon::Critical) {
        r.ok = false;
        r.icono = icono;
        r.texto = texto;
        return r;
    };
    const QString trabajo = paths::withSlash(s.RutaTemporal);
    const QString carpeta = trabajo + kCarpetaRestauracion;
    // The extracted archive (the roles' password hashes among it) and every script go on every way out.
    process::Restos restos;
    restos.agregar(carpeta);

    paso(0, QStringLiteral("Verificando estado del servidor..."));
    if (!VerificarConexion().isEmpty()) {
        return detener(QStringLiteral("No se pudo establecer conexión con el servidor"));
    }

    paso(1, QStringLiteral("Descompactando el archivo del respaldo..."));
    const QString bin = carpetaHerramientas();
    const ArchivoVerificado v = verificarArchivo(archivo, carpeta, bin, [&] {
        paso(2, QStringLiteral("Verificando la versión instalada del motor de datos PostgreSQL..."));
    });
    if (!v.ok()) {
        r.rechazado = true;
        return detener(mensajeArchivoRechazado(v));
    }
    const QDate hoy = QDate::currentDate();
    const QString log = rutaLogRestauracion(hoy);
    anexarLog(log, QStringLiteral("=== ") +
                       QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                       QStringLiteral(" restauración de ") + archivo + QStringLiteral(" (respaldo: ") +
                       v.checksum.motor + QStringLiteral("; instalado: ") + v.motorInstalado + QStringLiteral(")\n"));

    // From here on the database changes.
    paso(3, QStringLiteral("Eliminando esquemas de la base de datos..."));
    const EsquemaPublico publico = leerEsquemaPublico();
    {
        int total = 0;
        QString error;
        auto rs = ExecuteSQLrs(QStringLiteral("SELECT nspname::text FROM pg_namespace WHERE nspname !~ '^pg_' AND "
                                              "nspname <> 'information_schema' ORDER BY nspname"),
                               total, error);
        if (!rs) {
            return detener(errorGeneral(db::kProviderErrorNumber, error, progreso));
        }
        QStringList esquemas;
        for (; !rs->eof(); rs->moveNext()) {
            esquemas << rs->text(0);
        }
        for (const QString& esquema : esquemas) {
            int filas = 0;
            if (ExecuteSQLaction(QStringLiteral("DROP SCHEMA ") + citarIdentificador(esquema) +
                                     QStringLiteral(" CASCADE;"),
                                 filas, error)) {
                continue;
            }
            aviso(MsgIcon::Warning, QStringLiteral("No se eliminó el esquema ") + esquema +
                                        QStringLiteral(" debido a lo siguiente:") + kCrLf + error);
            auto sigue = ExecuteSQLrs(
                QStringLiteral("SELECT 1 FROM pg_namespace WHERE nspname = ") + citarLiteral(esquema), total, error);
            if (sigue && !sigue->eof()) {
                aviso(MsgIcon::Critical, QStringLiteral("No se eliminó el esquema ") + esquema +
                                             QStringLiteral(", es necesario") + kCrLf +
                                             QStringLiteral("hacer de nuevo el proceso de restauración de la") + kCrLf +
                                             QStringLiteral("base de datos"));
                break;
            }
        }
    }

    // The staff logins go; other applications' roles and the session's own login stay as they are.
    {
        QString error;
        const QSet<QString> protegidos = rolesProtegidos(error);
        if (protegidos.isEmpty()) {
            return detener(errorGeneral(db::kProviderErrorNumber, error, progreso));
        }
        bool ok = false;
        const QStringList staff = rolesStaff(protegidos, ok, error);
        if (!ok) {
            return detener(errorGeneral(db::kProviderErrorNumber, error, progreso));
        }
        const QString logRoles = rutaLogUsuariosRestaurados(hoy);
        if (eliminarRolesStaff(staff, logRoles, aviso)) {
            aviso(MsgIcon::Warning,
                  QStringLiteral("No se eliminaron algunos usuarios debido a que tienen dependencias de otras bases de "
                                 "datos,para mayor información consultar el archivo: ") +
                      kCrLf + kCrLf + logRoles);
        }

        // A dump made by a newer pg_dump never makes schema public; the database must not be left without it.
        if (!existeEsquemaPublico()) {
            int filas = 0;
            if (!ExecuteSQLaction(QStringLiteral("CREATE SCHEMA public AUTHORIZATION ") +
                                      citarIdentificador(publico.propietario),
                                  filas, error)) {
                return detener(errorGeneral(db::kProviderErrorNumber, error, progreso));
            }
            for (const QString& g : publico.concesiones) {
                if (!ExecuteSQLaction(g, filas, error)) {
                    aviso(MsgIcon::Critical, error);
                }
            }
        }

        // Roles before the load: the dump's owners and grants must find them.
        paso(-1, QStringLiteral("Creando roles de usuarios..."));
        for (const QString& f : crearGrupos()) {
            aviso(MsgIcon::Critical, f);
        }
        if (!v.roles.isEmpty()) {
            paso(-1, QStringLiteral("Asignando permisos a los roles..."));
            QSet<QString> existentes;
            int total = 0;
            auto rs = ExecuteSQLrs(QStringLiteral("SELECT rolname::text FROM pg_roles"), total, error);
            for (; rs && !rs->eof(); rs->moveNext()) {
                existentes.insert(rs->text(0));
            }
            const QString filtrado = carpeta + QStringLiteral("/rolesv7.filtrado.sql");
            {
                QFile f(filtrado);
                if (!f.open(QIODevice::WriteOnly) ||
                    f.write(filtrarRoles(leerTexto(v.roles), protegidos, existentes).toUtf8()) < 0) {
                    return detener(QStringLiteral("No se logró preparar el archivo de usuarios del respaldo: ") +
                                   f.errorString());
                }
            }
            const QString script = trabajo + QStringLiteral("v7.roles.bat");
            const QString salida = trabajo + QStringLiteral("v7.roles.txt");
            restos.agregar(script);
            restos.agregar(salida);
            const QString escrito =
                CrearArchivoBat(script,
                                citarSh(herramienta(bin, QStringLiteral("psql"))) +
                                    QStringLiteral(" -X -q -v ON_ERROR_STOP=0 -d veliro7 -f ") + citarSh(filtrado) +
                                    QStringLiteral(" -h ") + citarSh(s.ServidorIP) + QStringLiteral(" -p ") +
                                    QString::number(s.PuertoBD) + QStringLiteral(" -U ") + citarSh(s.UsuarioBD) +
                                    QStringLiteral(" > ") + citarSh(salida) + QStringLiteral(" 2>&1"),
                                QString());
            if (escrito != QLatin1String("OK")) {
                return detener(escrito + kCrLf +
                               QStringLiteral("No se logró lanzar el archivo .BAT para restaurar los "
                                              "usuarios"));
            }
            int estado = -1;
            const QString lanzado = EjecutarArchivoBat(script, &estado, entornoClave(s.ClaveBD));
            if (!lanzado.isEmpty()) {
                return detener(lanzado + kCrLf +
                               QStringLiteral("No se logró lanzar el archivo .BAT para restaurar los usuarios"));
            }
            const QString salidaRoles = leerTexto(salida);
            anexarLog(log, QStringLiteral("--- usuarios (psql, estado ") + QString::number(estado) +
                               QStringLiteral(")\n") + salidaRoles);
            if (estado != 0) {
                return detener(QStringLiteral("No se logró restaurar los usuarios del respaldo (psql terminó con el "
                                              "código ") +
                               QString::number(estado) + QStringLiteral("):") + kCrLf +
                               db::redactStatement(lineasError(salidaRoles.toUtf8())));
            }
            if (salidaRoles.contains(QLatin1String("ERROR:"))) {
                aviso(MsgIcon::Warning,
                      QStringLiteral("Algunos usuarios del respaldo no se restauraron, para mayor información "
                                     "consultar el archivo: ") +
                          kCrLf + kCrLf + log);
            }
        }
    }

    // The load, judged by pg_restore's status.
    paso(4, QStringLiteral("Montando el respaldo, este proceso puede tardar varios minutos, por favor espere..."));
    {
        QString opciones;
        if (v.roles.isEmpty()) {
            // Without the archive's roles the dump's owners and grantees may not exist yet: the objects go to
            // the session's login and the groups get their privileges after the load.
            opciones += QStringLiteral(" -O -x");
        }
        // An older pg_dump makes schema public itself, which exists here.
        static const QRegularExpression publicoEnLista(QStringLiteral("^\\d+; \\d+ \\d+ SCHEMA - public "),
                                                       QRegularExpression::MultilineOption);
        QString lista = QString::fromUtf8(v.listaVolcado);
        if (publicoEnLista.match(lista).hasMatch()) {
            lista.replace(publicoEnLista, QStringLiteral(";\\0"));
            const QString rutaLista = carpeta + QStringLiteral("/base.lista");
            QFile f(rutaLista);
            if (f.open(QIODevice::WriteOnly)) {
                f.write(lista.toUtf8());
                opciones += QStringLiteral(" -L ") + citarSh(rutaLista);
            }
        }
        const QString script = trabajo + QStringLiteral("v7.Load.bat");
        const QString errores = trabajo + QStringLiteral("v7.Load.txt");
        restos.agregar(script);
        restos.agregar(errores);
        const QString escrito = CrearArchivoBat(
            script,
            citarSh(herramienta(bin, QStringLiteral("pg_restore"))) + QStringLiteral(" -h ") + citarSh(s.ServidorIP) +
                QStringLiteral(" -p ") + QString::number(s.PuertoBD) + QStringLiteral(" -U ") + citarSh(s.UsuarioBD) +
                QStringLiteral(" -d veliro7 -v") + opciones + QLatin1Char(' ') + citarSh(v.volcado) +
                QStringLiteral(" 2> ") + citarSh(errores),
            QString());
        if (escrito != QLatin1String("OK")) {
            return detener(escrito);
        }
        int estado = -1;
        const QString lanzado = EjecutarArchivoBat(script, &estado, entornoClave(s.ClaveBD));
        if (!lanzado.isEmpty()) {
            return detener(lanzado + kCrLf +
                           QStringLiteral("No se logró lanzar el archivo .BAT para restaurar la base"));
        }
        const QStringList lineas = lineasDestacadasEn(errores, 1000);
        if (estado != 0) {
            anexarLog(log, QStringLiteral("--- carga (pg_restore, estado ") + QString::number(estado) +
                               QStringLiteral(")\n") + lineas.join(QLatin1Char('\n')) + QLatin1Char('\n'));
            return detener(QStringLiteral("No se logró montar el respaldo, pg_restore terminó con el código ") +
                           QString::number(estado) + QStringLiteral(":") + kCrLf + lineas.mid(0, 10).join(kCrLf) +
                           kCrLf + kCrLf + QStringLiteral("Los detalles están en el archivo: ") + log + kCrLf +
                           QStringLiteral("Se recomienda restaurar nuevamente la base de datos"));
        }
    }

    // Full-text search and the time zone, on an engine of 9 or later.
    bool zonaAplicada = false;
    QString zona;
    auto avisarZona = [&aviso](const QString& motivo) {
        aviso(MsgIcon::Critical,
              QStringLiteral("No se logro actualizar la zona horaria de la base de datos debido a lo siguiente: ") +
                  motivo);
    };
    auto zonaDesconocida = [](const QString& z) {
        return z.isEmpty() ? QStringLiteral("no se eligió la zona horaria")
                           : QStringLiteral("la zona horaria ") + z + QStringLiteral(" no existe");
    };
    if (v.mayorInstalado >= 9) {
        if (v.mayorRespaldo <= 8) {
            const PasoTextoCompleto t = actualizarTextoCompleto(paso, aviso);
            if (!t.ok) {
                return detener(t.texto, t.icono);
            }
        } else {
            const PasoTextoCompleto t = asegurarDiccionarioEspanol();
            if (!t.ok) {
                return detener(t.texto, t.icono);
            }
        }
        zona = ui.elegirZona ? ui.elegirZona() : QString();
        QString error;
        if (!zonaConocida(zona)) {
            error = zonaDesconocida(zona);
        } else {
            // A zone that could not be stored is still applied; the next restore asks again.
            QString noGuardada;
            (void)guardarZona(zona, noGuardada);
            zonaAplicada = aplicarZona(zona, error);
        }
        if (!zonaAplicada) {
            avisarZona(error);
        }
    }

    // The counts the backup recorded.
    paso(8, QStringLiteral("Comprobando integridad de la base de datos..."));
    for (const ConteoControl& c : v.checksum.tablas) {
        const QString consulta =
            QStringLiteral("SELECT count(*) AS NoReg FROM ") +
            citarIdentificador(c.tabla.section(QLatin1Char('.'), 0, 0), c.tabla.section(QLatin1Char('.'), 1));
        int total = 0;
        QString error;
        auto rs = ExecuteSQLrs(consulta, total, error);
        if (!rs || rs->eof()) {
            return detener(
                QStringLiteral("Error al recuperar los registros, es recomendable eliminar la base de datos y "
                               "restaurarla nuevamente") +
                kCrLf + error);
        }
        const qint64 encontrados = rs->text(QStringLiteral("NoReg")).toLongLong();
        if (encontrados != c.registros) {
            return detener(QStringLiteral("Al parecer la restauración no se realizó correctamente ya que el respaldo "
                                          "contenía ") +
                           QString::number(c.registros) + QStringLiteral(" registros en la tabla ") + c.tabla +
                           QStringLiteral(" mientras que en la base de datos solo hay ") +
                           QString::number(encontrados) + QStringLiteral(" registros.") + kCrLf +
                           QStringLiteral("Se recomienda eliminar la base de datos y restaurarla nuevamente"));
        }
    }

    {
        QString fecha = v.checksum.fecha;
        QString ahora = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const QString noAgregada =
            QStringLiteral("No se agrego la fecha de creacion de respaldo al apartado de configuración");
        if (!GuardarConfiguracion(fecha, QStringLiteral("FECHARESPALDO"))) {
            aviso(MsgIcon::Critical, noAgregada);
        }
        if (!GuardarConfiguracion(ahora, QStringLiteral("FECHARESTAURACION"))) {
            aviso(MsgIcon::Critical, noAgregada);
        }
    }

    paso(9, QStringLiteral("Configurando variables de sistema..."));
    s.BaseDatosValida = true;
    r.integridad = true;
    {
        // The zone chosen in this restore is the one stored; otherwise the stored one, else asked for.
        if (!zonaAplicada) {
            zona = leerZonaGuardada();
            if (zona.isEmpty() && ui.elegirZona) {
                zona = ui.elegirZona();
                QString error;
                if (zonaConocida(zona) && !guardarZona(zona, error) && !error.isEmpty()) {
                    aviso(MsgIcon::Critical, error);
                }
            }
        }
        bool conectado = VerificarConexion().isEmpty();
        if (!conectado) {
            ConectarODBC(conectado);
        }
        if (!conectado) {
            return detener(QStringLiteral("Se perdió la conexión a la base de datos, intentelo nuevamente..."));
        }
        // A zone applied above stands; only one settled here is applied now.
        if (!zonaAplicada) {
            QString error;
            if (!zonaConocida(zona)) {
                avisarZona(zonaDesconocida(zona));
            } else if (!aplicarZona(zona, error)) {
                return detener(errorGeneral(db::kProviderErrorNumber, error, progreso));
            }
        }
    }

    paso(-1, QStringLiteral("Actualizando secuencias de sistema..."));
    for (const QString& f : ActualizarSecuenciasVELIRO()) {
        aviso(MsgIcon::Critical, f);
    }

    paso(-1, QStringLiteral("Asignando permisos a los usuarios..."));
    // The groups were made before the load.
    paso(-1, QStringLiteral("Creando roles de usuarios..."));
    if (v.roles.isEmpty()) {
        const ResultadoLogins logins = crearLoginsStaff(v.checksum.claveA, aviso);
        if (!logins.ok) {
            return detener(logins.mensajeFatal);
        }
        r.noIncorporados = logins.noIncorporados;
    }
    paso(-1, QStringLiteral("Asignando permisos a tablas y esquemas del sistema..."));
    asignarPermisosRestauracion(aviso);

    paso(10, QStringLiteral("Proceso finalizado"));
    r.ok = true;
    r.icono = MsgIcon::Information;
    if (!r.noIncorporados.isEmpty()) {
        int filas = 0;
        QString error;
        const bool borrados = ExecuteSQLaction(
            QStringLiteral("delete from catalogos.analistas where usuario not in (select usename from pg_user)"), filas,
            error);
        // The users left out are named whether or not their rows could be removed.
        r.texto = QStringLiteral("La información ha sido restaurada correctamente, sin embargo, los") + kCrLf +
                  QStringLiteral("siguientes usuarios analistas no fueron incorporados debido a ") + kCrLf +
                  QStringLiteral("duplicidad en su información:") + kCrLf + r.noIncorporados.join(kCrLf);
        if (!borrados) {
            r.icono = MsgIcon::Warning;
            r.texto += kCrLf + kCrLf + error;
        }
        return r;
    }
    (void)VerificarArchivosCompartidos();
    r.texto = QStringLiteral("La base de datos ha sido restaurada correctamente");
    return r;
}

} // namespace v7
