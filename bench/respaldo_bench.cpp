// Times the backup archive writer against the bare tools it stands on (pg_dump -Fc, pg_dumpall -g,
// 7za a and 7za t) on a throwaway cluster holding a generated database of the requested size.
//
//     respaldo_bench [size in MB, default 200] [runs, default 2]
//
// Each run times both, in alternating order; the best time of each is compared.
//
// With --fallas it kills unattended backups instead (bench/fallas-respaldo):
//
//     respaldo_bench --fallas <V7backup> [size in MB] [kills] [minutes at most]
#include "bench/banco.h"
#include "core/cifrado.h"
#include "core/session.h"
#include "maintenance/respaldo.h"
#include "platform/db.h"
#include "platform/keystore.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QThread>

#include <csignal>

using namespace banco;

namespace {

struct Desnudo {
    double dump = 0, roles = 0, pack = 0, test = 0;
    double total() const { return dump + roles + pack + test; }
};

Desnudo herramientas(const QString& trabajo) {
    auto& c = PgCluster::instance();
    const QString bin = c.binFolder() + QLatin1Char('/');
    const QString carpeta = trabajo + QStringLiteral("desnudo");
    QDir(carpeta).removeRecursively();
    QDir().mkpath(carpeta);
    const QString zip = trabajo + QStringLiteral("desnudo.zip");
    QFile::remove(zip);
    const QString port = QString::number(c.port());
    const QString sieteZa = QStandardPaths::findExecutable(QStringLiteral("7za"));
    Desnudo d;
    d.dump = correr(bin + QStringLiteral("pg_dump"),
                    {QStringLiteral("-h"), c.host(), QStringLiteral("-p"), port, QStringLiteral("-U"), c.superuser(),
                     QStringLiteral("-F"), QStringLiteral("c"), QStringLiteral("-b"), QStringLiteral("-f"),
                     carpeta + QStringLiteral("/base.backup"), QStringLiteral("veliro7")});
    d.roles = correr(bin + QStringLiteral("pg_dumpall"),
                     {QStringLiteral("-h"), c.host(), QStringLiteral("-p"), port, QStringLiteral("-U"), c.superuser(),
                      QStringLiteral("-g")},
                     carpeta + QStringLiteral("/rolesv7.sql"));
    d.pack = correr(sieteZa, {QStringLiteral("a"), QStringLiteral("-tzip"), zip,
                              carpeta + QStringLiteral("/base.backup"), carpeta + QStringLiteral("/rolesv7.sql")});
    d.test = correr(sieteZa, {QStringLiteral("t"), zip});
    QDir(carpeta).removeRecursively();
    return d;
}

double kit(const std::shared_ptr<v7::db::Connection>& conexion, const QString& trabajo) {
    QElapsedTimer t;
    t.start();
    const v7::ResultadoRespaldo r =
        v7::escribirRespaldo(parametrosRespaldo(trabajo + QStringLiteral("kit.zip")), conexion);
    const double s = segundos(t);
    if (!r.ok()) {
        morir(QStringLiteral("the backup routine failed: ") + r.detalle);
    }
    return s;
}

} // namespace

// Fault injection: unattended runs of V7backup killed at random moments, each followed by a clean run.
namespace fallas {

enum class Golpe { MatarV7backup, TerminarV7backup, MatarPgDump, Matar7za, DetenerServidor };
constexpr Golpe kGolpes[] = {Golpe::MatarV7backup, Golpe::TerminarV7backup, Golpe::MatarPgDump, Golpe::Matar7za,
                             Golpe::DetenerServidor};

const char* nombre(Golpe g) {
    switch (g) {
    case Golpe::MatarV7backup:
        return "SIGKILL V7backup";
    case Golpe::TerminarV7backup:
        return "SIGTERM V7backup";
    case Golpe::MatarPgDump:
        return "SIGKILL pg_dump";
    case Golpe::Matar7za:
        return "SIGKILL 7za";
    case Golpe::DetenerServidor:
        return "server stopped";
    }
    return "?";
}

struct Proceso {
    qint64 pid = 0, padre = 0;
    QString nombre;
    bool zombi = false;
};

QVector<Proceso> procesos() {
    QVector<Proceso> todos;
    for (const QString& d : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool numero = false;
        const qint64 pid = d.toLongLong(&numero);
        QFile f(QStringLiteral("/proc/") + d + QStringLiteral("/stat"));
        if (!numero || !f.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray l = f.readAll();
        const qsizetype abre = l.indexOf('('), cierra = l.lastIndexOf(')');
        const QList<QByteArray> campos = l.mid(cierra + 2).split(' ');
        if (abre < 0 || cierra < 0 || campos.size() < 2) {
            continue;
        }
        todos.push_back(
            {pid, campos[1].toLongLong(), QString::fromUtf8(l.mid(abre + 1, cierra - abre - 1)), campos[0] == "Z"});
    }
    return todos;
}

QVector<Proceso> descendientes(qint64 raiz) {
    const QVector<Proceso> todos = procesos();
    QVector<Proceso> hallados;
    QVector<qint64> pendientes{raiz};
    while (!pendientes.isEmpty()) {
        const qint64 p = pendientes.takeLast();
        for (const Proceso& x : todos) {
            if (x.padre == p && !x.zombi) {
                hallados.push_back(x);
                pendientes.push_back(x.pid);
            }
        }
    }
    return hallados;
}

// A descendant of raiz running comando whose command line holds texto.
qint64 hijoLlamado(qint64 raiz, const QString& comando, const QByteArray& texto = QByteArray()) {
    for (const Proceso& p : descendientes(raiz)) {
        QFile f(QStringLiteral("/proc/") + QString::number(p.pid) + QStringLiteral("/cmdline"));
        if (p.nombre == comando && (texto.isEmpty() || (f.open(QIODevice::ReadOnly) && f.readAll().contains(texto)))) {
            return p.pid;
        }
    }
    return 0;
}

bool vivo(qint64 pid) {
    QFile f(QStringLiteral("/proc/") + QString::number(pid) + QStringLiteral("/stat"));
    return f.open(QIODevice::ReadOnly) && !f.readAll().contains(") Z ");
}

QByteArray huella(const QString& archivo) {
    QFile f(archivo);
    if (!f.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    QCryptographicHash h(QCryptographicHash::Md5);
    h.addData(&f);
    return h.result();
}

bool sano(const QString& archivo) {
    v7::process::Command c;
    c.program = QStringLiteral("7za");
    c.arguments = {QStringLiteral("t"), archivo};
    c.cLocale = true;
    return v7::process::run(c).ok();
}

struct Entorno {
    QString v7backup, programa, respaldos, archivo, registro;
};

std::unique_ptr<QProcess> lanzar(const Entorno& e) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("V7_HOME"), e.programa);
    env.insert(QStringLiteral("V7_REGISTRY"), e.registro);
    p->setProcessEnvironment(env);
    p->setStandardInputFile(QProcess::nullDevice());
    p->setStandardErrorFile(QProcess::nullDevice());
    p->start(e.v7backup, QStringList());
    if (!p->waitForStarted()) {
        morir(QStringLiteral("V7backup does not start: ") + e.v7backup);
    }
    return p;
}

// The exit status (128 + signal when a signal ended it), waiting up to ms.
int esperarFin(QProcess& p, int ms = 600000) {
    if (p.state() != QProcess::NotRunning && !p.waitForFinished(ms)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : 128 + SIGKILL;
}

QString respaldoOk() {
    return PgCluster::instance().scalar(
        QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion = 'RESPALDOOK'"));
}

QStringList empaques(const Entorno& e) {
    return QDir(e.respaldos).entryList({QStringLiteral(".*.tmp")}, QDir::AllEntries | QDir::Hidden);
}

// Files of the program folder and the archives' folder that hold the password (the archives themselves are
// compressed: the test is on what they hold of it only by chance).
int conClave(const Entorno& e) {
    const QByteArray clave = PgCluster::instance().password().toUtf8();
    int n = 0;
    for (const QString& raiz : {e.programa, e.respaldos}) {
        QDirIterator it(raiz, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            if (f.open(QIODevice::ReadOnly) && f.readAll().contains(clave)) {
                ++n;
            }
        }
    }
    return n;
}

QString ultimaLinea(const Entorno& e) {
    QFile f(e.programa + QStringLiteral("log/resp_") + QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) +
            QStringLiteral(".log"));
    if (!f.open(QIODevice::ReadOnly)) {
        return QString();
    }
    const QStringList l = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    return l.isEmpty() ? QString() : l.last();
}

// What one clean run took: in all, and where its pg_dump and 7za ran (ms from the start).
struct Linea {
    qint64 total = 0, volcadoDesde = -1, volcadoHasta = -1, empaqueDesde = -1, empaqueHasta = -1;
};

Linea medirCorrida(const Entorno& e) {
    Linea l;
    QElapsedTimer t;
    t.start();
    auto p = lanzar(e);
    while (!p->waitForFinished(20)) {
        const qint64 ahora = t.elapsed();
        const bool volcando = hijoLlamado(p->processId(), QStringLiteral("pg_dump"), "base.backup") != 0;
        const bool empacando = hijoLlamado(p->processId(), QStringLiteral("7za")) != 0;
        if (volcando) {
            l.volcadoDesde = l.volcadoDesde < 0 ? ahora : l.volcadoDesde;
            l.volcadoHasta = ahora;
        }
        if (empacando) {
            l.empaqueDesde = l.empaqueDesde < 0 ? ahora : l.empaqueDesde;
            l.empaqueHasta = ahora;
        }
    }
    l.total = t.elapsed();
    if (p->exitCode() != 0 || !sano(e.archivo)) {
        morir(QStringLiteral("a clean run failed: ") + ultimaLinea(e));
    }
    return l;
}

struct Fila {
    int golpes = 0;
    QMap<int, int> estados;
    QMap<QString, int> momentos; // which tool ran when the blow came
    int herramientasVivas = 0;   // tools of the run still running 2 s after V7backup died
    int nuevo = 0, anterior = 0, ausente = 0, danado = 0;
    int okFalso = 0, okVerdadero = 0, okOtro = 0;
    int falsoConNuevo = 0;   // RESPALDOOK false beside a complete new archive
    int contradicciones = 0; // "No se realizó" logged with a new archive in place
    int empaquesTrasGolpe = 0, empaquesTrasLimpia = 0;
    int limpiasBien = 0;
    int clave = 0;
};

int correr(const QStringList& args) {
    if (args.size() < 3) {
        morir(QStringLiteral("usage: respaldo_bench --fallas <V7backup> [size in MB] [kills] [minutes]"));
    }
    banco::nombre() = QStringLiteral("bench/fallas-respaldo");
    const qint64 mb = args.size() > 3 ? args[3].toLongLong() : 300;
    const int golpes = args.size() > 4 ? qMax(1, args[4].toInt()) : 40;
    const qint64 minutos = args.size() > 5 ? qMax<qint64>(1, args[5].toLongLong()) : 40;
    QTemporaryDir carpeta(QDir::tempPath() + QStringLiteral("/v7fallas-XXXXXX"));
    Entorno e;
    e.v7backup = QFileInfo(args[2]).absoluteFilePath();
    e.programa = carpeta.path() + QStringLiteral("/programa/");
    e.respaldos = carpeta.path() + QStringLiteral("/respaldos/");
    e.registro = carpeta.path() + QStringLiteral("/registry.ini");
    e.archivo = e.respaldos + QStringLiteral("auto_") + QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) +
                QStringLiteral(".zip");
    QDir().mkpath(e.programa + QStringLiteral("config"));
    QDir().mkpath(e.respaldos);
    qputenv("V7_HOME", QFile::encodeName(e.programa)); // this program's own paths too

    auto& c = PgCluster::instance();
    generar(mb * 1048576);
    const v7::keystore::KeyStore ks(e.registro);
    const QString globals = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals");
    if (ks.write(globals, QStringLiteral("RutaPg"), c.installFolder()).isSet() ||
        ks.write(globals, QStringLiteral("PuertoPg"), QString::number(c.port())).isSet()) {
        morir(QStringLiteral("cannot write the key store ") + e.registro);
    }
    // The settings file as the schedule window writes it (VER_V7TOOLS is dated after the key change: key B).
    QFile ajustes(e.programa + QStringLiteral("config/v7.respaldo.dat"));
    if (!ajustes.open(QIODevice::WriteOnly)) {
        morir(QStringLiteral("cannot write the settings file"));
    }
    ajustes.write(v7::cifrarConClave(c.superuser(), false).toUtf8() + "\r\n" +
                  v7::cifrarConClave(c.password(), false).toUtf8() + "\r\n" + c.host().toUtf8() + "\r\n" +
                  QByteArray::number(c.port()) + "\r\n" + (e.respaldos + QStringLiteral("auto.zip")).toUtf8() + "\r\n");
    ajustes.close();

    const Linea linea = medirCorrida(e);
    std::printf("clean run: %.1f s (pg_dump %.1f-%.1f s, 7za %.1f-%.1f s), archive %.1f MB\n",
                double(linea.total) / 1000, double(linea.volcadoDesde) / 1000, double(linea.volcadoHasta) / 1000,
                double(linea.empaqueDesde) / 1000, double(linea.empaqueHasta) / 1000,
                double(QFileInfo(e.archivo).size()) / 1048576.0);
    const quint32 semilla = QRandomGenerator::global()->generate();
    QRandomGenerator azar(semilla);
    std::printf("seed %u; up to %d kills in %lld minutes\n", semilla, golpes, static_cast<long long>(minutos));
    std::fflush(stdout);

    QMap<Golpe, Fila> filas;
    QElapsedTimer reloj;
    reloj.start();
    int hechos = 0;
    for (; hechos < golpes && reloj.elapsed() < minutos * 60000; ++hechos) {
        const Golpe g = kGolpes[hechos % int(std::size(kGolpes))];
        Fila& f = filas[g];
        ++f.golpes;
        const QByteArray antes = huella(e.archivo);
        auto p = lanzar(e);
        QElapsedTimer t;
        t.start();
        QString momento = QStringLiteral("-");
        auto enCurso = [&] {
            for (const Proceso& x : descendientes(p->processId())) {
                if (x.nombre == QLatin1String("pg_dump") || x.nombre == QLatin1String("pg_dumpall") ||
                    x.nombre == QLatin1String("7za") || x.nombre == QLatin1String("pg_config")) {
                    return x.nombre;
                }
            }
            return QStringLiteral("-");
        };
        // A moment within a span of the clean run, as the run goes (the process may end first).
        auto esperarA = [&](qint64 ms) {
            while (t.elapsed() < ms && !p->waitForFinished(5)) {
            }
        };
        int estado = -1;
        qint64 cuando = -1;
        QVector<Proceso> herramientas;
        switch (g) {
        case Golpe::MatarV7backup:
        case Golpe::TerminarV7backup: {
            esperarA(qint64(azar.bounded(double(linea.total))));
            if (p->state() != QProcess::NotRunning) {
                herramientas = descendientes(p->processId());
                momento = enCurso();
                cuando = t.elapsed();
                ::kill(pid_t(p->processId()), g == Golpe::MatarV7backup ? SIGKILL : SIGTERM);
            }
            estado = esperarFin(*p);
            QThread::msleep(2000);
            for (const Proceso& x : herramientas) {
                f.herramientasVivas += vivo(x.pid) ? 1 : 0;
            }
            break;
        }
        case Golpe::MatarPgDump:
        case Golpe::Matar7za: {
            const QString herramienta = g == Golpe::MatarPgDump ? QStringLiteral("pg_dump") : QStringLiteral("7za");
            qint64 pid = 0;
            while (pid == 0 && !p->waitForFinished(5)) {
                pid = hijoLlamado(p->processId(), herramienta, g == Golpe::MatarPgDump ? "base.backup" : "");
            }
            const qint64 duracion = g == Golpe::MatarPgDump ? linea.volcadoHasta - linea.volcadoDesde
                                                            : linea.empaqueHasta - linea.empaqueDesde;
            esperarA(t.elapsed() + qint64(azar.bounded(double(qMax<qint64>(1, duracion)))));
            if (pid != 0 && vivo(pid)) {
                momento = herramienta;
                cuando = t.elapsed();
                ::kill(pid_t(pid), SIGKILL);
            }
            estado = esperarFin(*p);
            break;
        }
        case Golpe::DetenerServidor: {
            esperarA(qint64(azar.bounded(double(linea.total))));
            momento = enCurso();
            cuando = p->state() == QProcess::NotRunning ? -1 : t.elapsed();
            c.runAsOwner(QStringLiteral("pg_ctl"), {QStringLiteral("stop"), QStringLiteral("-m"),
                                                    QStringLiteral("immediate"), QStringLiteral("-D"), c.dataFolder()});
            QThread::msleep(5000);
            if (!c.start()) {
                morir(QStringLiteral("the server does not start again: ") + c.logTail());
            }
            estado = esperarFin(*p);
            break;
        }
        }
        if (cuando < 0) {
            momento = QStringLiteral("after the end");
        }
        f.estados[estado] += 1;
        f.momentos[momento] += 1;
        if (!c.isRunning() && !c.start()) {
            morir(QStringLiteral("the server does not start again"));
        }

        const QByteArray despues = huella(e.archivo);
        const bool nuevo = !despues.isEmpty() && despues != antes && sano(e.archivo);
        if (despues.isEmpty()) {
            ++f.ausente;
        } else if (despues == antes) {
            ++f.anterior;
        } else if (nuevo) {
            ++f.nuevo;
        } else {
            ++f.danado;
        }
        const QString ok = respaldoOk();
        f.okFalso += ok == QLatin1String("Falso") ? 1 : 0;
        f.okVerdadero += ok == QLatin1String("Verdadero") ? 1 : 0;
        f.okOtro += ok != QLatin1String("Falso") && ok != QLatin1String("Verdadero") ? 1 : 0;
        f.falsoConNuevo += nuevo && ok == QLatin1String("Falso") ? 1 : 0;
        f.contradicciones += nuevo && ultimaLinea(e).contains(QStringLiteral("No se realizó el respaldo")) ? 1 : 0;
        f.empaquesTrasGolpe += int(empaques(e).size());
        f.clave += conClave(e);

        auto limpia = lanzar(e);
        const int fin = esperarFin(*limpia);
        f.limpiasBien += fin == 0 && sano(e.archivo) && respaldoOk() == QLatin1String("Verdadero") ? 1 : 0;
        f.empaquesTrasLimpia += int(empaques(e).size());
        f.clave += conClave(e);
        std::printf("%3d %-17s at %6.1f s (%-13s) exit %3d, archive %s, RESPALDOOK %s; clean run %s\n", hechos + 1,
                    nombre(g), double(cuando) / 1000, qPrintable(momento), estado,
                    despues.isEmpty()  ? "missing"
                    : despues == antes ? "previous"
                    : nuevo            ? "new"
                                       : "DAMAGED",
                    qPrintable(ok), fin == 0 ? "ok" : "FAILED");
        std::fflush(stdout);
    }

    std::printf("\n%d kills in %.1f min on a %.0f MB database\n\n", hechos, double(reloj.elapsed()) / 60000.0,
                double(tamanoBase()) / 1048576.0);
    std::printf("%-17s %3s  %-22s %-28s %6s  %-24s %6s %6s %5s %5s %6s %5s\n", "kill", "n", "exit statuses",
                "moment (tool running)", "tools", "archive new/prev/miss/bad", "OK F/V", "F+new", "lie", ".tmp",
                ".tmp2", "clean");
    for (const Golpe g : kGolpes) {
        if (!filas.contains(g)) {
            continue;
        }
        const Fila& f = filas[g];
        QStringList estados, momentos;
        for (auto it = f.estados.cbegin(); it != f.estados.cend(); ++it) {
            estados << QString::number(it.key()) + QLatin1Char('x') + QString::number(it.value());
        }
        for (auto it = f.momentos.cbegin(); it != f.momentos.cend(); ++it) {
            momentos << it.key() + QLatin1Char('x') + QString::number(it.value());
        }
        std::printf("%-17s %3d  %-22s %-28s %6d  %2d/%2d/%2d/%2d %13s %3d/%-2d %6d %5d %5d %5d %3d/%-2d\n", nombre(g),
                    f.golpes, qPrintable(estados.join(' ')), qPrintable(momentos.join(' ')), f.herramientasVivas,
                    f.nuevo, f.anterior, f.ausente, f.danado, "", f.okFalso, f.okVerdadero, f.falsoConNuevo,
                    f.contradicciones, f.empaquesTrasGolpe, f.empaquesTrasLimpia, f.limpiasBien, f.golpes);
    }
    int clave = 0;
    for (const Fila& f : filas) {
        clave += f.clave;
    }
    std::printf("\ntools: tools of the run still running 2 s after V7backup died; OK F/V: RESPALDOOK after the kill;\n"
                "F+new: RESPALDOOK false beside a new complete archive; lie: \"No se realizó el respaldo\" logged\n"
                "with a new archive in place; .tmp: packing folders left by the killed run; .tmp2: left after the\n"
                "clean run that follows; clean: clean runs that wrote a tested archive and RESPALDOOK true.\n"
                "files holding the password: %d\n",
                clave);
    c.shutdown();
    return 0;
}

} // namespace fallas

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (app.arguments().value(1) == QLatin1String("--fallas")) {
        return fallas::correr(app.arguments());
    }
    Corrida corrida(app, QStringLiteral("bench/backup [size in MB] [runs]"));
    const QString& trabajo = corrida.trabajo;

    auto& c = PgCluster::instance();
    generar(corrida.bytes);
    v7::sesion().RutaPostgres = c.installFolder();

    const auto conexion = std::make_shared<v7::db::Connection>();
    conexion->setConnectionString(c.connectionString(c.superuser(), c.password()));
    v7::db::DbError e;
    if (!conexion->open(e)) {
        morir(QStringLiteral("cannot connect: ") + e.description);
    }

    const auto [mejorDesnudo, mejorKit] = mejores<Desnudo>(
        corrida.vueltas, [&] { return herramientas(trabajo); }, [&] { return kit(conexion, trabajo); },
        "backup routine");
    std::printf("archive: %.1f MB\n", double(QFileInfo(trabajo + QStringLiteral("kit.zip")).size()) / 1048576.0);
    std::printf("bare tools (best): %.2f s  (pg_dump -Fc %.2f, pg_dumpall -g %.2f, 7za a %.2f, 7za t %.2f)\n",
                mejorDesnudo.total(), mejorDesnudo.dump, mejorDesnudo.roles, mejorDesnudo.pack, mejorDesnudo.test);
    std::printf("backup routine (best): %.2f s\n", mejorKit);
    informarRazon(mejorKit, mejorDesnudo.total());
    conexion->close();
    c.shutdown();
    return 0;
}
