// Times the restore routine against bare pg_restore of the same archive (7za e, then pg_restore into an
// emptied database) on a throwaway cluster holding a generated database of the requested size.
//
//     restauracion_bench [size in MB, default 200] [runs, default 2]
//
// Each run times both, in alternating order; the best time of each is compared.
#include "bench/banco.h"
#include "core/session.h"
#include "core/sql.h"
#include "maintenance/restauracion.h"

#include <QFileInfo>
#include <QStandardPaths>

using namespace banco;

namespace {

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
    ui.aviso = [&](const v7::Fallo& f) {
        ++avisos;
        std::fprintf(stderr, "restore message: %s\n", qPrintable(f.texto));
    };
    ui.terminarSesiones = [](const QString&) { return true; };
    ui.elegirZona = [] { return QStringLiteral("America/Mexico_City"); };
    QElapsedTimer t;
    // Where the time goes: the seconds at which each step of the bar began.
    QStringList pasos;
    ui.avance = [&](int valor, const QString&) {
        if (valor >= 0) {
            pasos << QString::number(valor) + QLatin1Char('@') + QString::number(segundos(t), 'f', 2);
        }
    };
    t.start();
    const v7::ResultadoRestauracion r = v7::restaurarRespaldo(archivo, ui);
    const double s = segundos(t);
    if (!r.ok || avisos > 0) {
        morir(QStringLiteral("the restore routine failed: ") + r.mensaje.texto);
    }
    std::printf("  steps (bar value@seconds): %s\n", qPrintable(pasos.join(QLatin1Char(' '))));
    return s;
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

    const auto [mejorDesnudo, mejorRutina] = mejores<Desnudo>(
        corrida.vueltas, [&] { return herramientas(archivo, trabajo); }, [&] { return rutina(archivo); },
        "restore routine");
    std::printf("bare tools (best): %.2f s  (7za e %.2f, pg_restore %.2f)\n", mejorDesnudo.total(),
                mejorDesnudo.extraer, mejorDesnudo.cargar);
    std::printf("restore routine (best): %.2f s\n", mejorRutina);
    informarRazon(mejorRutina, mejorDesnudo.total());
    v7::conexionPrincipal().close();
    c.shutdown();
    return 0;
}
