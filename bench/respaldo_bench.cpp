// Times the backup archive writer against the bare tools it stands on (pg_dump -Fc, pg_dumpall -g,
// 7za a and 7za t) on a throwaway cluster holding a generated database of the requested size.
//
//     respaldo_bench [size in MB, default 200] [runs, default 2]
//
// Each run times both, in alternating order; the best time of each is compared.
#include "core/session.h"
#include "maintenance/respaldo.h"
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
    std::fprintf(stderr, "bench/backup: %s\n", qPrintable(why));
    std::exit(1);
}

void psql(const QString& sql) {
    QString out;
    if (!PgCluster::instance().psql(sql, &out)) {
        morir(QStringLiteral("psql failed: ") + out);
    }
}

qint64 tamanoBase() {
    return PgCluster::instance().scalar(QStringLiteral("SELECT pg_database_size('veliro7')")).toLongLong();
}

// Rows of generated text and numbers until the database reaches the size.
void generar(qint64 bytes) {
    auto& c = PgCluster::instance();
    psql(QStringLiteral(
        "INSERT INTO config_veliro.configuracion VALUES ('VER_V7TOOLS', 'R1.01 - 2018/09/07');"
        "INSERT INTO catalogos.usuarios (nombre) SELECT 'usuario ' || g FROM generate_series(1, 20000) g;"
        "INSERT INTO prestamo.devoluciones (idusuario) SELECT g % 20000 FROM generate_series(1, 60000) g;"
        "INSERT INTO prestamo.multas (idusuario, importe) SELECT g % 20000, (g % 500) / 10.0 "
        "FROM generate_series(1, 8000) g;"
        "CREATE SCHEMA bench; CREATE TABLE bench.prestamos (id bigint PRIMARY KEY, titulo text, "
        "autor text, importe numeric(10, 2), fecha timestamp, paginas integer);"));
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
    (void)c;
}

double segundos(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e9;
}

// One bare tool run; its time in seconds.
double correr(const QString& programa, const QStringList& args, const QString& salida = QString()) {
    auto& c = PgCluster::instance();
    v7::process::Command cmd;
    cmd.program = programa;
    cmd.arguments = args;
    cmd.environment.insert(QStringLiteral("PGPASSWORD"), c.password());
    if (!salida.isEmpty()) {
        cmd.out = v7::process::Sink::File;
        cmd.outFile = salida;
    }
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
    auto& c = PgCluster::instance();
    v7::ParametrosRespaldo p;
    p.servidor = c.host();
    p.puerto = c.port();
    p.usuario = c.superuser();
    p.clave = c.password();
    p.carpetaBin = c.binFolder();
    p.carpetaPrograma = v7::paths::programFolder();
    p.archivo = trabajo + QStringLiteral("kit.zip");
    QElapsedTimer t;
    t.start();
    const v7::ResultadoRespaldo r = v7::escribirRespaldo(p, conexion);
    const double s = segundos(t);
    if (!r.ok()) {
        morir(QStringLiteral("the backup routine failed: ") + r.detalle);
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
        morir(QStringLiteral("usage: bench/backup [size in MB] [runs]"));
    }

    QTemporaryDir trabajoTmp(QDir::tempPath() + QStringLiteral("/v7bench-XXXXXX"));
    const QString trabajo = trabajoTmp.path() + QLatin1Char('/');
    QDir().mkpath(trabajo + QStringLiteral("programa"));
    qputenv("V7_HOME", QFile::encodeName(trabajo + QStringLiteral("programa")));

    auto& c = PgCluster::instance();
    generar(mb * 1048576);
    v7::sesion().RutaPostgres = c.installFolder();

    const auto conexion = std::make_shared<v7::db::Connection>();
    conexion->setConnectionString(c.connectionString(c.superuser(), c.password()));
    v7::db::DbError e;
    if (!conexion->open(e)) {
        morir(QStringLiteral("cannot connect: ") + e.description);
    }

    double mejorKit = std::numeric_limits<double>::max();
    Desnudo mejorDesnudo;
    mejorDesnudo.dump = std::numeric_limits<double>::max();
    for (int i = 0; i < runs; ++i) {
        double k = 0;
        Desnudo d;
        if (i % 2 == 0) {
            d = herramientas(trabajo);
            k = kit(conexion, trabajo);
        } else {
            k = kit(conexion, trabajo);
            d = herramientas(trabajo);
        }
        std::printf("run %d: backup routine %.2f s, bare tools %.2f s\n", i + 1, k, d.total());
        mejorKit = std::min(mejorKit, k);
        if (d.total() < mejorDesnudo.total()) {
            mejorDesnudo = d;
        }
    }
    std::printf("archive: %.1f MB\n", double(QFileInfo(trabajo + QStringLiteral("kit.zip")).size()) / 1048576.0);
    std::printf("bare tools (best): %.2f s  (pg_dump -Fc %.2f, pg_dumpall -g %.2f, 7za a %.2f, 7za t %.2f)\n",
                mejorDesnudo.total(), mejorDesnudo.dump, mejorDesnudo.roles, mejorDesnudo.pack, mejorDesnudo.test);
    std::printf("backup routine (best): %.2f s\n", mejorKit);
    const double ratio = mejorKit / mejorDesnudo.total();
    std::printf("ratio routine/bare: %.3f  (overhead %+.1f %%; aim: under 10 %%)\n", ratio, (ratio - 1.0) * 100.0);
    conexion->close();
    c.shutdown();
    return 0;
}
