#include "core/instalacion.h"
#include "core/registro.h"
#include "core/session.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace v7;
using v7::test::ScriptedDialogs;
using v7::test::TempDir;

namespace {

// Each test gets its own key store file and program folder.
class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("V7_REGISTRY", m_dir.file(QStringLiteral("etc/registry.ini")).toUtf8());
        qputenv("V7_HOME", m_home.path().toUtf8());
        reiniciarSesion();
    }
    void TearDown() override {
        qunsetenv("V7_REGISTRY");
        qunsetenv("V7_HOME");
        reiniciarSesion();
    }
    // The store as an installer or the setup would leave it.
    void store(const QByteArray& ini) {
        const QString path = m_dir.file(QStringLiteral("etc/registry.ini"));
        QDir().mkpath(m_dir.file(QStringLiteral("etc")));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(ini);
    }
    ResultadoInstalacion buscar(int puerto) {
        sesion().PuertoBD = puerto;
        return BuscarInstalacionPostgres();
    }
    QString sgbdr() const { return m_home.path() + QStringLiteral("SGBDR/"); }

    TempDir m_dir;
    TempDir m_home;
    ScriptedDialogs m_dialogs; // any message fails the test unless answered
};

const QByteArray k84and90 = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-8.4]\n"
                            "Base Directory=/opt/PostgreSQL/8.4\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\Services\\postgresql-8.4]\n"
                            "Port=5432\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-9.0]\n"
                            "Base Directory=/opt/PostgreSQL/9.0/\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\Services\\postgresql-9.0]\n"
                            "Port=5433\n";

TEST_F(Registry, PortChoosesTheInstallation) {
    struct Case {
        const char* name;
        QByteArray ini;
        int port;
        QString expected; // empty: the program folder's SGBDR/
    };
    const Case cases[] = {
        {"9.0 on its port", k84and90, 5433, QStringLiteral("/opt/PostgreSQL/9.0/")},
        {"8.4 on its port, slash appended", k84and90, 5432, QStringLiteral("/opt/PostgreSQL/8.4/")},
        {"no match and no RutaPg", k84and90, 5434, QString()},
        {"9.0 port without its base directory",
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\Services\\postgresql-9.0]\nPort=5432\n", 5432, QString()},
        {"nothing registered", "", 5432, QString()},
        {"RutaPg without a final slash, on no candidate's port",
         k84and90 + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals]\nRutaPg=/opt/veliro7/pg\nPuertoPg=5440\n", 5441,
         QStringLiteral("/opt/veliro7/pg/")},
        {"the product's own server on its port",
         k84and90 + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals]\nRutaPg=/opt/veliro7/pg/\nPuertoPg=5433\n", 5433,
         QStringLiteral("/opt/PostgreSQL/9.0/")}, // the first candidate on the port wins
        {"ports compared as numbers", "[HKLM\\Software\\VELIRO7\\Globals]\nRutaPg=/srv/pg\nPuertoPg=05432\n", 5432,
         QStringLiteral("/srv/pg/")},
        {"a port above 32767",
         "[HKEY_LOCAL_MACHINE\\Software\\PostgreSQL\\Installations\\{1F701DBD-1660-4108-B10A-FB435EA63BF0}]\n"
         "Base Directory=/opt/pg82\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\Services\\pgsql-8.2]\nPort=40000\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals]\nRutaPg=/srv/pg\nPuertoPg=5432\n",
         40000, QStringLiteral("/opt/pg82/")},
    };
    for (const auto& c : cases) {
        store(c.ini);
        const ResultadoInstalacion r = buscar(c.port);
        EXPECT_TRUE(r.ok) << c.name << ": " << r.descripcion.toStdString();
        EXPECT_EQ(sesion().RutaPostgres, c.expected.isEmpty() ? sgbdr() : c.expected) << c.name;
    }
}

TEST_F(Registry, CandidatesInProbeOrder) {
    store("[HKEY_LOCAL_MACHINE\\Software\\PostgreSQL\\Installations\\{1F701DBD-1660-4108-B10A-FB435EA63BF0}]\n"
          "Base Directory=/opt/pg82\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\Services\\pgsql-8.2]\nPort=5430\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-8.3]\nBase Directory=/opt/pg83\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\PostgreSQL\\Services\\postgresql-8.3]\nPort=5431\n" +
          k84and90 + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals]\nRutaPg=/srv/pg\nPuertoPg=5439\n");
    ASSERT_TRUE(buscar(5431).ok);
    const auto& s = sesion();
    EXPECT_EQ(s.VersionesInstaladas,
              (QVector<QString>{QStringLiteral("PostgreSQL 8.2"), QStringLiteral("PostgreSQL 8.3"),
                                QStringLiteral("PostgreSQL 8.4"), QStringLiteral("PostgreSQL 9.0"),
                                QStringLiteral("PostgreSQL 9.0")}));
    EXPECT_EQ(s.RutasInstaladas, (QVector<QString>{QStringLiteral("/opt/pg82"), QStringLiteral("/opt/pg83"),
                                                   QStringLiteral("/opt/PostgreSQL/8.4"),
                                                   QStringLiteral("/opt/PostgreSQL/9.0/"), QStringLiteral("/srv/pg")}));
    EXPECT_EQ(s.PuertosInstalados, (QVector<double>{5430, 5431, 5432, 5433, 5439}));
    EXPECT_EQ(s.RutaPostgres, QStringLiteral("/opt/pg83/"));

    // A later attempt that finds nothing leaves no candidate of the earlier one behind.
    store("");
    ASSERT_TRUE(buscar(5431).ok);
    EXPECT_TRUE(s.VersionesInstaladas.isEmpty());
    EXPECT_TRUE(s.RutasInstaladas.isEmpty());
    EXPECT_TRUE(s.PuertosInstalados.isEmpty());
    EXPECT_EQ(s.RutaPostgres, sgbdr());
}

TEST_F(Registry, PortThatIsNotANumberFailsTheAttempt) {
    for (const QByteArray& port : {QByteArray("abc"), QByteArray("")}) {
        store("[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals]\nRutaPg=/srv/pg\nPuertoPg=" + port + "\n");
        sesion().RutaPostgres = QStringLiteral("/antes/");
        const ResultadoInstalacion r = buscar(5432);
        EXPECT_FALSE(r.ok) << port.constData();
        EXPECT_EQ(r.numero, 13);
        EXPECT_TRUE(r.descripcion.contains(QStringLiteral("PuertoPg"))) << r.descripcion.toStdString();
        EXPECT_EQ(sesion().RutaPostgres, QStringLiteral("/antes/"));
    }
}

TEST_F(Registry, ReadAndWriteValuesByFullPath) {
    const QString ruta = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals\\3");
    EXPECT_TRUE(LeerRegistro(ruta).isEmpty()); // no file, no key: silent
    EscribirRegistro(ruta, QStringLiteral("0A1B"));
    EXPECT_EQ(LeerRegistro(QStringLiteral("HKLM\\Software\\Veliro7\\Globals\\3")), QStringLiteral("0A1B"));
    EXPECT_TRUE(LeerRegistro(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Otra\\3")).isEmpty());
    store("[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals]\nPuertoPg=5432\n"); // a number reads as its digits
    EXPECT_EQ(LeerRegistro(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals\\PuertoPg")),
              QStringLiteral("5432"));
    EXPECT_TRUE(m_dialogs.shown().empty());
}

TEST_F(Registry, FailuresAreShownAndTheCallerGoesOn) {
    if (!QFileInfo::exists(QStringLiteral("/sys/kernel"))) {
        GTEST_SKIP() << "no /sys";
    }
    // A store this process may not write (not even as root).
    qputenv("V7_REGISTRY", "/sys/v7-registro/registry.ini");
    m_dialogs.answer(MsgResult::Ok);
    EscribirRegistro(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals\\3"), QStringLiteral("0A"));
    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Critical);
    EXPECT_EQ(m_dialogs.shown()[0].text,
              QStringLiteral("Es necesario restaurar el respaldo con una cuenta de Administrador de Windows debido a "
                             "que unos parámetros de control no se restauraron adecuadamente"));

    // A store that exists but cannot be read: the read message, then the empty text.
    qputenv("V7_REGISTRY", m_dir.path().toUtf8()); // a folder, not a file
    m_dialogs.answer(MsgResult::Ok);
    EXPECT_TRUE(LeerRegistro(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals\\3")).isEmpty());
    ASSERT_EQ(m_dialogs.shown().size(), 2u);
    EXPECT_TRUE(m_dialogs.shown()[1].text.startsWith(QStringLiteral("Ocurrió el error # ")));
    EXPECT_TRUE(m_dialogs.shown()[1].text.contains(QStringLiteral(" Al intentar leer en el Registro de Windows\r\n")));
    EXPECT_EQ(m_dialogs.shown()[1].buttons, MsgButtons::Ok);

    // Any other write failure shows its error number.
    qputenv("V7_REGISTRY", m_dir.path().toUtf8());
    m_dialogs.answer(MsgResult::Ok);
    EscribirRegistro(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\VELIRO7\\Globals\\3"), QStringLiteral("0A"));
    ASSERT_EQ(m_dialogs.shown().size(), 3u);
    EXPECT_TRUE(m_dialogs.shown()[2].text.startsWith(QStringLiteral("Ocurrió el Error No. ")))
        << m_dialogs.shown()[2].text.toStdString();
    EXPECT_TRUE(m_dialogs.shown()[2].text.contains(QStringLiteral(" al tratar de Escribir en el Registro\r\n")));
}

} // namespace
