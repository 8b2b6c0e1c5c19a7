#include "core/scripts.h"

#include "core/errores.h"
#include "core/session.h"
#include "platform/notify.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <string>
#include <unistd.h>

namespace v7 {

namespace {

const QString kLineaClave = QStringLiteral("export PGPASSWORD=");

// Password scripts written and not yet run: removed at a normal exit if nobody ran them.
std::mutex g_pendientesMutex;
std::set<std::string> g_pendientes;

void borrarPendientes() {
    std::lock_guard<std::mutex> lock(g_pendientesMutex);
    for (const std::string& p : g_pendientes) {
        ::unlink(p.c_str());
    }
    g_pendientes.clear();
}

void registrarPendiente(const QString& ruta) {
    static const bool registrado = [] { return std::atexit(borrarPendientes) == 0; }();
    (void)registrado;
    // Also when a signal or the time limit ends the program.
    static const process::Limpieza alTerminar(borrarPendientes);
    std::lock_guard<std::mutex> lock(g_pendientesMutex);
    g_pendientes.insert(QFile::encodeName(QFileInfo(ruta).absoluteFilePath()).toStdString());
}

// Forgets the script as pending; true when it was a pending password script.
bool olvidarPendiente(const QString& ruta) {
    std::lock_guard<std::mutex> lock(g_pendientesMutex);
    return g_pendientes.erase(QFile::encodeName(QFileInfo(ruta).absoluteFilePath()).toStdString()) > 0;
}

bool contieneClave(const QString& ruta) {
    QFile f(ruta);
    if (!f.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray marca = kLineaClave.toUtf8();
    while (!f.atEnd()) {
        if (f.readLine().trimmed().startsWith(marca)) {
            return true;
        }
    }
    return false;
}

QString lineaPath(const QString& carpetaBin) {
    return QStringLiteral("export PATH=") + citarSh(carpetaBin) + QStringLiteral(":\"$PATH\"");
}

// The lines of a caller's command text, with the Windows-style "set" and PATH lines translated.
QStringList lineasComando(const QString& comando) {
    static const QRegularExpression separador(QStringLiteral("\r\n|\n"));
    static const QRegularExpression set(QStringLiteral("^\\s*set\\s+([A-Za-z_][A-Za-z0-9_]*)=(.*)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression path(QStringLiteral("^\\s*PATH=%PATH%;(.*)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    QStringList lineas;
    for (QString linea : comando.split(separador)) {
        if (linea.endsWith(QLatin1Char('\r'))) {
            linea.chop(1);
        }
        if (const auto m = path.match(linea); m.hasMatch()) {
            lineas << lineaPath(m.captured(1));
        } else if (const auto m2 = set.match(linea); m2.hasMatch()) {
            lineas << exportarSh(m2.captured(1), m2.captured(2));
        } else {
            lineas << linea;
        }
    }
    return lineas;
}

ErrorSistema errorCarpetaOArchivo(int err) {
    // Creating a file: a missing component is a missing path, not a missing file.
    return errorSistema(err == ENOENT ? ENOTDIR : err);
}

// Whether a script line is one plain command that sh can replace itself with: no pipe, list,
// background job, compound command, assignment prefix or shell builtin whose meaning exec would change.
bool esComandoSimple(const QString& linea) {
    const QString t = linea.trimmed();
    if (t.isEmpty() || t.startsWith(QLatin1Char('#'))) {
        return false;
    }
    static const QStringList propias = {
        QStringLiteral("cd"),    QStringLiteral("export"), QStringLiteral("set"),    QStringLiteral("unset"),
        QStringLiteral("exit"),  QStringLiteral("exec"),   QStringLiteral("echo"),   QStringLiteral("printf"),
        QStringLiteral("if"),    QStringLiteral("then"),   QStringLiteral("else"),   QStringLiteral("elif"),
        QStringLiteral("fi"),    QStringLiteral("for"),    QStringLiteral("while"),  QStringLiteral("until"),
        QStringLiteral("do"),    QStringLiteral("done"),   QStringLiteral("case"),   QStringLiteral("esac"),
        QStringLiteral("["),     QStringLiteral("test"),   QStringLiteral("true"),   QStringLiteral("false"),
        QStringLiteral(":"),     QStringLiteral("."),      QStringLiteral("source"), QStringLiteral("read"),
        QStringLiteral("wait"),  QStringLiteral("trap"),   QStringLiteral("return"), QStringLiteral("shift"),
        QStringLiteral("eval"),  QStringLiteral("{"),      QStringLiteral("}"),      QStringLiteral("!"),
        QStringLiteral("local"), QStringLiteral("umask"),  QStringLiteral("ulimit"), QStringLiteral("sleep"),
    };
    const QString primera = t.section(QLatin1Char(' '), 0, 0);
    if (propias.contains(primera) || primera.contains(QLatin1Char('=')) || primera.startsWith(QLatin1Char('('))) {
        return false;
    }
    QChar comilla;
    for (int i = 0; i < t.size(); ++i) {
        const QChar c = t.at(i);
        if (!comilla.isNull()) {
            if (c == comilla) {
                comilla = QChar();
            } else if (c == QLatin1Char('\\') && comilla == QLatin1Char('"')) {
                ++i;
            }
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            comilla = c;
        } else if (c == QLatin1Char('\\')) {
            ++i;
        } else if (c == QLatin1Char('|') || c == QLatin1Char(';') || c == QLatin1Char('`')) {
            return false;
        } else if (c == QLatin1Char('&')) {
            const bool redireccion = (i > 0 && (t.at(i - 1) == QLatin1Char('>') || t.at(i - 1) == QLatin1Char('<')));
            if (!redireccion) {
                return false;
            }
        }
    }
    return comilla.isNull();
}

// The last command of a script runs through exec, so that the tool itself is the child that the runner
// waits for and that dies with this program (sh would otherwise leave its tool running on its own).
QStringList conExecFinal(QStringList lineas) {
    for (int i = lineas.size() - 1; i >= 0; --i) {
        if (lineas.at(i).trimmed().isEmpty()) {
            continue;
        }
        if (esComandoSimple(lineas.at(i))) {
            lineas[i] = QStringLiteral("exec ") + lineas.at(i).trimmed();
        }
        break;
    }
    return lineas;
}

// Writes the script anew (mode 0600, LF ends). On failure nothing is left at the path.
ErrorSistema escribirScript(const QString& ruta, const QStringList& lineasDadas) {
    const QStringList lineas = conExecFinal(lineasDadas);
    QByteArray contenido;
    for (const QString& l : lineas) {
        contenido += l.toUtf8();
        contenido += '\n';
    }
    const QByteArray nativo = QFile::encodeName(ruta);
    // Removed first, so the new file gets our mode whatever the old one had and no link is followed.
    if (::unlink(nativo.constData()) != 0 && errno != ENOENT) {
        return errorCarpetaOArchivo(errno);
    }
    olvidarPendiente(ruta); // whatever was there is gone
    const int fd = ::open(nativo.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errorCarpetaOArchivo(errno);
    }
    const char* p = contenido.constData();
    qsizetype resto = contenido.size();
    int err = 0;
    while (resto > 0) {
        const ssize_t n = ::write(fd, p, size_t(resto));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            err = errno;
            break;
        }
        p += n;
        resto -= n;
    }
    if (::close(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err != 0) {
        ::unlink(nativo.constData());
        return errorSistema(err);
    }
    if (contenido.contains(kLineaClave.toUtf8())) {
        registrarPendiente(ruta);
    }
    return ErrorSistema{};
}

} // namespace

QString citarSh(const QString& value) {
    return process::shellQuote(value);
}

QString exportarSh(const QString& name, const QString& value) {
    return QStringLiteral("export ") + name + QLatin1Char('=') + citarSh(value);
}

ErrorSistema errorSistema(int errnoValue) {
    // The numbers, and their texts, the system's boxes have always named.
    auto numerado = [](int n) { return ErrorSistema{n, err::descripcion(n)}; };
    switch (errnoValue) {
    case 0:
        return ErrorSistema{};
    case ENOENT:
        return numerado(err::kArchivoNoEncontrado);
    case ENOTDIR:
        return numerado(err::kRutaNoEncontrada);
    case EACCES:
    case EPERM:
        return numerado(err::kPermisoDenegado);
    case ENOSPC:
    case EDQUOT:
        return numerado(err::kDiscoLleno);
    case EROFS:
    case EISDIR:
    case EBUSY:
    case ETXTBSY:
    case ELOOP: // a link where a file was to be created
        return numerado(err::kErrorAccesoRuta);
    default:
        return {1000 + errnoValue, QString::fromLocal8Bit(std::strerror(errnoValue))};
    }
}

QString CrearArchivoBat(const QString& rutaScript, const QString& comando, const QString& clave) {
    QStringList lineas;
    if (!clave.isEmpty()) {
        lineas << exportarSh(QStringLiteral("PGPASSWORD"), clave);
    }
    lineas << lineaPath(paths::withSlash(sesion().RutaPostgres) + QStringLiteral("bin"));
    lineas << lineasComando(comando);
    const ErrorSistema e = escribirScript(rutaScript, lineas);
    if (e.hayError()) {
        return err::ocurrio(err::kOcurrioErrorNoMin, e.numero, {e.descripcion, rutaScript});
    }
    return QStringLiteral("OK");
}

ErrorSistema CrearBatDirectorio(const QString& rutaScript, const QString& primeraLinea, const QString& carpeta,
                                const QString& comando, const QString& clave) {
    static const QRegularExpression unidad(QStringLiteral("^\\s*[A-Za-z]:\\s*$"));
    QStringList lineas;
    if (!primeraLinea.trimmed().isEmpty() && !unidad.match(primeraLinea).hasMatch()) {
        lineas << lineasComando(primeraLinea);
    }
    lineas << QStringLiteral("cd ") + citarSh(carpeta);
    lineas << exportarSh(QStringLiteral("PGPASSWORD"), clave);
    lineas << lineasComando(comando);
    return escribirScript(rutaScript, lineas);
}

void CrearBatRuta(const QString& rutaScript, const QString& carpetaBin, const QString& comando, const QString& clave) {
    QStringList lineas;
    lineas << lineaPath(carpetaBin);
    lineas << exportarSh(QStringLiteral("PGPASSWORD"), clave);
    lineas << lineasComando(comando);
    const ErrorSistema e = escribirScript(rutaScript, lineas);
    if (e.hayError()) {
        avisar(MsgIcon::None, QString::number(e.numero) + QStringLiteral(", ") + e.descripcion, MsgButtons::Ok);
    }
}

ResultadoScript ejecutarScript(const QString& rutaOComando, const QMap<QString, QString>& entorno,
                               const std::optional<QByteArray>& entrada) {
    const QFileInfo fi(rutaOComando);
    const bool esScript = !rutaOComando.isEmpty() && fi.isFile();
    const bool conClave = esScript && (olvidarPendiente(rutaOComando) || contieneClave(rutaOComando));

    process::Command cmd =
        esScript ? process::Command::shellScript(fi.absoluteFilePath()) : process::Command::shellLine(rutaOComando);
    cmd.environment = entorno;
    cmd.entrada = entrada;
    const process::Result r = process::run(cmd);
    if (conClave) {
        QFile::remove(fi.absoluteFilePath());
    }

    ResultadoScript res;
    res.iniciado = r.started;
    res.estado = r.status();
    if (!r.started) {
        res.error = errorSistema(r.startErrno);
    }
    return res;
}

QMap<QString, QString> entornoClave(const QString& clave) {
    QMap<QString, QString> entorno;
    if (!clave.isEmpty()) {
        entorno.insert(QStringLiteral("PGPASSWORD"), clave);
    }
    return entorno;
}

QString EjecutarArchivoBat(const QString& rutaOComando, int* estado, const QMap<QString, QString>& entorno) {
    const ResultadoScript r = ejecutarScript(rutaOComando, entorno);
    if (estado != nullptr) {
        *estado = r.estado;
    }
    if (!r.iniciado) {
        return QString::number(r.error.numero) + QLatin1Char(' ') + r.error.descripcion;
    }
    return QString();
}

bool EjecutarShellEspera(const QString& comando, bool mostrarVentana, int* estado) {
    (void)mostrarVentana;
    const ResultadoScript r = ejecutarScript(comando);
    if (estado != nullptr) {
        *estado = r.estado;
    }
    return r.iniciado;
}

} // namespace v7
