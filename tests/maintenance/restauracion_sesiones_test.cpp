// Restore tests: other sessions, the console's probe, and a login that may not mark the server.
#include "tests/maintenance/restauracion_comun.h"

using namespace v7;
using namespace v7::test;

namespace {

// A login that may not leave the mark on the server (not a superuser) restores nothing: it is refused before
// anything changes, and neither mark is left.
TEST_F(Restauracion, ALoginThatCannotMarkTheServerChangesNothing) {
    auto& c = PgCluster::instance();
    const QString archivo = respaldar(QStringLiteral("administrador.zip"));
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE SCHEMA despues; CREATE TABLE despues.marca (t text);"
                                      "INSERT INTO despues.marca VALUES ('intacta');")));
    // Told before anything else: no question about this other client (which the login can see), which goes on.
    ASSERT_TRUE(c.psql(QStringLiteral("GRANT pg_read_all_stats TO ") + kAdmin.usuario));
    ASSERT_TRUE(m_server->iniciarSesion(kAdmin));
    OtroCliente otro(QStringLiteral("cliente_a"), QStringLiteral("SELECT 1"));
    const ResultadoRestauracion r = restaurar(archivo);
    EXPECT_TRUE(otro.vivo());
    EXPECT_TRUE(c.psql(QStringLiteral("REVOKE pg_read_all_stats FROM ") + kAdmin.usuario));
    EXPECT_TRUE(r.rechazado);
    EXPECT_TRUE(r.mensaje.texto.startsWith(QStringLiteral(
        "No se pudo registrar el inicio de la restauración en el servidor (solo un usuario con permisos de "
        "Superusuario puede restaurar la base de datos): ")))
        << r.mensaje.texto.toStdString();
    EXPECT_TRUE(r.mensaje.texto.endsWith(QStringLiteral("La base de datos no fue modificada.")));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT t FROM despues.marca")), QStringLiteral("intacta"));
    EXPECT_FALSE(leerMarcaRestauracion().has_value());
    EXPECT_FALSE(marcaDelServidor().has_value());
}

// Another client in an open transaction: the question names it, "No" changes nothing; a lock that another
// session takes after the question cannot be had in time, so nothing is dropped; "Sí" ends the sessions
// and the restore completes. This program's own connections (the shared one and others it opened) are never
// among the other sessions.
TEST_F(Restauracion, OtherSessionsAreNamedAndEndedOnlyWhenAllowed) {
    auto& c = PgCluster::instance();
    const QString archivo = respaldar(QStringLiteral("sesiones.zip"));
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE SCHEMA despues; CREATE TABLE despues.marca (t text);"
                                      "INSERT INTO despues.marca VALUES ('intacta');")));
    auto intacta = [&] { return c.scalar(QStringLiteral("SELECT t FROM despues.marca")) == QLatin1String("intacta"); };
    // A connection of this program's own, as the console's probe keeps one.
    db::Connection propia;
    propia.setConnectionString(c.connectionString(kJefe.usuario, kJefe.clave));
    {
        db::DbError e;
        ASSERT_TRUE(propia.open(e)) << e.description.toStdString();
    }
    QStringList preguntas;
    InterfazRestauracion ui;
    ui.aviso = [this](const Fallo& f) { m_avisos << f.texto; };
    ui.elegirZona = [] { return kZona; };

    int barra = 0;
    QString estado;
    ui.avance = [&](int valor, const QString& texto) {
        barra = valor >= 0 ? valor : barra;
        estado = texto.isEmpty() ? estado : texto;
    };

    std::optional<OtroCliente> a;
    a.emplace(QStringLiteral("cliente_a"), QStringLiteral("SELECT count(*) FROM catalogos.usuarios"));
    ui.terminarSesiones = [&](const QString& p) {
        preguntas << p;
        // While the question waits the status says so; the drops have not begun.
        EXPECT_EQ(barra, 2);
        EXPECT_EQ(estado, QStringLiteral("Hay otras sesiones conectadas a la base de datos; se espera su respuesta "
                                         "(todavía no se ha modificado nada)..."));
        return false;
    };
    ResultadoRestauracion r = restaurarRespaldo(archivo, ui);
    EXPECT_TRUE(r.rechazado);
    ASSERT_EQ(preguntas.size(), 1);
    // That session alone.
    EXPECT_EQ(preguntas[0].count(QStringLiteral("   - sesión ")), 1) << preguntas[0].toStdString();
    EXPECT_TRUE(preguntas[0].contains(QStringLiteral("sesión ") + a->pidInicial() +
                                      QStringLiteral(" del usuario postgres, programa cliente_a")))
        << preguntas[0].toStdString();
    EXPECT_TRUE(preguntas[0].contains(QStringLiteral("inactiva dentro de una transacción abierta")));
    EXPECT_TRUE(r.mensaje.texto.endsWith(QStringLiteral("La base de datos no fue modificada.")))
        << r.mensaje.texto.toStdString();
    EXPECT_TRUE(intacta());
    EXPECT_TRUE(a->vivo());
    EXPECT_FALSE(leerMarcaRestauracion().has_value());
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_db_role_setting s, unnest(s.setconfig) c WHERE c "
                                      "LIKE 'v7.%'")),
              QStringLiteral("0"));

    std::optional<OtroCliente> b;
    ui.terminarSesiones = [&](const QString&) {
        b.emplace(QStringLiteral("cliente_b"), QStringLiteral("LOCK TABLE prestamo.multas IN ACCESS SHARE MODE"));
        return true;
    };
    Cronometro reloj;
    r = restaurarRespaldo(archivo, ui);
    EXPECT_GE(reloj.largo(), kPlazoBloqueoEliminacionMs - 500);
    EXPECT_TRUE(r.rechazado);
    EXPECT_TRUE(
        r.mensaje.texto.startsWith(QStringLiteral("No se eliminó ningún esquema: otra sesión ocupa la base de datos y "
                                                  "no la liberó en 10 segundos.")))
        << r.mensaje.texto.toStdString();
    ASSERT_TRUE(b.has_value());
    EXPECT_TRUE(r.mensaje.texto.contains(QStringLiteral("sesión ") + b->pidInicial())) << r.mensaje.texto.toStdString();
    EXPECT_TRUE(r.mensaje.texto.endsWith(QStringLiteral("La base de datos no fue modificada.")));
    EXPECT_TRUE(intacta());
    EXPECT_FALSE(a->vivo()); // it was named and ended
    EXPECT_TRUE(b->vivo());
    // Nothing was dropped: both marks are gone again.
    EXPECT_FALSE(leerMarcaRestauracion().has_value());
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_db_role_setting s, unnest(s.setconfig) c WHERE c "
                                      "LIKE 'v7.%'")),
              QStringLiteral("0"));
    b.reset();
    a.reset();

    OtroCliente a2(QStringLiteral("cliente_a2"), QStringLiteral("SELECT count(*) FROM prestamo.multas"));
    preguntas.clear();
    ui.terminarSesiones = [&](const QString& p) {
        preguntas << p;
        return true;
    };
    r = restaurarRespaldo(archivo, ui);
    EXPECT_TRUE(r.ok) << r.mensaje.texto.toStdString();
    EXPECT_EQ(preguntas.size(), 1);
    EXPECT_FALSE(a2.vivo());
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_namespace WHERE nspname = 'despues'")),
              QStringLiteral("0"));
    EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
    // The program's own connection was left alone.
    db::DbError e;
    EXPECT_NE(propia.query(QStringLiteral("SELECT 1"), e), nullptr) << e.description.toStdString();
}

// The console's maintenance window, with the console's status probe up (its connection of its own open): no
// question about other sessions when no other client is connected, and the restore completes; with a real
// other client in an open transaction the question names that session alone, and "No" changes nothing.
TEST_F(Restauracion, FromTheConsoleWithItsProbeRunning) {
    auto& c = PgCluster::instance();
    const QString archivo = respaldar(QStringLiteral("consola.zip"));
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE SCHEMA despues; CREATE TABLE despues.marca (t text);"
                                      "INSERT INTO despues.marca VALUES ('intacta');")));
    ScriptedDialogs dialogs;
    VentanasConsola ventanas = VentanasConsola::predeterminadas();
    ventanas.login = [this](QWidget*) { return m_server->iniciarSesion() ? QStringLiteral("OK") : QString(); };
    FrmInicio consola(ventanas);
    ASSERT_TRUE(consola.Form_Load());
    consola.show();
    ASSERT_TRUE(esperarHasta([&] { return !consola.sondeoEnCurso(); }, 15000));
    consola.TmrStatus_Timer();
    ASSERT_TRUE(esperarHasta([&] { return !consola.sondeoEnCurso(); }, 15000));
    ASSERT_EQ(consola.estado(), EstadoConsola::EnLinea);
    // The session's shared connection and the probe's own.
    ASSERT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE datname = 'veliro7' AND usename = "
                                      "'jefe'")),
              QStringLiteral("2"));

    // The console's button, the maintenance window's restore tab, Restaurar.
    auto restaurarDesdeLaConsola = [&](bool* zonaVista) {
        alAbrirModal([&](QWidget* m) {
            auto* base = qobject_cast<FrmBase*>(m);
            ASSERT_NE(base, nullptr);
            hijo<QTabBar>(*base, "TabAdmin")->setCurrentIndex(2);
            hijo<QLineEdit>(*base, "TxtRutaRespaldo")->setText(archivo);
            if (zonaVista != nullptr) {
                alPedirZona(*base, kZona, zonaVista);
            }
            click(*base, "BtnMontar");
            base->close();
        });
        click(consola, "BtnBaseDeDatos");
    };

    bool zonaVista = false;
    dialogs.answer(MsgResult::Yes).answer(MsgResult::Yes).answer(MsgResult::Ok);
    restaurarDesdeLaConsola(&zonaVista);
    EXPECT_TRUE(zonaVista);
    ASSERT_EQ(dialogs.shown().size(), 3u) << dialogs.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("ATENCION: Proceso crítico"));
    EXPECT_EQ(dialogs.shown()[2].text, QStringLiteral("La base de datos ha sido restaurada correctamente"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_namespace WHERE nspname = 'despues'")),
              QStringLiteral("0"));
    EXPECT_FALSE(leerMarcaRestauracion().has_value());

    // A real other client: named alone; "No" changes nothing, and it goes on.
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE SCHEMA despues; CREATE TABLE despues.marca (t text);"
                                      "INSERT INTO despues.marca VALUES ('intacta');")));
    consola.TmrStatus_Timer();
    ASSERT_TRUE(esperarHasta([&] { return !consola.sondeoEnCurso(); }, 15000));
    OtroCliente otro(QStringLiteral("cliente_consola"), QStringLiteral("SELECT count(*) FROM catalogos.usuarios"));
    dialogs.clear();
    dialogs.answer(MsgResult::Yes).answer(MsgResult::No).answer(MsgResult::Ok);
    restaurarDesdeLaConsola(nullptr);
    ASSERT_EQ(dialogs.shown().size(), 3u) << dialogs.texts().join(QLatin1Char('|')).toStdString();
    const QString pregunta = dialogs.shown()[1].text;
    EXPECT_EQ(dialogs.shown()[1].title, QStringLiteral("ATENCION: Sesiones conectadas"));
    EXPECT_EQ(pregunta.count(QStringLiteral("   - sesión ")), 1) << pregunta.toStdString();
    EXPECT_TRUE(pregunta.contains(QStringLiteral("   - sesión ") + otro.pidInicial() +
                                  QStringLiteral(" del usuario postgres, programa cliente_consola")))
        << pregunta.toStdString();
    EXPECT_TRUE(dialogs.shown()[2].text.endsWith(QStringLiteral("La base de datos no fue modificada.")))
        << dialogs.shown()[2].text.toStdString();
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT t FROM despues.marca")), QStringLiteral("intacta"));
    EXPECT_TRUE(otro.vivo());
    EXPECT_FALSE(leerMarcaRestauracion().has_value());
    // The console's probe and shared connection were never touched.
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE datname = 'veliro7' AND usename = "
                                      "'jefe'")),
              QStringLiteral("2"));
    consola.TmrStatus_Timer();
    ASSERT_TRUE(esperarHasta([&] { return !consola.sondeoEnCurso(); }, 15000));
    EXPECT_EQ(consola.estado(), EstadoConsola::EnLinea);
}

} // namespace
