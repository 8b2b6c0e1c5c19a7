// Times the restore routine against bare pg_restore of the same archive (7za e, then pg_restore into an
// emptied database, with the --jobs the routine loads that dump with) on a throwaway cluster holding a
// generated database of the requested size.
//
//     restauracion_bench [size in MB, default 200] [runs, default 2]
//
// Each run times both, in alternating order; the best time of each is compared, and the routine's time is
// split into what comes before its load, the load and what comes after, so that the steps the bare tools do
// not run are seen.
#include "bench/banco.h"
#include "core/session.h"
#include "core/sql.h"
#include "maintenance/restauracion.h"

#include <QDate>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

using namespace banco;

namespace {

struct Desnudo {
    double extraer = 0, cargar = 0;
    int trabajos = 1; // pg_restore --jobs
    double total() const { return extraer + cargar; }
};

// The routine's run in three parts: up to its load (extraction with its CRC check, the archive's checks, the
// other sessions, the marks, the drops, the roles), the load, and the steps after it.
struct Rutina {
    double antes = 0, carga = 0, despues = 0;
    int trabajos = 0; // as its log says
    double total() const { return antes + carga + despues; }
};

// The jobs of the restore's last load, from its log.
int trabajosDelLog() {
    QFile f(v7::rutaLogRestauracion(QDate::currentDate()));
    if (!f.open(QIODevice::ReadOnly)) {
        return 0;
    }
    static const QRegularExpression re(QStringLiteral("--- carga: pg_restore con (\\d+) trabajo"));
    int trabajos = 0;
    for (auto it = re.globalMatch(QString::fromUtf8(f.readAll())); it.hasNext();) {
        trabajos = it.next().captured(1).toInt();
    }
    return trabajos;
}

// 7za e and pg_restore into a database made empty beforehand (not timed), with the jobs the routine takes
// for that dump (told from the extracted dump, not timed).
Desnudo herramientas(const QString& archivo, const QString& trabajo) {
    auto& c = PgCluster::instance();
    psql(QStringLiteral("DROP DATABASE IF EXISTS veliro7 WITH (FORCE); CREATE DATABASE veliro7;"),
         QStringLiteral("postgres"));
    const QString carpeta = trabajo + QStringLiteral("desnudo");
    QDir(carpeta).removeRecursively();
    QDir().mkpath(carpeta);
    Desnudo d;
    d.extraer = correr(QStandardPaths::findExecutable(QStringLiteral("7za")),
                       {QStringLiteral("e"), archivo, QStringLiteral("-o") + carpeta, QStringLiteral("-y")});
    d.trabajos = v7::trabajosDeCarga(v7::examinarVolcado(carpeta + QStringLiteral("/base.backup")));
    d.cargar =
        correr(c.binFolder() + QStringLiteral("/pg_restore"),
               {QStringLiteral("-h"), c.host(), QStringLiteral("-p"), QString::number(c.port()), QStringLiteral("-U"),
                c.superuser(), QStringLiteral("-d"), QStringLiteral("veliro7"),
                QStringLiteral("--jobs=") + QString::number(d.trabajos), carpeta + QStringLiteral("/base.backup")});
    QDir(carpeta).removeRecursively();
    return d;
}

Rutina rutina(const QString& archivo) {
    QString error;
    if (!v7::ConexionServer(v7::sesion().CadenaConexion, error)) {
        morir(QStringLiteral("cannot connect: ") + error);
    }
    int avisos = 0;
    v7::InterfazRestauracion ui;
    ui.aviso = [&](const v7::Fallo& f) {
        ++avisos;
        std::fprintf(stderr, "restore message: %s\n", qPrintable(f.texto));
    };
    ui.terminarSesiones = [](const QString& pregunta) -> bool {
        morir(QStringLiteral("the restore asked about other sessions: ") + pregunta);
    };
    QElapsedTimer t;
    // Where the time goes: the seconds at which each step of the bar began; the load begins at 4 and ends
    // where the zone is asked for (right after it and the text-search dictionary).
    QStringList pasos;
    double inicioCarga = -1, finCarga = -1;
    ui.avance = [&](int valor, const QString&) {
        if (valor >= 0) {
            pasos << QString::number(valor) + QLatin1Char('@') + QString::number(segundos(t), 'f', 2);
        }
        if (valor == 4) {
            inicioCarga = segundos(t);
        }
    };
    ui.elegirZona = [&] {
        if (finCarga < 0) {
            finCarga = segundos(t);
        }
        return QStringLiteral("America/Mexico_City");
    };
    t.start();
    const v7::ResultadoRestauracion r = v7::restaurarRespaldo(archivo, ui);
    const double s = segundos(t);
    if (!r.ok || avisos > 0 || inicioCarga < 0 || finCarga < inicioCarga) {
        morir(QStringLiteral("the restore routine failed: ") + r.mensaje.texto);
    }
    std::printf("  steps (bar value@seconds): %s\n", qPrintable(pasos.join(QLatin1Char(' '))));
    return Rutina{inicioCarga, finCarga - inicioCarga, s - finCarga, trabajosDelLog()};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Corrida corrida(app, QStringLiteral("bench/restore [size in MB] [runs]"));
    const QString& trabajo = corrida.trabajo;
    QDir().mkpath(trabajo + QStringLiteral("tmp"));
    qputenv("V7_REGISTRY", QFile::encodeName(trabajo + QStringLiteral("registry.ini")));

    auto& c = PgCluster::instance(); // the cluster's own files outside the private work folder
    qputenv("TMPDIR", QFile::encodeName(trabajo + QStringLiteral("tmp")));
    // The library's roles and tags, so the restore has groups, a staff login and full text to handle.
    generar(corrida.bytes,
            QStringLiteral("CREATE ROLE v7_super SUPERUSER; CREATE ROLE v7_admin; CREATE ROLE v7_usuario1; "
                           "CREATE ROLE v7_usuario2;"
                           "CREATE ROLE analista1 LOGIN PASSWORD 'a1' IN ROLE v7_admin;"
                           "INSERT INTO analisis.etiquetasmarc (idficha, numetiqueta, contenido) SELECT g % 5000, 245, "
                           "'Titulo ' || g FROM generate_series(1, 50000) g;"
                           "CREATE INDEX ON bench.prestamos (autor);"));
    // The archive, written by the kit's own writer.
    const QString archivo = trabajo + QStringLiteral("respaldo.zip");
    respaldarComoSuperusuario(archivo);
    std::printf("archive: %.1f MB\n", double(QFileInfo(archivo).size()) / 1048576.0);

    Rutina partes;
    const auto [mejorDesnudo, mejorRutina] = mejores<Desnudo>(
        corrida.vueltas, [&] { return herramientas(archivo, trabajo); },
        [&] {
            const Rutina r = rutina(archivo);
            if (partes.total() == 0 || r.total() < partes.total()) {
                partes = r;
            }
            return r.total();
        },
        "restore routine");
    std::printf("bare tools (best): %.2f s  (7za e %.2f, pg_restore --jobs=%d %.2f)\n", mejorDesnudo.total(),
                mejorDesnudo.extraer, mejorDesnudo.trabajos, mejorDesnudo.cargar);
    std::printf("restore routine (best): %.2f s  (before the load %.2f, load with --jobs=%d %.2f, after the load "
                "%.2f)\n",
                mejorRutina, partes.antes, partes.trabajos, partes.carga, partes.despues);
    informarRazon(mejorRutina, mejorDesnudo.total());
    if (partes.trabajos != mejorDesnudo.trabajos) {
        std::printf("note: the routine loaded with %d jobs and the bare pg_restore with %d\n", partes.trabajos,
                    mejorDesnudo.trabajos);
    }
    // What the bare tools do not do: everything before the load but the extraction (the archive's checks, the
    // other sessions, the marks, the drops, the roles), and every step after it.
    const double fijos = (partes.antes - mejorDesnudo.extraer) + partes.despues;
    std::printf("steps the bare tools do not run: %.2f s (before the load, beyond 7za's %.2f s: %.2f s of "
                "archive checks (pg_restore -l, the dump's structure, its definitions), other sessions, "
                "both marks, drops and roles; after the load: %.2f s of text-search dictionary, time zone, "
                "row counts, dates, sequences and grants); the loads alone: routine %.2f s, bare %.2f s\n",
                fijos, mejorDesnudo.extraer, partes.antes - mejorDesnudo.extraer, partes.despues, partes.carga,
                mejorDesnudo.cargar);
    v7::conexionPrincipal().close();
    c.shutdown();
    return 0;
}
