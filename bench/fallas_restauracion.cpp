// Fault injection for the restore: restores of one archive ended at random moments (SIGTERM as a logout
// sends, SIGKILL, the server stopped, the load's pg_restore killed), each followed by a clean run, on a
// throwaway cluster holding a generated database. Prints one line per attempt and a summary.
//
//     fallas_restauracion [size in MB, default 60] [attempts, default 12]
//
// Each restore runs in a child process (this program with --hijo), as V7Tools would run it. After a fault
// it checks: the child's end, the restore's mark, whether any tool of that run still runs 2 s later, and
// that a database without a mark is whole; then a clean run must complete, clear the mark and give every
// row back. The whole run is bounded (attempts and 30 minutes).
#include "bench/banco.h"
#include "core/login.h"
#include "core/marca_restauracion.h"
#include "core/session.h"
#include "core/sql.h"
#include "maintenance/restauracion.h"

#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <csignal>

using namespace banco;

namespace {

const QString kZona = QStringLiteral("America/Mexico_City");

// The restore in the child: the session from the environment, ended by the parent when it likes.
int hijo(const QString& archivo) {
    auto& s = v7::sesion();
    s.UsuarioBD = s.UsuarioConexion = qEnvironmentVariable("V7_FALLAS_USUARIO");
    s.ClaveBD = s.ClaveConexion = qEnvironmentVariable("V7_FALLAS_CLAVE");
    s.ServidorIP = s.ServidorConexion = qEnvironmentVariable("V7_FALLAS_SERVIDOR");
    s.PuertoBD = qEnvironmentVariable("V7_FALLAS_PUERTO").toInt();
    s.PuertoConexion = QString::number(s.PuertoBD);
    s.RutaPostgres = qEnvironmentVariable("V7_FALLAS_RUTAPG");
    s.RutaTemporal = v7::paths::workFolder();
    s.CadenaConexion = v7::cadenaConexionPrincipal(s.ServidorIP, s.PuertoBD, s.UsuarioBD, s.ClaveBD);
    QString error;
    if (!v7::ConexionServer(s.CadenaConexion, error)) {
        std::printf("RESULTADO sin-conexion\n");
        return 3;
    }
    v7::process::terminarConLimpieza();
    v7::InterfazRestauracion ui;
    ui.aviso = [](const v7::Fallo& f) { std::printf("AVISO %s\n", qPrintable(f.texto.section('\n', 0, 0))); };
    ui.terminarSesiones = [](const QString&) { return true; };
    ui.elegirZona = [] { return kZona; };
    const v7::ResultadoRestauracion r = v7::restaurarRespaldo(archivo, ui);
    std::printf("RESULTADO %s\nTEXTO %s\n", r.ok ? "ok" : (r.rechazado ? "rechazado" : "fallo"),
                qPrintable(r.mensaje.texto.section('\n', 0, 0).trimmed()));
    std::fflush(stdout);
    return r.ok ? 0 : 1;
}

// The pids of the tools whose command line names the work folder (and, given, one more argument).
QVector<qint64> herramientasSobre(const QString& carpeta, const char* con = nullptr) {
    QVector<qint64> pids;
    const QByteArray prefijo = QFile::encodeName(carpeta);
    for (const QString& p : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const qint64 pid = p.toLongLong(&ok);
        QFile f(QStringLiteral("/proc/") + p + QStringLiteral("/cmdline"));
        QFile estado(QStringLiteral("/proc/") + p + QStringLiteral("/stat"));
        if (!ok || !f.open(QIODevice::ReadOnly) ||
            (estado.open(QIODevice::ReadOnly) && estado.readAll().contains(") Z "))) {
            continue;
        }
        const QList<QByteArray> args = f.readAll().split('\0');
        const bool sobre =
            std::any_of(args.begin(), args.end(), [&](const QByteArray& a) { return a.startsWith(prefijo); });
        if (sobre && (con == nullptr || args.contains(QByteArray(con)))) {
            pids << pid;
        }
    }
    return pids;
}

struct Hijo {
    QProcess proceso;
    QString resultado, texto;

    void iniciar(const QString& archivo) {
        proceso.setProcessChannelMode(QProcess::SeparateChannels);
        proceso.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hijo"), archivo});
        proceso.waitForStarted();
    }
    // Waits for its end (at most ms) and reads what it said.
    bool terminar(int ms) {
        const bool fin = proceso.waitForFinished(ms);
        if (!fin) {
            proceso.kill();
            proceso.waitForFinished();
        }
        for (const QString& l : QString::fromUtf8(proceso.readAllStandardOutput()).split('\n')) {
            if (l.startsWith(QLatin1String("RESULTADO "))) {
                resultado = l.mid(10);
            } else if (l.startsWith(QLatin1String("TEXTO "))) {
                texto = l.mid(6);
            }
        }
        return fin;
    }
    QString salida() const {
        if (proceso.exitStatus() == QProcess::CrashExit) {
            return QStringLiteral("señal");
        }
        return QString::number(proceso.exitCode());
    }
};

enum class Falla { Sigterm, Sigkill, Servidor, PgRestore };

const char* nombreFalla(Falla f) {
    switch (f) {
    case Falla::Sigterm:
        return "SIGTERM";
    case Falla::Sigkill:
        return "SIGKILL";
    case Falla::Servidor:
        return "servidor detenido";
    case Falla::PgRestore:
        return "pg_restore muerto";
    }
    return "";
}

// Whether an unfinished restore is known, as the login and V7backup tell it: the server's mark, or this
// folder's file mark (alone when the server cannot be reached).
bool marcaPendiente() {
    v7::db::Connection k;
    k.setConnectionString(PgCluster::instance().connectionString());
    v7::db::DbError e;
    if (!k.open(e)) {
        return v7::leerMarcaRestauracion().has_value();
    }
    return v7::restauracionPendiente(k).pendiente.has_value();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 2 && QString::fromLocal8Bit(argv[1]) == QLatin1String("--hijo")) {
        return hijo(QString::fromLocal8Bit(argv[2]));
    }
    Corrida corrida(app, QStringLiteral("bench/fallas-restauracion [size in MB] [attempts]"));
    const int intentos = corrida.vueltas;
    const QString& trabajo = corrida.trabajo;
    QDir().mkpath(trabajo + QStringLiteral("tmp"));
    qputenv("V7_REGISTRY", QFile::encodeName(trabajo + QStringLiteral("registry.ini")));
    auto& c = PgCluster::instance();
    qputenv("TMPDIR", QFile::encodeName(trabajo + QStringLiteral("tmp")));
    generar(corrida.bytes, QStringLiteral("CREATE ROLE v7_super SUPERUSER; CREATE ROLE v7_admin; CREATE ROLE "
                                          "v7_usuario1; CREATE ROLE v7_usuario2;"
                                          "CREATE ROLE analista1 LOGIN PASSWORD 'a1' IN ROLE v7_admin;"
                                          "CREATE INDEX ON bench.prestamos (autor);"
                                          "SELECT lo_from_bytea(0, convert_to(repeat('objeto ', 100000), 'UTF8'));"));
    const QString archivo = trabajo + QStringLiteral("respaldo.zip");
    respaldarComoSuperusuario(archivo);
    v7::conexionPrincipal().close();
    const QString consultaDatos = QStringLiteral(
        "SELECT (SELECT count(*) FROM bench.prestamos) || '/' || (SELECT count(*) FROM catalogos.usuarios) || '/' || "
        "(SELECT count(*) FROM prestamo.devoluciones) || '/' || (SELECT count(*) FROM pg_largeobject_metadata)");
    const QString esperado = c.scalar(consultaDatos);

    qputenv("V7_FALLAS_USUARIO", c.superuser().toUtf8());
    qputenv("V7_FALLAS_CLAVE", c.password().toUtf8());
    qputenv("V7_FALLAS_SERVIDOR", c.host().toUtf8());
    qputenv("V7_FALLAS_PUERTO", QByteArray::number(c.port()));
    qputenv("V7_FALLAS_RUTAPG", c.installFolder().toUtf8());
    const QString carpeta = v7::sesion().RutaTemporal + v7::kCarpetaRestauracion + QLatin1Char('/');

    // A clean run first: how long a restore takes here (the faults fall inside that span).
    QElapsedTimer reloj;
    reloj.start();
    {
        Hijo h;
        h.iniciar(archivo);
        h.terminar(600000);
        if (h.resultado != QLatin1String("ok")) {
            morir(QStringLiteral("the clean restore failed: ") + h.texto);
        }
    }
    qint64 duracion = reloj.elapsed();
    std::printf("archive: %.1f MB, a clean restore: %.2f s, rows/users/returns/large objects: %s\n\n",
                double(QFileInfo(archivo).size()) / 1048576.0, double(duracion) / 1000.0, qPrintable(esperado));
    // Columns padded by characters (printf pads by bytes, and the table is Spanish).
    auto fila = [](const QStringList& celdas) {
        static const int anchos[] = {3, 26, 8, 7, 10, 6, 14, 8, 10};
        QString t;
        for (int i = 0; i < celdas.size(); ++i) {
            t += i < 9 ? celdas[i].leftJustified(anchos[i]) + QLatin1Char(' ') : celdas[i];
        }
        std::printf("%s\n", qPrintable(t));
        std::fflush(stdout);
    };
    fila({QStringLiteral("#"), QStringLiteral("falla"), QStringLiteral("momento"), QStringLiteral("salida"),
          QStringLiteral("resultado"), QStringLiteral("marca"), QStringLiteral("herram. a 2 s"),
          QStringLiteral("íntegra"), QStringLiteral("reintento"), QStringLiteral("mensaje")});

    QElapsedTimer total;
    total.start();
    int sinMarcaIncompleta = 0, herramientasVivas = 0, reintentosFallidos = 0, marcasQuedadas = 0, hechos = 0;
    auto* azar = QRandomGenerator::global();
    for (int i = 0; i < intentos && total.elapsed() < 30 * 60 * 1000; ++i) {
        const Falla falla = static_cast<Falla>(i % 4);
        Hijo h;
        h.iniciar(archivo);
        reloj.restart();
        double momento = 0;
        bool tarde = false; // the restore had ended before the moment drawn
        if (falla == Falla::PgRestore) {
            // Within the load: it starts, then a random moment of it.
            QElapsedTimer espera;
            espera.start();
            QVector<qint64> carga;
            while (carga.isEmpty() && espera.elapsed() < 120000 && h.proceso.state() == QProcess::Running) {
                carga = herramientasSobre(carpeta, "-d");
                QThread::msleep(10);
            }
            QThread::msleep(azar->bounded(1500));
            momento = double(reloj.elapsed()) / 1000.0;
            const QVector<qint64> vivos = herramientasSobre(carpeta, "-d");
            tarde = vivos.isEmpty();
            for (const qint64 p : vivos) {
                ::kill(pid_t(p), SIGKILL);
            }
        } else {
            const int demora = azar->bounded(int(qMax<qint64>(200, duracion)));
            h.proceso.waitForFinished(demora);
            momento = double(reloj.elapsed()) / 1000.0;
            tarde = h.proceso.state() != QProcess::Running;
            if (falla == Falla::Servidor) {
                c.stop();
                QThread::msleep(500);
                c.start();
            } else if (!tarde) {
                ::kill(pid_t(h.proceso.processId()), falla == Falla::Sigterm ? SIGTERM : SIGKILL);
            }
        }
        h.terminar(300000);
        QThread::msleep(2000);
        const int vivas = herramientasSobre(carpeta).size();
        const bool marca = marcaPendiente();
        QString integra = QStringLiteral("-");
        if (!marca) {
            // Without a mark the database must be whole.
            const bool completa = c.scalar(consultaDatos) == esperado;
            integra = completa ? QStringLiteral("sí") : QStringLiteral("NO");
            sinMarcaIncompleta += completa ? 0 : 1;
        }
        herramientasVivas += vivas > 0 ? 1 : 0;
        marcasQuedadas += marca ? 1 : 0;

        // A clean run afterwards completes and gives everything back; the next faults fall within its span.
        Hijo limpio;
        reloj.restart();
        limpio.iniciar(archivo);
        limpio.terminar(600000);
        duracion = reloj.elapsed();
        const bool reintento =
            limpio.resultado == QLatin1String("ok") && !marcaPendiente() && c.scalar(consultaDatos) == esperado;
        reintentosFallidos += reintento ? 0 : 1;
        ++hechos;
        fila({QString::number(i + 1),
              QString::fromUtf8(nombreFalla(falla)) + (tarde ? QStringLiteral(" (tarde)") : QString()),
              QString::number(momento, 'f', 2), h.salida(), h.resultado.isEmpty() ? QStringLiteral("-") : h.resultado,
              marca ? QStringLiteral("sí") : QStringLiteral("no"), QString::number(vivas), integra,
              reintento ? QStringLiteral("completo") : QStringLiteral("FALLÓ"), h.texto.left(90)});
    }
    std::printf("\n%d attempts: %d left the mark, %d without a mark and not whole, %d with tools running 2 s after, "
                "%d clean reruns that failed\n",
                hechos, marcasQuedadas, sinMarcaIncompleta, herramientasVivas, reintentosFallidos);
    c.shutdown();
    return sinMarcaIncompleta + herramientasVivas + reintentosFallidos == 0 ? 0 : 1;
}
