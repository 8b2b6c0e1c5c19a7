// Times the backup archive writer against the bare tools it stands on (pg_dump -Fc, pg_dumpall -g,
// 7za a and 7za t) on a throwaway cluster holding a generated database of the requested size.
//
//     respaldo_bench [size in MB, default 200] [runs, default 2]
//
// Each run times both, in alternating order; the best time of each is compared.
#include "bench/banco.h"
#include "core/session.h"
#include "maintenance/respaldo.h"
#include "platform/db.h"

#include <QFileInfo>
#include <QStandardPaths>

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

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
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
