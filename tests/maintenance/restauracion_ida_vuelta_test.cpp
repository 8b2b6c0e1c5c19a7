// Restore tests: round trips, through the window and onto this server and a fresh one.
#include "tests/maintenance/restauracion_comun.h"

using namespace v7;
using namespace v7::test;

namespace {

// Marker rows of several schemas, read back as one text.
QString marcas() {
    return PgCluster::instance().scalar(
        QStringLiteral("SELECT md5(string_agg(coalesce(titulo, '<null>'), '|' ORDER BY idpedido)) || ' ' || "
                       "(SELECT string_agg(descripcion, '|' ORDER BY idbitacora) FROM public.bitacora) || ' ' || "
                       "(SELECT string_agg(nombre, '|' ORDER BY idequipo) FROM servicios.equipos) || ' ' || "
                       "(SELECT count(*) FROM adquis.pedidos WHERE titulo IS NULL) || ' ' || "
                       "(SELECT funciones.fechatexto(timestamp '2024-01-02 03:04:05')) FROM adquis.pedidos"));
}

TEST_F(Restauracion, RoundTripThroughTheWindow) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral(
        "INSERT INTO adquis.pedidos (titulo) VALUES ('O''Brien'), (E'C:\\\\ruta\\\\x'), ('Ñandú áéíóú €'), (NULL), "
        "(repeat('grande ', 40000));"
        "INSERT INTO public.bitacora (descripcion) VALUES ('en public');"
        "INSERT INTO servicios.equipos (nombre) VALUES ('equipo 1');"
        "SELECT setval('adquis.pedidos_idpedido_seq', 500);")));
    const QString antes = marcas();
    ASSERT_FALSE(antes.isEmpty());
    ScriptedDialogs dialogs;

    // Back up through the window the console shows.
    const QString archivo = m_dir.file(QStringLiteral("ida y vuelta.zip"));
    {
        FrmBase w;
        w.show();
        hijo<QTabBar>(w, "TabAdmin")->setCurrentIndex(1);
        hijo<QLineEdit>(w, "txtRuta")->setText(archivo);
        dialogs.answer(MsgResult::Ok);
        click(w, "BtnRespaldar");
        ASSERT_EQ(dialogs.shown().size(), 1u);
        ASSERT_EQ(dialogs.shown()[0].icon, MsgIcon::Information) << dialogs.shown()[0].text.toStdString();
    }
    const QString fechaRespaldo = lineasDescifradas(miembro(archivo, QStringLiteral("checksum.dat"))).value(3);

    // Everything changes after the backup: rows, a stray schema holding only a function, staff logins, and
    // the roles of the session and of another application.
    ASSERT_TRUE(c.psql(QStringLiteral(
        "UPDATE adquis.pedidos SET titulo = 'cambiado'; DELETE FROM public.bitacora; DELETE FROM servicios.equipos;"
        "CREATE SCHEMA basura; CREATE FUNCTION basura.f() RETURNS int LANGUAGE sql AS 'SELECT 1';"
        "DROP ROLE nivel1; ALTER ROLE \"O'Brien\" PASSWORD 'cambiada';"
        "ALTER ROLE otra_app PASSWORD 'otra-nueva'; DROP ROLE IF EXISTS otra_nueva; CREATE ROLE otra_nueva LOGIN;"
        "ALTER ROLE jefe PASSWORD 'jefe-nueva';")));
    sesion().ClaveBD = sesion().ClaveConexion = QStringLiteral("jefe-nueva");
    const QString ajenos = c.scalar(QStringLiteral(
        "SELECT string_agg(rolname || ':' || coalesce(rolpassword, '') || rolcreatedb || rolsuper, ',' ORDER BY "
        "rolname) FROM pg_authid WHERE rolname IN ('otra_app', 'otro_grupo', 'otra_nueva', 'postgres', 'jefe')"));

    // Restore through the window the login shows when the catalogues are missing.
    dialogs.clear();
    FrmIniciarSesion login;
    login.setTieneCatalogos(false);
    sesion().BaseDatosValida = false;
    FrmBase w(nullptr, &login);
    w.show();
    EXPECT_FALSE(hijo<QWidget>(w, "TabAdmin")->isEnabled());
    // The archive is chosen in the save dialog, which must not offer to overwrite the only backup.
    dialogs.answer(archivo);
    click(w, "BtnExaminarRespaldo");
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].kind, QStringLiteral("save"));
    EXPECT_FALSE(dialogs.shown()[0].preguntaReemplazo);
    EXPECT_EQ(hijo<QLineEdit>(w, "TxtRutaRespaldo")->text(), archivo);
    // Another client sits in an open transaction: the window asks before ending it.
    OtroCliente otra(QStringLiteral("cliente_ida_y_vuelta"), QStringLiteral("SELECT count(*) FROM catalogos.usuarios"));
    dialogs.clear();
    bool zonaVista = false;
    alPedirZona(w, kZona, &zonaVista);
    dialogs.answer(MsgResult::Yes).answer(MsgResult::Yes).answer(MsgResult::Yes).answer(MsgResult::Ok);
    Muestreo muestreo(w);
    click(w, "BtnMontar");
    muestreo.detener();

    EXPECT_TRUE(zonaVista);
    ASSERT_EQ(dialogs.shown().size(), 4u) << dialogs.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(dialogs.shown()[0].title, QStringLiteral("ATENCION: Proceso crítico"));
    EXPECT_EQ(dialogs.shown()[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(dialogs.shown()[0].porDefecto, std::optional<MsgResult>(MsgResult::No)); // Enter must not restore
    EXPECT_EQ(dialogs.shown()[1].buttons, MsgButtons::YesNo);
    EXPECT_EQ(dialogs.shown()[1].porDefecto, std::optional<MsgResult>(MsgResult::No));
    EXPECT_TRUE(dialogs.shown()[1].text.contains(QStringLiteral("sesión ") + otra.pidInicial() +
                                                 QStringLiteral(" del usuario postgres, programa "
                                                                "cliente_ida_y_vuelta, desde el equipo 127.0.0.1, "
                                                                "inactiva dentro de una transacción abierta")))
        << dialogs.shown()[1].text.toStdString();
    EXPECT_EQ(dialogs.shown()[2].text,
              QStringLiteral("La opción seleccionada es: ") + kZona + QStringLiteral("\r\n¿ Desea continuar ?"));
    EXPECT_EQ(dialogs.shown()[3].text, QStringLiteral("La base de datos ha sido restaurada correctamente"));
    EXPECT_EQ(dialogs.shown()[3].icon, MsgIcon::Information);
    EXPECT_FALSE(leerMarcaRestauracion().has_value());
    EXPECT_FALSE(otra.vivo()); // ended by the restore
    // Locked all along; only the zone window's own controls could be used while it asked.
    EXPECT_FALSE(muestreo.muestras().empty());
    for (const Muestra& m : muestreo.muestras()) {
        EXPECT_TRUE(m.cursorEspera);
        for (const QString& n : m.habilitados) {
            EXPECT_TRUE(n == QLatin1String("CmbConfigRegional") || n == QLatin1String("BtnZona")) << n.toStdString();
        }
    }

    // The window is given back whole, with every tab, and the login knows the catalogues are there.
    EXPECT_TRUE(hijo<QWidget>(w, "TabAdmin")->isEnabled());
    EXPECT_TRUE(hijo<QWidget>(w, "BtnMontar")->isEnabled());
    EXPECT_FALSE(hijo<QProgressBar>(w, "ProgBarr")->isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(login.tieneCatalogos());
    EXPECT_TRUE(sesion().BaseDatosValida);
    EXPECT_EQ(w.zonaHoraria(), kZona);

    // The data as it was backed up, the stray schema gone, the sequence never moved back.
    EXPECT_EQ(marcas(), antes);
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_namespace WHERE nspname = 'basura'")),
              QStringLiteral("0"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT last_value FROM adquis.pedidos_idpedido_seq")), QStringLiteral("500"));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT count(*) FROM pg_class WHERE relname = 'folio_seq'")),
              QStringLiteral("1"));

    // Staff logins of every group are back with their backed-up passwords, in their groups, able to work.
    for (const Staff& s : kStaff) {
        SCOPED_TRACE(s.usuario.toStdString());
        EXPECT_TRUE(puedeEntrar(s.usuario, s.clave));
        EXPECT_EQ(c.scalar(QStringLiteral("SELECT pg_has_role(%1, '%2', 'MEMBER')").arg(lit(s.usuario), s.grupo)),
                  QStringLiteral("t"));
    }
    {
        db::Connection obrien;
        obrien.setConnectionString(c.connectionString(kStaff[0].usuario, kStaff[0].clave));
        db::DbError e;
        qint64 n = 0;
        ASSERT_TRUE(obrien.open(e)) << e.description.toStdString();
        EXPECT_TRUE(obrien.execute(QStringLiteral("INSERT INTO adquis.pedidos (titulo) VALUES ('nuevo')"), n, e))
            << e.description.toStdString();
        obrien.close();
    }
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT max(idpedido) FROM adquis.pedidos")), QStringLiteral("501"));
    // Staff rows stay private after the restore's grants: a Nivel1 login reads its own row only and writes none.
    {
        db::Connection nivel1;
        nivel1.setConnectionString(c.connectionString(QStringLiteral("nivel1"), QStringLiteral("n1")));
        db::DbError e;
        qint64 n = 0;
        ASSERT_TRUE(nivel1.open(e)) << e.description.toStdString();
        auto rs = nivel1.query(QStringLiteral("SELECT string_agg(usuario, ',') FROM catalogos.analistas"), e);
        ASSERT_NE(rs, nullptr) << e.description.toStdString();
        EXPECT_EQ(rs->text(0), QStringLiteral("nivel1"));
        EXPECT_FALSE(nivel1.execute(QStringLiteral("UPDATE catalogos.analistas SET nombre = 'x'"), n, e));
        nivel1.close();
    }

    // Another application's roles and the session's own login are exactly as they were.
    EXPECT_EQ(c.scalar(QStringLiteral(
                  "SELECT string_agg(rolname || ':' || coalesce(rolpassword, '') || rolcreatedb || rolsuper, ',' "
                  "ORDER BY rolname) FROM pg_authid WHERE rolname IN ('otra_app', 'otro_grupo', 'otra_nueva', "
                  "'postgres', 'jefe')")),
              ajenos);
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT pg_has_role('otra_app', 'otro_grupo', 'MEMBER')")), QStringLiteral("t"));
    EXPECT_TRUE(puedeEntrar(QStringLiteral("jefe"), QStringLiteral("jefe-nueva")));
    EXPECT_TRUE(puedeEntrar(QStringLiteral("otra_app"), QStringLiteral("otra-nueva")));

    // The dates and the zone.
    auto valor = [&](const char* clave) {
        return c.scalar(QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion = '%1'")
                            .arg(QString::fromLatin1(clave)));
    };
    EXPECT_EQ(valor("FECHARESPALDO"), fechaRespaldo);
    EXPECT_TRUE(valor("FECHARESTAURACION").startsWith(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))));
    EXPECT_EQ(c.scalar(QStringLiteral("SELECT array_to_string(setconfig, ',') FROM pg_db_role_setting s JOIN "
                                      "pg_database d ON d.oid = s.setdatabase WHERE d.datname = 'veliro7'")),
              QStringLiteral("TimeZone=") + kZona);
    const QString guardada = keystore::KeyStore().readValue(kRegistroZona).value;
    EXPECT_EQ(DescifrarCadena(guardada, false), kZona);
    EXPECT_FALSE(QFileInfo::exists(sesion().RutaTemporal + kCarpetaRestauracion));
    EXPECT_TRUE(QDir(sesion().RutaTemporal).entryList({QStringLiteral("*.bat")}, QDir::Files).isEmpty());
}

// The roles whose attributes, passwords and memberships a round trip must give back.
const QStringList kRolesComparados = {
    QStringLiteral("v7_super"),    QStringLiteral("v7_admin"), QStringLiteral("v7_usuario1"),
    QStringLiteral("v7_usuario2"), QStringLiteral("O'Brien"),  QStringLiteral("Ana Admin"),
    QStringLiteral("nivel1"),      QStringLiteral("jefa2"),    QStringLiteral("jefe"),
    QStringLiteral("adm"),         QStringLiteral("usr1"),     QStringLiteral("dueno_v7"),
    QStringLiteral("reportes_ro")};

// Everything a restore must give back, one line per kind: every table's rows (the configuration and the
// backup's control counts aside), owners and privileges of tables, sequences, columns, schemas, functions,
// default privileges and policies, every large object with its owner, privileges and bytes, every
// sequence's value, and the roles above with their attributes, passwords and memberships.
QStringList huella(const std::function<bool(const QString&, QString*)>& psql) {
    const QString sistema = QStringLiteral("nspname !~ '^pg_' AND nspname <> 'information_schema'");
    QStringList roles;
    for (const QString& r : kRolesComparados) {
        roles << QLatin1Char('\'') + QString(r).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
    }
    const QString lista = roles.join(QLatin1Char(','));
    // Each line: a label and its values sorted, "kind value,value,…".
    auto linea = [](const char* etiqueta, const QString& valor, const QString& desde) {
        return QStringLiteral(
                   "SELECT '%1 ' || coalesce(string_agg(v, ',' ORDER BY v), '') FROM (SELECT %2 AS v %3) s;\n")
            .arg(QString::fromLatin1(etiqueta), valor, desde);
    };
    const QString sql =
        linea("filas",
              QStringLiteral("format('%1$I.%2$I', table_schema, table_name) || '=' || (xpath('/table/row/h/text()', "
                             "query_to_xml(format('SELECT md5(coalesce(string_agg(t::text, ''|'' ORDER BY t::text), "
                             "'''')) AS h FROM %1$I.%2$I t', table_schema, table_name), false, false, '')))[1]::text"),
              QStringLiteral("FROM information_schema.tables WHERE table_type = 'BASE TABLE' AND table_schema NOT IN "
                             "('pg_catalog', 'information_schema') AND (table_schema, table_name) NOT IN "
                             "(('config_veliro', 'configuracion'), ('config_veliro', 'control'))")) +
        linea("objetos",
              QStringLiteral("n.nspname || '.' || c.relname || ':' || c.relkind::text || ':' || "
                             "pg_get_userbyid(c.relowner) || ':' || coalesce(c.relacl::text, '-')"),
              QStringLiteral("FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace WHERE ") + sistema +
                  QStringLiteral(" AND c.relkind IN ('r', 'v', 'm', 'S', 'p', 'f')")) +
        linea("columnas", QStringLiteral("c.oid::regclass::text || '.' || a.attname || ':' || a.attacl::text"),
              QStringLiteral("FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid JOIN pg_namespace n ON n.oid = "
                             "c.relnamespace WHERE a.attacl IS NOT NULL AND ") +
                  sistema) +
        linea("esquemas",
              QStringLiteral("nspname || ':' || pg_get_userbyid(nspowner) || ':' || coalesce(nspacl::text, '-')"),
              QStringLiteral("FROM pg_namespace WHERE ") + sistema) +
        linea("funciones",
              QStringLiteral("p.oid::regprocedure::text || ':' || pg_get_userbyid(p.proowner) || ':' || "
                             "coalesce(p.proacl::text, '-')"),
              QStringLiteral("FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace WHERE ") + sistema) +
        linea("predeterminados",
              QStringLiteral("pg_get_userbyid(defaclrole) || ':' || defaclnamespace::regnamespace::text || ':' || "
                             "defaclobjtype::text || ':' || defaclacl::text"),
              QStringLiteral("FROM pg_default_acl")) +
        linea("politicas",
              QStringLiteral("schemaname || '.' || tablename || '.' || policyname || ':' || array_to_string(roles, "
                             "'+')"),
              QStringLiteral("FROM pg_policies")) +
        linea("objetos_grandes",
              QStringLiteral("m.oid || ':' || pg_get_userbyid(m.lomowner) || ':' || coalesce(m.lomacl::text, '-') || "
                             "':' || md5(lo_get(m.oid))"),
              QStringLiteral("FROM pg_largeobject_metadata m")) +
        linea("secuencias",
              QStringLiteral("schemaname || '.' || sequencename || '=' || coalesce(last_value::text, '-')"),
              QStringLiteral("FROM pg_sequences")) +
        linea("roles",
              QStringLiteral("rolname || ':' || rolsuper || rolinherit || rolcreaterole || rolcreatedb || rolcanlogin "
                             "|| rolreplication || rolbypassrls || ':' || coalesce(rolpassword, '-')"),
              QStringLiteral("FROM pg_authid WHERE rolname IN (") + lista + QLatin1Char(')')) +
        linea("miembros", QStringLiteral("g.rolname || '>' || m.rolname || ':' || a.admin_option"),
              QStringLiteral("FROM pg_auth_members a JOIN pg_roles g ON g.oid = a.roleid JOIN pg_roles m ON m.oid = "
                             "a.member WHERE m.rolname IN (") +
                  lista + QLatin1Char(')'));
    QString salida;
    EXPECT_TRUE(psql(sql, &salida));
    return salida.trimmed().split(QLatin1Char('\n'));
}

QStringList huellaDe(const PgCluster& c) {
    return huella([&](const QString& sql, QString* out) { return c.psql(sql, out); });
}

void compararHuellas(const QStringList& antes, const QStringList& despues) {
    ASSERT_EQ(antes.size(), despues.size());
    for (qsizetype i = 0; i < antes.size(); ++i) {
        EXPECT_EQ(despues[i], antes[i]) << "line " << i;
    }
}

// Round trips of an archive written by the kit and one made by hand with pg_dump -Fc, pg_dumpall -g and
// 7za, onto this server (where the data, a large object, a staff password and a role changed since the
// backup) and onto a fresh server that has none of the roles: everything comes back.
TEST_F(Restauracion, RoundTripsOntoThisServerAndAFreshOne) {
    auto& c = PgCluster::instance();
    ASSERT_TRUE(c.psql(QStringLiteral(
        "DROP ROLE IF EXISTS dueno_v7, reportes_ro;"
        "CREATE ROLE dueno_v7 LOGIN PASSWORD 'dueño-clave'; CREATE ROLE reportes_ro;"
        "CREATE TABLE prestamo.historial (id serial PRIMARY KEY, nota text, foto oid);"
        "ALTER TABLE prestamo.historial OWNER TO dueno_v7;"
        "INSERT INTO prestamo.historial (nota, foto) VALUES ('uno', lo_from_bytea(0, 'foto uno')), "
        "('dos', lo_from_bytea(0, convert_to(repeat('grande ', 50000), 'UTF8')));"
        "DO $$DECLARE o oid; BEGIN FOR o IN SELECT foto FROM prestamo.historial LOOP "
        "EXECUTE format('ALTER LARGE OBJECT %s OWNER TO dueno_v7', o); END LOOP;"
        "EXECUTE format('GRANT SELECT ON LARGE OBJECT %s TO reportes_ro', (SELECT min(foto) FROM prestamo.historial));"
        "END$$;"
        "GRANT SELECT ON prestamo.historial TO reportes_ro;"
        "GRANT SELECT (nota) ON prestamo.historial TO \"O'Brien\";"
        "ALTER DEFAULT PRIVILEGES FOR ROLE dueno_v7 IN SCHEMA prestamo GRANT SELECT ON TABLES TO reportes_ro;"
        "SELECT setval('prestamo.historial_id_seq', 40);")));
    // The source as a restore leaves a database (the groups' grants, private staff rows, raised sequences),
    // so what comes back can be compared whole.
    ASSERT_EQ(asignarPermisosRestauracion(kEsquemasSistema), QStringList());
    ASSERT_EQ(ActualizarSecuenciasVELIRO(), QStringList());
    const QStringList antes = huellaDe(c);

    const QString kit = respaldar(QStringLiteral("kit.zip"));
    const QString carpeta = m_dir.file(QStringLiteral("a mano/"));
    QDir().mkpath(carpeta);
    ASSERT_TRUE(
        herramientaPg(QStringLiteral("pg_dump"), {QStringLiteral("-Fc"), QStringLiteral("-b"), QStringLiteral("-f"),
                                                  carpeta + QStringLiteral("base.backup"), QStringLiteral("veliro7")}));
    ASSERT_TRUE(herramientaPg(QStringLiteral("pg_dumpall"),
                              {QStringLiteral("-g"), QStringLiteral("-f"), carpeta + QStringLiteral("rolesv7.sql")}));
    escribir(carpeta + QStringLiteral("checksum.dat"), miembro(kit, QStringLiteral("checksum.dat")));
    const QString mano = m_dir.file(QStringLiteral("a mano.zip"));
    empacar(mano, {carpeta + QStringLiteral("base.backup"), carpeta + QStringLiteral("rolesv7.sql"),
                   carpeta + QStringLiteral("checksum.dat")});
    const std::pair<const char*, QString> archivos[] = {{"kit's archive", kit}, {"hand-made archive", mano}};

    for (const auto& [nombre, archivo] : archivos) {
        SCOPED_TRACE(std::string(nombre) + " onto this server");
        ASSERT_TRUE(c.psql(QStringLiteral(
            "SELECT lo_put(foto, 0, convert_to('FOTO CAMBIADA Y MAS LARGA QUE ANTES', 'UTF8')) FROM "
            "prestamo.historial WHERE nota = 'uno';"
            "SELECT lo_unlink(foto) FROM prestamo.historial WHERE nota = 'dos'; SELECT lo_from_bytea(0, 'nuevo');"
            "UPDATE prestamo.historial SET nota = 'cambiada'; SELECT setval('prestamo.historial_id_seq', 90);"
            "DROP OWNED BY reportes_ro; DROP ROLE reportes_ro; ALTER ROLE \"O'Brien\" PASSWORD 'otra';")));
        m_avisos.clear();
        const ResultadoRestauracion r = restaurar(archivo);
        ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
        compararHuellas(antes, huellaDe(c));
        EXPECT_FALSE(leerMarcaRestauracion().has_value());
        EXPECT_TRUE(puedeEntrar(kStaff[0].usuario, kStaff[0].clave));
    }

    // A fresh server: only its bootstrap superuser, the session's login, and an empty veliro7.
    ClusterNuevo nuevo(c.binFolder());
    ASSERT_TRUE(nuevo.ok());
    auto& s = sesion();
    auto conectarNuevo = [&] {
        s.UsuarioBD = s.UsuarioConexion = nuevo.superuser();
        s.ClaveBD = s.ClaveConexion = nuevo.password();
        s.ServidorIP = s.ServidorConexion = nuevo.host();
        s.PuertoBD = nuevo.port();
        s.PuertoConexion = QString::number(nuevo.port());
        s.RutaPostgres = nuevo.installFolder();
        s.CadenaConexion = nuevo.connectionString(nuevo.superuser(), nuevo.password());
        QString error;
        return ConexionServer(s.CadenaConexion, error);
    };
    bool primero = true;
    for (const auto& [nombre, archivo] : archivos) {
        SCOPED_TRACE(std::string(nombre) + " onto a fresh server");
        if (!primero) {
            conexionPrincipal().close();
            ASSERT_TRUE(nuevo.psql(QStringLiteral("DROP DATABASE veliro7 WITH (FORCE); CREATE DATABASE veliro7;"
                                                  "DO $$DECLARE r text; BEGIN FOR r IN SELECT rolname FROM pg_roles "
                                                  "WHERE rolname !~ '^pg_' AND rolname <> 'postgres' LOOP "
                                                  "EXECUTE format('DROP ROLE %I', r); END LOOP; END$$;"),
                                   nullptr, QStringLiteral("postgres")));
        }
        primero = false;
        ASSERT_TRUE(conectarNuevo());
        m_avisos.clear();
        const ResultadoRestauracion r = restaurar(archivo);
        ASSERT_TRUE(r.ok) << r.mensaje.texto.toStdString() << m_avisos.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(m_avisos.isEmpty()) << m_avisos.join(QLatin1Char('|')).toStdString();
        compararHuellas(antes, huella([&](const QString& sql, QString* out) { return nuevo.psql(sql, out); }));
        EXPECT_FALSE(leerMarcaRestauracion().has_value());
        db::Connection obrien;
        obrien.setConnectionString(nuevo.connectionString(kStaff[0].usuario, kStaff[0].clave));
        db::DbError e;
        EXPECT_TRUE(obrien.open(e)) << e.description.toStdString();
        obrien.close();
    }
    conexionPrincipal().close();
    ASSERT_TRUE(m_server->iniciarSesion());
}

} // namespace
