// Times the restore routine against bare pg_restore of the same archive (7za e, then pg_restore into an
// emptied database) on a throwaway cluster holding a generated database of the requested size.
//
//     restauracion_bench [size in MB, default 200] [runs, default 2]
//
// Each run times both, in alternating order; the best time of each is compared.
#include "core/session.h"
#include "core/sql.h"
#include "maintenance/respaldo.h"
#include "maintenance/restauracion.h"
#include "platform/db.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "tests/support/pg_cluster.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <limits>

using v7::test::PgCluster;

namespace {

[[noreturn]] void morir(const QString& why) {
    std::fprintf(stderr, "bench/restore: %s\n", qPrintable(why));
    std::exit(1);
}

void psql(const QString& sql, const QString& base = QStringLiteral("veliro7")) {
    QString out;
    if (!PgCluster::instance().psql(sql, &out, base)) {
        morir(QStringLiteral("psql failed: ") + out);
    }
}

qint64 tamanoBase() {
    return PgCluster::instance().scalar(QStringLiteral("SELECT pg_database_size('veliro7')")).toLongLong();
}

// The library's tables with rows, plus generated loans until the database reaches the size.
void generar(qint64 bytes) {
    psql(QStringLiteral(
        "INSERT INTO config_veliro.configuracion VALUES ('VER_V7TOOLS', 'R1.01 - 2018/09/07');"
        "CREATE ROLE v7_super SUPERUSER; CREATE ROLE v7_admin; CREATE ROLE v7_usuario1; CREATE ROLE v7_usuario2;"
        "CREATE ROLE analista1 LOGIN PASSWORD 'a1' IN ROLE v7_admin;"
        "INSERT INTO catalogos.usuarios (nombre) SELECT 'usuario ' || g FROM generate_series(1, 20000) g;"
        "INSERT INTO prestamo.devoluciones (idusuario) SELECT g % 20000 FROM generate_series(1, 60000) g;"
        "INSERT INTO prestamo.multas (idusuario, importe) SELECT g % 20000, (g % 500) / 10.0 "
        "FROM generate_series(1, 8000) g;"
        "INSERT INTO analisis.etiquetasmarc (idficha, numetiqueta, contenido) SELECT g % 5000, 245, "
        "'Titulo ' || g FROM generate_series(1, 50000) g;"
        "CREATE SCHEMA bench; CREATE TABLE bench.prestamos (id bigint PRIMARY KEY, titulo text, "
        "autor text, importe numeric(10, 2), fecha timestamp, paginas integer);"
        "CREATE INDEX ON bench.prestamos (autor);"));
    qint64 siguiente = 1;
    const qint64 lote = 25000;
    while (tamanoBase() < bytes) {
        psql(QStringLiteral("INSERT INTO bench.prestamos SELECT g, md5(g::text) || ' ' || md5((g * 7)::text), "
                            "'autor ' || (g % 9973), (g % 100000) / 100.0, timestamp '2010-01-01' + g * interval "
                            "'17 seconds', (g % 1200) + 1 FROM generate_series(%1, %2) g;")
                 .arg(siguiente)
                 .arg(siguiente + lote - 1));
        siguiente += lote;
    }
    psql(QStringLiteral("VACUUM ANALYZE;"));
    std::printf("database: %.1f MB, %lld generated rows\n", double(tamanoBase()) / 1048576.0,
                static_cast<long long>(siguiente - 1));
}

double segundos(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e9;
}

double correr(const QString& programa, const QStringList& args) {
    v7::process::Command cmd;
    cmd.program = programa;
    cmd.arguments = args;
    cmd.environment.insert(QStringLiteral("PGPASSWORD"), PgCluster::instance().password());
    QElapsedTimer t;
    t.start();
    const v7::process::Result r = v7::process::run(cmd);
    const double s = segundos(t);
    if (!r.ok()) {
        morir(programa + QStringLiteral(" failed with status ") + QString::number(r.status()));
    }
    return s;
}

struct Desnudo {
    double extraer = 0, cargar = 0;
    double total() const { return extraer + cargar; }
};

// 7za e and pg_restore into a database made empty beforehand (not timed).
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
    d.cargar = correr(c.binFolder() + QStringLiteral("/pg_restore"),
                      {QStringLiteral("-h"), c.host(), QStringLiteral("-p"), QString::number(c.port()),
                       QStringLiteral("-U"), c.superuser(), QStringLiteral("-d"), QStringLiteral("veliro7"),
                       carpeta + QStringLiteral("/base.backup")});
    QDir(carpeta).removeRecursively();
    return d;
}

double rutina(const QString& archivo) {
    QString error;
    if (!v7::ConexionServer(v7::sesion().CadenaConexion, error)) {
        morir(QStringLiteral("cannot connect: ") + error);
    }
    int avisos = 0;
    v7::InterfazRestauracion ui;
    ui.aviso = [&](v7::MsgIcon, const QString& t) {
        ++avisos;
        std::fprintf(stderr, "restore message: %s\n", qPrintable(t));
    };
    ui.elegirZona = [] { return QStringLiteral("America/Mexico_City"); };
    QElapsedTimer t;
    t.start();
    const v7::ResultadoRestauracion r = v7::restaurarRespaldo(archivo, ui);
    const double s = segundos(t);
    if (!r.ok || avisos > 0) {
        morir(QStringLiteral("the restore routine failed: ") + r.texto);
    }
    return s;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 mb = args.size() > 1 ? args[1].toLongLong() : 200;
    const int runs = args.size() > 2 ? qMax(1, args[2].toInt()) : 2;
    if (mb <= 0) {
        morir(QStringLiteral("usage: bench/restore [size in MB] [runs]"));
    }

    QTemporaryDir trabajoTmp(QDir::tempPath() + QStringLiteral("/v7bench-XXXXXX"));
    const QString trabajo = trabajoTmp.path() + QLatin1Char('/');
    for (const char* d : {"programa", "tmp"}) {
        QDir().mkpath(trabajo + QString::fromLatin1(d));
    }
    qputenv("V7_HOME", QFile::encodeName(trabajo + QStringLiteral("programa")));
    qputenv("V7_REGISTRY", QFile::encodeName(trabajo + QStringLiteral("registry.ini")));

    auto& c = PgCluster::instance(); // the cluster's own files outside the private work folder
    qputenv("TMPDIR", QFile::encodeName(trabajo + QStringLiteral("tmp")));
    generar(mb * 1048576);
    auto& s = v7::sesion();
    s.RutaPostgres = c.installFolder();
    s.RutaTemporal = v7::paths::workFolder();
    s.ServidorIP = c.host();
    s.PuertoBD = c.port();
    s.UsuarioBD = c.superuser();
    s.ClaveBD = c.password();
    s.CadenaConexion = c.connectionString(c.superuser(), c.password());
    QString error;
    if (!v7::ConexionServer(s.CadenaConexion, error)) {
        morir(QStringLiteral("cannot connect: ") + error);
    }

    // The archive, written by the kit's own writer.
    const QString archivo = trabajo + QStringLiteral("respaldo.zip");
    {
        v7::ParametrosRespaldo p;
        p.servidor = c.host();
        p.puerto = c.port();
        p.usuario = c.superuser();
        p.clave = c.password();
        p.carpetaBin = c.binFolder();
        p.carpetaPrograma = v7::paths::programFolder();
        p.archivo = archivo;
        const v7::ResultadoRespaldo r = v7::escribirRespaldo(p, v7::conexionPrincipal());
        if (!r.ok()) {
            morir(QStringLiteral("the backup routine failed: ") + r.detalle);
        }
    }
    std::printf("archive: %.1f MB\n", double(QFileInfo(archivo).size()) / 1048576.0);

    double mejorRutina = std::numeric_limits<double>::max();
    Desnudo mejorDesnudo;
    mejorDesnudo.cargar = std::numeric_limits<double>::max();
    for (int i = 0; i < runs; ++i) {
        double k = 0;
        Desnudo d;
        if (i % 2 == 0) {
            d = herramientas(archivo, trabajo);
            k = rutina(archivo);
        } else {
            k = rutina(archivo);
            d = herramientas(archivo, trabajo);
        }
        std::printf("run %d: restore routine %.2f s, bare tools %.2f s\n", i + 1, k, d.total());
        mejorRutina = std::min(mejorRutina, k);
        if (d.total() < mejorDesnudo.total()) {
            mejorDesnudo = d;
        }
    }
    std::printf("bare tools (best): %.2f s  (7za e %.2f, pg_restore %.2f)\n", mejorDesnudo.total(),
                mejorDesnudo.extraer, mejorDesnudo.cargar);
    std::printf("restore routine (best): %.2f s\n", mejorRutina);
    const double ratio = mejorRutina / mejorDesnudo.total();
    std::printf("ratio routine/bare: %.3f  (overhead %+.1f %%; aim: under 10 %%)\n", ratio, (ratio - 1.0) * 100.0);
    v7::conexionPrincipal().close();
    c.shutdown();
    return 0;
}
