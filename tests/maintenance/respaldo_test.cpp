#include "core/cifrado.h"
#include "core/fallos_ui.h"
#include "core/instalacion.h"
#include "core/login.h"
#include "core/session.h"
#include "core/sql.h"
#include "maintenance/FrmBase.h"
#include "maintenance/respaldo.h"
#include "maintenance/respaldo_manual.h"
#include "platform/events.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "tests/maintenance/archivo_respaldo.h"
#include "tests/maintenance/volcado_detenido.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTabBar>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

using namespace v7;
using namespace v7::test;

namespace {

// The pid of a process that has ended (a packing folder named after it belongs to nobody).
qint64 pidTerminado() {
    QProcess p;
    p.start(QStringLiteral("sleep"), {QStringLiteral("0.05")});
    EXPECT_TRUE(p.waitForStarted());
    const qint64 pid = p.processId();
    EXPECT_TRUE(p.waitForFinished());
    return pid;
}

class Respaldo : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<ServidorPreparado>();
        ASSERT_TRUE(m_server->iniciarSesion());
        auto& c = PgCluster::instance();
        ASSERT_TRUE(c.psql(QStringLiteral("INSERT INTO catalogos.usuarios (nombre) SELECT 'u' || g FROM "
                                          "generate_series(1, 7) g;"
                                          "INSERT INTO prestamo.devoluciones (idusuario) SELECT g FROM "
                                          "generate_series(1, 3) g;")));
        programa = paths::programFolder();
    }
    void TearDown() override {
        auto& c = PgCluster::instance();
        if (!c.isRunning()) {
            c.start();
        }
        m_server.reset();
    }

    ParametrosRespaldo parametros(const QString& archivo) const {
        const auto& s = sesion();
        ParametrosRespaldo p;
        p.servidor = s.ServidorIP;
        p.puerto = s.PuertoBD;
        p.usuario = s.UsuarioBD;
        p.clave = s.ClaveBD;
        p.carpetaBin = s.RutaPostgres + QStringLiteral("bin");
        p.carpetaPrograma = programa;
        p.archivo = archivo;
        return p;
    }

    // What a backup must never leave behind, whatever its outcome: a staging folder, a script or its
    // output, a half-made archive beside the destination, an open transaction or a held lock.
    void nadaAMedias(const QString& destino, const char* caso) {
        SCOPED_TRACE(caso);
        EXPECT_TRUE(QDir(programa).entryList({QStringLiteral("r2*")}, QDir::AllEntries).isEmpty())
            << QDir(programa).entryList().join(QLatin1Char(' ')).toStdString();
        const QStringList scripts = QDir(programa).entryList({QStringLiteral("v7.*"), QStringLiteral("pg_version.txt")},
                                                             QDir::Files | QDir::Hidden);
        EXPECT_TRUE(scripts.isEmpty()) << scripts.join(QLatin1Char(' ')).toStdString();
        const QFileInfo fi(destino);
        if (fi.dir().exists()) {
            const QStringList temporales =
                fi.dir().entryList({QStringLiteral(".*.tmp.zip")}, QDir::Files | QDir::Hidden);
            EXPECT_TRUE(temporales.isEmpty()) << temporales.join(QLatin1Char(' ')).toStdString();
        }
        auto& c = PgCluster::instance();
        if (c.isRunning()) {
            EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE datname = 'veliro7' AND "
                                              "state LIKE 'idle in transaction%'")),
                      QStringLiteral("0"));
            EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_locks WHERE mode = 'ExclusiveLock' AND "
                                              "locktype = 'relation'")),
                      QStringLiteral("0"));
        }
        if (sesion().ConexionPrincipal) {
            EXPECT_FALSE(sesion().ConexionPrincipal->inTransaction());
        }
    }

    std::unique_ptr<ServidorPreparado> m_server;
    QString programa;
    TempDir destinos;
};

TEST(RespaldoComandos, ToolFlagsFollowTheToolsVersion) {
    struct Caso {
        int version;
        bool conI, conO;
    };
    const Caso casos[] = {{80204, true, true},   {90004, true, true},    {90426, true, true},    {90500, false, true},
                          {110022, false, true}, {120000, false, false}, {150018, false, false}, {-1, false, false}};
    for (const Caso& c : casos) {
        const QString cmd =
            comandoVolcado(c.version, QStringLiteral("/pg/bin"), QStringLiteral("localhost"), 5432,
                           QStringLiteral("ad min"), QStringLiteral("/r/base.backup"), QStringLiteral("/s/err.txt"));
        const QStringList words = cmd.split(QLatin1Char(' '));
        EXPECT_EQ(words.contains(QStringLiteral("-i")), c.conI) << c.version << " " << cmd.toStdString();
        EXPECT_EQ(words.contains(QStringLiteral("-o")), c.conO) << c.version << " " << cmd.toStdString();
        EXPECT_EQ(words.contains(QStringLiteral("--enable-row-security")), !c.conI) << c.version;
        EXPECT_TRUE(cmd.startsWith(QStringLiteral("'/pg/bin/pg_dump' "))) << cmd.toStdString();
        EXPECT_TRUE(cmd.contains(QStringLiteral(" -U 'ad min' "))) << cmd.toStdString();
        EXPECT_TRUE(cmd.endsWith(QStringLiteral(" -v -f '/r/base.backup' veliro7 2> '/s/err.txt'")))
            << cmd.toStdString();
    }
    EXPECT_EQ(comandoRoles(QString(), QStringLiteral("h"), 5433, QStringLiteral("o'k"),
                           QStringLiteral("/r/rolesv7.sql"), QStringLiteral("/s/e")),
              QStringLiteral("pg_dumpall -h 'h' -p 5433 -U 'o'\\''k' -g > '/r/rolesv7.sql' 2> '/s/e'"));

    const std::pair<const char*, int> versiones[] = {{"pg_dump (PostgreSQL) 15.18", 150018},
                                                     {"pg_dump (PostgreSQL) 15.18 (Debian 15.18-0+deb12u1)", 150018},
                                                     {"pg_dump (PostgreSQL) 9.4.26", 90426},
                                                     {"PostgreSQL 8.2.4", 80204},
                                                     {"pg_dump (PostgreSQL) 16devel", 160000},
                                                     {"", -1},
                                                     {"sin version", -1}};
    for (const auto& [texto, esperado] : versiones) {
        EXPECT_EQ(versionNumerica(QString::fromLatin1(texto)), esperado) << texto;
    }
    EXPECT_EQ(versionPgDump(PgCluster::instance().binFolder()) / 10000, 15);
}

TEST(RespaldoComandos, ChecksumLines) {
    const QDateTime t(QDate(2024, 2, 9), QTime(7, 5, 3));
    EXPECT_EQ(lineasChecksum({{QStringLiteral("catalogos.usuarios"), 1520}, {QStringLiteral("prestamo.multas"), 0}}, t,
                             QStringLiteral("POSTGRESQL 15.18")),
              (QStringList{"catalogos.usuarios#1520", "prestamo.multas#0", "2024-02-09 07:05:03", "POSTGRESQL 15.18"}));
    EXPECT_EQ(lineaVersion("  PostgreSQL 15.18 (Debian)  \r\nsecond\n"), QStringLiteral("POSTGRESQL 15.18 (DEBIAN)"));
    EXPECT_EQ(carpetaRespaldo(QStringLiteral("/opt/v7/"), QDate(2018, 9, 7)), QStringLiteral("/opt/v7/r20180907"));
}

TEST_F(Respaldo, ArchiveLayoutCountsAndCleanUp) {
    const QString destino = destinos.file(QStringLiteral("mi respaldo.zip"));
    // An older archive of the same name with a member of its own: replaced whole, never added to.
    escribir(destinos.file(QStringLiteral("viejo.txt")), "old");
    ASSERT_EQ(QProcess::execute(QStringLiteral("7za"), {QStringLiteral("a"), QStringLiteral("-tzip"), destino,
                                                        destinos.file(QStringLiteral("viejo.txt"))}),
              0);
    // A staging folder left by a crash earlier today: emptied, so its stale members are not packed.
    const QDateTime momento(QDate::currentDate(), QTime(10, 11, 12));
    const QString carpeta = carpetaRespaldo(programa, momento.date());
    ASSERT_TRUE(QDir().mkpath(carpeta));
    escribir(carpeta + QStringLiteral("/base.backup"), "stale");
    escribir(carpeta + QStringLiteral("/checksum.dat"), "stale");
    // One of an earlier day, left by a killed run: removed. A link of such a name is not ours: left, and
    // what it points to untouched.
    ASSERT_TRUE(QDir().mkpath(programa + QStringLiteral("r20200101")));
    escribir(programa + QStringLiteral("r20200101/base.backup"), "old");
    escribir(programa + QStringLiteral("r20200101/rolesv7.sql"), "old");
    escribir(destinos.file(QStringLiteral("ajeno.txt")), "not ours");
    ASSERT_TRUE(QFile::link(destinos.path(), programa + QStringLiteral("r20200102")));
    // The private packing folder of a run killed while 7za wrote a complete archive: swept.
    const QString huerfana =
        destinos.file(QStringLiteral(".mi respaldo.zip.") + QString::number(pidTerminado()) + QStringLiteral("-1.tmp"));
    ASSERT_TRUE(QDir().mkpath(huerfana));
    escribir(huerfana + QStringLiteral("/mi respaldo.zip"), "a complete archive nobody knows of");

    ParametrosRespaldo p = parametros(destino);
    p.momento = momento;
    QList<PasoRespaldo> pasos;
    p.avance = [&](PasoRespaldo paso) { pasos << paso; };
    const ResultadoRespaldo r = escribirRespaldo(p, sesion().ConexionPrincipal);
    ASSERT_TRUE(r.ok()) << int(r.falla) << " " << r.detalle.toStdString();
    EXPECT_EQ(pasos, (QList<PasoRespaldo>{PasoRespaldo::Carpeta, PasoRespaldo::Bloqueo, PasoRespaldo::Volcado,
                                          PasoRespaldo::Roles, PasoRespaldo::Version, PasoRespaldo::Checksum,
                                          PasoRespaldo::Empaque, PasoRespaldo::Limpieza}));
    EXPECT_FALSE(QFileInfo::exists(programa + QStringLiteral("r20200101")));
    EXPECT_FALSE(QFileInfo::exists(huerfana));
    QStringList barridos = r.restosBarridos;
    barridos.sort();
    QStringList esperados{huerfana, programa + QStringLiteral("r20200101"), carpeta};
    esperados.sort();
    EXPECT_EQ(barridos, esperados);
    EXPECT_TRUE(QFileInfo(programa + QStringLiteral("r20200102")).isSymLink());
    EXPECT_EQ(leer(destinos.file(QStringLiteral("ajeno.txt"))), QByteArray("not ours"));
    QFile::remove(programa + QStringLiteral("r20200102"));

    EXPECT_EQ(entradas(destino), (QStringList{"base.backup", "checksum.dat", "rolesv7.sql"}));
    EXPECT_EQ(QFileInfo(destino).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
    const QString volcado = destinos.file(QStringLiteral("base.backup"));
    escribir(volcado, miembro(destino, QStringLiteral("base.backup")));
    QByteArray lista;
    EXPECT_EQ(herramienta(QStringLiteral("pg_restore"), {QStringLiteral("-l"), volcado}, &lista), 0);
    EXPECT_TRUE(lista.contains("TABLE DATA catalogos usuarios"));
    EXPECT_EQ(filasEnVolcado(volcado, QStringLiteral("catalogos"), QStringLiteral("usuarios")), 7);
    EXPECT_TRUE(miembro(destino, QStringLiteral("rolesv7.sql")).contains("CREATE ROLE v7_super;"));

    const QStringList lineas = lineasDescifradas(miembro(destino, QStringLiteral("checksum.dat")));
    EXPECT_EQ(lineas, (QStringList{"catalogos.usuarios#7", "prestamo.devoluciones#3", "prestamo.multas#0",
                                   momento.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 10:11:12"),
                                   motorEsperado()}));
    EXPECT_TRUE(lineas.value(4).startsWith(QStringLiteral("PG_CONFIG (POSTGRESQL) 15")) ||
                lineas.value(4).startsWith(QStringLiteral("POSTGRESQL 15")))
        << lineas.value(4).toStdString();
    // The archive's own copy of the control table holds the same counts as checksum.dat.
    EXPECT_EQ(controlEnVolcado(volcado), lineas.mid(0, 3));
    EXPECT_EQ(PgCluster::instance().scalar(
                  QStringLiteral("SELECT string_agg(tabla || '=' || registros, ',' ORDER BY tabla) FROM "
                                 "config_veliro.control")),
              QStringLiteral("catalogos.usuarios=7,prestamo.devoluciones=3,prestamo.multas=0"));
    nadaAMedias(destino, "success");
}

// An "Administrador" login cannot read the roles' passwords the archive carries: told so in Spanish before
// anything is made, locked or counted.
TEST_F(Respaldo, ALoginThatIsNotASuperuserIsToldBeforeAnythingRuns) {
    ASSERT_TRUE(m_server->iniciarSesion(kAdmin));
    const QString destino = destinos.file(QStringLiteral("adm.zip"));
    ScriptedDialogs dialogs;
    const MensajeRespaldo m = respaldoManual(destino);
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(
        m.mensaje.texto,
        QStringLiteral("No se puede realizar el respaldo con el usuario adm: el respaldo incluye las cuentas de "
                       "usuario del servidor con sus contraseñas, y solo un superusuario puede leerlas.\r\nInicie "
                       "la sesión con un usuario Superusuario e inténtelo nuevamente."));
    EXPECT_EQ(iconoDe(m.mensaje.gravedad), MsgIcon::Warning);
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_FALSE(QFileInfo::exists(destino));
    EXPECT_FALSE(QFileInfo::exists(programa + QStringLiteral("config/respaldo.lock")));
    EXPECT_EQ(PgCluster::instance().scalar(QStringLiteral("SELECT sum(registros) FROM config_veliro.control")),
              QStringLiteral("0"));
    nadaAMedias(destino, "administrador");
}

TEST_F(Respaldo, ExistingStagingFolderCanStopTheRun) {
    const QString destino = destinos.file(QStringLiteral("r.zip"));
    const QString carpeta = carpetaRespaldo(programa, QDate::currentDate());
    ASSERT_TRUE(QDir().mkpath(carpeta));
    escribir(carpeta + QStringLiteral("/base.backup"), "another run's");
    ParametrosRespaldo p = parametros(destino);
    p.carpetaExistente = CarpetaExistente::Fallar;
    const ResultadoRespaldo r = escribirRespaldo(p, sesion().ConexionPrincipal);
    EXPECT_EQ(r.falla, FallaRespaldo::CarpetaExistente);
    // Not ours: left as it was; nothing was sent to the database.
    EXPECT_EQ(leer(carpeta + QStringLiteral("/base.backup")), QByteArray("another run's"));
    EXPECT_FALSE(QFile::exists(destino));
    EXPECT_EQ(PgCluster::instance().scalar(QStringLiteral("SELECT sum(registros) FROM config_veliro.control")),
              QStringLiteral("0"));
    QDir(carpeta).removeRecursively();

    // A second backup of this program folder waits for none: the lock is held.
    {
        const BloqueoRespaldo primero(programa);
        ASSERT_TRUE(primero.tomado()) << primero.error().toStdString();
        const BloqueoRespaldo segundo(programa);
        EXPECT_FALSE(segundo.tomado());
        EXPECT_TRUE(segundo.ocupado());
        ScriptedDialogs dialogs;
        const MensajeRespaldo m = respaldoManual(destino);
        EXPECT_FALSE(m.ok);
        EXPECT_TRUE(
            m.mensaje.texto.startsWith(QStringLiteral("No se puede realizar el respaldo debido a que otro respaldo")))
            << m.mensaje.texto.toStdString();
        EXPECT_TRUE(dialogs.shown().empty());
    }
    const BloqueoRespaldo despues(programa);
    EXPECT_TRUE(despues.tomado());
}

// Rows committed by other sessions while the backup runs: the counts in checksum.dat are those of the rows
// the dump holds, so the restore check of a good archive cannot fail.
TEST_F(Respaldo, CountsMatchTheDumpUnderConcurrentWrites) {
    auto& c = PgCluster::instance();
    const QString script = destinos.file(QStringLiteral("escritor.sql"));
    QByteArray sql;
    for (int i = 0; i < 40000; ++i) {
        sql += "INSERT INTO catalogos.usuarios (nombre) VALUES ('c');\n"
               "INSERT INTO prestamo.multas (idusuario, importe) VALUES (1, 2.5);\n";
    }
    escribir(script, sql);
    QProcess escritor;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGPASSWORD"), c.password());
    escritor.setProcessEnvironment(env);
    escritor.start(c.binFolder() + QStringLiteral("/psql"),
                   {QStringLiteral("-q"), QStringLiteral("-h"), c.host(), QStringLiteral("-p"),
                    QString::number(c.port()), QStringLiteral("-U"), c.superuser(), QStringLiteral("-d"),
                    QStringLiteral("veliro7"), QStringLiteral("-f"), script});
    ASSERT_TRUE(escritor.waitForStarted());
    QElapsedTimer reloj;
    reloj.start();
    while (c.scalar(QStringLiteral("SELECT count(*) FROM prestamo.multas")).toInt() < 200 && reloj.elapsed() < 30000) {
        events::pause(20);
    }
    const int antes = c.scalar(QStringLiteral("SELECT count(*) FROM prestamo.multas")).toInt();
    ASSERT_GE(antes, 200);

    const QString destino = destinos.file(QStringLiteral("concurrente.zip"));
    ParametrosRespaldo p = parametros(destino);
    // Writers keep committing around every step.
    p.avance = [](PasoRespaldo) { events::pause(150); };
    const ResultadoRespaldo r = escribirRespaldo(p, sesion().ConexionPrincipal);
    ASSERT_TRUE(r.ok()) << r.detalle.toStdString();
    const int despues = c.scalar(QStringLiteral("SELECT count(*) FROM prestamo.multas")).toInt();
    EXPECT_EQ(escritor.state(), QProcess::Running) << "the writer ended before the backup did";
    escritor.kill();
    escritor.waitForFinished();

    const QString volcado = destinos.file(QStringLiteral("base.backup"));
    escribir(volcado, miembro(destino, QStringLiteral("base.backup")));
    const int usuarios = filasEnVolcado(volcado, QStringLiteral("catalogos"), QStringLiteral("usuarios"));
    const int multas = filasEnVolcado(volcado, QStringLiteral("prestamo"), QStringLiteral("multas"));
    EXPECT_GT(multas, antes);
    EXPECT_LT(multas, despues);
    const QStringList lineas = lineasDescifradas(miembro(destino, QStringLiteral("checksum.dat")));
    ASSERT_GE(lineas.size(), 3);
    EXPECT_EQ(lineas[0], QStringLiteral("catalogos.usuarios#") + QString::number(usuarios));
    EXPECT_EQ(lineas[1], QStringLiteral("prestamo.devoluciones#3"));
    EXPECT_EQ(lineas[2], QStringLiteral("prestamo.multas#") + QString::number(multas));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT registros FROM config_veliro.control WHERE tabla = 'prestamo.multas'")),
              QString::number(multas));
    EXPECT_EQ(controlEnVolcado(volcado), lineas.mid(0, 3));
    nadaAMedias(destino, "concurrent");
}

// A configuration row can travel in the archive with another value than the live row keeps meanwhile (the
// unattended backup's RESPALDOOK): the dump reads the archive's value, the live row never shows it to the
// dump's readers.
TEST_F(Respaldo, TheArchiveCarriesItsOwnConfigurationValues) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral("DELETE FROM config_veliro.configuracion WHERE descripcion = 'RESPALDOOK'; "
                                      "INSERT INTO config_veliro.configuracion VALUES ('RESPALDOOK', 'Falso');")));
    const QString vivos = QStringLiteral("SELECT string_agg(descripcion || '=' || valor, ',' ORDER BY descripcion) "
                                         "FROM config_veliro.configuracion WHERE descripcion IN ('RESPALDOOK', "
                                         "'PRUEBA_NUEVA')");
    const QString destino = destinos.file(QStringLiteral("valores.zip"));
    ParametrosRespaldo p = parametros(destino);
    p.valoresEnArchivo = {
        {QStringLiteral("RESPALDOOK"), QStringLiteral("Verdadero"), QStringLiteral("Falso")},
        {QStringLiteral("PRUEBA_NUEVA"), QStringLiteral("en el archivo"), QStringLiteral("en curso")}};
    QString duranteElVolcado;
    p.avance = [&](PasoRespaldo paso) {
        if (paso == PasoRespaldo::Volcado) {
            duranteElVolcado = c.scalar(vivos);
        }
    };
    const ResultadoRespaldo r = escribirRespaldo(p, sesion().ConexionPrincipal);
    ASSERT_TRUE(r.ok()) << r.detalle.toStdString();
    EXPECT_EQ(duranteElVolcado, QStringLiteral("PRUEBA_NUEVA=en curso,RESPALDOOK=Falso"));
    EXPECT_EQ(c.scalar(vivos), QStringLiteral("PRUEBA_NUEVA=en curso,RESPALDOOK=Falso"));
    const QString volcado = destinos.file(QStringLiteral("base.backup"));
    escribir(volcado, miembro(destino, QStringLiteral("base.backup")));
    EXPECT_EQ(configuracionEnVolcado(volcado, QStringLiteral("RESPALDOOK")), QStringLiteral("Verdadero"));
    EXPECT_EQ(configuracionEnVolcado(volcado, QStringLiteral("PRUEBA_NUEVA")), QStringLiteral("en el archivo"));

    // A dump that fails after the archive's values were written puts the live values back.
    ASSERT_TRUE(c.psql(QStringLiteral("UPDATE config_veliro.configuracion SET valor = 'otro' WHERE descripcion = "
                                      "'PRUEBA_NUEVA';")));
    p.clave = QStringLiteral("mala");
    p.avance = {};
    const ResultadoRespaldo fallido = escribirRespaldo(p, sesion().ConexionPrincipal);
    EXPECT_EQ(fallido.falla, FallaRespaldo::HerramientaFallo);
    EXPECT_EQ(c.scalar(vivos), QStringLiteral("PRUEBA_NUEVA=en curso,RESPALDOOK=Falso"));
    nadaAMedias(destino, "values");
}

// The progress goes forward from 0 to the end, with each step's text; calls may come from other threads.
TEST_F(Respaldo, ProgressGoesForwardWithEachStepsText) {
    std::mutex m;
    QVector<std::pair<int, QString>> vistos;
    ParametrosRespaldo p = parametros(destinos.file(QStringLiteral("avance.zip")));
    p.progreso = [&](int milesimas, const QString& texto) {
        const std::lock_guard<std::mutex> lock(m);
        vistos.push_back({milesimas, texto});
    };
    const ResultadoRespaldo r = escribirRespaldo(p, sesion().ConexionPrincipal);
    ASSERT_TRUE(r.ok()) << r.detalle.toStdString();
    ASSERT_FALSE(vistos.isEmpty());
    EXPECT_EQ(vistos.front(), std::make_pair(0, textoPaso(PasoRespaldo::Carpeta)));
    EXPECT_EQ(vistos.back(), std::make_pair(kMilesimasRespaldo, QStringLiteral("Respaldo terminado.")));
    QStringList textos;
    for (int i = 0; i < vistos.size(); ++i) {
        textos << vistos[i].second;
        if (i > 0) {
            EXPECT_GE(vistos[i].first, vistos[i - 1].first) << i;
        }
    }
    for (const PasoRespaldo paso :
         {PasoRespaldo::Bloqueo, PasoRespaldo::Volcado, PasoRespaldo::Roles, PasoRespaldo::Version,
          PasoRespaldo::Checksum, PasoRespaldo::Empaque, PasoRespaldo::Limpieza}) {
        EXPECT_TRUE(textos.contains(textoPaso(paso))) << textoPaso(paso).toStdString();
    }
    EXPECT_TRUE(textos.contains(QStringLiteral("Verificando el archivo comprimido...")));
}

// The maintenance window on a database of a few hundred MB: the bar moves with the work and the status text
// stays readable while the window is locked. Three moments are saved as screenshots
// (screenshots/respaldo-avance-1.png to -3.png in the build folder).
TEST_F(Respaldo, TheWindowShowsTheBackupMovingOnASizeableDatabase) {
    auto& c = PgCluster::instance();
    // Unlogged: quicker to make, dumped all the same.
    ASSERT_TRUE(c.psql(QStringLiteral(
        "CREATE UNLOGGED TABLE prestamo.historico AS SELECT g AS id, md5(g::text) || md5((g * 7)::text) AS titulo, "
        "'autor ' || (g % 9973) AS autor, timestamp '2010-01-01' + g * interval '17 seconds' AS fecha "
        "FROM generate_series(1, 1800000) g; ANALYZE prestamo.historico;")));
    const qint64 tamano = c.scalar(QStringLiteral("SELECT pg_database_size('veliro7')")).toLongLong();
    EXPECT_GT(tamano, 200LL * 1048576);
    sesion().BaseDatosValida = true;

    ScriptedDialogs dialogs;
    FrmBase w;
    w.show();
    hijo<QTabBar>(w, "TabAdmin")->setCurrentIndex(1);
    const QString destino = destinos.file(QStringLiteral("grande.zip"));
    hijo<QLineEdit>(w, "txtRuta")->setText(destino);
    auto* barra = hijo<QProgressBar>(w, "ProgBarr");
    auto* estado = hijo<QLabel>(w, "EtStatusRespaldo");

    struct Vista {
        qint64 ms;
        int valor;
        QString texto;
        bool bloqueada;
    };
    QVector<Vista> vistas;
    QElapsedTimer reloj;
    const QString capturas = QStringLiteral(V7_SCREENSHOT_DIR);
    QDir().mkpath(capturas);
    const int umbrales[] = {150, 450, 800};
    int capturadas = 0;
    QTimer muestreo;
    muestreo.setInterval(100);
    QObject::connect(&muestreo, &QTimer::timeout, [&] {
        if (!barra->isVisible()) {
            return;
        }
        vistas.push_back({reloj.elapsed(), barra->value(), estado->text(), !estado->isEnabled()});
        if (capturadas < 3 && barra->value() >= umbrales[capturadas]) {
            ++capturadas;
            EXPECT_TRUE(w.grab().save(capturas + QStringLiteral("/respaldo-avance-") + QString::number(capturadas) +
                                      QStringLiteral(".png")));
        }
    });
    dialogs.answer(MsgResult::Ok);
    reloj.start();
    muestreo.start();
    click(w, "BtnRespaldar");
    muestreo.stop();
    const qint64 total = reloj.elapsed();
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].icon, MsgIcon::Information) << dialogs.shown()[0].text.toStdString();
    std::printf("database %.0f MB, backup %.1f s, %d samples\n", double(tamano) / 1048576.0, double(total) / 1000.0,
                int(vistas.size()));

    // Moving: many values, forward only, never still for long, the dump telling its table.
    ASSERT_GT(vistas.size(), 20);
    EXPECT_EQ(capturadas, 3);
    QSet<int> valores;
    qint64 quieta = 0, desde = vistas.front().ms;
    for (int i = 0; i < vistas.size(); ++i) {
        valores.insert(vistas[i].valor);
        EXPECT_TRUE(vistas[i].bloqueada) << i;
        EXPECT_FALSE(vistas[i].texto.isEmpty()) << i;
        if (i > 0) {
            EXPECT_GE(vistas[i].valor, vistas[i - 1].valor) << i;
            if (vistas[i].valor != vistas[i - 1].valor) {
                desde = vistas[i].ms;
            }
        }
        quieta = std::max(quieta, vistas[i].ms - desde);
    }
    EXPECT_GT(valores.size(), 15) << valores.size();
    EXPECT_LT(quieta, total / 4) << "still for " << quieta << " ms of " << total;
    EXPECT_TRUE(std::any_of(vistas.begin(), vistas.end(), [](const Vista& v) {
        return v.texto.startsWith(QStringLiteral("Respaldando la base de datos: tabla prestamo.historico ("));
    }));
    EXPECT_TRUE(std::any_of(vistas.begin(), vistas.end(), [](const Vista& v) {
        return v.texto.startsWith(QStringLiteral("Comprimiendo el respaldo ("));
    }));

    // Readable while locked: the disabled status text and bar are drawn as when enabled.
    for (QWidget* control : {static_cast<QWidget*>(estado), static_cast<QWidget*>(barra)}) {
        estado->setText(QStringLiteral("Respaldando la base de datos..."));
        barra->setValue(500);
        control->show();
        control->setEnabled(true);
        const QImage habilitado = control->grab().toImage();
        control->setEnabled(false);
        EXPECT_EQ(control->grab().toImage(), habilitado) << control->objectName().toStdString();
        control->setEnabled(true);
        control->hide();
    }
    nadaAMedias(destino, "window");
}

// Each failure gives the maintenance window's message and leaves nothing half-made.
TEST_F(Respaldo, FailuresLeaveNothingHalfMade) {
    auto& c = PgCluster::instance();
    const QString sinPermiso =
        geteuid() == 0 ? QStringLiteral("/sys/v7-respaldo.zip") : destinos.file(QStringLiteral("solo lectura/r.zip"));
    if (geteuid() != 0) {
        QDir().mkpath(destinos.file(QStringLiteral("solo lectura")));
        ::chmod(QFile::encodeName(destinos.file(QStringLiteral("solo lectura"))).constData(), 0500);
    }
    const QString ruta = qEnvironmentVariable("PATH");
    const QString noCreado = QStringLiteral("No se logro crear el archivo de respaldo: ");
    struct Caso {
        const char* nombre;
        QString destino;
        std::function<void()> preparar;
        QString mensaje; // the whole message, or its beginning when parcial
        bool parcial = false;
        MsgIcon icono = MsgIcon::Critical;
        bool controlActualizado = false; // the counts reached config_veliro.control (its COMMIT ran)
    };
    const QString existente = destinos.file(QStringLiteral("existente.zip"));
    const QString hoy = carpetaRespaldo(programa, QDate::currentDate());
    // An installation whose pg_dump exits 0 and writes nothing.
    const QString falsa = destinos.file(QStringLiteral("pgfalso/"));
    QDir().mkpath(falsa + QStringLiteral("bin"));
    for (const QString& t : QDir(c.binFolder()).entryList(QDir::Files)) {
        QFile::link(c.binFolder() + QLatin1Char('/') + t, falsa + QStringLiteral("bin/") + t);
    }
    QFile::link(c.dataFolder(), falsa + QStringLiteral("data"));
    // pg_ctl runs as the cluster's owner, who must reach its folder.
    ::chmod(QFile::encodeName(destinos.path()).constData(), 0755);
    QFile::remove(falsa + QStringLiteral("bin/pg_dump"));
    escribir(falsa + QStringLiteral("bin/pg_dump"), "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(falsa + QStringLiteral("bin/pg_dump"), QFile::ReadOwner | QFile::ExeOwner);
    const Caso casos[] = {
        {"server not running", destinos.file(QStringLiteral("a.zip")), [&] { ASSERT_TRUE(c.stop()); },
         QStringLiteral("No se puede realizar el respaldo debido a que el Servidor NO está en ejecución.\r\n     Por "
                        "favor, verifique el estado del Servidor e inténtelo nuevamente.")},
        // The destination is checked before anything is locked: the counts are not updated.
        {"archive folder is a file", destinos.file(QStringLiteral("archivo.txt/b.zip")),
         [&] { escribir(destinos.file(QStringLiteral("archivo.txt")), "a file"); },
         noCreado + destinos.file(QStringLiteral("archivo.txt/b.zip")) +
             QStringLiteral("\r\nNo se ha encontrado la ruta de acceso: ") +
             destinos.file(QStringLiteral("archivo.txt"))},
        {"pg_dump fails (wrong password), older archive kept", existente,
         [&] {
             sesion().ClaveBD = QStringLiteral("mala");
             escribir(existente, "older archive");
         },
         QStringLiteral("El tamaño del archivo \"base.backup\" es de 0 bytes.\r\n     El Respaldo NO se generó "
                        "satisfactoriamente.\r\npg_dump terminó con el código 1.\r\nEl usuario o la contraseña no "
                        "son válidos.\r\nDetalle del servidor: pg_dump: error: "),
         true, MsgIcon::Critical, true},
        // 7za's own words follow the designed line.
        {"7za missing", destinos.file(QStringLiteral("c.zip")), [&] { qputenv("PATH", "/usr/sbin:/sbin"); },
         noCreado + destinos.file(QStringLiteral("c.zip")) + QStringLiteral("\r\n"), true, MsgIcon::Critical, true},
        {"destination not writable", sinPermiso, [] {},
         noCreado + sinPermiso + QStringLiteral("\r\nPermiso denegado: ") + QFileInfo(sinPermiso).absolutePath(), false,
         MsgIcon::Critical, true},
        {"destination is a folder", destinos.file(QStringLiteral("carpeta.zip")),
         [&] { ASSERT_TRUE(QDir().mkpath(destinos.file(QStringLiteral("carpeta.zip")))); },
         noCreado + destinos.file(QStringLiteral("carpeta.zip")) +
             QStringLiteral("\r\nError de acceso a la ruta o el archivo: ") +
             destinos.file(QStringLiteral("carpeta.zip")) + QStringLiteral(" es una carpeta")},
        // Where the clean-up would remove it: refused before anything is locked.
        {"destination in today's staging folder", hoy + QStringLiteral("/x.zip"),
         [&] { ASSERT_TRUE(QDir().mkpath(hoy)); },
         QStringLiteral("No se puede guardar el respaldo en ") + hoy +
             QStringLiteral("/x.zip: esa carpeta es la carpeta temporal del respaldo (") + hoy +
             QStringLiteral("), que se elimina al terminar. Elija otra ubicación.")},
        {"destination reached through a link to a staging folder", destinos.file(QStringLiteral("enlace/x.zip")),
         [&] {
             ASSERT_TRUE(QDir().mkpath(programa + QStringLiteral("r20200101/sub")));
             ASSERT_TRUE(
                 QFile::link(programa + QStringLiteral("r20200101/sub"), destinos.file(QStringLiteral("enlace"))));
         },
         QStringLiteral("No se puede guardar el respaldo en ") + destinos.file(QStringLiteral("enlace/x.zip")) +
             QStringLiteral(": esa carpeta es la carpeta temporal del respaldo"),
         true},
        // A pg_dump that ends well without writing its file: the missing file's error, not the 0-byte text.
        {"dump file missing", destinos.file(QStringLiteral("e.zip")), [&] { sesion().RutaPostgres = falsa; },
         QStringLiteral("Ocurrió el error No. 53\r\nNo se ha encontrado el archivo: ") + hoy +
             QStringLiteral("/base.backup"),
         false, MsgIcon::Critical, true},
        {"statement fails inside the transaction", destinos.file(QStringLiteral("d.zip")),
         [&] { ASSERT_TRUE(c.psql(QStringLiteral("DROP TABLE config_veliro.control;"))); },
         QStringLiteral("Ocurrió el error No. -2147467259\r\n"), true},
    };
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.nombre);
        if (!c.isRunning()) {
            ASSERT_TRUE(c.start());
        }
        c.freshDatabase();
        ASSERT_TRUE(c.psql(QStringLiteral("INSERT INTO config_veliro.configuracion VALUES ('VER_V7TOOLS', "
                                          "'R1.01 - 2018/09/07'); INSERT INTO catalogos.usuarios (nombre) VALUES "
                                          "('a'), ('b');")));
        ASSERT_TRUE(m_server->iniciarSesion());
        k.preparar();
        const QByteArray antes = leer(k.destino);
        ScriptedDialogs dialogs;
        const MensajeRespaldo m = respaldoManual(k.destino);
        qputenv("PATH", ruta.toLocal8Bit());
        EXPECT_FALSE(m.ok);
        EXPECT_EQ(iconoDe(m.mensaje.gravedad), k.icono);
        if (k.parcial) {
            EXPECT_TRUE(m.mensaje.texto.startsWith(k.mensaje)) << m.mensaje.texto.toStdString();
        } else {
            EXPECT_EQ(m.mensaje.texto, k.mensaje);
        }
        EXPECT_TRUE(dialogs.shown().empty()) << dialogs.texts().join(QLatin1Char('|')).toStdString();
        // The destination is as it was: absent, or the older archive untouched.
        EXPECT_EQ(leer(k.destino), antes);
        QFile::remove(destinos.file(QStringLiteral("enlace")));
        QDir(hoy).removeRecursively();
        QDir(programa + QStringLiteral("r20200101")).removeRecursively();
        nadaAMedias(k.destino, k.nombre);
        if (c.isRunning() && k.controlActualizado) {
            EXPECT_EQ(c.scalar(QStringLiteral("SELECT registros FROM config_veliro.control WHERE tabla = "
                                              "'catalogos.usuarios'")),
                      QStringLiteral("2"));
        }
    }
    ASSERT_TRUE(c.isRunning() || c.start());
}

// V7Tools ended during a backup: by a signal it handles (a logout sends SIGTERM), its tools are stopped and
// its staging folder and scripts removed; killed outright (the out-of-memory killer, kill -9), its tools die
// with it at once (each is the program's own child, not a shell's) and the next backup removes what it left.
// The program is this test program itself, run as a child that logs in as V7Tools does, installs the same
// handler as V7Tools's main and backs up until it is killed.
TEST_F(Respaldo, AnEndDuringTheBackupLeavesNoToolRunning) {
    auto& c = PgCluster::instance();
    const QString staging = carpetaRespaldo(programa, QDate::currentDate());
    const QString trabajo = paths::workFolder();
    for (const int senal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(senal);
        test::VolcadoDetenido detenido;
        QProcess hijo;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("V7_PRUEBA_HIJO"), destinos.file(QStringLiteral("hijo.zip")));
        env.insert(QStringLiteral("V7_PRUEBA_PUERTO"), QString::number(c.port()));
        hijo.setProcessEnvironment(env);
        hijo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        hijo.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=RespaldoHijo.*")});
        ASSERT_NE(detenido.esperarVolcado(), 0);

        EXPECT_TRUE(QFileInfo::exists(trabajo + kScriptVolcado)); // in the private work folder
        EXPECT_FALSE(leer(trabajo + kScriptVolcado).contains("PGPASSWORD"));
        EXPECT_FALSE(QFileInfo::exists(programa + kScriptVolcado));
        const QStringList herramientas = test::procesosCon(staging);
        ASSERT_EQ(herramientas.size(), 1) << herramientas.join('\n').toStdString();
        EXPECT_EQ(test::padreDe(herramientas[0].section(QLatin1Char(' '), 0, 0).toLongLong()), hijo.processId())
            << herramientas[0].toStdString();

        ::kill(pid_t(hijo.processId()), senal);
        ASSERT_TRUE(hijo.waitForFinished(30000));
        EXPECT_TRUE(esperarHasta([&] { return test::procesosCon(staging).isEmpty(); }, 2000))
            << test::procesosCon(staging).join('\n').toStdString();
        EXPECT_FALSE(QFileInfo::exists(destinos.file(QStringLiteral("hijo.zip"))));
        if (senal == SIGTERM) {
            EXPECT_EQ(hijo.exitCode(), 128 + SIGTERM);
            EXPECT_FALSE(QFileInfo::exists(staging));
            EXPECT_TRUE(QDir(trabajo).entryList({QStringLiteral("v7.*")}, QDir::Files).isEmpty())
                << QDir(trabajo).entryList().join(QLatin1Char(' ')).toStdString();
            detenido.liberar();
            nadaAMedias(destinos.file(QStringLiteral("hijo.zip")), "SIGTERM");
        } else {
            EXPECT_EQ(hijo.exitStatus(), QProcess::CrashExit);
            EXPECT_TRUE(QFileInfo::exists(staging)); // nothing of the program ran after the kill
        }
    }
    // The next backup removes what the killed one left.
    ScriptedDialogs dialogs;
    const MensajeRespaldo m = respaldoManual(destinos.file(QStringLiteral("despues.zip")));
    EXPECT_TRUE(m.ok) << m.mensaje.texto.toStdString();
    EXPECT_TRUE(m.resultado.restosBarridos.contains(staging)) << m.resultado.restosBarridos.join(' ').toStdString();
    nadaAMedias(destinos.file(QStringLiteral("despues.zip")), "after the kill");
}

TEST(RespaldoHijo, ManualBackupUntilItIsKilled) {
    const QString destino = qEnvironmentVariable("V7_PRUEBA_HIJO");
    if (destino.isEmpty()) {
        GTEST_SKIP() << "run as a child by Respaldo.AnEndDuringTheBackupLeavesNoToolRunning";
    }
    auto& s = sesion();
    s.UsuarioBD = kJefe.usuario;
    s.ClaveBD = kJefe.clave;
    s.ServidorIP = QStringLiteral("127.0.0.1");
    s.PuertoBD = qEnvironmentVariableIntValue("V7_PRUEBA_PUERTO");
    s.RutaTemporal = paths::workFolder();
    ASSERT_TRUE(BuscarInstalacionPostgres().ok);
    s.CadenaConexion = cadenaConexionPrincipal(s.ServidorIP, s.PuertoBD, s.UsuarioBD, s.ClaveBD);
    QString err;
    ASSERT_TRUE(ConexionServer(s.CadenaConexion, err)) << err.toStdString();
    process::terminarConLimpieza(); // as V7Tools's main installs it
    const MensajeRespaldo m = respaldoManual(destino);
    ADD_FAILURE() << "the backup ended before the signal: " << m.mensaje.texto.toStdString();
}

} // namespace
