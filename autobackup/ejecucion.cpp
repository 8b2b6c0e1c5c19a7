#include "autobackup/ejecucion.h"

#include "autobackup/configuracion.h"
#include "autobackup/respaldador.h"
#include "autobackup/soporte.h"
#include "core/archivos.h"
#include "core/config.h"
#include "core/errores.h"
#include "core/instalacion.h"
#include "core/login.h"
#include "core/marca_restauracion.h"
#include "core/scripts.h"
#include "core/session.h"
#include "core/sqlutil.h"
#include "core/versiones.h"
#include "platform/keystore.h"
#include "platform/paths.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <mutex>
#include <thread>

namespace v7::autobackup {

namespace {

const QString kClaveVersion = QStringLiteral("VER_V7BACKUP");
const QString kClaveResultado = QStringLiteral("RESPALDOOK");
// Long enough for a busy server, short enough that an unreachable address does not hold the run.
constexpr int kEsperaConexionSegundos = 30;
// The end of an interrupted run waits this long at most for the server (login, then each statement).
constexpr int kEsperaFinalSegundos = 10;
// The outcome is written for this long at most while the server does not answer (it may be restarting),
// one try every kPausaReintentoMs, each connection attempt waiting kEsperaReintentoSegundos at most.
constexpr qint64 kEsperaResultadoMs = 30000;
constexpr int kPausaReintentoMs = 2000;
constexpr int kEsperaReintentoSegundos = 5;

// What the end of an interrupted run needs of the run (it runs on another thread): the connection string
// once connected, and the dated archive once known.
std::mutex g_estadoMutex;
QString g_cadenaConectada;
QString g_archivo;

void registrarCadena(const QString& cadena) {
    std::lock_guard<std::mutex> lock(g_estadoMutex);
    g_cadenaConectada = cadena;
}

QString cadenaConectada() {
    std::lock_guard<std::mutex> lock(g_estadoMutex);
    return g_cadenaConectada;
}

void registrarArchivo(const QString& archivo) {
    std::lock_guard<std::mutex> lock(g_estadoMutex);
    g_archivo = archivo;
}

QString archivoRegistrado() {
    std::lock_guard<std::mutex> lock(g_estadoMutex);
    return g_archivo;
}

const QString kLineaSinInformacion = QStringLiteral(
    " - El archivo de configuración (v7.respaldo.dat) no contiene información o su contenido fue alterado. "
    "Configure nuevamente el respaldo automático.");

// A raised error: the step that raised it, and the error.
struct ErrorRun {
    int linea = 0;
    Falla falla;
};

QString lineaError(const ErrorRun& e) {
    return QStringLiteral(" Línea ") + QString::number(e.linea) + QStringLiteral(" - ") +
           err::ocurrio(err::kOcurrioErrorNoMixto, e.falla.numero) + QStringLiteral(". Causa: ") + e.falla.descripcion;
}

// Opens the shared connection with one connection string; false with the driver's error.
bool abrir(const QString& cadena, db::DbError& e, int esperaSegundos = kEsperaConexionSegundos) {
    auto& s = sesion();
    s.ConexionPrincipal = std::make_shared<db::Connection>();
    s.ConexionPrincipal->setConnectionString(cadena);
    s.ConexionPrincipal->setTimeoutSeconds(esperaSegundos);
    if (s.ConexionPrincipal->open(e)) {
        return true;
    }
    s.ConexionPrincipal.reset();
    return false;
}

bool conectada() {
    const auto& c = sesion().ConexionPrincipal;
    return c && c->isOpen();
}

// The run's state between its steps.
class Ejecucion {
public:
    explicit Ejecucion(Bitacora& b) : m_log(b) {}
    ResultadoEjecucion correr();

private:
    // Each returns the outcome when the run ends there; nullopt to go on.
    std::optional<Desenlace> leerConfiguracion();
    std::optional<Desenlace> restauracionPendiente();
    std::optional<Desenlace> conectar();
    void marcarInicio();
    std::optional<Desenlace> validarVersion();
    Desenlace respaldar();
    bool escribirResultado(const QString& valor, QString& error);
    void cerrar();

    Desenlace fallar(int linea, const Falla& f) {
        m_log.escribir(lineaError(ErrorRun{linea, f}));
        return Desenlace::Error;
    }

    Bitacora& m_log;
    ResultadoEjecucion m_resultado;
    ConfiguracionRespaldo m_campos;
    bool m_seConecto = false;
};

std::optional<Desenlace> Ejecucion::leerConfiguracion() {
    const QString ruta = rutaConfiguracionRespaldo();
    const LecturaConfiguracion lectura = leerConfiguracionRespaldo(ruta);
    if (lectura.estado == EstadoLectura::NoExiste) {
        m_log.escribir(QStringLiteral(
            " - No se realizó el respaldo. No se encontró el archivo de configuración (v7.respaldo.dat)."));
        fallar(4, lectura.falla);
        return Desenlace::SinConfiguracion;
    }
    if (lectura.estado == EstadoLectura::Error) {
        // A folder, a FIFO or an unreadable file: a settings problem, told at once.
        fallar(4, lectura.falla);
        return Desenlace::SinConfiguracion;
    }

    Falla f;
    const QString almacen = keystore::KeyStore::defaultFile();
    const bool sinAlmacen = !QFileInfo::exists(almacen);
    const auto instalaciones = instalacionesRegistradas(f);
    if (!instalaciones) {
        return fallar(6, f);
    }
    if (lectura.estado == EstadoLectura::Vacia || lectura.estado == EstadoLectura::Alterada) {
        m_log.escribir(kLineaSinInformacion);
        return lectura.estado == EstadoLectura::Vacia ? Desenlace::ConfiguracionVacia
                                                      : Desenlace::ConfiguracionAlterada;
    }
    m_campos = lectura.campos;

    const auto puerto = puertoConfigurado(m_campos.puerto, f);
    if (!puerto) {
        if (f.numero == err::kTiposNoCoinciden) {
            // Not a number at all: the file was not written by the schedule window.
            m_log.escribir(kLineaSinInformacion);
            return Desenlace::ConfiguracionAlterada;
        }
        return fallar(9, f);
    }
    auto& s = sesion();
    s.RutaPostgres = rutaPostgresPara(*instalaciones, *puerto);
    if (sinAlmacen) {
        m_log.escribir(QStringLiteral(" - No se encontró el almacén de claves del registro ") + almacen +
                       QStringLiteral(" (variable V7_REGISTRY): no se conoce la instalación de PostgreSQL; se usa ") +
                       s.RutaPostgres);
    }
    s.ServidorIP = m_campos.servidor;
    s.PuertoBD = *puerto;
    s.UsuarioBD = m_campos.usuario;
    s.ClaveBD = m_campos.clave;
    return std::nullopt;
}

// Both marks of a restore, read once connected: the server's stands for every installation of the kit (this
// program folder or another), the file mark for this folder.
std::optional<Desenlace> Ejecucion::restauracionPendiente() {
    const EstadoRestauracion estado = v7::restauracionPendiente(*sesion().ConexionPrincipal);
    if (!estado.pendiente && estado.errorServidor.isEmpty()) {
        return std::nullopt;
    }
    // A restore that did not finish left a database that may be partial: an archive of it would replace
    // the day's good one, perhaps the very archive being restored. A mark that cannot be read counts too.
    m_log.escribir(QStringLiteral(" - No se realizó el respaldo. ") +
                   (estado.pendiente
                        ? textoRestauracionPendiente(*estado.pendiente)
                        : QStringLiteral("No se pudo comprobar en el servidor si quedó sin terminar una restauración "
                                         "de la base de datos: ") +
                              estado.errorServidor.trimmed() + QLatin1Char('.')) +
                   QStringLiteral(" No se respalda una base de datos que puede estar incompleta: ejecute nuevamente "
                                  "la restauración desde las Herramientas Administrativas."));
    return Desenlace::RestauracionPendiente;
}

std::optional<Desenlace> Ejecucion::conectar() {
    auto& s = sesion();
    // This program tries the drivers in the login's opposite order: "PostgreSQL Unicode" first.
    QString cadena = cadenaConexion(v7::kDriverAlterno, s.ServidorIP, s.PuertoBD, s.UsuarioBD, s.ClaveBD);
    db::DbError e;
    if (!abrir(cadena, e)) {
        if (!e.description.contains(QLatin1String("ODBC"))) {
            return fallar(12, Falla{e.number, e.description});
        }
        cadena = cadenaConexion(v7::kDriverPrincipal, s.ServidorIP, s.PuertoBD, s.UsuarioBD, s.ClaveBD);
        e = db::DbError{};
        if (!abrir(cadena, e)) {
            return fallar(13, Falla{e.number, e.description});
        }
    }
    // Every reconnection of the run opens what the run opened.
    s.CadenaConexion = cadena;
    registrarCadena(cadena);
    m_seConecto = true;
    return std::nullopt;
}

// From here until the run writes its outcome RESPALDOOK reads false: a run killed outright leaves that
// trace for the login and the next run.
void Ejecucion::marcarInicio() {
    QString error;
    if (!autobackup::GuardarConfiguracion(booleanoATexto(false), kClaveResultado, &error)) {
        m_log.escribir(QStringLiteral(" - No se pudo registrar RESPALDOOK = ") + booleanoATexto(false) +
                       QStringLiteral(" al iniciar la ejecución: ") + error);
    }
}

std::optional<Desenlace> Ejecucion::validarVersion() {
    QString version = kVersionRespaldo;
    QString motivo;
    const QString formateada = FormatearVersion(version, motivo);
    QString guardada;
    if (!formateada.isEmpty() && autobackup::ValidarVersionModulo(kClaveVersion, formateada, motivo, guardada)) {
        return std::nullopt;
    }
    if (!guardada.isEmpty()) {
        m_log.escribir(
            QStringLiteral(" - Se ha detectado que su Módulo de Respaldo Automático no cuenta con la versión "
                           "de actualización más reciente.") +
            err::kCrLf + QStringLiteral("La última versión disponible es ") + guardada);
    } else {
        m_log.escribir(QStringLiteral(" - Se ha detectado que su Módulo de Respaldo Automático no coincide con la "
                                      "versión de actualización más reciente.") +
                       err::kCrLf + QStringLiteral("Deberá actualizar su VELIRO7 para poder continuar"));
    }
    return Desenlace::VersionRechazada;
}

Desenlace Ejecucion::respaldar() {
    if (m_campos.incompleta()) {
        m_log.escribir(QStringLiteral(" - El archivo de configuración de respaldo ha sido alterado. Configure ") +
                       QStringLiteral("nuevamente el respaldo automático."));
        return Desenlace::ConfiguracionAlterada;
    }
    m_resultado.archivo = rutaFechada(m_campos.ruta, QDate::currentDate());
    registrarArchivo(m_resultado.archivo);
    // The archive says the backup that wrote it succeeded; the live row stays false until this run ends.
    const QVector<ValorEnArchivo> valores{{kClaveResultado, booleanoATexto(true), booleanoATexto(false)}};
    QStringList restos;
    QStringList dejados;
    const QString resultado = autobackup::Respaldar(m_resultado.archivo, valores, &restos, &dejados);
    if (!restos.isEmpty()) {
        m_log.escribir(QStringLiteral(" - Se eliminaron los restos de una ejecución anterior que no terminó: ") +
                       restos.join(QStringLiteral(", ")));
    }
    if (!dejados.isEmpty()) {
        m_log.escribir(QStringLiteral(" - Se dejaron en las carpetas temporales de respaldos anteriores los archivos "
                                      "que no son del respaldo: ") +
                       dejados.join(QStringLiteral(", ")));
    }
    if (resultado == QLatin1String("OK")) {
        m_log.escribir(QStringLiteral(" - El respaldo se llevo a cabo correctamente en la siguiente ubicación ") +
                       m_resultado.archivo);
        return Desenlace::Respaldado;
    }
    m_log.escribir(QStringLiteral(" - No se realizó el respaldo. ") + resultado);
    return Desenlace::RespaldoFallido;
}

// Writes RESPALDOOK on the run's connection; while the server does not answer (it may be restarting) the
// connection is opened again and the write tried again, for kEsperaResultadoMs at most.
bool Ejecucion::escribirResultado(const QString& valor, QString& error) {
    auto& s = sesion();
    QElapsedTimer reloj;
    reloj.start();
    for (;;) {
        if (!conectada()) {
            db::DbError e;
            if (!abrir(s.CadenaConexion, e, kEsperaReintentoSegundos)) {
                error = e.description;
            }
        }
        if (conectada()) {
            if (s.ConexionPrincipal->inTransaction()) {
                db::DbError e;
                (void)s.ConexionPrincipal->rollback(e);
            }
            if (autobackup::GuardarConfiguracion(valor, kClaveResultado, &error)) {
                return true;
            }
            // A connection the server dropped is opened anew on the next try.
            s.ConexionPrincipal->close();
            s.ConexionPrincipal.reset();
        }
        if (reloj.elapsed() + kPausaReintentoMs > kEsperaResultadoMs) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPausaReintentoMs));
    }
}

// Records the outcome (outside any transaction, so nothing can discard it) and closes the connection.
void Ejecucion::cerrar() {
    const bool ok = m_resultado.desenlace == Desenlace::Respaldado;
    const QString valor = booleanoATexto(ok);
    if (!m_seConecto) {
        m_log.escribir(QStringLiteral(" - No se registró RESPALDOOK = ") + valor +
                       QStringLiteral(": la ejecución terminó antes de conectarse con el servidor."));
        return;
    }
    QString error;
    m_resultado.respaldoOkRegistrado = escribirResultado(valor, error);
    if (!m_resultado.respaldoOkRegistrado) {
        m_log.escribir(QStringLiteral(" - No se pudo registrar RESPALDOOK = ") + valor + QStringLiteral(": ") + error);
    }
    auto& s = sesion();
    if (s.ConexionPrincipal) {
        s.ConexionPrincipal->close();
        s.ConexionPrincipal.reset();
    }
}

ResultadoEjecucion Ejecucion::correr() {
    reiniciarSesion(); // nothing of an earlier run in this process: its connection string least of all
    std::optional<Desenlace> fin = leerConfiguracion();
    if (!fin) {
        fin = conectar();
    }
    if (!fin) {
        fin = restauracionPendiente();
    }
    if (!fin) {
        marcarInicio();
        fin = validarVersion();
    }
    m_resultado.desenlace = fin ? *fin : respaldar();
    cerrar();
    return m_resultado;
}

} // namespace

std::optional<InstalacionesRegistradas> instalacionesRegistradas(Falla& falla) {
    const QString pg = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\");
    struct Sonda {
        QString carpeta, puerto;
    };
    const Sonda sondas[] = {
        {QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\PostgreSQL\\Installations\\"
                        "{1F701DBD-1660-4108-B10A-FB435EA63BF0}\\Base Directory"),
         pg + QStringLiteral("Services\\pgsql-8.2\\Port")},
        {pg + QStringLiteral("Installations\\postgresql-8.3\\Base Directory"),
         pg + QStringLiteral("Services\\postgresql-8.3\\Port")},
        {pg + QStringLiteral("Installations\\postgresql-8.4\\Base Directory"),
         pg + QStringLiteral("Services\\postgresql-8.4\\Port")},
        {pg + QStringLiteral("Installations\\postgresql-9.0\\Base Directory"),
         pg + QStringLiteral("Services\\postgresql-9.0\\Port")},
        {QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals\\RutaPg"),
         QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals\\PuertoPg")},
    };
    InstalacionesRegistradas r;
    QString carpeta;
    for (const Sonda& s : sondas) {
        carpeta = autobackup::LeerRegistro(s.carpeta);
        if (carpeta.isEmpty()) {
            continue;
        }
        const QString texto = autobackup::LeerRegistro(s.puerto);
        const auto puerto = puertoRegistrado(texto);
        if (!puerto) {
            falla = Falla{kErrorTipos, QStringLiteral("No coinciden los tipos: el puerto registrado '") + texto +
                                           QStringLiteral("' (") + s.puerto + QStringLiteral(") no es un número")};
            return std::nullopt;
        }
        r.candidatos.append({carpeta, *puerto});
    }
    r.rutaPg = carpeta; // the last value read is the RutaPg one
    return r;
}

QString rutaPostgresPara(const InstalacionesRegistradas& instalaciones, int puerto) {
    QString ruta =
        instalaciones.rutaPg.isEmpty() ? paths::programFolder() + QStringLiteral("SGBDR") : instalaciones.rutaPg;
    for (const InstalacionPg& i : instalaciones.candidatos) {
        if (i.puerto == double(puerto)) {
            ruta = i.carpeta;
            break;
        }
    }
    return paths::withSlash(ruta);
}

QString rutaFechada(const QString& ruta, const QDate& fecha) {
    static const QString kZip = QStringLiteral(".zip");
    if (!ruta.endsWith(kZip, Qt::CaseInsensitive)) {
        return ruta;
    }
    const qsizetype punto = ruta.size() - kZip.size();
    return ruta.left(punto) + QLatin1Char('_') + fecha.toString(QStringLiteral("yyyyMMdd")) + ruta.mid(punto);
}

QString cadenaConexion(const QString& driver, const QString& servidor, int puerto, const QString& usuario,
                       const QString& clave) {
    return cadenaConexionOdbc(driver, servidor, puerto, usuario, db::braceValue(clave));
}

qint64 limiteEjecucion(QString* aviso) {
    const QString texto = qEnvironmentVariable(kVariableLimite.toLatin1().constData()).trimmed();
    if (texto.isEmpty()) {
        return kLimitePorDefecto;
    }
    bool ok = false;
    const qint64 segundos = texto.toLongLong(&ok);
    if (ok && segundos > 0 && segundos <= qint64(365) * 24 * 3600) {
        return segundos;
    }
    if (aviso != nullptr) {
        *aviso = QStringLiteral(" - ") + kVariableLimite + QStringLiteral(" no es un número válido de segundos (") +
                 texto.left(40) + QStringLiteral("); se usa el límite de ") + QString::number(kLimitePorDefecto) +
                 QStringLiteral(" segundos.");
    }
    return kLimitePorDefecto;
}

Desenlace terminarEjecucion(Bitacora& bitacora, const process::Fin& fin, qint64 limiteSegundos) {
    QString motivo;
    if (fin.porLimite()) {
        motivo = QStringLiteral("Se agotó el tiempo límite de la ejecución (") + QString::number(limiteSegundos) +
                 QStringLiteral(" segundos; variable ") + kVariableLimite + QLatin1Char(')');
    } else {
        const char* nombre = sigabbrev_np(fin.senal);
        motivo = QStringLiteral("La ejecución fue interrumpida por la señal SIG") +
                 QString::fromLatin1(nombre != nullptr ? nombre : "?");
    }
    // The end may come after the tested archive took its final name: then the backup was made.
    const QString archivo = archivoRegistrado();
    const bool colocado = !archivo.isEmpty() && respaldoColocado(archivo);
    if (colocado) {
        bitacora.escribir(QStringLiteral(" - ") + motivo +
                          QStringLiteral(" después de que el respaldo quedó completo y verificado en ") + archivo +
                          QStringLiteral("; el archivo se conserva."));
    } else {
        bitacora.escribir(QStringLiteral(" - No se realizó el respaldo. ") + motivo +
                          QStringLiteral("; se detuvieron sus procesos y se borraron sus archivos temporales."));
    }
    const QString cadena = cadenaConectada();
    if (!cadena.isEmpty()) {
        // Its own connection: the run's may be the one that is blocked.
        const auto c = std::make_shared<db::Connection>();
        c->setConnectionString(cadena);
        c->setTimeoutSeconds(kEsperaFinalSegundos);
        db::DbError e;
        QString error;
        bool escrito = c->open(e);
        if (escrito) {
            qint64 n = 0;
            (void)c->execute(QStringLiteral("SET statement_timeout = ") + QString::number(kEsperaFinalSegundos * 1000),
                             n, e);
            escrito = guardarValorConfiguracion(c, booleanoATexto(colocado), kClaveResultado, &error);
            c->close();
        } else {
            error = e.description;
        }
        if (!escrito) {
            bitacora.escribir(QStringLiteral(" - No se pudo registrar RESPALDOOK = ") + booleanoATexto(colocado) +
                              QStringLiteral(": ") + error);
        }
    }
    return fin.porLimite() ? Desenlace::TiempoAgotado : Desenlace::Interrumpido;
}

ResultadoEjecucion ejecutarRespaldoAutomatico(Bitacora& bitacora) {
    const AvisosEnBitacora avisos(bitacora);
    return Ejecucion(bitacora).correr();
}

} // namespace v7::autobackup
