// The shared work-files folder window: storing the path, and the one-way switch to database-held
// report templates.
#include "console/FrmInicio.h"
#include "console/FrmRutaTrabajo.h"
#include "console/reportes.h"
#include "console/ruta_trabajo.h"
#include "core/session.h"
#include "core/sql.h"
#include "platform/guardia_ui.h"
#include "platform/paths.h"
#include "tests/support/archivos_prueba.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>

using namespace v7;
using namespace v7::test;

namespace {

const QString kRutaAnterior = QStringLiteral("\\\\srv\\anterior\\");

// The one text of a query through the session's connection (exact, line breaks included).
QString texto(const QString& sql) {
    db::DbError e;
    auto rs = conexionPrincipal().query(sql, e);
    EXPECT_TRUE(rs != nullptr) << e.description.toStdString();
    return rs && !rs->eof() ? rs->text(0) : QStringLiteral("<none>");
}

QString columna(const QString& sql) {
    QString out;
    EXPECT_TRUE(PgCluster::instance().psql(sql, &out));
    return out.trimmed();
}

const QStringList kVersiones{QStringLiteral("VER_ADQUISICIONES"), QStringLiteral("VER_CONVERSION"),
                             QStringLiteral("VER_ANALISIS"),      QStringLiteral("VER_INVENTARIO"),
                             QStringLiteral("VER_SERVICIOS"),     QStringLiteral("VER_PRESTAMO"),
                             QStringLiteral("VER_CONSULTA")};
const QString kConsultaVersiones = QStringLiteral(
    "SELECT descripcion || '=' || valor FROM config_veliro.configuracion WHERE descripcion LIKE 'VER\\_%' "
    "AND descripcion <> 'VER_V7TOOLS' ORDER BY 1");

// What the switch changes, to compare before and after.
QString estadoBase() {
    return columna(QStringLiteral("SELECT count(*) FROM pg_namespace WHERE nspname = 'reportes'")) + QLatin1Char('|') +
           columna(QStringLiteral("SELECT count(*) FROM information_schema.columns WHERE table_schema = 'catalogos' "
                                  "AND table_name = 'usuarios' AND column_name = 'imagen'")) +
           QLatin1Char('|') +
           columna(QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion = "
                                  "'ARCHIVOSCOMPARTIDOS'")) +
           QLatin1Char('|') + columna(kConsultaVersiones);
}

class RutaTrabajo : public PruebaConServidor {
protected:
    void SetUp() override {
        PruebaConServidor::SetUp();
        ASSERT_TRUE(m_server->iniciarSesion());
        QString filas;
        for (const QString& v : kVersiones) {
            filas += QStringLiteral("('%1', '1.0 - 2010/01/01'),").arg(v);
        }
        filas += QStringLiteral("('ARCHIVOSCOMPARTIDOS', '\\\\srv\\anterior\\')");
        ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("INSERT INTO config_veliro.configuracion VALUES ") +
                                               filas + QLatin1Char(';')));
        sesion().RutaTrabajo = kRutaAnterior;
        sesion().HayArchivosCompartidos = true;
    }

    QString valorGuardado() {
        return columna(
            QStringLiteral("SELECT valor FROM config_veliro.configuracion WHERE descripcion = 'ARCHIVOSCOMPARTIDOS'"));
    }

    ScriptedDialogs m_dialogs;
};

TEST_F(RutaTrabajo, PathModeChecksAndStoresTheFolderText) {
    const QString estandar = QStringLiteral("\\\\127.0.0.1\\ArchivosV7\\");
    const QString marca = QStringLiteral("Seleccione la ubicación del archivo \"ArchivosCompartidos.rt\"");
    const QString red = QStringLiteral("La ruta de trabajo debe ser una dirección de red con el\r\nsiguiente "
                                       "formato:    \\\\127.0.0.1\\ArchivosV7\\");
    const QString guardada = QStringLiteral("La ruta ha sido guardada correctamente");
    const QString fallo =
        QStringLiteral("Ocurrió un error al intentar guardar la ruta,\r\npor favor, inténtalo nuevamente");
    struct Caso {
        const char* nombre;
        QString typed;
        bool sinFila; // the ARCHIVOSCOMPARTIDOS row removed first
        QString mensaje;
        QString stored; // empty: nothing stored
    };
    const Caso casos[] = {
        {"standard share, no marker file", estandar, false, guardada, QStringLiteral("\\\\127.0.0.1\\archivosv7\\")},
        {"standard share in other case", QStringLiteral("\\\\127.0.0.1\\archivosv7\\"), false, marca, {}},
        {"path to the marker file", QStringLiteral("\\\\srv\\Compartida\\ArchivosCompartidos.rt"), false, guardada,
         QStringLiteral("\\\\srv\\compartida\\")},
        {"drive letter", QStringLiteral("C:\\ArchivosV7\\archivoscompartidos.rt"), false, red, {}},
        {"empty", QString(), false, marca, {}},
        {"quote in the path", QStringLiteral("\\\\srv\\O'Brien \\archivoscompartidos.rt "), false, guardada,
         QStringLiteral("\\\\srv\\o'brien \\")},
        {"no row to update", estandar, true, fallo, {}},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        if (c.sinFila) {
            ASSERT_TRUE(PgCluster::instance().psql(
                QStringLiteral("DELETE FROM config_veliro.configuracion WHERE descripcion = 'ARCHIVOSCOMPARTIDOS';")));
        } else {
            ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral(
                "UPDATE config_veliro.configuracion SET valor = '\\\\srv\\anterior\\' WHERE descripcion = "
                "'ARCHIVOSCOMPARTIDOS';")));
        }
        sesion().RutaTrabajo = kRutaAnterior;
        QWidget consola;
        auto* etiqueta = new QLabel(QStringLiteral("antes"), &consola);
        etiqueta->setObjectName(QStringLiteral("EtRutaTrabajo"));
        FrmRutaTrabajo w(&consola);
        auto* caja = hijo<QLineEdit>(w, "TxtRutaTrabajo");
        EXPECT_EQ(caja->text(), kRutaAnterior);
        caja->setText(c.typed);
        m_dialogs.clear();
        m_dialogs.answer(MsgResult::Ok);
        w.BtnGrabar_Click();
        ASSERT_EQ(m_dialogs.shown().size(), 1u);
        EXPECT_EQ(m_dialogs.shown()[0].text, c.mensaje);
        const bool ok = !c.stored.isEmpty();
        EXPECT_EQ(m_dialogs.shown()[0].icon, ok ? MsgIcon::Information : MsgIcon::Critical);
        EXPECT_EQ(m_dialogs.shown()[0].title, c.mensaje == red ? kProgramTitle : QStringLiteral("VELIRO7"));
        EXPECT_EQ(w.result() == QDialog::Accepted, ok);
        if (ok) {
            EXPECT_EQ(valorGuardado(), c.stored);
            EXPECT_EQ(sesion().RutaTrabajo, c.stored);
            EXPECT_EQ(etiqueta->text(), c.stored);
        } else {
            EXPECT_EQ(valorGuardado(), c.sinFila ? QString() : kRutaAnterior);
            EXPECT_EQ(sesion().RutaTrabajo, kRutaAnterior);
            EXPECT_EQ(etiqueta->text(), QStringLiteral("antes"));
            EXPECT_EQ(caja->selectedText(), c.typed);
        }
    }
}

TEST_F(RutaTrabajo, BrowsingAndTheControlsOnlyASuperuserSees) {
    {
        FrmRutaTrabajo w;
        auto* caja = hijo<QLineEdit>(w, "TxtRutaTrabajo");
        m_dialogs.answer(QString()).answer(MsgResult::Ok).answer(QStringLiteral("/srv/v7/archivoscompartidos.rt"));
        w.BtnExaminar_Click();
        EXPECT_EQ(caja->text(), kRutaAnterior);
        w.BtnExaminar_Click();
        EXPECT_EQ(caja->text(), QStringLiteral("/srv/v7/archivoscompartidos.rt"));
        ASSERT_EQ(m_dialogs.shown().size(), 3u);
        EXPECT_EQ(m_dialogs.shown()[0].title, QStringLiteral("Localizacion de la carpeta compartida..."));
        EXPECT_EQ(m_dialogs.shown()[1].icon, MsgIcon::Warning);
        EXPECT_EQ(m_dialogs.shown()[1].text, QStringLiteral("Debes seleccionar el archivo \"archivoscompartidos.rt\""));
        EXPECT_TRUE(hijo(w, "ChkEliminaCarpeta")->isVisibleTo(&w));
        EXPECT_TRUE(hijo(w, "EtCarpeta")->isVisibleTo(&w));
        EXPECT_TRUE(hijo(w, "ImgAyuda")->isVisibleTo(&w));

        // The help document: missing, no program to open it, opened.
        QStringList abiertos;
        bool hayPrograma = false;
        w.setAbrirDocumento([&](const QUrl& url) {
            abiertos << url.toLocalFile();
            return hayPrograma;
        });
        m_dialogs.clear();
        m_dialogs.answer(MsgResult::Ok).answer(MsgResult::Ok);
        w.show();
        QTest::mouseClick(hijo(w, "ImgAyuda"), Qt::LeftButton);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(FrmRutaTrabajo::documentoAyuda()).path()));
        escribir(FrmRutaTrabajo::documentoAyuda(), "%PDF-1.4\n");
        w.ImgAyuda_Click();
        hayPrograma = true;
        w.ImgAyuda_Click();
        EXPECT_EQ(
            m_dialogs.texts(),
            QStringList({QStringLiteral("No se encontró el documento de ayuda:\r\n") + FrmRutaTrabajo::documentoAyuda(),
                         QStringLiteral("No hay un programa para abrir el documento de ayuda:\r\n") +
                             FrmRutaTrabajo::documentoAyuda()}));
        EXPECT_EQ(abiertos, QStringList(2, FrmRutaTrabajo::documentoAyuda()));
    }
    sesion().TipoUsuario = QStringLiteral("administrador");
    FrmRutaTrabajo w;
    for (const char* name : {"ChkEliminaCarpeta", "EtCarpeta", "ImgAyuda"}) {
        EXPECT_FALSE(hijo(w, name)->isVisibleTo(&w)) << name;
    }
}

TEST_F(RutaTrabajo, SwitchMovesTheTemplatesIntoTheDatabaseAndEndsTheProgram) {
    // A login whose name only works quoted, and an installation's own CONSTNO in Windows-1252.
    const Login jefe{QStringLiteral("Jefe.Reportes"), QStringLiteral("clave-jefe")};
    ASSERT_TRUE(PgCluster::instance().psql(
        QStringLiteral("CREATE ROLE \"Jefe.Reportes\" LOGIN SUPERUSER PASSWORD 'clave-jefe' IN ROLE v7_super;")));
    ASSERT_TRUE(m_server->iniciarSesion(jefe));
    sesion().HayArchivosCompartidos = true;
    ASSERT_TRUE(QDir().mkpath(QFileInfo(rutaPlantillaConstNo()).path()));
    escribir(rutaPlantillaConstNo(), "<p>Constancia de no adeudo: \xE1rea \\\\servidor\\ 'ok'</p>\r\n");

    {
        FrmRutaTrabajo w;
        hijo<QCheckBox>(w, "ChkEliminaCarpeta")->setChecked(true);
        m_dialogs.answer(MsgResult::Ok);
        w.show();
        // The window is locked while the switch runs: a click on Cerrar during it goes nowhere.
        int cerrar = 0;
        bool bloqueada = false;
        QObject::connect(hijo<QPushButton>(w, "BtnCerrar"), &QPushButton::clicked, [&] { ++cerrar; });
        Muestreo muestreo(w, 0);
        muestreo.alMuestrear([&](int) {
            if (GuardiaVentana::bloqueada(&w)) {
                bloqueada = true;
                click(w, "BtnCerrar");
            }
        });
        click(w, "BtnGrabar");
        muestreo.detener();
        EXPECT_TRUE(bloqueada);
        EXPECT_EQ(cerrar, 0);
        ASSERT_EQ(m_dialogs.shown().size(), 1u) << m_dialogs.texts().join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Information);
        EXPECT_TRUE(m_dialogs.shown()[0].text.startsWith(QStringLiteral(
            "Se ha deshabilitado correctamente la funcionalidad de la carpeta \"Archivos de Trabajo\"")));
        EXPECT_EQ(m_salidas, std::vector<int>{0});
        EXPECT_FALSE(sesion().HayArchivosCompartidos);
    }

    EXPECT_EQ(columna(QStringLiteral("SELECT string_agg(table_name, ',' ORDER BY table_name) FROM "
                                     "information_schema.tables WHERE table_schema = 'reportes'")),
              QStringLiteral("modulos,plantillas,reporte,seccion"));
    EXPECT_EQ(columna(QStringLiteral("SELECT string_agg(idmodulo || ':' || modulo, ',' ORDER BY idmodulo) FROM "
                                     "reportes.modulos")),
              QStringLiteral("1:Adquisiciones,2:Préstamo,3:Consulta,4:Inventario,5:Análisis,6:Servicios,"
                             "7:Administración,8:Compartido"));
    EXPECT_EQ(columna(QStringLiteral("SELECT string_agg(idseccion || ':' || idmodulo, ',' ORDER BY idseccion) FROM "
                                     "reportes.seccion")),
              QStringLiteral("1:5,2:5,3:5,4:5,5:4,6:1,7:1,8:6,9:2"));
    EXPECT_EQ(columna(QStringLiteral("SELECT string_agg(nombre || ':' || idmodulo, ',' ORDER BY idplantilla) FROM "
                                     "reportes.plantillas")),
              QStringLiteral("FICHAC:5,FICHAWEB:5,FICHAWEB_TABLA:5,VISTAMARC:5,RESTAURA_ACERVO:7,ESQUEMAREP:8,"
                             "BIBLIO:3,DEFAULT_V7:1,CONSTSI:2,CONSTNO:2,ESTYLE:3,FICHA:3,ADQSOLRECURSOS:1,"
                             "SOLICITA:1,ESTILO:1,CRED_FMTO2:2,CRED_FMTO:2"));
    EXPECT_EQ(columna(QStringLiteral("SELECT count(*) || ' ' || count(DISTINCT nombre) || ' ' || "
                                     "bool_and(reporte LIKE '%<Reporte%') FROM reportes.reporte r JOIN "
                                     "reportes.seccion s USING (idseccion) WHERE r.idmodulo = s.idmodulo")),
              QStringLiteral("32 32 true"));
    EXPECT_EQ(texto(QStringLiteral("SELECT plantilla FROM reportes.plantillas WHERE nombre = 'RESTAURA_ACERVO'")),
              QString::fromUtf8(leer(QStringLiteral(V7_SOURCE_DIR "/resources/restaura_acervo.sql"))));
    // Backslashes stored as written, once.
    EXPECT_TRUE(texto(QStringLiteral("SELECT plantilla FROM reportes.plantillas WHERE nombre = 'ESQUEMAREP'"))
                    .contains(QStringLiteral("<xsl:variable name=\"separadorRuta\">\\</xsl:variable>")));
    EXPECT_EQ(texto(QStringLiteral("SELECT plantilla FROM reportes.plantillas WHERE nombre = 'CONSTNO'")),
              QStringLiteral("<p>Constancia de no adeudo: área \\\\servidor\\ 'ok'</p>\r\n"));
    EXPECT_EQ(columna(QStringLiteral("SELECT count(*) FROM config_veliro.configuracion WHERE descripcion = "
                                     "'ARCHIVOSCOMPARTIDOS'")),
              QStringLiteral("0"));
    EXPECT_EQ(columna(QStringLiteral("SELECT format_type(atttypid, -1) FROM pg_attribute WHERE attrelid = "
                                     "'catalogos.usuarios'::regclass AND attname = 'imagen'")),
              QStringLiteral("oid"));
    EXPECT_EQ(columna(QStringLiteral("SELECT has_schema_privilege('Jefe.Reportes', 'reportes', 'CREATE') AND "
                                     "has_table_privilege('v7_usuario2', 'reportes.reporte', 'DELETE') AND NOT "
                                     "has_table_privilege('v7_admin', 'reportes.reporte', 'TRUNCATE')")),
              QStringLiteral("t"));
    EXPECT_EQ(columna(kConsultaVersiones),
              QStringLiteral("VER_ADQUISICIONES=1.120216 - 2015/09/21\nVER_ANALISIS=1.120216 - 2015/09/21\n"
                             "VER_CONSULTA=1.1 - 2012/01/01\nVER_CONVERSION=1.120216 - 2015/09/21\n"
                             "VER_INVENTARIO=1.120216 - 2015/09/21\nVER_PRESTAMO=1.1 - 2012/01/01\n"
                             "VER_SERVICIOS=1.120216 - 2015/09/21"));

    // An administrator who is not a superuser can add a definition (the ids come from the sequence).
    ASSERT_TRUE(m_server->iniciarSesion(kAdmin));
    QString err;
    EXPECT_TRUE(InsertarReporte(UbicacionReporte{1, 6, QStringLiteral("Listado del administrador")},
                                QStringLiteral("<Reporte/>"), err))
        << err.toStdString();

    // At the next start the console's button opens the templates window.
    VentanasConsola v = VentanasConsola::predeterminadas();
    v.login = [this](QWidget*) { return m_server->iniciarSesion() ? QStringLiteral("OK") : QString(); };
    FrmInicio consola(v);
    ASSERT_TRUE(consola.Form_Load());
    EXPECT_EQ(hijo<QPushButton>(consola, "BtnRutaTrabjo")->text(), QStringLiteral("Administración de reportes"));
    QString abierta;
    int filas = -1;
    alAbrirModal([&](QWidget* m) {
        abierta = m->objectName();
        filas = hijo<QTreeWidget>(*m, "LstReporte")->topLevelItemCount();
        click(*m, "BtnSalir");
    });
    click(consola, "BtnRutaTrabjo");
    EXPECT_EQ(abierta, QStringLiteral("frmGrabaReporte"));
    EXPECT_EQ(filas, 33);
}

TEST_F(RutaTrabajo, FailedSwitchLeavesTheDatabaseAsItWas) {
    const QString antes = estadoBase();
    ASSERT_TRUE(antes.startsWith(QStringLiteral("0|0|\\\\srv\\anterior\\|VER_ADQUISICIONES=1.0 - 2010/01/01")))
        << antes.toStdString();

    // A template load that fails half-way.
    const ResultadoDeshabilitar r = DeshabilitarCarpetaCompartida(
        sesion().UsuarioBD, scriptReportes() + QStringLiteral("\nINSERT INTO reportes.faltante VALUES (1);\n"),
        QString());
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.errorText.contains(QStringLiteral("reportes.faltante"))) << r.errorText.toStdString();
    EXPECT_EQ(estadoBase(), antes);
    EXPECT_TRUE(sesion().HayArchivosCompartidos);

    // Through the window: a schema already there is refused with the server's text and the program
    // goes on; once it is gone the switch can be made.
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("CREATE SCHEMA reportes;")));
    FrmRutaTrabajo w;
    hijo<QCheckBox>(w, "ChkEliminaCarpeta")->setChecked(true);
    m_dialogs.answer(MsgResult::Ok);
    w.BtnGrabar_Click();
    ASSERT_EQ(m_dialogs.shown().size(), 1u);
    EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Critical);
    // The window's sentence, then the server's own words; never the statement.
    EXPECT_TRUE(m_dialogs.shown()[0].text.startsWith(
        QStringLiteral("No se logró deshabilitar la funcionalidad de la carpeta \"Archivo de Trabajo\" debido a la "
                       "siguiente razón: \r\nDetalle del servidor: ")))
        << m_dialogs.shown()[0].text.toStdString();
    EXPECT_TRUE(m_dialogs.shown()[0].text.contains(QStringLiteral("\"reportes\"")))
        << m_dialogs.shown()[0].text.toStdString();
    EXPECT_FALSE(m_dialogs.shown()[0].text.contains(QStringLiteral("CREATE SCHEMA")))
        << m_dialogs.shown()[0].text.toStdString();
    EXPECT_TRUE(m_salidas.empty());
    EXPECT_EQ(estadoBase(), QStringLiteral("1") + antes.mid(1));

    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("DROP SCHEMA reportes;")));
    const ResultadoDeshabilitar otra = DeshabilitarCarpetaCompartida(sesion().UsuarioBD, scriptReportes(), QString());
    EXPECT_TRUE(otra.ok) << otra.errorText.toStdString();
    EXPECT_FALSE(sesion().HayArchivosCompartidos);
}

// The installation's own CONSTNO sits at a name the program chose: a link planted there (to a root-only
// file, say) or a FIFO is never read, the embedded template stays, and the administrator is told.
TEST_F(RutaTrabajo, TheSwitchNeverReadsConstNoThroughALinkOrFromAFifo) {
    const TempDir dir;
    const QString secreto = dir.file(QStringLiteral("secreto"));
    escribir(secreto, "SECRETO-DE-ROOT");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(rutaPlantillaConstNo()).path()));
    for (const ArchivoPlantado& c : archivosPlantados(secreto)) {
        SCOPED_TRACE(c.nombre);
        ASSERT_TRUE(c.plantar(rutaPlantillaConstNo()));
        ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral(
            "DROP SCHEMA IF EXISTS reportes CASCADE; ALTER TABLE catalogos.usuarios DROP COLUMN IF EXISTS imagen;"
            "INSERT INTO config_veliro.configuracion SELECT 'ARCHIVOSCOMPARTIDOS', '\\\\srv\\anterior\\' WHERE "
            "NOT EXISTS (SELECT 1 FROM config_veliro.configuracion WHERE descripcion = 'ARCHIVOSCOMPARTIDOS');")));
        sesion().HayArchivosCompartidos = true;
        m_salidas.clear();
        FrmRutaTrabajo w;
        hijo<QCheckBox>(w, "ChkEliminaCarpeta")->setChecked(true);
        m_dialogs.clear();
        m_dialogs.answer(MsgResult::Ok).answer(MsgResult::Ok);
        w.BtnGrabar_Click();
        ASSERT_EQ(m_dialogs.shown().size(), 2u) << m_dialogs.texts().join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Warning);
        EXPECT_TRUE(m_dialogs.shown()[0].text.contains(rutaPlantillaConstNo()));
        EXPECT_TRUE(m_dialogs.shown()[0].text.contains(c.motivo)) << m_dialogs.shown()[0].text.toStdString();
        EXPECT_TRUE(m_dialogs.shown()[1].text.startsWith(QStringLiteral("Se ha deshabilitado correctamente")));
        EXPECT_EQ(m_salidas, std::vector<int>{0});
        const QString constNo =
            texto(QStringLiteral("SELECT plantilla FROM reportes.plantillas WHERE nombre = 'CONSTNO'"));
        EXPECT_FALSE(constNo.contains(QStringLiteral("SECRETO"))) << constNo.left(200).toStdString();
        EXPECT_FALSE(constNo.isEmpty());
        ASSERT_TRUE(QFile::remove(rutaPlantillaConstNo()) || QDir().rmdir(rutaPlantillaConstNo()));
    }
}

} // namespace
