// Restore tests: a restore killed, stopped or left without its server half way.
#include "tests/maintenance/restauracion_comun.h"

using namespace v7;
using namespace v7::test;

namespace {

// The pids whose command line names the program and an argument that begins with carpeta.
QVector<pid_t> procesosSobre(const QString& programa, const QString& carpeta, const char* con = nullptr) {
    QVector<pid_t> pids;
    const QByteArray prefijo = QFile::encodeName(carpeta);
    for (const QString& p : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const pid_t pid = p.toInt(&ok);
        QFile f(QStringLiteral("/proc/") + p + QStringLiteral("/cmdline"));
        if (!ok || !f.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QList<QByteArray> args = f.readAll().split('\0');
        QFile estado(QStringLiteral("/proc/") + p + QStringLiteral("/stat"));
        if (args.isEmpty() || !args[0].endsWith(programa.toUtf8()) ||
            (estado.open(QIODevice::ReadOnly) && estado.readAll().contains(") Z "))) {
            continue;
        }
        const bool sobre =
            std::any_of(args.begin(), args.end(), [&](const QByteArray& a) { return a.startsWith(prefijo); });
        const bool marcado = con == nullptr || args.contains(QByteArray(con));
        if (sobre && marcado) {
            pids << pid;
        }
    }
    return pids;
}

bool terminaEn(pid_t pid, int ms) {
    QElapsedTimer reloj;
    reloj.start();
    do {
        QFile estado(QStringLiteral("/proc/") + QString::number(pid) + QStringLiteral("/stat"));
        if (!estado.open(QIODevice::ReadOnly) || estado.readAll().contains(") Z ")) {
            return true;
        }
        QThread::msleep(20);
    } while (reloj.elapsed() < ms);
    return false;
}

// The restore of archivo by this test program run again as a child (HijoRestauracion), with the session of the
// fixture; entorno adds to its environment (V7_HOME, say).
std::unique_ptr<QProcess> hijoRestaurando(const QString& archivo,
                                          const QProcessEnvironment& entorno = QProcessEnvironment()) {
    auto& c = PgCluster::instance();
    auto hijo = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("V7_HIJO_ARCHIVO"), archivo);
    env.insert(QStringLiteral("V7_HIJO_PUERTO"), QString::number(c.port()));
    env.insert(QStringLiteral("V7_HIJO_RUTAPG"), c.installFolder());
    env.insert(QStringLiteral("V7_HIJO_CLAVE"), sesion().ClaveBD);
    for (const QString& k : entorno.keys()) {
        env.insert(k, entorno.value(k));
    }
    hijo->setProcessEnvironment(env);
    hijo->setProcessChannelMode(QProcess::MergedChannels);
    hijo->start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=HijoRestauracion.*")});
    EXPECT_TRUE(hijo->waitForStarted());
    return hijo;
}

// The pid of the child's load (pg_restore over the extracted archive), once it runs; 0 when the child ended
// first or it did not come within two minutes.
pid_t cargaDe(QProcess& hijo) {
    const QString carpeta = sesion().RutaTemporal + kCarpetaRestauracion + QLatin1Char('/');
    QElapsedTimer reloj;
    reloj.start();
    while (reloj.elapsed() < 120000 && hijo.state() == QProcess::Running) {
        const QVector<pid_t> p = procesosSobre(QStringLiteral("pg_restore"), carpeta, "-d");
        if (!p.isEmpty()) {
            return p.first();
        }
        QThread::msleep(10);
    }
    return 0;
}

// A restore ended by SIGTERM (as a logout sends) and by SIGKILL while pg_restore loads: the load's tool
// dies with the program, both marks stay for the login and V7backup to see, starting V7Tools removes the
// extracted archive a SIGKILL left, and running the restore again completes and clears the marks.
TEST_F(Restauracion, KilledDuringTheLoadLeavesTheMarkAndARerunCompletes) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral(
        "CREATE TABLE servicios.carga AS SELECT g AS id, md5(g::text) AS texto FROM generate_series(1, 50000) g;"
        "INSERT INTO adquis.pedidos (titulo) VALUES ('antes');")));
    const QString antes = c.scalar(QStringLiteral("SELECT (SELECT count(*) FROM servicios.carga) || ' ' || "
                                                  "(SELECT string_agg(titulo, ',') FROM adquis.pedidos)"));
    const QString archivo = respaldar(QStringLiteral("grande.zip"));
    ASSERT_TRUE(c.psql(QStringLiteral("UPDATE adquis.pedidos SET titulo = 'despues';")));
    const QString carpeta = sesion().RutaTemporal + kCarpetaRestauracion + QLatin1Char('/');

    for (const int senal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(senal == SIGTERM ? "SIGTERM" : "SIGKILL");
        const auto hijo = hijoRestaurando(archivo);
        const pid_t carga = cargaDe(*hijo);
        ASSERT_NE(carga, 0) << hijo->readAll().toStdString();
        ::kill(pid_t(hijo->processId()), senal);
        ASSERT_TRUE(hijo->waitForFinished(30000));
        if (senal == SIGTERM) {
            EXPECT_EQ(hijo->exitCode(), 128 + SIGTERM) << hijo->readAll().toStdString();
        }
        // The load's leader was the program's child: it is gone with it.
        EXPECT_TRUE(terminaEn(carga, 2000));
        const auto marca = leerMarcaRestauracion();
        ASSERT_TRUE(marca.has_value());
        EXPECT_EQ(marca->archivo, archivo);
        const auto enServidor = marcaDelServidor();
        ASSERT_TRUE(enServidor.has_value());
        EXPECT_EQ(enServidor->id, marca->id);
        if (senal == SIGTERM) {
            EXPECT_FALSE(QFileInfo::exists(carpeta)); // the clean-up of a signalled end removed it
        }
    }

    // SIGKILL runs no clean-up: the extracted archive stays until V7Tools starts again.
    ASSERT_TRUE(QFileInfo::exists(carpeta + QStringLiteral("rolesv7.sql")));
    {
        QProcess v7tools;
        v7tools.setProcessChannelMode(QProcess::ForwardedChannels);
        v7tools.start(QStringLiteral(V7_TOOLS_EXE), {});
        ASSERT_TRUE(v7tools.waitForStarted());
        const QByteArray linea = QStringLiteral(" al iniciar V7Tools se eliminó la carpeta ").toUtf8() +
                                 QFile::encodeName(sesion().RutaTemporal + kCarpetaRestauracion);
        EXPECT_TRUE(esperarHasta(
            [&] {
                return !QFileInfo::exists(carpeta) && leer(rutaLogRestauracion(QDate::currentDate())).contains(linea);
            },
            30000))
            << leer(rutaLogRestauracion(QDate::currentDate())).toStdString();
        v7tools.terminate(); // it waits at its login
        if (!v7tools.waitForFinished(10000)) {
            v7tools.kill();
            v7tools.waitForFinished();
        }
    }

    const ResultadoRestauracion r = restaurar(archivo);
    ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(leerMarcaRestauracion().has_value());
    EXPECT_FALSE(marcaDelServidor().has_value());
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT (SELECT count(*) FROM servicios.carga) || ' ' || "
                                      "(SELECT string_agg(titulo, ',') FROM adquis.pedidos)")),
              antes);
    EXPECT_TRUE(procesosSobre(QStringLiteral("pg_restore"), carpeta).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(carpeta));
}

// A restore killed during the load from one program folder is known from another (another installation of
// the kit on the same server): there V7backup refuses and leaves the day's archive as it was, and the login
// is told; a complete restore clears both marks.
TEST_F(Restauracion, KilledInOneProgramFolderIsKnownInAnother) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral(
        "CREATE TABLE servicios.carga AS SELECT g AS id, md5(g::text) AS texto FROM generate_series(1, 50000) g;")));
    const QString archivo = respaldar(QStringLiteral("otra carpeta.zip"));
    TempDir otra;
    const QString carpetaA = otra.path();
    const QString carpetaB = paths::programFolder();
    ASSERT_NE(carpetaA, carpetaB);
    {
        QProcessEnvironment env;
        env.insert(QStringLiteral("V7_HOME"), carpetaA);
        const auto hijo = hijoRestaurando(archivo, env);
        ASSERT_NE(cargaDe(*hijo), 0) << hijo->readAll().toStdString();
        ::kill(pid_t(hijo->processId()), SIGKILL);
        ASSERT_TRUE(hijo->waitForFinished(30000));
    }
    EXPECT_TRUE(QFileInfo::exists(carpetaA + QStringLiteral("config/v7.restauracion.pendiente")));
    EXPECT_FALSE(leerMarcaRestauracion().has_value()); // none in this folder
    const auto enServidor = marcaDelServidor();
    ASSERT_TRUE(enServidor.has_value());
    EXPECT_EQ(enServidor->carpeta, carpetaA);
    EXPECT_EQ(enServidor->archivo, archivo);

    // V7backup of this folder: the day's archive stays byte for byte. (The partial database may lack the table
    // that V7backup records its outcome in, which it would try to write for half a minute.)
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE SCHEMA IF NOT EXISTS config_veliro; CREATE TABLE IF NOT EXISTS "
                                      "config_veliro.configuracion (descripcion text, valor text);")));
    const QString hoy = QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    const QString destino = m_dir.file(QStringLiteral("diario.zip"));
    const QString delDia = m_dir.file(QStringLiteral("diario_") + hoy + QStringLiteral(".zip"));
    ASSERT_TRUE(QFile::copy(archivo, delDia));
    const QByteArray bytes = leer(delDia);
    QDir().mkpath(carpetaB + QStringLiteral("config"));
    {
        QFile f(carpetaB + QStringLiteral("config/v7.respaldo.dat"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(cifrarConClave(kJefe.usuario, false).toUtf8() + "\r\n" + cifrarConClave(kJefe.clave, false).toUtf8() +
                "\r\n" + c.host().toUtf8() + "\r\n" + QByteArray::number(c.port()) + "\r\n" + destino.toUtf8() +
                "\r\n");
    }
    QProcess v7backup;
    v7backup.setStandardInputFile(QProcess::nullDevice());
    v7backup.start(QStringLiteral(V7_BACKUP_EXE), {});
    ASSERT_TRUE(v7backup.waitForFinished(120000));
    EXPECT_EQ(v7backup.exitCode(), 6) << v7backup.readAllStandardError().toStdString();
    const QString log = QString::fromUtf8(leer(carpetaB + QStringLiteral("log/resp_") + hoy + QStringLiteral(".log")));
    EXPECT_TRUE(log.contains(QStringLiteral(" - No se realizó el respaldo. La última restauración de la base de datos "
                                            "no terminó (comenzó el ")))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral(": la base de datos puede estar incompleta. Archivo de respaldo: ") +
                             archivo + QStringLiteral(". Se ejecutó desde la carpeta ") + carpetaA +
                             QStringLiteral(". No se respalda una base de datos que puede estar incompleta")))
        << log.toStdString();
    EXPECT_EQ(leer(delDia), bytes);
    EXPECT_FALSE(QFileInfo::exists(destino));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion = "
                                      "'RESPALDOOK'")),
              QStringLiteral("Falso"));

    // The login of this folder is told (the window's own test shows the box).
    QString error;
    ASSERT_TRUE(ConexionServer(sesion().CadenaConexion, error)) << error.toStdString();
    DecisionAcceso d = decidirAcceso(conexionPrincipal());
    ASSERT_EQ(d.acceso, Acceso::Concedido);
    ASSERT_TRUE(d.restauracion.has_value());
    EXPECT_EQ(d.restauracion->carpeta, carpetaA);

    // A complete restore from the other folder clears both marks there.
    qputenv("V7_HOME", QFile::encodeName(carpetaA));
    const ResultadoRestauracion r = restaurar(archivo);
    qputenv("V7_HOME", QFile::encodeName(carpetaB));
    ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString();
    EXPECT_FALSE(QFileInfo::exists(carpetaA + QStringLiteral("config/v7.restauracion.pendiente")));
    EXPECT_FALSE(marcaDelServidor().has_value());
    d = decidirAcceso(conexionPrincipal());
    EXPECT_FALSE(d.restauracion.has_value());
}

// A restore stopped while the roles step runs (the program killed, the server stopped) leaves no staff login
// half made: the archive's roles are made in one transaction. Run again, every staff login of the archive
// logs in with its password and is in its group. The roles step is held at the groups' own lines (after
// the staff logins' and before their memberships) by another session's open change of v7_admin.
TEST_F(Restauracion, InterruptedAtTheRolesStepLeavesNoLoginHalfMade) {
    auto& c = PgCluster::instance();
    const QString archivo = respaldar(QStringLiteral("roles.zip"));
    auto ningunStaff = [&] {
        QStringList nombres;
        for (const Staff& s : kStaff) {
            nombres << lit(s.usuario);
        }
        return c.scalar(QStringLiteral("SELECT count(*) FROM pg_roles WHERE rolname IN (") +
                        nombres.join(QLatin1Char(',')) + QLatin1Char(')')) == QLatin1String("0");
    };
    for (const bool detenerServidor : {false, true}) {
        SCOPED_TRACE(detenerServidor ? "server stopped" : "program killed");
        db::Connection retiene;
        retiene.setConnectionString(c.connectionString(QString(), QString(), QStringLiteral("postgres")));
        db::DbError e;
        qint64 n = 0;
        ASSERT_TRUE(retiene.open(e) && retiene.begin(e) &&
                    retiene.execute(QStringLiteral("ALTER ROLE v7_admin CONNECTION LIMIT -1"), n, e))
            << e.description.toStdString();
        const auto hijo = hijoRestaurando(archivo);
        // The roles' psql waiting for that change.
        const bool enEspera = esperarHasta(
            [&] {
                return c.scalar(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' "
                                               "AND query LIKE 'ALTER ROLE v7_admin%'"),
                                QStringLiteral("postgres")) == QLatin1String("1") ||
                       hijo->state() != QProcess::Running;
            },
            120000);
        ASSERT_TRUE(enEspera && hijo->state() == QProcess::Running) << hijo->readAll().toStdString();
        if (detenerServidor) {
            ASSERT_TRUE(c.stop());
            ASSERT_TRUE(hijo->waitForFinished(60000));
            EXPECT_TRUE(hijo->readAll().contains("Se perdió la conexión con el servidor"));
            ASSERT_TRUE(c.start());
        } else {
            ::kill(pid_t(hijo->processId()), SIGKILL);
            ASSERT_TRUE(hijo->waitForFinished(30000));
            retiene.rollback(e);
        }
        retiene.close();
        // The staff logins were dropped before the roles step and none came back half made.
        EXPECT_TRUE(esperarHasta(ningunStaff, 10000)) << roles().toStdString();
        EXPECT_TRUE(leerMarcaRestauracion().has_value());
    }

    QString error;
    ASSERT_TRUE(ConexionServer(sesion().CadenaConexion, error)) << error.toStdString();
    const ResultadoRestauracion r = restaurar(archivo);
    ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(r.mensaje.texto, QStringLiteral("La base de datos ha sido restaurada correctamente"));
    for (const Staff& s : kStaff) {
        SCOPED_TRACE(s.usuario.toStdString());
        EXPECT_TRUE(puedeEntrar(s.usuario, s.clave));
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_auth_members m JOIN pg_roles g ON g.oid = m.roleid "
                                          "JOIN pg_roles r ON r.oid = m.member WHERE r.rolname = %1 AND g.rolname = "
                                          "'%2'")
                               .arg(lit(s.usuario), s.grupo)),
                  QStringLiteral("1"));
    }
}

// The server lost while the drops wait for a lock: the transaction never committed, so nothing changed and
// the message says so. Lost after the load: one closing message that says the database is incomplete and
// must be restored again, and the mark stays until a restore runs to its end.
TEST_F(Restauracion, LostServerAndFailedStepsAreToldInOneMessage) {
    auto& c = PgCluster::instance();
    const QString archivo = respaldar(QStringLiteral("perdido.zip"));
    ASSERT_TRUE(c.psql(QStringLiteral("CREATE SCHEMA despues; CREATE TABLE despues.marca (t text);"
                                      "INSERT INTO despues.marca VALUES ('intacta');")));
    auto reconectar = [&] {
        ASSERT_TRUE(c.start());
        QString error;
        ASSERT_TRUE(ConexionServer(sesion().CadenaConexion, error)) << error.toStdString();
    };
    InterfazRestauracion ui;
    ui.aviso = [this](const Fallo& f) { m_avisos << f.texto; };
    ui.elegirZona = [] { return kZona; };

    std::optional<OtroCliente> primera, bloqueo;
    primera.emplace(QStringLiteral("cliente_primero"), QStringLiteral("SELECT 1"));
    ui.terminarSesiones = [&](const QString&) {
        bloqueo.emplace(QStringLiteral("cliente_bloqueo"),
                        QStringLiteral("LOCK TABLE prestamo.multas IN ACCESS SHARE MODE"));
        return true;
    };
    std::thread detener([&] {
        QThread::msleep(2500);
        EXPECT_TRUE(c.stop());
    });
    ResultadoRestauracion r = restaurarRespaldo(archivo, ui);
    detener.join();
    EXPECT_TRUE(r.rechazado);
    EXPECT_EQ(r.mensaje.texto,
              QStringLiteral("Se perdió la conexión con el servidor antes de eliminar los esquemas.\r\n\r\n"
                             "La base de datos no fue modificada."));
    EXPECT_FALSE(leerMarcaRestauracion().has_value());
    reconectar();
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT t FROM despues.marca")), QStringLiteral("intacta"));
    EXPECT_FALSE(marcaDelServidor().has_value()); // it went with the drops' transaction

    primera.reset();
    bloqueo.reset();
    ui.terminarSesiones = sinPreguntaDeSesiones();
    ui.elegirZona = [&] {
        EXPECT_TRUE(c.stop());
        return kZona;
    };
    r = restaurarRespaldo(archivo, ui);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.rechazado);
    EXPECT_TRUE(r.mensaje.texto.startsWith(
        QStringLiteral("Se perdió la conexión con el servidor (después de montar el "
                       "respaldo): la base de datos quedó incompleta, restaure nuevamente.")))
        << r.mensaje.texto.toStdString();
    EXPECT_FALSE(r.mensaje.texto.contains(QStringLiteral("restaurada correctamente")));
    EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(leerMarcaRestauracion().has_value());
    reconectar();

    // Run again (here with a zone the server does not know): every step runs, so the mark goes; the step that
    // failed is gathered into the closing message, which never says the restore went well.
    const ResultadoRestauracion otra = restaurar(archivo, QStringLiteral("Marte/Olimpo"));
    EXPECT_FALSE(otra.ok);
    EXPECT_EQ(iconoDe(otra.mensaje.gravedad), MsgIcon::Warning);
    EXPECT_TRUE(
        otra.mensaje.texto.startsWith(QStringLiteral("La restauración terminó con errores en los siguientes pasos:\r\n"
                                                     "Zona horaria: No se logro actualizar la zona horaria de la base "
                                                     "de datos debido a lo siguiente: la zona horaria Marte/Olimpo no "
                                                     "existe")))
        << otra.mensaje.texto.toStdString();
    EXPECT_FALSE(otra.mensaje.texto.contains(QStringLiteral("restaurada correctamente")));
    EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(leerMarcaRestauracion().has_value());
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_namespace WHERE nspname = 'despues'")),
              QStringLiteral("0"));
}

} // namespace

// Run only as the child program of KilledDuringTheLoadLeavesTheMarkAndARerunCompletes: a restore with the
// session that its environment names, ended by the parent with a signal, as V7Tools would be.
TEST(HijoRestauracion, RestauraElArchivoDelEntorno) {
    const QString archivo = qEnvironmentVariable("V7_HIJO_ARCHIVO");
    if (archivo.isEmpty()) {
        GTEST_SKIP() << "only as the child of a restore test";
    }
    auto& s = sesion();
    s.UsuarioBD = s.UsuarioConexion = kJefe.usuario;
    s.ClaveBD = s.ClaveConexion = qEnvironmentVariable("V7_HIJO_CLAVE", kJefe.clave);
    s.ServidorIP = s.ServidorConexion = QStringLiteral("127.0.0.1");
    s.PuertoBD = qEnvironmentVariable("V7_HIJO_PUERTO").toInt();
    s.PuertoConexion = qEnvironmentVariable("V7_HIJO_PUERTO");
    s.RutaPostgres = qEnvironmentVariable("V7_HIJO_RUTAPG");
    s.RutaTemporal = paths::workFolder();
    s.CadenaConexion = cadenaConexionPrincipal(s.ServidorIP, s.PuertoBD, s.UsuarioBD, s.ClaveBD);
    QString error;
    ASSERT_TRUE(ConexionServer(s.CadenaConexion, error)) << error.toStdString();
    process::terminarConLimpieza();
    InterfazRestauracion ui;
    ui.aviso = [](const Fallo& f) { std::fprintf(stderr, "aviso: %s\n", qPrintable(f.texto)); };
    ui.terminarSesiones = [](const QString&) { return true; };
    ui.elegirZona = [] { return kZona; };
    const ResultadoRestauracion r = restaurarRespaldo(archivo, ui);
    std::fprintf(stderr, "restauración: %s\n", qPrintable(r.mensaje.texto));
}
