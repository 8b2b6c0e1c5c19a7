// The built V7backup, run as the scheduled task runs it, on a program folder and key store prepared
// here and the test cluster.
#include "core/cifrado.h"
#include "core/marca_restauracion.h"
#include "maintenance/respaldo.h"
#include "platform/keystore.h"
#include "tests/maintenance/archivo_respaldo.h"
#include "tests/maintenance/volcado_detenido.h"
#include "tests/support/archivos_prueba.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>
#include <zip.h>

#include <functional>
#include <memory>
#include <optional>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace v7;
using v7::test::escribir;
using v7::test::esperarHasta;
using v7::test::kJefe;
using v7::test::leer;
using v7::test::PgCluster;

namespace {

struct Corrida {
    int estado = -1;
    QString salidaError;
};

// Members of a .zip and the content of one of them.
struct ContenidoZip {
    QStringList miembros;
    QByteArray checksum;
};

std::optional<ContenidoZip> leerZip(const QString& ruta) {
    int err = 0;
    zip_t* z = zip_open(QFile::encodeName(ruta).constData(), ZIP_RDONLY, &err);
    if (z == nullptr) {
        return std::nullopt;
    }
    ContenidoZip c;
    const zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        c.miembros << QString::fromUtf8(zip_get_name(z, zip_uint64_t(i), 0));
    }
    if (zip_file_t* f = zip_fopen(z, "checksum.dat", 0)) {
        char buf[4096];
        zip_int64_t leidos = 0;
        while ((leidos = zip_fread(f, buf, sizeof buf)) > 0) {
            c.checksum.append(buf, int(leidos));
        }
        zip_fclose(f);
    }
    zip_close(z);
    c.miembros.sort();
    return c;
}

class V7backup : public ::testing::Test {
protected:
    void SetUp() override {
        m_servidor = std::make_unique<test::ServidorPreparado>();
        m_programa = m_servidor->carpeta().path() + QStringLiteral("programa/");
        m_hoy = QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
        // Marker rows in the three control tables, an older module version to be raised.
        ASSERT_TRUE(cluster().psql(QStringLiteral(
            "INSERT INTO catalogos.usuarios (nombre) SELECT 'u' || g FROM generate_series(1, 5) g;\n"
            "INSERT INTO prestamo.devoluciones (idusuario) SELECT g FROM generate_series(1, 3) g;\n"
            "INSERT INTO prestamo.multas (idusuario, importe) VALUES (1, 10.5), (2, 3);\n"
            "INSERT INTO config_veliro.configuracion VALUES ('VER_V7BACKUP', 'R0.90 - 2016/01/15');\n")));
    }

    static PgCluster& cluster() { return PgCluster::instance(); }

    QString archivoDestino() const { return m_servidor->carpeta().path() + QStringLiteral("respaldos/base.zip"); }
    QString archivoFechado() const {
        return m_servidor->carpeta().path() + QStringLiteral("respaldos/base_") + m_hoy + QStringLiteral(".zip");
    }

    // The five lines as the schedule window writes them: user and password scrambled with key B.
    void escribirConfiguracion(const QString& usuario, const QString& clave, const QString& servidor,
                               const QString& puerto, const QString& ruta) {
        escribirArchivoConfiguracion(cifrarConClave(usuario, false).toUtf8() + "\r\n" +
                                     cifrarConClave(clave, false).toUtf8() + "\r\n" + servidor.toUtf8() + "\r\n" +
                                     puerto.toUtf8() + "\r\n" + ruta.toUtf8() + "\r\n");
    }
    void escribirConfiguracionBuena(const QString& servidor = QStringLiteral("localhost")) {
        QDir().mkpath(m_servidor->carpeta().path() + QStringLiteral("respaldos"));
        escribirConfiguracion(kJefe.usuario, kJefe.clave, servidor, QString::number(cluster().port()),
                              archivoDestino());
    }
    void escribirArchivoConfiguracion(const QByteArray& contenido) {
        QDir().mkpath(m_programa + QStringLiteral("config"));
        QFile f(m_programa + QStringLiteral("config/v7.respaldo.dat"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(contenido);
    }

    // V7backup started and left running, with extra environment variables.
    std::unique_ptr<QProcess> lanzar(const QMap<QString, QString>& entorno = {}) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (auto it = entorno.cbegin(); it != entorno.cend(); ++it) {
            env.insert(it.key(), it.value());
        }
        p->setProcessEnvironment(env);
        p->setStandardInputFile(QProcess::nullDevice());
        p->start(QStringLiteral(V7_BACKUP_EXE), {});
        EXPECT_TRUE(p->waitForStarted());
        return p;
    }
    static int esperarFin(QProcess& p, int ms = 60000) {
        if (!p.waitForFinished(ms)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "V7backup did not end";
            return -1;
        }
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : 128 + SIGKILL;
    }

    Corrida correr(const QString& path = QString(), const QString& odbcSysIni = QString()) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!path.isNull()) {
            env.insert(QStringLiteral("PATH"), path);
        }
        if (!odbcSysIni.isNull()) {
            env.insert(QStringLiteral("ODBCSYSINI"), odbcSysIni);
        }
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(QStringLiteral(V7_BACKUP_EXE), {});
        Corrida c;
        if (!p.waitForFinished(300000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "V7backup did not end";
            return c;
        }
        c.estado = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        c.salidaError = QString::fromUtf8(p.readAllStandardError());
        return c;
    }

    QString respaldos() const { return m_servidor->carpeta().path() + QStringLiteral("respaldos/"); }
    // The packing folders beside the archive (".<archive>.<pid>-XXXXXX").
    QStringList empaques() const {
        return QDir(respaldos()).entryList({QStringLiteral(".*.zip.*-??????")}, QDir::AllEntries | QDir::Hidden);
    }
    // A 7za of the program folder's own (looked up before the one on PATH), running sh: $1 is "a" or "t",
    // $3 the archive being packed.
    void falso7za(const QByteArray& cuerpo) {
        const QString ruta = m_programa + QStringLiteral("7za");
        escribir(ruta, "#!/bin/sh\n" + cuerpo);
        QFile::setPermissions(ruta, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // A 7za that, when it packs, creates marca and waits for seguir to exist before doing its work.
    struct Pausa {
        QString marca;
        QString seguir;
    };
    Pausa falso7zaEnPausa() {
        const Pausa p{m_servidor->carpeta().path() + QStringLiteral("empacando"),
                      m_servidor->carpeta().path() + QStringLiteral("seguir")};
        falso7za("if [ \"$1\" = a ]; then : > '" + QFile::encodeName(p.marca) + "'; while [ ! -e '" +
                 QFile::encodeName(p.seguir) + "' ]; do sleep 0.05; done; fi\nexec 7za \"$@\"\n");
        return p;
    }
    static void ponerRespaldoOk(const char* valor) {
        ASSERT_TRUE(cluster().psql(QStringLiteral("DELETE FROM config_veliro.configuracion WHERE descripcion = "
                                                  "'RESPALDOOK'; INSERT INTO config_veliro.configuracion VALUES "
                                                  "('RESPALDOOK', '") +
                                   QLatin1String(valor) + QStringLiteral("');")));
    }
    // Whether a process runs (a zombie has ended).
    static bool vivo(qint64 pid) {
        QFile f(QStringLiteral("/proc/") + QString::number(pid) + QStringLiteral("/stat"));
        return f.open(QIODevice::ReadOnly) && !f.readAll().contains(") Z ");
    }

    QString bitacora() const {
        QFile f(m_programa + QStringLiteral("log/resp_") + m_hoy + QStringLiteral(".log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    static QString valorConfiguracion(const char* clave) {
        return cluster().scalar(QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion = '") +
                                QLatin1String(clave) + QLatin1Char('\''));
    }

    // Nothing a run may leave: the day's staging folder, a script or file holding the password.
    void sinRestos(bool sinCarpeta = true) {
        if (sinCarpeta) {
            EXPECT_FALSE(QFileInfo::exists(m_programa + QStringLiteral("r") + m_hoy));
        }
        for (const QString& raiz : {m_programa, m_servidor->carpeta().path() + QStringLiteral("tmp")}) {
            QDirIterator it(raiz, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString ruta = it.next();
                QFile f(ruta);
                ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << ruta.toStdString();
                const QByteArray contenido = f.readAll();
                EXPECT_FALSE(contenido.contains("PGPASSWORD")) << ruta.toStdString();
                EXPECT_FALSE(contenido.contains(kJefe.clave.toUtf8())) << ruta.toStdString();
            }
        }
    }

    std::unique_ptr<test::ServidorPreparado> m_servidor;
    QString m_programa;
    QString m_hoy;
};

TEST_F(V7backup, WritesTheDatedArchiveLogsAndRecordsTheOutcome) {
    escribirConfiguracionBuena();
    const Corrida c = correr();
    ASSERT_EQ(c.estado, 0) << c.salidaError.toStdString();

    const auto zip = leerZip(archivoFechado());
    ASSERT_TRUE(zip.has_value()) << archivoFechado().toStdString();
    EXPECT_EQ(zip->miembros, (QStringList{QStringLiteral("base.backup"), QStringLiteral("checksum.dat"),
                                          QStringLiteral("rolesv7.sql")}));
    EXPECT_FALSE(QFileInfo::exists(archivoDestino())); // only the dated name

    QStringList lineas;
    for (const QByteArray& l : zip->checksum.split('\n')) {
        if (!l.trimmed().isEmpty()) {
            lineas << DescifrarCadena(QString::fromLatin1(l.trimmed()), false); // VER_V7TOOLS 2018: key B
        }
    }
    ASSERT_EQ(lineas.size(), 5) << lineas.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(lineas[0], QStringLiteral("catalogos.usuarios#5"));
    EXPECT_EQ(lineas[1], QStringLiteral("prestamo.devoluciones#3"));
    EXPECT_EQ(lineas[2], QStringLiteral("prestamo.multas#2"));
    EXPECT_TRUE(lineas[3].startsWith(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd "))))
        << lineas[3].toStdString();
    EXPECT_TRUE(lineas[4].startsWith(QStringLiteral("POSTGRESQL 15"))) << lineas[4].toStdString();
    EXPECT_EQ(cluster().scalar(QStringLiteral("SELECT string_agg(tabla || '=' || registros, ',' ORDER BY tabla) "
                                              "FROM config_veliro.control")),
              QStringLiteral("catalogos.usuarios=5,prestamo.devoluciones=3,prestamo.multas=2"));

    EXPECT_TRUE(bitacora().contains(QStringLiteral(" - El respaldo se llevo a cabo correctamente en la siguiente "
                                                   "ubicación ") +
                                    archivoFechado() + QStringLiteral("\r\n")))
        << bitacora().toStdString();
    EXPECT_EQ(valorConfiguracion("RESPALDOOK"), QStringLiteral("Verdadero"));
    EXPECT_EQ(valorConfiguracion("VER_V7BACKUP"), QStringLiteral("R1.00 - 2017/10/09"));
    // The archive says its backup succeeded (the live row read false while the run went on), and its
    // control table holds the counts of its checksum.dat.
    const QString volcado = m_servidor->carpeta().path() + QStringLiteral("base.backup");
    escribir(volcado, test::miembro(archivoFechado(), QStringLiteral("base.backup")));
    EXPECT_EQ(test::configuracionEnVolcado(volcado, QStringLiteral("RESPALDOOK")), QStringLiteral("Verdadero"));
    EXPECT_EQ(test::controlEnVolcado(volcado), lineas.mid(0, 3));
    sinRestos();
}

TEST_F(V7backup, StagingFolderOfAFailedRunOfTheDayDoesNotBlockTheNext) {
    QDir().mkpath(m_programa + QStringLiteral("r") + m_hoy);
    escribir(m_programa + QStringLiteral("r") + m_hoy + QStringLiteral("/base.backup"), "left by a run that died");
    escribirConfiguracionBuena(cluster().host());

    const Corrida c = correr();
    ASSERT_EQ(c.estado, 0) << c.salidaError.toStdString() << bitacora().toStdString();
    const auto zip = leerZip(archivoFechado());
    ASSERT_TRUE(zip.has_value());
    EXPECT_EQ(zip->miembros.size(), 3) << zip->miembros.join(QLatin1Char(' ')).toStdString();
    sinRestos();
}

// Staging folders of earlier days lose only the files the backup writes there; a folder that then holds
// something else (a file put there by hand, a folder, a link at a member's name) stays with it, and the log
// names what stayed. Today's folder holding something else is neither emptied nor packed: the run stops.
TEST_F(V7backup, OnlyTheBackupsOwnFilesLeaveAStagingFolderOfAnEarlierRun) {
    const QString viejo = m_programa + QStringLiteral("r20200101/");
    const QString vacio = m_programa + QStringLiteral("r20200102/");
    const QString fuera = m_servidor->carpeta().path() + QStringLiteral("fuera.sql");
    ASSERT_TRUE(QDir().mkpath(viejo + QStringLiteral("copias")) && QDir().mkpath(vacio));
    escribir(viejo + QStringLiteral("base.backup"), "killed run");
    escribir(viejo + QStringLiteral("checksum.dat"), "killed run");
    escribir(viejo + QStringLiteral("notas.txt"), "the administrator's");
    escribir(viejo + QStringLiteral("copias/lista.txt"), "the administrator's");
    escribir(fuera, "not the backup's");
    ASSERT_TRUE(QFile::link(fuera, viejo + QStringLiteral("rolesv7.sql")));
    escribir(vacio + QStringLiteral("base.backup"), "killed run");
    escribir(vacio + QStringLiteral("rolesv7.sql"), "killed run");
    escribirConfiguracionBuena(cluster().host());

    const Corrida c = correr();
    ASSERT_EQ(c.estado, 0) << c.salidaError.toStdString() << bitacora().toStdString();
    EXPECT_TRUE(bitacora().contains(QStringLiteral(" - Se eliminaron los restos de una ejecución anterior que no "
                                                   "terminó: ") +
                                    viejo + QStringLiteral("base.backup, ") + viejo + QStringLiteral("checksum.dat, ") +
                                    m_programa + QStringLiteral("r20200102\r\n")))
        << bitacora().toStdString();
    EXPECT_TRUE(bitacora().contains(QStringLiteral(" - Se dejaron en las carpetas temporales de respaldos anteriores "
                                                   "los archivos que no son del respaldo: ") +
                                    viejo + QStringLiteral("copias, ") + viejo + QStringLiteral("notas.txt, ") + viejo +
                                    QStringLiteral("rolesv7.sql\r\n")))
        << bitacora().toStdString();
    EXPECT_FALSE(QFileInfo::exists(vacio));
    EXPECT_FALSE(QFileInfo::exists(viejo + QStringLiteral("base.backup")));
    EXPECT_FALSE(QFileInfo::exists(viejo + QStringLiteral("checksum.dat")));
    EXPECT_EQ(leer(viejo + QStringLiteral("notas.txt")), QByteArray("the administrator's"));
    EXPECT_EQ(leer(viejo + QStringLiteral("copias/lista.txt")), QByteArray("the administrator's"));
    EXPECT_TRUE(QFileInfo(viejo + QStringLiteral("rolesv7.sql")).isSymLink());
    EXPECT_EQ(leer(fuera), QByteArray("not the backup's"));
    sinRestos();

    // Today's folder with a file of someone else's in it.
    const QString hoy = m_programa + QStringLiteral("r") + m_hoy;
    ASSERT_TRUE(QDir().mkpath(hoy));
    escribir(hoy + QStringLiteral("/base.backup"), "killed run");
    escribir(hoy + QStringLiteral("/notas.txt"), "the administrator's");
    QFile::remove(archivoFechado());
    const Corrida otra = correr();
    EXPECT_EQ(otra.estado, 4) << otra.salidaError.toStdString();
    EXPECT_TRUE(bitacora().contains(QStringLiteral(" - No se realizó el respaldo.  Función Respaldar, línea 1. "
                                                   "Ocurrió el error No. 58. La carpeta temporal del respaldo ") +
                                    hoy + QStringLiteral(" contiene archivos que no son del respaldo: ") + hoy +
                                    QStringLiteral("/notas.txt. No se eliminaron; muévalos a otra carpeta e inténtelo "
                                                   "nuevamente.")))
        << bitacora().toStdString();
    EXPECT_EQ(leer(hoy + QStringLiteral("/notas.txt")), QByteArray("the administrator's"));
    EXPECT_FALSE(QFileInfo::exists(hoy + QStringLiteral("/base.backup")));
    EXPECT_FALSE(QFileInfo::exists(archivoFechado()));
    EXPECT_EQ(valorConfiguracion("RESPALDOOK"), QStringLiteral("Falso"));
}

TEST_F(V7backup, ARunWhileAnotherHoldsTheLockDoesNotTouchTheStagingFolder) {
    escribirConfiguracionBuena();
    const BloqueoRespaldo otro(m_programa); // as the manual backup holds it
    ASSERT_TRUE(otro.tomado()) << otro.error().toStdString();
    QDir().mkpath(m_programa + QStringLiteral("r") + m_hoy); // the other run's folder
    const Corrida c = correr();
    EXPECT_EQ(c.estado, 4);
    EXPECT_TRUE(bitacora().contains(QStringLiteral(" - No se realizó el respaldo. No se inició el respaldo: otro "
                                                   "respaldo está en curso")))
        << bitacora().toStdString();
    EXPECT_TRUE(QFileInfo(m_programa + QStringLiteral("r") + m_hoy).isDir());
    EXPECT_EQ(valorConfiguracion("RESPALDOOK"), QStringLiteral("Falso"));
}

TEST_F(V7backup, TakesTheOtherDriverNameWhenTheFirstIsNotRegistered) {
    const QString odbc = m_servidor->carpeta().path() + QStringLiteral("odbc/");
    QDir().mkpath(odbc);
    {
        QFile ini(odbc + QStringLiteral("odbcinst.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[PostgreSQL ODBC Driver(UNICODE)]\nDriver=psqlodbcw.so\nCommLog=0\nDebug=0\n");
        QFile(odbc + QStringLiteral("odbc.ini")).open(QIODevice::WriteOnly);
    }
    escribirConfiguracionBuena(cluster().host());
    const Corrida c = correr(QString(), odbc);
    EXPECT_EQ(c.estado, 0) << c.salidaError.toStdString();
    EXPECT_TRUE(QFileInfo::exists(archivoFechado()));
    EXPECT_EQ(valorConfiguracion("RESPALDOOK"), QStringLiteral("Verdadero"));
}

// Each failure leaves its log line, RESPALDOOK false where it could be written, and nothing behind.
TEST_F(V7backup, FailureTable) {
    const QString sinRespaldoOk = QStringLiteral(
        " - No se registró RESPALDOOK = Falso: la ejecución terminó antes de conectarse con el servidor.");
    struct Caso {
        const char* nombre;
        std::function<void()> preparar;
        QString path; // null: the test's own
        QStringList lineas;
        QString respaldoOk; // expected value afterwards
        int estado;
        std::function<void()> despues;
    };
    const QString vacio = m_servidor->carpeta().path() + QStringLiteral("sin-programas");
    QDir().mkpath(vacio);
    // An installation whose pg_dump fails: the real tools, but a pg_dump that says so and exits 1.
    const QString falsa = m_servidor->carpeta().path() + QStringLiteral("pgfalso/");
    QDir().mkpath(falsa + QStringLiteral("bin"));
    for (const QString& t : QDir(cluster().binFolder()).entryList(QDir::Files)) {
        if (t != QLatin1String("pg_dump")) {
            QFile::link(cluster().binFolder() + QLatin1Char('/') + t, falsa + QStringLiteral("bin/") + t);
        }
    }
    {
        QFile f(falsa + QStringLiteral("bin/pg_dump"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\necho 'pg_dump: error: simulated failure' >&2\nexit 1\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QString registro = m_servidor->registro();
    auto rutaPg = [registro](const QString& ruta) {
        QFile::remove(registro);
        keystore::KeyStore ks(registro);
        const QString globals = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals");
        ASSERT_FALSE(ks.write(globals, QStringLiteral("RutaPg"), ruta).isSet());
        ASSERT_FALSE(ks.write(globals, QStringLiteral("PuertoPg"), QString::number(cluster().port())).isSet());
    };
    const QString archivoEnArchivo = m_servidor->carpeta().path() + QStringLiteral("un-archivo");
    {
        QFile f(archivoEnArchivo);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString puerto = QString::number(cluster().port());

    const Caso casos[] = {
        {"settings file missing",
         [] {},
         QString(),
         {QStringLiteral(" - No se realizó el respaldo. No se encontró el archivo de configuración (v7.respaldo.dat)."),
          QStringLiteral(" Línea 4 - Ocurrió el error No. 53. Causa: "), sinRespaldoOk},
         QStringLiteral("Verdadero"),
         2,
         {}},
        {"settings file empty",
         [&] { escribirArchivoConfiguracion(QByteArray()); },
         QString(),
         {QStringLiteral(" - El archivo de configuración (v7.respaldo.dat) no contiene información o su contenido fue "
                         "alterado. Configure nuevamente el respaldo automático."),
          sinRespaldoOk},
         QStringLiteral("Verdadero"),
         2,
         {}},
        {"wrong password",
         [&] {
             escribirConfiguracion(kJefe.usuario, QStringLiteral("no-es-la-clave"), cluster().host(), puerto,
                                   archivoDestino());
         },
         QString(),
         {QStringLiteral(" - Ocurrió el error No. -2147467259. Causa: "),
          QStringLiteral("password authentication failed"), sinRespaldoOk},
         QStringLiteral("Verdadero"),
         1,
         {}},
        {"server down",
         [&] {
             escribirConfiguracionBuena();
             ASSERT_TRUE(cluster().stop());
         },
         QString(),
         {QStringLiteral(" - Ocurrió el error No. -2147467259. Causa: "), sinRespaldoOk},
         QStringLiteral("Verdadero"),
         1,
         [] { ASSERT_TRUE(cluster().start()); }},
        {"version gate fails",
         [&] {
             escribirConfiguracionBuena();
             ASSERT_TRUE(cluster().psql(QStringLiteral("UPDATE config_veliro.configuracion SET valor = 'R1.10 - "
                                                       "2019/02/01' WHERE descripcion = 'VER_V7BACKUP'")));
         },
         QString(),
         {QStringLiteral(" - Se ha detectado que su Módulo de Respaldo Automático no cuenta con la versión de "
                         "actualización más reciente.\r\nLa última versión disponible es R1.10 - 2019/02/01\r\n")},
         QStringLiteral("Falso"),
         3,
         {}},
        {"a settings field empty",
         [&] {
             escribirArchivoConfiguracion(cifrarConClave(kJefe.usuario, false).toUtf8() + "\r\n" +
                                          cifrarConClave(kJefe.clave, false).toUtf8() + "\r\n127.0.0.1\r\n" +
                                          puerto.toUtf8() + "\r\n");
         },
         QString(),
         {QStringLiteral(" - El archivo de configuración de respaldo ha sido alterado. Configure nuevamente el "
                         "respaldo automático.")},
         QStringLiteral("Falso"),
         2,
         {}},
        {"pg_dump failing",
         [&] {
             escribirConfiguracionBuena();
             rutaPg(falsa);
         },
         QString(),
         {QStringLiteral(" - No se realizó el respaldo. El Respaldo NO se generó satisfactoriamente: pg_dump terminó "
                         "con el estado 1."),
          QStringLiteral("pg_dump: error: simulated failure")},
         QStringLiteral("Falso"),
         4,
         [&] { rutaPg(cluster().installFolder()); }},
        // Without the key store nothing tells where PostgreSQL is: the log names the store.
        {"key store missing",
         [&] {
             escribirConfiguracionBuena();
             QFile::remove(registro);
         },
         QString(),
         {QStringLiteral(" - No se encontró el almacén de claves del registro ") + registro +
              QStringLiteral(" (variable V7_REGISTRY): no se conoce la instalación de PostgreSQL; se usa ") +
              m_programa + QStringLiteral("SGBDR/"),
          QStringLiteral(
              " - No se realizó el respaldo. El Respaldo NO se generó satisfactoriamente: pg_dump terminó con "
              "el estado 127.")},
         QStringLiteral("Falso"),
         4,
         [&] { rutaPg(cluster().installFolder()); }},
        {"7za missing",
         [&] { escribirConfiguracionBuena(); },
         vacio,
         {QStringLiteral(" - No se realizó el respaldo. No se logro crear el archivo de respaldo: ") +
          archivoFechado()},
         QStringLiteral("Falso"),
         4,
         {}},
        // A backup meant for a disk that is not mounted must not land on the local one, nor in cron's folder.
        {"archive folder missing",
         [&] {
             escribirConfiguracion(kJefe.usuario, kJefe.clave, cluster().host(), puerto,
                                   m_servidor->carpeta().path() + QStringLiteral("sin-montar/base.zip"));
         },
         QString(),
         {QStringLiteral(" - No se realizó el respaldo. No se logro crear el archivo de respaldo: ") +
          m_servidor->carpeta().path() + QStringLiteral("sin-montar/base_") + m_hoy +
          QStringLiteral(".zip\r\nNo se ha encontrado la ruta de acceso: ") + m_servidor->carpeta().path() +
          QStringLiteral("sin-montar")},
         QStringLiteral("Falso"),
         4,
         [&] { EXPECT_FALSE(QFileInfo::exists(m_servidor->carpeta().path() + QStringLiteral("sin-montar"))); }},
        {"relative archive path",
         [&] {
             escribirConfiguracion(kJefe.usuario, kJefe.clave, cluster().host(), puerto, QStringLiteral("r/b.zip"));
         },
         QString(),
         {QStringLiteral(" - No se realizó el respaldo. No se logro crear el archivo de respaldo: r/b_") + m_hoy +
          QStringLiteral(".zip\r\nLa ruta del archivo no es absoluta")},
         QStringLiteral("Falso"),
         4,
         {}},
        {"archive folder cannot be written",
         [&] {
             escribirConfiguracion(kJefe.usuario, kJefe.clave, cluster().host(), puerto,
                                   archivoEnArchivo + QStringLiteral("/base.zip"));
         },
         QString(),
         {QStringLiteral(" - No se realizó el respaldo. No se logro crear el archivo de respaldo: ")},
         QStringLiteral("Falso"),
         4,
         {}},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        QFile::remove(m_programa + QStringLiteral("config/v7.respaldo.dat"));
        QFile::remove(m_programa + QStringLiteral("log/resp_") + m_hoy + QStringLiteral(".log"));
        ASSERT_TRUE(cluster().isRunning());
        ASSERT_TRUE(cluster().psql(QStringLiteral(
            "UPDATE config_veliro.configuracion SET valor = 'Verdadero' WHERE descripcion = 'RESPALDOOK';\n"
            "UPDATE config_veliro.configuracion SET valor = 'R0.90 - 2016/01/15' "
            "WHERE descripcion = 'VER_V7BACKUP';")));
        caso.preparar();
        const Corrida c = correr(caso.path);
        if (caso.despues) {
            caso.despues();
        }
        EXPECT_EQ(c.estado, caso.estado) << c.salidaError.toStdString();
        const QString log = bitacora();
        for (const QString& l : caso.lineas) {
            EXPECT_TRUE(log.contains(l)) << "missing: " << l.toStdString() << "\nlog:\n" << log.toStdString();
        }
        EXPECT_FALSE(log.contains(kJefe.clave)) << log.toStdString();
        EXPECT_TRUE(c.salidaError.contains(caso.lineas.first().trimmed())) << c.salidaError.toStdString();
        if (!caso.respaldoOk.isNull()) {
            EXPECT_EQ(valorConfiguracion("RESPALDOOK"), caso.respaldoOk);
        }
        EXPECT_FALSE(QFileInfo::exists(archivoFechado()));
        sinRestos();
    }
}

// Settings files that hold no settings, or are no file at all: told at once as such, exit 2, and the log
// gets no raw control byte and no megabytes of garbage.
TEST_F(V7backup, BadSettingsFiles) {
    const QString ruta = m_programa + QStringLiteral("config/v7.respaldo.dat");
    const QString alterado =
        QStringLiteral(" - El archivo de configuración (v7.respaldo.dat) no contiene información "
                       "o su contenido fue alterado. Configure nuevamente el respaldo automático.");
    const QByteArray bueno = cifrarConClave(kJefe.usuario, false).toUtf8() + "\r\n" +
                             cifrarConClave(kJefe.clave, false).toUtf8() + "\r\nlocalhost\r\n5432\r\n/r/b.zip\r\n";
    const QString utf16 = QString::fromUtf8(bueno);
    struct Caso {
        const char* nombre;
        std::function<void()> preparar;
        QString linea;
    };
    const Caso casos[] = {
        {"garbage", [&] { escribirArchivoConfiguracion("\x1b[31mhola\x07\r\nmundo\r\n\x01\x02\r\n"); }, alterado},
        {"UTF-16",
         [&] {
             escribirArchivoConfiguracion(QByteArray("\xff\xfe") +
                                          QByteArray(reinterpret_cast<const char*>(utf16.utf16()), utf16.size() * 2));
         },
         alterado},
        {"blank lines", [&] { escribirArchivoConfiguracion("\r\n  \r\n\r\n"); }, alterado},
        {"a 10 MB line", [&] { escribirArchivoConfiguracion(QByteArray(10 * 1024 * 1024, 'A') + "\r\n"); }, alterado},
        {"port is no number",
         [&] {
             escribirConfiguracion(kJefe.usuario, kJefe.clave, QStringLiteral("localhost"),
                                   QStringLiteral("54\x1b[2J32"), QStringLiteral("/r/b.zip"));
         },
         alterado},
        {"a folder", [&] { ASSERT_TRUE(QDir().mkpath(ruta)); },
         QStringLiteral(" Línea 4 - Ocurrió el error No. 75. Causa: Error de acceso a la ruta o el archivo: ") + ruta +
             QStringLiteral(" es una carpeta, no un archivo")},
        {"a dangling link", [&] { ASSERT_TRUE(QFile::link(m_programa + QStringLiteral("no-existe.dat"), ruta)); },
         QStringLiteral(" Línea 4 - Ocurrió el error No. 53. Causa: No se ha encontrado el archivo: ") + ruta +
             QStringLiteral(" es un enlace a ") + m_programa + QStringLiteral("no-existe.dat, que no existe")},
        // Nobody ever writes into it: the run must not wait for a writer.
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(QFile::encodeName(ruta).constData(), 0600), 0); },
         QStringLiteral(" Línea 4 - Ocurrió el error No. 75. Causa: Error de acceso a la ruta o el archivo: ") + ruta +
             QStringLiteral(" no es un archivo regular")},
    };
    QDir().mkpath(m_programa + QStringLiteral("config"));
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        QFile::remove(ruta);
        QDir(ruta).removeRecursively();
        QFile::remove(m_programa + QStringLiteral("log/resp_") + m_hoy + QStringLiteral(".log"));
        caso.preparar();
        QElapsedTimer reloj;
        reloj.start();
        const Corrida c = correr();
        EXPECT_LT(reloj.elapsed(), 20000);
        EXPECT_EQ(c.estado, 2) << c.salidaError.toStdString();
        QFile f(m_programa + QStringLiteral("log/resp_") + m_hoy + QStringLiteral(".log"));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray log = f.readAll();
        EXPECT_TRUE(QString::fromUtf8(log).contains(caso.linea + QStringLiteral("\r\n")))
            << log.left(2000).toStdString();
        EXPECT_LT(log.size(), 4000);
        for (const char b : log) {
            const auto u = static_cast<unsigned char>(b);
            EXPECT_TRUE(u >= 0x20 || b == '\r' || b == '\n') << "control byte " << int(u);
        }
    }
    QFile::remove(ruta);
}

// A link never leads a run into someone else's files: not at the staging folder, not at the work files
// in config/, not at the log.
TEST_F(V7backup, LinksAreNeverFollowed) {
    const QString victima = m_servidor->carpeta().path() + QStringLiteral("victima/");
    QDir().mkpath(victima);
    escribir(victima + QStringLiteral("importante.txt"), "keep me");
    escribirConfiguracionBuena(cluster().host());
    const QString staging = m_programa + QStringLiteral("r") + m_hoy;
    ASSERT_TRUE(QFile::link(QDir::cleanPath(victima), staging));
    Corrida c = correr();
    EXPECT_EQ(c.estado, 4);
    EXPECT_TRUE(bitacora().contains(staging + QStringLiteral(" es un enlace simbólico"))) << bitacora().toStdString();
    EXPECT_EQ(leer(victima + QStringLiteral("importante.txt")), QByteArray("keep me"));
    EXPECT_TRUE(QFileInfo(staging).isSymLink()); // refused, not removed
    QFile::remove(staging);

    // Links at the packer's output, the dump's error output and the log: replaced or refused, never written.
    QDir().mkpath(m_programa + QStringLiteral("config"));
    QDir().mkpath(m_programa + QStringLiteral("log"));
    const QString log = m_programa + QStringLiteral("log/resp_") + m_hoy + QStringLiteral(".log");
    QFile::remove(log);
    for (const QString& enlace : {m_programa + QStringLiteral("config/r_backup.txt"),
                                  m_programa + QStringLiteral("config/v7.Backup.txt"), log}) {
        ASSERT_TRUE(QFile::link(victima + QStringLiteral("importante.txt"), enlace)) << enlace.toStdString();
    }
    c = correr();
    EXPECT_EQ(c.estado, 0) << c.salidaError.toStdString();
    EXPECT_TRUE(c.salidaError.contains(QStringLiteral(" - El respaldo se llevo a cabo correctamente")))
        << c.salidaError.toStdString();
    EXPECT_EQ(leer(victima + QStringLiteral("importante.txt")), QByteArray("keep me"));
    EXPECT_FALSE(QFileInfo(m_programa + QStringLiteral("config/r_backup.txt")).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(archivoFechado()));
    QFile::remove(log);
    sinRestos();
}

// SIGTERM while pg_dump runs: the dump is stopped, nothing of the run is left, one line says why and the
// outcome is recorded. The password was never in a file, not even while the dump ran.
TEST_F(V7backup, SigtermStopsTheToolsAndLeavesNothing) {
    escribirConfiguracionBuena(cluster().host());
    test::VolcadoDetenido detenido;
    auto p = lanzar();
    ASSERT_NE(detenido.esperarVolcado(), 0) << bitacora().toStdString();
    const QString staging = m_programa + QStringLiteral("r") + m_hoy;
    EXPECT_EQ(QFileInfo(staging).permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser |
                                                   QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner),
              QFile::Permissions());
    EXPECT_FALSE(test::procesosCon(staging).isEmpty());
    sinRestos(false); // the password is in no file while the dump runs

    ::kill(pid_t(p->processId()), SIGTERM);
    EXPECT_EQ(esperarFin(*p), 128 + SIGTERM);
    EXPECT_TRUE(test::procesosCon(staging).isEmpty()) << test::procesosCon(staging).join('\n').toStdString();
    EXPECT_TRUE(bitacora().contains(QStringLiteral(" - No se realizó el respaldo. La ejecución fue interrumpida por "
                                                   "la señal SIGTERM; se detuvieron sus procesos")))
        << bitacora().toStdString();
    EXPECT_EQ(bitacora().count(QStringLiteral(" - No se realizó el respaldo.")), 1);
    EXPECT_EQ(valorConfiguracion("RESPALDOOK"), QStringLiteral("Falso"));
    sinRestos();
}

// V7backup killed outright (the out-of-memory killer, kill -9) while pg_dump runs and while 7za packs: the
// tool, the program's own child, dies with it at once; RESPALDOOK, false since the run began, stays false
// for the login; the next run removes the staging folder and the packing folder that were left.
TEST_F(V7backup, AKilledRunLeavesNoToolRunningAndRespaldookFalse) {
    escribirConfiguracionBuena(cluster().host());
    const QString staging = m_programa + QStringLiteral("r") + m_hoy;
    const QString marca = m_servidor->carpeta().path() + QStringLiteral("7za.pid");
    for (const bool empaque : {false, true}) {
        SCOPED_TRACE(empaque ? "during 7za" : "during pg_dump");
        ponerRespaldoOk("Verdadero");
        std::optional<test::VolcadoDetenido> detenido;
        if (empaque) {
            // It writes part of the archive, then works for good.
            falso7za("if [ \"$1\" = a ]; then printf 'PK\\003\\004 part of it' > \"$3\"; echo $$ > '" +
                     QFile::encodeName(marca) + "'; exec sleep 300; fi\nexec 7za \"$@\"\n");
        } else {
            detenido.emplace();
        }
        auto p = lanzar();
        qint64 herramienta = 0;
        if (empaque) {
            ASSERT_TRUE(esperarHasta([&] { return QFileInfo(marca).size() > 0; }, 60000)) << bitacora().toStdString();
            herramienta = leer(marca).trimmed().toLongLong();
        } else {
            ASSERT_NE(detenido->esperarVolcado(), 0) << bitacora().toStdString();
            const QStringList enCurso = test::procesosCon(staging);
            ASSERT_EQ(enCurso.size(), 1) << enCurso.join('\n').toStdString();
            herramienta = enCurso[0].section(QLatin1Char(' '), 0, 0).toLongLong();
        }
        EXPECT_EQ(test::padreDe(herramienta), p->processId()); // not a shell's child
        EXPECT_EQ(valorConfiguracion("RESPALDOOK"), QStringLiteral("Falso"));

        ::kill(pid_t(p->processId()), SIGKILL);
        EXPECT_EQ(esperarFin(*p), 128 + SIGKILL);
        EXPECT_TRUE(esperarHasta([&] { return !vivo(herramienta); }, 2000)) << herramienta;
        EXPECT_TRUE(test::procesosCon(staging).isEmpty()) << test::procesosCon(staging).join('\n').toStdString();
        detenido.reset();
        EXPECT_EQ(valorConfiguracion("RESPALDOOK"), QStringLiteral("Falso"));
        EXPECT_FALSE(QFileInfo::exists(archivoFechado()));
        EXPECT_EQ(empaques().size(), empaque ? 1 : 0) << empaques().join(' ').toStdString();
        QFile::remove(m_programa + QStringLiteral("7za"));
        QFile::remove(marca);
    }

    const Corrida c = correr();
    EXPECT_EQ(c.estado, 0) << c.salidaError.toStdString();
    EXPECT_TRUE(empaques().isEmpty()) << empaques().join(' ').toStdString();
    EXPECT_TRUE(bitacora().contains(QStringLiteral(" - Se eliminaron los restos de una ejecución anterior que no "
                                                   "terminó: ") +
                                    staging))
        << bitacora().toStdString();
    EXPECT_EQ(valorConfiguracion("RESPALDOOK"), QStringLiteral("Verdadero"));
    EXPECT_TRUE(leerZip(archivoFechado()).has_value());
    sinRestos();
}

// While a restore's mark stands the database may be partial: no archive of it replaces the day's (perhaps
// the very archive being restored).
TEST_F(V7backup, ARestoreThatDidNotFinishStopsTheRun) {
    escribirConfiguracionBuena(cluster().host());
    escribir(archivoFechado(), "the day's archive, being restored");
    ponerRespaldoOk("Verdadero");
    MarcaRestauracion marca;
    marca.archivo = archivoFechado();
    marca.inicio = QDateTime(QDate(2026, 12, 9), QTime(14, 5));
    marca.usuario = kJefe.usuario;
    marca.proceso = 4242;
    ASSERT_EQ(marcarRestauracion(marca), QString());

    const Corrida c = correr();
    EXPECT_EQ(c.estado, 6) << c.salidaError.toStdString();
    EXPECT_TRUE(bitacora().contains(
        QStringLiteral(" - No se realizó el respaldo. La última restauración de la base de datos no terminó (comenzó "
                       "el 09/12/2026 a las 14:05): la base de datos puede estar incompleta. Archivo de respaldo: ") +
        archivoFechado() +
        QStringLiteral(". No se respalda una base de datos que puede estar incompleta: ejecute nuevamente la "
                       "restauración desde las Herramientas Administrativas.\r\n")))
        << bitacora().toStdString();
    EXPECT_EQ(leer(archivoFechado()), QByteArray("the day's archive, being restored"));
    EXPECT_EQ(valorConfiguracion("RESPALDOOK"), QStringLiteral("Falso"));
    EXPECT_EQ(valorConfiguracion("VER_V7BACKUP"), QStringLiteral("R0.90 - 2016/01/15")); // nothing else ran
    EXPECT_TRUE(empaques().isEmpty());
    sinRestos();
    ASSERT_EQ(borrarMarcaRestauracion(), QString());
}

// The server's mark of a restore that did not finish, left from another program folder, stops the run as the
// file mark does. A file mark of this folder whose restore left no mark on the server (it stopped before
// changing anything, or a complete restore from any folder cleared the server's since) does not.
TEST_F(V7backup, TheServersMarkStopsTheRunAndAFileMarkWithoutItDoesNot) {
    escribirConfiguracionBuena(cluster().host());
    escribir(archivoFechado(), "the day's archive, being restored");
    db::Connection superusuario;
    superusuario.setConnectionString(cluster().connectionString());
    db::DbError e;
    ASSERT_TRUE(superusuario.open(e)) << e.description.toStdString();
    MarcaRestauracion otra = nuevaMarcaRestauracion(archivoFechado(), kJefe.usuario);
    otra.inicio = QDateTime(QDate(2026, 12, 9), QTime(14, 5));
    otra.carpeta = QStringLiteral("/opt/otra instalacion/");
    ASSERT_EQ(marcarRestauracionServidor(superusuario, otra), QString());

    Corrida c = correr();
    EXPECT_EQ(c.estado, 6) << c.salidaError.toStdString();
    EXPECT_TRUE(bitacora().contains(
        QStringLiteral(" - No se realizó el respaldo. La última restauración de la base de datos no terminó (comenzó "
                       "el 09/12/2026 a las 14:05): la base de datos puede estar incompleta. Archivo de respaldo: ") +
        archivoFechado() +
        QStringLiteral(". Se ejecutó desde la carpeta /opt/otra instalacion/. No se respalda una base de datos que "
                       "puede estar incompleta: ejecute nuevamente la restauración desde las Herramientas "
                       "Administrativas.\r\n")))
        << bitacora().toStdString();
    EXPECT_EQ(leer(archivoFechado()), QByteArray("the day's archive, being restored"));
    EXPECT_EQ(valorConfiguracion("RESPALDOOK"), QStringLiteral("Falso"));
    EXPECT_TRUE(empaques().isEmpty());
    sinRestos();
    ASSERT_EQ(borrarMarcaRestauracionServidor(superusuario), QString());

    ASSERT_EQ(marcarRestauracion(nuevaMarcaRestauracion(archivoFechado(), kJefe.usuario)), QString());
    c = correr();
    EXPECT_EQ(c.estado, 0) << c.salidaError.toStdString() << bitacora().toStdString();
    EXPECT_TRUE(leerZip(archivoFechado()).has_value());
    EXPECT_EQ(valorConfiguracion("RESPALDOOK"), QStringLiteral("Verdadero"));
    EXPECT_TRUE(leerMarcaRestauracion().has_value()); // the restore's to clear
    ASSERT_EQ(borrarMarcaRestauracion(), QString());
}

// A server that restarts while 7za packs: the outcome is written once it answers again.
TEST_F(V7backup, TheOutcomeIsWrittenWhenTheServerAnswersAgain) {
    escribirConfiguracionBuena(cluster().host());
    const Pausa pausa = falso7zaEnPausa();
    auto p = lanzar();
    ASSERT_TRUE(esperarHasta([&] { return QFileInfo::exists(pausa.marca); }, 60000)) << bitacora().toStdString();
    ASSERT_TRUE(cluster().stop());
    escribir(pausa.seguir, "");
    QTest::qWait(3000); // the run ends its packing and finds no server
    ASSERT_TRUE(cluster().start());
    EXPECT_EQ(esperarFin(*p), 0);
    EXPECT_TRUE(bitacora().contains(QStringLiteral(" - El respaldo se llevo a cabo correctamente")))
        << bitacora().toStdString();
    EXPECT_FALSE(bitacora().contains(QStringLiteral("No se pudo registrar RESPALDOOK"))) << bitacora().toStdString();
    EXPECT_EQ(valorConfiguracion("RESPALDOOK"), QStringLiteral("Verdadero"));
    sinRestos();
}

// A stop that comes after the tested archive took its final name: the archive is kept and the log says so,
// never that no backup was made.
TEST_F(V7backup, AStopAfterTheArchiveIsInPlaceKeepsItAndSaysSo) {
    escribirConfiguracionBuena(cluster().host());
    const Pausa pausa = falso7zaEnPausa();
    auto p = lanzar();
    ASSERT_TRUE(esperarHasta([&] { return QFileInfo::exists(pausa.marca); }, 60000)) << bitacora().toStdString();
    // Writers of the configuration held off: the run's last write waits with its archive in place.
    QProcess cerrojo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGPASSWORD"), cluster().password());
    env.insert(QStringLiteral("PGAPPNAME"), QStringLiteral("v7-cerrojo-configuracion"));
    cerrojo.setProcessEnvironment(env);
    cerrojo.start(cluster().binFolder() + QStringLiteral("/psql"),
                  {QStringLiteral("-h"), cluster().host(), QStringLiteral("-p"), QString::number(cluster().port()),
                   QStringLiteral("-U"), cluster().superuser(), QStringLiteral("-d"), QStringLiteral("veliro7"),
                   QStringLiteral("-c"),
                   QStringLiteral("SELECT pg_advisory_lock(hashtext('config_veliro.configuracion')), pg_sleep(600)")});
    ASSERT_TRUE(esperarHasta([] {
        return cluster().scalar(QStringLiteral("SELECT count(*) FROM pg_locks l JOIN pg_stat_activity a USING (pid) "
                                               "WHERE a.application_name = 'v7-cerrojo-configuracion' AND "
                                               "l.locktype = 'advisory' AND l.granted")) == QLatin1String("1");
    }));
    escribir(pausa.seguir, "");
    ASSERT_TRUE(esperarHasta([&] { return bitacora().contains(QStringLiteral("correctamente")); }, 60000));
    QTest::qWait(300);

    ::kill(pid_t(p->processId()), SIGTERM);
    // The lock is let go only once the stop is handled: released sooner, the run may end on its own first.
    ASSERT_TRUE(
        esperarHasta([&] { return bitacora().contains(QStringLiteral("interrumpida por la señal SIGTERM")); }, 10000))
        << bitacora().toStdString();
    cluster().psql(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = "
                                  "'v7-cerrojo-configuracion'"));
    cerrojo.waitForFinished(10000);
    EXPECT_EQ(esperarFin(*p), 128 + SIGTERM);
    EXPECT_TRUE(bitacora().contains(QStringLiteral(" - La ejecución fue interrumpida por la señal SIGTERM después de "
                                                   "que el respaldo quedó completo y verificado en ") +
                                    archivoFechado() + QStringLiteral("; el archivo se conserva.\r\n")))
        << bitacora().toStdString();
    EXPECT_FALSE(bitacora().contains(QStringLiteral("No se realizó el respaldo"))) << bitacora().toStdString();
    const auto zip = leerZip(archivoFechado());
    ASSERT_TRUE(zip.has_value());
    EXPECT_EQ(zip->miembros.size(), 3);
    EXPECT_EQ(valorConfiguracion("RESPALDOOK"), QStringLiteral("Verdadero"));
    sinRestos();
}

// A frozen server backend: the run ends at its time limit with its line, stops its tools and lets the
// next run take the lock and succeed.
TEST_F(V7backup, TimeLimitEndsAFrozenRun) {
    escribirConfiguracionBuena(cluster().host());
    int congelado = 0;
    {
        test::VolcadoDetenido detenido;
        auto p = lanzar({{QStringLiteral("V7_LIMITE_RESPALDO"), QStringLiteral("4")}});
        congelado = detenido.esperarVolcado();
        ASSERT_NE(congelado, 0) << bitacora().toStdString();
        ASSERT_EQ(::kill(congelado, SIGSTOP), 0);
        detenido.liberar();
        EXPECT_EQ(esperarFin(*p), 5);
    }
    ::kill(congelado, SIGCONT);
    const QString staging = m_programa + QStringLiteral("r") + m_hoy;
    EXPECT_TRUE(test::procesosCon(staging).isEmpty());
    EXPECT_TRUE(bitacora().contains(QStringLiteral(" - No se realizó el respaldo. Se agotó el tiempo límite de la "
                                                   "ejecución (4 segundos; variable V7_LIMITE_RESPALDO)")))
        << bitacora().toStdString();
    EXPECT_EQ(valorConfiguracion("RESPALDOOK"), QStringLiteral("Falso"));
    sinRestos();

    const Corrida c = correr();
    EXPECT_EQ(c.estado, 0) << c.salidaError.toStdString();
    EXPECT_EQ(valorConfiguracion("RESPALDOOK"), QStringLiteral("Verdadero"));
}

// Runs started at once for a server without the program's rows leave one row per key.
TEST_F(V7backup, RunsAtOnceLeaveOneRowPerKey) {
    escribirConfiguracionBuena(cluster().host());
    ASSERT_TRUE(cluster().psql(QStringLiteral(
        "DELETE FROM config_veliro.configuracion WHERE descripcion IN ('VER_V7BACKUP', 'RESPALDOOK');")));
    std::vector<std::unique_ptr<QProcess>> corridas;
    for (int i = 0; i < 8; ++i) {
        corridas.push_back(lanzar());
    }
    for (auto& p : corridas) {
        const int estado = esperarFin(*p);
        EXPECT_TRUE(estado == 0 || estado == 4) << estado;
    }
    EXPECT_EQ(
        cluster().scalar(QStringLiteral("SELECT string_agg(descripcion || '=' || n, ',' ORDER BY descripcion) "
                                        "FROM (SELECT descripcion, count(*) AS n FROM config_veliro.configuracion "
                                        "WHERE descripcion IN ('VER_V7BACKUP', 'RESPALDOOK') GROUP BY 1) x")),
        QStringLiteral("RESPALDOOK=1,VER_V7BACKUP=1"));
}

} // namespace
