// What the benchmarks share: a throwaway cluster holding a generated database of the requested size, bare
// tool runs timed, the backup parameters for that cluster, and the alternating runs that keep the best
// time of each side.
#pragma once

#include "core/session.h"
#include "core/sql.h"
#include "maintenance/respaldo.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "tests/support/pg_cluster.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>

namespace banco {

using v7::test::PgCluster;

inline QString& nombre() {
    static QString n = QStringLiteral("bench");
    return n;
}

[[noreturn]] inline void morir(const QString& why) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(nombre()), qPrintable(why));
    std::exit(1);
}

inline void psql(const QString& sql, const QString& base = QStringLiteral("veliro7")) {
    QString out;
    if (!PgCluster::instance().psql(sql, &out, base)) {
        morir(QStringLiteral("psql failed: ") + out);
    }
}

inline qint64 tamanoBase() {
    return PgCluster::instance().scalar(QStringLiteral("SELECT pg_database_size('veliro7')")).toLongLong();
}

// The control tables with rows, the statements of masSql, then generated loans until the database reaches
// the size.
inline void generar(qint64 bytes, const QString& masSql = QString()) {
    psql(QStringLiteral(
             "INSERT INTO config_veliro.configuracion VALUES ('VER_V7TOOLS', 'R1.01 - 2018/09/07');"
             "INSERT INTO catalogos.usuarios (nombre) SELECT 'usuario ' || g FROM generate_series(1, 20000) g;"
             "INSERT INTO prestamo.devoluciones (idusuario) SELECT g % 20000 FROM generate_series(1, 60000) g;"
             "INSERT INTO prestamo.multas (idusuario, importe) SELECT g % 20000, (g % 500) / 10.0 "
             "FROM generate_series(1, 8000) g;"
             "CREATE SCHEMA bench; CREATE TABLE bench.prestamos (id bigint PRIMARY KEY, titulo text, "
             "autor text, importe numeric(10, 2), fecha timestamp, paginas integer);") +
         masSql);
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

inline double segundos(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e9;
}

// One bare tool run with the cluster's password in its environment; its time in seconds.
inline double correr(const QString& programa, const QStringList& args, const QString& salida = QString()) {
    v7::process::Command cmd;
    cmd.program = programa;
    cmd.arguments = args;
    cmd.environment.insert(QStringLiteral("PGPASSWORD"), PgCluster::instance().password());
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

// The backup writer's parameters for the cluster, writing archivo.
inline v7::ParametrosRespaldo parametrosRespaldo(const QString& archivo) {
    auto& c = PgCluster::instance();
    v7::ParametrosRespaldo p;
    p.servidor = c.host();
    p.puerto = c.port();
    p.usuario = c.superuser();
    p.clave = c.password();
    p.carpetaBin = c.binFolder();
    p.carpetaPrograma = v7::paths::programFolder();
    p.archivo = archivo;
    return p;
}

// The session as the cluster's superuser, connected, and the archive written by the kit's own writer.
inline void respaldarComoSuperusuario(const QString& archivo) {
    auto& c = PgCluster::instance();
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
    const v7::ResultadoRespaldo r = v7::escribirRespaldo(parametrosRespaldo(archivo), s.ConexionPrincipal);
    if (!r.ok()) {
        morir(QStringLiteral("the backup routine failed: ") + r.detalle);
    }
}

// The command line ([size in MB] [runs]) and a private work folder holding the program folder (V7_HOME).
struct Corrida {
    qint64 bytes = 0;
    int vueltas = 2;
    QTemporaryDir carpeta{QDir::tempPath() + QStringLiteral("/v7bench-XXXXXX")};
    QString trabajo; // ends in "/"

    Corrida(const QCoreApplication& app, const QString& uso) {
        nombre() = uso.section(QLatin1Char(' '), 0, 0);
        const QStringList args = app.arguments();
        const qint64 mb = args.size() > 1 ? args[1].toLongLong() : 200;
        vueltas = args.size() > 2 ? qMax(1, args[2].toInt()) : 2;
        if (mb <= 0) {
            morir(QStringLiteral("usage: ") + uso);
        }
        bytes = mb * 1048576;
        trabajo = carpeta.path() + QLatin1Char('/');
        QDir().mkpath(trabajo + QStringLiteral("programa"));
        qputenv("V7_HOME", QFile::encodeName(trabajo + QStringLiteral("programa")));
    }
};

// Times both sides vueltas times, in alternating order, and keeps the best of each: the bare side's
// parts (D has total()) and the routine's seconds.
template <typename D, typename FDesnudo, typename FRutina>
std::pair<D, double> mejores(int vueltas, FDesnudo desnudo, FRutina rutina, const char* queRutina) {
    D mejorDesnudo;
    bool hayDesnudo = false;
    double mejorRutina = std::numeric_limits<double>::max();
    for (int i = 0; i < vueltas; ++i) {
        D d;
        double k = 0;
        if (i % 2 == 0) {
            d = desnudo();
            k = rutina();
        } else {
            k = rutina();
            d = desnudo();
        }
        std::printf("run %d: %s %.2f s, bare tools %.2f s\n", i + 1, queRutina, k, d.total());
        mejorRutina = std::min(mejorRutina, k);
        if (!hayDesnudo || d.total() < mejorDesnudo.total()) {
            mejorDesnudo = d;
            hayDesnudo = true;
        }
    }
    return {mejorDesnudo, mejorRutina};
}

inline void informarRazon(double rutina, double desnudo) {
    const double ratio = rutina / desnudo;
    std::printf("ratio routine/bare: %.3f  (overhead %+.1f %%; aim: under 10 %%)\n", ratio, (ratio - 1.0) * 100.0);
}

} // namespace banco
