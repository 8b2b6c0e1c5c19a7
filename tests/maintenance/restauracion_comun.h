// What the restore's test programs share: the staff logins made for them, another client of the database,
// the marks a restore leaves, and the fixture that runs a restore with a session of the kit's own.
#pragma once

#include "console/FrmInicio.h"
#include "core/FrmIniciarSesion.h"
#include "core/analistas.h"
#include "core/cifrado.h"
#include "core/fallos_ui.h"
#include "core/inicio_sesion.h"
#include "core/login.h"
#include "core/marca_restauracion.h"
#include "core/permisos.h"
#include "core/session.h"
#include "core/sql.h"
#include "maintenance/FrmBase.h"
#include "maintenance/FrmConfigRegional.h"
#include "maintenance/mantenimiento.h"
#include "maintenance/respaldo_manual.h"
#include "maintenance/restauracion.h"
#include "maintenance/restauracion_roles.h"
#include "maintenance/zona_horaria.h"
#include "platform/db.h"
#include "platform/keystore.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/widgets_ui.h"
#include "tests/maintenance/archivo_respaldo.h"
#include "tests/maintenance/archivo_restauracion.h"
#include "tests/support/esperas.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTabBar>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <optional>
#include <thread>

namespace v7::test {

const QString kZona = QStringLiteral("America/Mexico_City");

// Staff logins made for the round trip, one per group; the session is jefe (v7_super).
struct Staff {
    QString usuario, clave, grupo;
};

const Staff kStaff[] = {
    {QStringLiteral("O'Brien"), QStringLiteral("cl'ave \\ ñ"), QStringLiteral("v7_usuario2")},
    {QStringLiteral("Ana Admin"), QStringLiteral("adm-2"), QStringLiteral("v7_admin")},
    {QStringLiteral("nivel1"), QStringLiteral("n1"), QStringLiteral("v7_usuario1")},
    {QStringLiteral("jefa2"), QStringLiteral("j2"), QStringLiteral("v7_super")},
};

inline QString lit(const QString& s) {
    return QLatin1Char('\'') + QString(s).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
}

inline QString ident(const QString& s) {
    return QLatin1Char('"') + QString(s).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

// Whether a login works with that password.
inline bool puedeEntrar(const QString& usuario, const QString& clave) {
    db::Connection c;
    c.setConnectionString(PgCluster::instance().connectionString(usuario, clave));
    db::DbError e;
    const bool ok = c.open(e);
    c.close();
    return ok;
}

// Another client of the database, a psql of its own named nombre: runs sql inside a transaction that it
// leaves open until the object goes (or the server ends its session).
class OtroCliente {
public:
    OtroCliente(const QString& nombre, const QString& sql) : m_nombre(nombre) {
        auto& c = PgCluster::instance();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PGPASSWORD"), c.password());
        env.insert(QStringLiteral("PGAPPNAME"), nombre);
        m_psql.setProcessEnvironment(env);
        m_psql.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_psql.setStandardOutputFile(QProcess::nullDevice());
        m_psql.start(c.binFolder() + QStringLiteral("/psql"),
                     {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-h"), c.host(), QStringLiteral("-p"),
                      QString::number(c.port()), QStringLiteral("-U"), c.superuser(), QStringLiteral("-d"),
                      QStringLiteral("veliro7")});
        EXPECT_TRUE(m_psql.waitForStarted());
        m_psql.write((QStringLiteral("BEGIN;\n") + sql + QStringLiteral(";\n")).toUtf8());
        m_psql.waitForBytesWritten();
        EXPECT_TRUE(esperarHasta(
            [&] {
                return c.scalar(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE application_name = ") +
                                lit(m_nombre) + QStringLiteral(" AND state = 'idle in transaction'")) ==
                       QLatin1String("1");
            },
            30000))
            << nombre.toStdString();
        m_pid = pid();
    }
    ~OtroCliente() {
        m_psql.closeWriteChannel();
        if (!m_psql.waitForFinished(10000)) {
            m_psql.kill();
            m_psql.waitForFinished();
        }
    }
    // Its server session's pid while it is connected; empty once its session was ended.
    QString pid() const {
        return PgCluster::instance().scalar(
            QStringLiteral("SELECT pid FROM pg_stat_activity WHERE application_name = ") + lit(m_nombre));
    }
    QString pidInicial() const { return m_pid; }
    bool vivo() const { return !pid().isEmpty(); }

private:
    QString m_nombre;
    QString m_pid;
    QProcess m_psql;
};

// Whether the server holds a restore's mark; the mark itself.
inline std::optional<MarcaRestauracion> marcaDelServidor() {
    db::Connection k;
    k.setConnectionString(PgCluster::instance().connectionString());
    db::DbError e;
    EXPECT_TRUE(k.open(e)) << e.description.toStdString();
    const LecturaMarcaServidor l = leerMarcaRestauracionServidor(k);
    EXPECT_TRUE(l.ok) << l.error.toStdString();
    return l.marca;
}

// The question about other sessions, for tests that see none: a question fails the test, and is answered No.
inline std::function<bool(const QString&)> sinPreguntaDeSesiones() {
    return [](const QString& pregunta) {
        ADD_FAILURE() << "unexpected question about other sessions: " << pregunta.toStdString();
        return false;
    };
}

class Restauracion : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<ServidorPreparado>();
        ASSERT_TRUE(m_server->iniciarSesion());
        sesion().BaseDatosValida = true;
        auto& c = PgCluster::instance();
        QString sql;
        for (const Staff& s : kStaff) {
            sql += QStringLiteral("DROP ROLE IF EXISTS %1; CREATE ROLE %1 LOGIN PASSWORD %2 IN ROLE %3;\n")
                       .arg(ident(s.usuario), lit(s.clave), s.grupo);
        }
        // Another application's roles: never this system's to drop or change.
        sql += QStringLiteral("DROP ROLE IF EXISTS otra_app, otro_grupo; CREATE ROLE otro_grupo;"
                              "CREATE ROLE otra_app LOGIN CREATEDB PASSWORD 'otra' IN ROLE otro_grupo;"
                              "INSERT INTO catalogos.usuarios (nombre) SELECT 'u' || g FROM generate_series(1, 5) g;"
                              "INSERT INTO prestamo.multas (idusuario, importe) VALUES (1, 10), (2, 20);");
        ASSERT_TRUE(c.psql(sql));
        for (const Staff& s : kStaff) {
            bool ok = false;
            const QString clave = componerClave(s.clave, codigoGrupo(s.grupo), QStringLiteral("111111"), &ok);
            ASSERT_TRUE(ok);
            ASSERT_TRUE(c.psql(QStringLiteral("INSERT INTO catalogos.analistas (usuario, nombre, clave) VALUES (%1, "
                                              "%1, %2);")
                                   .arg(lit(s.usuario), lit(clave))));
        }
    }
    void TearDown() override { m_server.reset(); }

    // The kit's own writer, as the manual backup runs it.
    QString respaldar(const QString& nombre) {
        const QString destino = m_dir.file(nombre);
        ScriptedDialogs d;
        const MensajeRespaldo m = respaldoManual(destino);
        EXPECT_TRUE(m.ok) << m.mensaje.texto.toStdString();
        return destino;
    }

    // The restore routine with the zone window answered by zona; the messages on the way are collected. No
    // other client is connected: a question about other sessions fails the test.
    ResultadoRestauracion restaurar(const QString& archivo, const QString& zona = kZona) {
        InterfazRestauracion ui;
        ui.aviso = [this](const Fallo& f) { m_avisos << f.texto; };
        ui.terminarSesiones = sinPreguntaDeSesiones();
        ui.elegirZona = [this, zona] {
            ++m_zonasPedidas;
            return zona;
        };
        return restaurarRespaldo(archivo, ui);
    }

    static QString roles() {
        return PgCluster::instance().scalar(
            QStringLiteral("SELECT string_agg(rolname || ':' || coalesce(rolpassword, '') || ':' || rolsuper || "
                           "rolcreatedb || rolcanlogin, ',' ORDER BY rolname) FROM pg_authid"));
    }

    std::unique_ptr<ServidorPreparado> m_server;
    TempDir m_dir;
    QStringList m_avisos;
    int m_zonasPedidas = 0;
};

// Waits for the zone window of a restore, takes the pictures and confirms zona.
inline void alPedirZona(FrmBase& w, const QString& zona, bool* visto) {
    auto* t = new QTimer(&w);
    t->setInterval(10);
    QObject::connect(t, &QTimer::timeout, [t, &w, zona, visto] {
        auto* z = w.findChild<FrmConfigRegional*>();
        if (z == nullptr || !z->isVisible()) {
            return;
        }
        t->stop();
        t->deleteLater();
        *visto = true;
        const QString dir = QStringLiteral(V7_SCREENSHOT_DIR);
        QDir().mkpath(dir);
        EXPECT_TRUE(w.grab().save(dir + QStringLiteral("/restauracion.png")));
        EXPECT_TRUE(z->grab().save(dir + QStringLiteral("/zona_horaria.png")));
        auto* lista = z->findChild<QComboBox*>(QStringLiteral("CmbConfigRegional"));
        ASSERT_NE(lista, nullptr);
        EXPECT_GT(lista->count(), 50);
        EXPECT_EQ(lista->currentIndex(), 0);
        lista->setCurrentIndex(lista->findText(zona));
        QTest::mouseClick(z->findChild<MyButton*>(QStringLiteral("BtnZona")), Qt::LeftButton);
    });
    t->start();
}

// A server tool of the fixture's cluster as its superuser; true when it exited 0.
inline bool herramientaPg(const QString& programa, const QStringList& argumentos) {
    auto& c = PgCluster::instance();
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGPASSWORD"), c.password());
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(c.binFolder() + QLatin1Char('/') + programa,
            QStringList{QStringLiteral("-h"), c.host(), QStringLiteral("-p"), QString::number(c.port()),
                        QStringLiteral("-U"), c.superuser()} +
                argumentos);
    const bool ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok) {
        ADD_FAILURE() << programa.toStdString() << ": " << p.readAll().toStdString();
    }
    return ok;
}

// An archive packed with 7za, as an administrator would by hand.
inline void empacar(const QString& zip, const QStringList& archivos) {
    QFile::remove(zip);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("7za"), QStringList{QStringLiteral("a"), QStringLiteral("-tzip"), zip} + archivos);
    ASSERT_TRUE(p.waitForFinished(120000) && p.exitCode() == 0) << p.readAll().toStdString();
}

} // namespace v7::test
