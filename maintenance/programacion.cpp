#include "maintenance/programacion.h"

#include "core/cifrado.h"
#include "core/errores.h"
#include "core/login.h"
#include "core/scripts.h"
#include "core/session.h"
#include "platform/archivo_seguro.h"
#include "platform/db.h"
#include "platform/events.h"
#include "platform/keystore.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace v7 {

namespace {

// The schedule description is two short texts; anything far larger is not it.
constexpr qint64 kLimiteDescripcion = 64 * 1024;

// Seconds a schedule's connection check waits for the server.
constexpr int kEsperaConexionSegundos = 10;

QString textoError(int errnoValue) {
    const ErrorSistema e = errorSistema(errnoValue);
    return QString::number(e.numero) + QLatin1Char(' ') + e.descripcion;
}

// Replaces a file of the schedule whole with the given mode (never through a link planted at its name).
// Empty on success.
QString escribir(const QString& ruta, const QByteArray& contenido, unsigned modo) {
    archivo::OpcionesEscritura o;
    o.modo = modo;
    o.conservarDuenoYModo = false;
    const QString motivo = archivo::escribirAtomico(ruta, contenido, o);
    return motivo.isEmpty() ? QString()
                            : QStringLiteral("No se escribió el archivo ") + ruta + QStringLiteral(": ") + motivo;
}

// The program folder's config folder, created mode 0700 (an existing one is closed to others too: it
// holds the scrambled login). A link or anything but a folder at that name is refused. Empty on success.
QString prepararCarpetaConfig() {
    const QByteArray carpeta = QFile::encodeName(paths::programFolder() + QStringLiteral("config"));
    if (::mkdir(carpeta.constData(), 0700) != 0 && errno != EEXIST) {
        return QStringLiteral("No se creó la carpeta ") + QFile::decodeName(carpeta) + QStringLiteral(": ") +
               textoError(errno);
    }
    struct stat st {};
    if (::lstat(carpeta.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return QStringLiteral("No se usa la carpeta ") + QFile::decodeName(carpeta) +
               QStringLiteral(": no es una carpeta (puede ser un enlace).");
    }
    if (::chmod(carpeta.constData(), 0700) != 0) {
        return QStringLiteral("No se crearon los permisos de la carpeta ") + QFile::decodeName(carpeta) +
               QStringLiteral(": ") + textoError(errno);
    }
    return QString();
}

// Removes a file; one that is not there counts as removed. Empty on success.
QString borrar(const QString& ruta) {
    if (::unlink(QFile::encodeName(ruta).constData()) != 0 && errno != ENOENT) {
        return QStringLiteral("No se eliminó el archivo ") + ruta + QStringLiteral(": ") + textoError(errno);
    }
    return QString();
}

// cron's own escape: an unescaped "%" ends the command (the rest becomes its input).
QString escaparCron(const QString& texto) {
    return QString(texto).replace(QLatin1Char('%'), QStringLiteral("\\%"));
}

// Whether a value can stand in the crontab line: no line break, and no "\" right before a "%" (cron
// would read the pair as its escape and drop the backslash).
bool cabeEnLineaCron(const QString& texto) {
    return !texto.contains(QLatin1Char('\n')) && !texto.contains(QLatin1Char('\r')) &&
           !texto.contains(QStringLiteral("\\%"));
}

// The crontab week-day number of a day code (Sunday 0); -1 for an unknown code.
int numeroDia(const QString& codigo) {
    const int i = int(kCodigosDia.indexOf(codigo.trimmed().toUpper()));
    return i < 0 ? -1 : (i + 1) % 7;
}

} // namespace

QString carpetaCron() {
    const QString dir = qEnvironmentVariable("V7_CRON_DIR");
    return dir.isEmpty() ? QStringLiteral("/etc/cron.d") : QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
}

QString rutaTarea() {
    return carpetaCron() + QLatin1Char('/') + kNombreTarea;
}

QString programaRespaldoAutomatico() {
    return paths::programFolder() + QStringLiteral("V7backup");
}

QString rutaDescripcionRespaldo() {
    return paths::programFolder() + QStringLiteral("config/logrespaldo.txt");
}

QString rutaArchivoConfiguracionRespaldo() {
    return paths::programFolder() + QStringLiteral("config/v7.respaldo.dat");
}

QString lineaCron(const ProgramaRespaldo& programa, const QString& carpetaPrograma, const QString& registro,
                  QString* error) {
    auto fallar = [error](const QString& motivo) {
        if (error != nullptr) {
            *error = motivo;
        }
        return QString();
    };
    if (!programa.hora.isValid()) {
        return fallar(QStringLiteral("La hora del respaldo no es válida"));
    }
    QString diaMes = QStringLiteral("*");
    QString diaSemana = QStringLiteral("*");
    if (programa.frecuencia == FrecuenciaRespaldo::Mensual) {
        bool ok = false;
        const int dia = programa.dias.trimmed().toInt(&ok);
        if (!ok || dia < 1 || dia > 31) {
            return fallar(QStringLiteral("El día del mes no es válido: ") + programa.dias);
        }
        diaMes = QString::number(dia);
    } else {
        QStringList numeros;
        for (const QString& codigo : programa.dias.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const int n = numeroDia(codigo);
            if (n < 0) {
                return fallar(QStringLiteral("El día de la semana no es válido: ") + codigo);
            }
            numeros << QString::number(n);
        }
        if (numeros.isEmpty()) {
            return fallar(QStringLiteral("No se indicó ningún día de la semana"));
        }
        diaSemana = numeros.join(QLatin1Char(','));
    }
    const QString carpeta = paths::withSlash(carpetaPrograma);
    const QString ejecutable = carpeta + QStringLiteral("V7backup");
    for (const QString& valor : {carpeta, registro}) {
        if (!cabeEnLineaCron(valor)) {
            return fallar(QStringLiteral("El programador de tareas del sistema no admite la ruta ") + valor);
        }
    }
    const QString comando = QStringLiteral("V7_HOME=") + citarSh(carpeta) + QStringLiteral(" V7_REGISTRY=") +
                            citarSh(registro) + QLatin1Char(' ') + citarSh(ejecutable);
    return QString::number(programa.hora.minute()) + QLatin1Char(' ') + QString::number(programa.hora.hour()) +
           QLatin1Char(' ') + diaMes + QStringLiteral(" * ") + diaSemana + QStringLiteral(" root ") +
           escaparCron(comando);
}

QString AgregarTareaVista(const ProgramaRespaldo& programa) {
    // A task whose program is not there would fail every night while the window says it is scheduled.
    const QString ejecutable = programaRespaldoAutomatico();
    const QFileInfo info(ejecutable);
    if (!info.isFile() || !info.isExecutable()) {
        return QStringLiteral("No se encontró el programa de respaldo automático ") + ejecutable;
    }
    const QString registro = QFileInfo(keystore::KeyStore::defaultFile()).absoluteFilePath();
    QString error;
    const QString linea = lineaCron(programa, paths::programFolder(), registro, &error);
    if (linea.isEmpty()) {
        return error;
    }
    if (!QFileInfo(carpetaCron()).isDir()) {
        return QStringLiteral("No existe la carpeta del programador de tareas del sistema ") + carpetaCron();
    }
    // cron reads the file whole: the rename replaces the earlier task of this name in one step.
    return escribir(rutaTarea(), (linea + QLatin1Char('\n')).toUtf8(), 0644);
}

QString motivoCredencialesRespaldo() {
    const auto& s = sesion();
    if (!cabeEnWindows1252(s.UsuarioBD)) {
        return QStringLiteral("El nombre del usuario de la sesión tiene caracteres que el archivo de configuración "
                              "del respaldo automático no puede guardar, y el respaldo no podría conectarse con "
                              "él. Inicie sesión con un usuario cuyo nombre solo use letras, números y signos del "
                              "alfabeto latino, y programe el respaldo de nuevo.");
    }
    if (!cabeEnWindows1252(s.ClaveBD)) {
        // The character itself is not shown: it belongs to a password.
        return QStringLiteral("La contraseña del usuario de la sesión tiene caracteres que el archivo de "
                              "configuración del respaldo automático no puede guardar, y el respaldo no podría "
                              "conectarse con ella. Cambie la contraseña por una que solo use letras, números y "
                              "signos del alfabeto latino, inicie sesión de nuevo y programe el respaldo.");
    }
    return QString();
}

QString archivoDelRespaldo(const QString& ruta, const QString& fecha) {
    static const QString kZip = QStringLiteral(".zip");
    if (!ruta.endsWith(kZip, Qt::CaseInsensitive)) {
        return ruta;
    }
    const qsizetype punto = ruta.size() - kZip.size();
    return ruta.left(punto) + QLatin1Char('_') + fecha + ruta.mid(punto);
}

bool GrabarConfiguracionRespaldo(const QString& servidor, const QString& puerto, const QString& ruta) {
    // A line break in a value would shift every line after it.
    for (const QString& valor : {servidor, puerto, ruta}) {
        if (valor.contains(QLatin1Char('\n')) || valor.contains(QLatin1Char('\r'))) {
            return false;
        }
    }
    // A character the scrambler cannot hold would be stored as "?": V7backup would log in with another
    // password.
    if (!motivoCredencialesRespaldo().isEmpty() || !prepararCarpetaConfig().isEmpty()) {
        return false;
    }
    const auto& s = sesion();
    const QString texto = cifrarConClave(s.UsuarioBD, false) + err::kCrLf + cifrarConClave(s.ClaveBD, false) +
                          err::kCrLf + servidor + err::kCrLf + puerto + err::kCrLf + ruta + err::kCrLf;
    return escribir(rutaArchivoConfiguracionRespaldo(), texto.toUtf8(), 0600).isEmpty();
}

QString grabarDescripcionRespaldo(const QStringList& textos) {
    if (const QString e = prepararCarpetaConfig(); !e.isEmpty()) {
        return e;
    }
    QString texto;
    for (const QString& t : textos) {
        texto += t + err::kCrLf;
    }
    return escribir(rutaDescripcionRespaldo(), texto.toUtf8(), 0600);
}

std::optional<QStringList> leerDescripcionRespaldo() {
    // Only a regular file of a sensible size: a link, a FIFO or a device there is not the schedule's.
    const archivo::Lectura lectura = archivo::leerRegular(rutaDescripcionRespaldo(), kLimiteDescripcion);
    if (!lectura.ok()) {
        return std::nullopt;
    }
    QStringList lineas = QString::fromUtf8(lectura.datos).split(QLatin1Char('\n'));
    for (QString& l : lineas) {
        if (l.endsWith(QLatin1Char('\r'))) {
            l.chop(1);
        }
    }
    // The last line's end leaves one empty piece behind.
    if (!lineas.isEmpty() && lineas.last().isEmpty()) {
        lineas.removeLast();
    }
    return lineas;
}

ResultadoEliminacion eliminarProgramacion() {
    ResultadoEliminacion r;
    r.error = borrar(rutaTarea());
    if (!r.error.isEmpty()) {
        return r;
    }
    r.tareaEliminada = true;
    QStringList errores;
    for (const QString& ruta : {rutaDescripcionRespaldo(), rutaArchivoConfiguracionRespaldo()}) {
        if (const QString e = borrar(ruta); !e.isEmpty()) {
            errores << e;
        }
    }
    // Only an empty folder goes: anything else in it is not the schedule's.
    QDir().rmdir(paths::programFolder() + QStringLiteral("config"));
    r.error = errores.join(err::kCrLf);
    return r;
}

QString probarConexionRespaldo(const QString& servidor, int puerto) {
    const auto& s = sesion();
    auto cadena = [&](const QString& driver) {
        return cadenaConexionOdbc(driver, servidor, puerto, s.UsuarioBD, db::braceValue(s.ClaveBD));
    };
    auto abrir = [](const QString& c, db::DbError& e) {
        db::Connection con;
        con.setConnectionString(c);
        con.setTimeoutSeconds(kEsperaConexionSegundos);
        const bool ok = con.open(e);
        con.close();
        return ok;
    };
    const QString principal = cadena(kDriverPrincipal);
    // The first driver name may not be registered; V7backup tries the other as well.
    const QString alterna = cadena(kDriverAlterno);
    // The server may take its time to answer: the windows keep running meanwhile.
    QString resultado;
    events::esperarEnHilo([&] {
        db::DbError e;
        if (abrir(principal, e)) {
            return;
        }
        // IM…: the driver manager found no driver of that name.
        if (e.sqlState.startsWith(QStringLiteral("IM"))) {
            e = db::DbError{};
            if (abrir(alterna, e)) {
                return;
            }
        }
        resultado = e.description.isEmpty() ? QStringLiteral("Sin conexión") : e.description;
    });
    return resultado;
}

} // namespace v7
