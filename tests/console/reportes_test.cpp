// The report templates window and its placement window, on a database switched to held templates.
#include "console/FrmRutaTrabajo.h"
#include "console/frmGrabaReporte.h"
#include "console/frmModificaReporte.h"
#include "console/reportes.h"
#include "console/ruta_trabajo.h"
#include "core/session.h"
#include "core/sql.h"
#include "tests/support/archivos_prueba.h"
#include "tests/support/pg_cluster.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/v7_fixture.h"
#include "tests/support/ventanas.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace v7;
using namespace v7::test;

namespace {

QString texto(const QString& sql) {
    db::DbError e;
    auto rs = conexionPrincipal().query(sql, e);
    EXPECT_TRUE(rs != nullptr) << e.description.toStdString();
    return rs && !rs->eof() ? rs->text(0) : QStringLiteral("<none>");
}

QString definicion(const QString& nombre) {
    return texto(QStringLiteral("SELECT idmodulo || '|' || idseccion || '|' || reporte FROM reportes.reporte WHERE "
                                "nombre = ") +
                 QLatin1Char('\'') + QString(nombre).replace(QLatin1Char('\''), QStringLiteral("''")) +
                 QLatin1Char('\''));
}

// Which of the window's buttons can be used, by their first letters (N M E I G C S).
QString botones(const QWidget& w) {
    QString s;
    for (const char* name :
         {"BtnNuevo", "BtnModificar", "BtnEliminar", "BtnImportar", "BtnGuardar", "BtnCancelar", "BtnSalir"}) {
        s += hijo(w, name)->isEnabled() ? QLatin1Char(name[3]) : QLatin1Char('-');
    }
    return s;
}

// Types text key by key, as the keyboard gives it (accented letters included).
void teclear(QWidget* w, const QString& text) {
    for (const QChar c : text) {
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key(c.toUpper().unicode()), QString(c), Qt::NoModifier);
    }
}

// Places the definition being saved: chooses the module by name (its first section), types the name
// and accepts.
void ubicar(const QString& modulo, const QString& nombre) {
    alAbrirModal([=](QWidget* m) {
        EXPECT_EQ(m->objectName(), QStringLiteral("frmModificaReporte"));
        auto* modulos = hijo<QComboBox>(*m, "cmbModulo");
        modulos->setCurrentIndex(modulos->findText(modulo));
        teclear(hijo(*m, "TxtNombreReporte"), nombre);
        click(*m, "BtnAceptar");
    });
}

class Reportes : public PruebaConServidor {
protected:
    void SetUp() override {
        PruebaConServidor::SetUp();
        ASSERT_TRUE(m_server->iniciarSesion());
        const ResultadoDeshabilitar r = DeshabilitarCarpetaCompartida(sesion().UsuarioBD, scriptReportes(), QString());
        ASSERT_TRUE(r.ok) << r.errorText.toStdString();
    }

    ScriptedDialogs m_dialogs;
};

TEST_F(Reportes, ImportedFilesAreStoredAsTheirDecodedText) {
    const QString cuerpo = QStringLiteral("<Reporte>\r\n  <Titulo>Análisis ñ €</Titulo>\r\n</Reporte>");
    auto utf16le = [](const QString& t) { return QByteArray(reinterpret_cast<const char*>(t.utf16()), t.size() * 2); };
    auto cp1252 = [](const char* decl) {
        return QByteArray(decl) + "<Reporte>\r\n  <Titulo>An\xE1lisis \xF1 \x80</Titulo>\r\n</Reporte>\r\n";
    };
    const QString declUtf8 = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    const QString declUtf16 = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>");
    const QString decl1252 = QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1252\"?>");
    struct Caso {
        const char* nombre;
        QByteArray archivo;
        QString stored; // the declaration's line break is not kept, nor the trailing one
    };
    const Caso casos[] = {
        {"UTF-8 with BOM", "\xEF\xBB\xBF" + (declUtf8 + "\r\n" + cuerpo + "\r\n").toUtf8(), declUtf8 + cuerpo},
        {"UTF-8", (declUtf8 + "\n\n" + cuerpo + "\r\n").toUtf8(), declUtf8 + cuerpo},
        {"UTF-16LE", "\xFF\xFE" + utf16le(declUtf16 + "\r\n" + cuerpo + "\r\n"), declUtf16 + cuerpo},
        {"Windows-1252, declared", cp1252("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"), decl1252 + cuerpo},
        {"Windows-1252, no declaration", cp1252(""), cuerpo},
    };
    frmGrabaReporte w;
    w.show();
    int n = 0;
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        const QString archivo = m_server->carpeta().file(QStringLiteral("importado%1.xml").arg(++n));
        escribir(archivo, c.archivo);
        const QString nombre = QStringLiteral("Importado ") + QString::fromLatin1(c.nombre);
        m_dialogs.clear();
        m_dialogs.answer(archivo).answer(MsgResult::Ok);
        click(w, "BtnImportar");
        EXPECT_EQ(botones(w), QStringLiteral("----GCS"));
        EXPECT_FALSE(hijo(w, "txtReporte")->isEnabled());
        ubicar(QStringLiteral("Inventario"), nombre);
        click(w, "BtnGuardar");
        EXPECT_EQ(m_dialogs.texts().last(), QStringLiteral("Reporte guardado con éxito"));
        EXPECT_EQ(definicion(nombre), QStringLiteral("4|5|") + c.stored);
        EXPECT_EQ(botones(w), QStringLiteral("NMEI--S"));
    }
    EXPECT_EQ(hijo<QTreeWidget>(w, "LstReporte")->topLevelItemCount(), 37);
}

// The file chosen to import is read only when it is a regular file of a sensible size holding text, reached
// without a link: a FIFO, a device, a folder, a huge file or a binary one is refused at once with its reason,
// and so is a link (even to a definition file: the message asks for the file itself) and a path through a
// link that another user planted. Nothing behind a link reaches the box.
TEST_F(Reportes, ImportRefusesWhatIsNotADefinitionFileAtOnce) {
    const TempDir dir;
    const QString xml = dir.file(QStringLiteral("definicion.xml"));
    escribir(xml, "<Reporte><Titulo>Enlazado</Titulo></Reporte>\r\n");
    const TempDir privada;
    const QString secreto = privada.file(QStringLiteral("secreto.xml"));
    escribir(secreto, "<Reporte><Titulo>SECRETO-DE-ROOT</Titulo></Reporte>\n");
    ASSERT_EQ(::chmod(QFile::encodeName(secreto).constData(), 0600), 0);
    const QString kEnlace = QStringLiteral("es un enlace simbólico; por seguridad no se sigue. Elija el archivo mismo, "
                                           "no un enlace a él.");
    struct Caso {
        const char* nombre;
        // Makes what is chosen at ruta; the path to choose, or empty when it could not be made.
        std::function<QString(const QString&)> crear;
        QString motivo; // empty: imported
    };
    auto hecho = [](bool ok, const QString& r) { return ok ? r : QString(); };
    const Caso casos[] = {
        {"FIFO", [&](const QString& r) { return hecho(::mkfifo(QFile::encodeName(r).constData(), 0600) == 0, r); },
         QStringLiteral("no es un archivo común")},
        {"/dev/zero", [](const QString&) { return QStringLiteral("/dev/zero"); },
         QStringLiteral("/dev/zero no es un archivo común")},
        {"link to /dev/zero", [&](const QString& r) { return hecho(QFile::link(QStringLiteral("/dev/zero"), r), r); },
         kEnlace},
        {"folder", [&](const QString& r) { return hecho(QDir().mkdir(r), r); }, QStringLiteral("es una carpeta")},
        {"25 MB file",
         [&](const QString& r) {
             QFile f(r);
             return hecho(f.open(QIODevice::WriteOnly) && f.resize(25 * 1024 * 1024), r);
         },
         QStringLiteral("mide 25 MB; el máximo que se acepta es 20 MB")},
        {"NUL byte",
         [&](const QString& r) {
             QFile f(r);
             return hecho(f.open(QIODevice::WriteOnly) && f.write(QByteArray("<Reporte>\0</Reporte>", 20)) == 20, r);
         },
         QStringLiteral("contiene caracteres nulos")},
        {"broken link",
         [&](const QString& r) { return hecho(QFile::link(dir.file(QStringLiteral("no-existe")), r), r); }, kEnlace},
        {"link to a definition file", [&](const QString& r) { return hecho(QFile::link(xml, r), r); }, kEnlace},
        {"link to a root-only file", [&](const QString& r) { return hecho(QFile::link(secreto, r), r); }, kEnlace},
        // A folder of another user holding a link to the root-only folder.
        {"a folder of the path is another user's link",
         [&](const QString& r) {
             const passwd* nobody = ::getpwnam("nobody");
             if (nobody == nullptr || ::geteuid() != 0 || !QDir().mkdir(r) ||
                 ::chown(QFile::encodeName(r).constData(), nobody->pw_uid, nobody->pw_gid) != 0 ||
                 !QFile::link(privada.path(), r + QStringLiteral("/plantillas"))) {
                 return QString();
             }
             return r + QStringLiteral("/plantillas/secreto.xml");
         },
         QStringLiteral("es un enlace simbólico en una carpeta que otro usuario puede cambiar")},
        {"a definition file", [&](const QString& r) { return hecho(QFile::copy(xml, r), r); }, QString()},
    };
    frmGrabaReporte w;
    w.show();
    auto* caja = hijo<QPlainTextEdit>(w, "txtReporte");
    int n = 0;
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        const QString ruta = c.crear(dir.file(QStringLiteral("elegido%1.xml").arg(++n)));
        if (ruta.isEmpty() && ::geteuid() != 0) {
            continue; // another user's folder needs root to make
        }
        ASSERT_FALSE(ruta.isEmpty());
        const QString antes = caja->toPlainText();
        m_dialogs.clear();
        m_dialogs.answer(ruta);
        if (!c.motivo.isEmpty()) {
            m_dialogs.answer(MsgResult::Ok);
        }
        QElapsedTimer reloj;
        reloj.start();
        click(w, "BtnImportar");
        EXPECT_LT(reloj.elapsed(), 1000);
        if (c.motivo.isEmpty()) {
            EXPECT_EQ(m_dialogs.shown().size(), 1u);
            EXPECT_EQ(caja->toPlainText(), QStringLiteral("<Reporte><Titulo>Enlazado</Titulo></Reporte>\n"));
        } else {
            ASSERT_EQ(m_dialogs.shown().size(), 2u);
            EXPECT_EQ(m_dialogs.shown()[1].icon, MsgIcon::Critical);
            EXPECT_TRUE(m_dialogs.shown()[1].text.startsWith(QStringLiteral("No se puede importar el archivo.\r\n")));
            EXPECT_TRUE(m_dialogs.shown()[1].text.contains(c.motivo)) << m_dialogs.shown()[1].text.toStdString();
            EXPECT_EQ(caja->toPlainText(), antes);
        }
        EXPECT_FALSE(caja->toPlainText().contains(QStringLiteral("SECRETO")));
        click(w, "BtnCancelar");
        EXPECT_EQ(botones(w), QStringLiteral("NMEI--S"));
    }
    EXPECT_EQ(leer(secreto), QByteArray("<Reporte><Titulo>SECRETO-DE-ROOT</Titulo></Reporte>\n"));
}

// A text holding a NUL character (pasted, say) is refused before the placement is asked or anything is sent.
TEST_F(Reportes, ATextWithANulCharacterIsNotSent) {
    frmGrabaReporte w;
    w.show();
    click(w, "BtnNuevo");
    hijo<QPlainTextEdit>(w, "txtReporte")
        ->setPlainText(QStringLiteral("<Reporte>") + QChar(0) + QStringLiteral("</Reporte>"));
    m_dialogs.answer(MsgResult::Ok);
    QElapsedTimer reloj;
    reloj.start();
    click(w, "BtnGuardar");
    EXPECT_LT(reloj.elapsed(), 1000);
    EXPECT_EQ(m_dialogs.texts(),
              QStringList{QStringLiteral("Error al guardar el reporte\r\nEl texto del reporte contiene caracteres "
                                         "nulos (código 0), que la base de datos no admite; no es un archivo de "
                                         "texto XML.")});
    EXPECT_EQ(botones(w), QStringLiteral("----GC-"));
    EXPECT_EQ(PgCluster::instance().scalar(QStringLiteral("SELECT count(*) FROM reportes.reporte")),
              QStringLiteral("32"));
}

// What reaches the administrator when a definition cannot be stored reads as Spanish sentences: what was not
// done, then why; the server's words come last and the statement with its values never.
TEST_F(Reportes, FailuresReadAsSpanishSentencesAndNeverAsTheStatement) {
    frmGrabaReporte w;
    w.show();
    auto* lista = hijo<QTreeWidget>(w, "LstReporte");
    lista->setCurrentItem(lista->findItems(QStringLiteral("Listado de Temas"), Qt::MatchExactly, 3).value(0));
    struct Caso {
        const char* nombre;
        std::function<void()> accion;
        QStringList lineas; // the first lines of the last box
    };
    const QString secreto = QStringLiteral("<Reporte>texto-privado</Reporte>");
    auto guardar = [&](const QString& texto) {
        click(w, "BtnModificar");
        hijo<QPlainTextEdit>(w, "txtReporte")->setPlainText(texto);
        click(w, "BtnGuardar");
        click(w, "BtnCancelar");
    };
    const Caso casos[] = {
        {"NUL character",
         [&] { guardar(QStringLiteral("<Reporte>") + QChar(0) + QStringLiteral("</Reporte>")); },
         {QStringLiteral("Error al guardar el reporte"),
          QStringLiteral("El texto del reporte contiene caracteres nulos (código 0), que la base de datos no admite; "
                         "no es un archivo de texto XML.")}},
        {"server stopped, save",
         [&] {
             ASSERT_TRUE(PgCluster::instance().stop());
             guardar(secreto);
         },
         {QStringLiteral("Error al guardar el reporte"),
          QStringLiteral("Se perdió la conexión con el servidor de base de datos.")}},
        {"server stopped, delete",
         [&] {
             m_dialogs.clear();
             m_dialogs.answer(MsgResult::Yes).answer(MsgResult::Ok);
             click(w, "BtnEliminar");
         },
         {QStringLiteral("No se eliminó el reporte debido a la siguiente situación: "),
          QStringLiteral("Se perdió la conexión con el servidor de base de datos.")}},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        m_dialogs.clear();
        m_dialogs.answer(MsgResult::Ok);
        c.accion();
        ASSERT_FALSE(m_dialogs.shown().empty());
        const QString texto = m_dialogs.shown().back().text;
        EXPECT_EQ(texto.split(QStringLiteral("\r\n")).mid(0, c.lineas.size()), c.lineas) << texto.toStdString();
        for (const char* nunca : {"[cadSQL]", "UPDATE", "DELETE", "texto-privado", "PWD="}) {
            EXPECT_FALSE(texto.contains(QString::fromLatin1(nunca))) << texto.toStdString();
        }
    }
    ASSERT_TRUE(PgCluster::instance().start());
}

TEST_F(Reportes, ChangingADefinitionKeepsItsPlaceAndSavingTwiceChangesNothing) {
    // One definition as a file would give it: CR LF, blank lines after the declaration.
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral(
        "INSERT INTO reportes.reporte (idmodulo, idseccion, nombre, reporte) VALUES (1, 6, 'Aaa primero', "
        "E'<?xml version=\"1.0\"?>\\r\\n\\r\\n<Reporte>\\r\\n\\t<Titulo>x</Titulo>\\r\\n</Reporte>\\r\\n');")));
    frmGrabaReporte w;
    w.show();
    auto* lista = hijo<QTreeWidget>(w, "LstReporte");
    auto* caja = hijo<QPlainTextEdit>(w, "txtReporte");
    ASSERT_EQ(lista->topLevelItemCount(), 33);
    EXPECT_EQ(botones(w), QStringLiteral("NMEI--S"));
    EXPECT_EQ(lista->headerItem()->text(3), QStringLiteral("Reporte"));
    EXPECT_TRUE(lista->isColumnHidden(4));

    // Nuevo then Cancelar asks nothing and changes nothing.
    click(w, "BtnNuevo");
    EXPECT_EQ(botones(w), QStringLiteral("----GC-"));
    EXPECT_TRUE(caja->toPlainText().isEmpty());
    EXPECT_FALSE(lista->isEnabled());
    click(w, "BtnCancelar");
    EXPECT_EQ(botones(w), QStringLiteral("NMEI--S"));
    EXPECT_FALSE(w.nuevo());

    // A resource definition: already in its stored form.
    QTreeWidgetItem* fila = lista->findItems(QStringLiteral("Listado de Temas"), Qt::MatchExactly, 3).value(0);
    ASSERT_NE(fila, nullptr);
    lista->setCurrentItem(fila);
    const QString antes = definicion(QStringLiteral("Listado de Temas"));
    EXPECT_TRUE(antes.endsWith(caja->toPlainText()));
    m_dialogs.answer(MsgResult::Ok);
    click(w, "BtnModificar");
    click(w, "BtnGuardar");
    EXPECT_EQ(definicion(QStringLiteral("Listado de Temas")), antes);
    EXPECT_EQ(lista->currentItem()->text(3), QStringLiteral("Listado de Temas"));

    // The file-like one: the first save drops the breaks after the declaration, the second nothing;
    // name, module, section and line breaks stay.
    const QString guardado =
        QStringLiteral("1|6|<?xml version=\"1.0\"?><Reporte>\r\n\t<Titulo>x</Titulo>\r\n</Reporte>");
    for (int vez = 0; vez < 2; ++vez) {
        lista->setCurrentItem(lista->findItems(QStringLiteral("Aaa primero"), Qt::MatchExactly, 3).value(0));
        m_dialogs.answer(MsgResult::Ok);
        click(w, "BtnModificar");
        EXPECT_TRUE(caja->isEnabled());
        click(w, "BtnGuardar");
        EXPECT_EQ(definicion(QStringLiteral("Aaa primero")), guardado);
    }
    EXPECT_EQ(m_dialogs.texts(), QStringList(3, QStringLiteral("Reporte guardado con éxito")));
    EXPECT_EQ(lista->topLevelItemCount(), 33);
}

TEST_F(Reportes, NewDefinitionIsPlacedAndKeptWhenThePlacementIsCancelled) {
    frmGrabaReporte w;
    w.show();
    click(w, "BtnNuevo");
    auto* caja = hijo<QPlainTextEdit>(w, "txtReporte");
    EXPECT_TRUE(caja->isEnabled());
    caja->setPlainText(QStringLiteral("<?xml version=\"1.0\"?>\n<Reporte>\n<Titulo>O'Brien \\ x</Titulo>\n</Reporte>"));

    // Cancelled placement: nothing stored, the text stays to be placed again.
    alAbrirModal([](QWidget* m) { click(*m, "BtnCancelar"); });
    m_dialogs.answer(MsgResult::Ok);
    click(w, "BtnGuardar");
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("No se guardo el reporte en el sistema")});
    EXPECT_EQ(botones(w), QStringLiteral("----GC-"));
    EXPECT_TRUE(w.nuevo());

    // A failed insert keeps the text too; the server's refusal reads as a Spanish sentence with the
    // server's words after it, never the statement with the text.
    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral(
        "CREATE FUNCTION public.sin_rechazados() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF NEW.nombre = "
        "'Rechazado' THEN RAISE EXCEPTION 'permission denied for table reporte' USING ERRCODE = '42501'; END IF; "
        "RETURN NEW; END $$; CREATE TRIGGER sin_rechazados BEFORE INSERT ON reportes.reporte FOR EACH ROW EXECUTE "
        "FUNCTION public.sin_rechazados();")));
    const QString texto = caja->toPlainText();
    ubicar(QStringLiteral("Servicios"), QStringLiteral("Rechazado"));
    m_dialogs.answer(MsgResult::Ok);
    click(w, "BtnGuardar");
    const QString error = m_dialogs.texts().last();
    EXPECT_EQ(error, QStringLiteral("Error al guardar el reporte\r\nEl usuario de la sesión no tiene permiso para "
                                    "esta operación.\r\nDetalle del servidor: permission denied for table reporte"));
    EXPECT_FALSE(error.contains(QStringLiteral("INSERT")) || error.contains(QStringLiteral("O'Brien")))
        << error.toStdString();
    EXPECT_EQ(botones(w), QStringLiteral("----GC-"));
    EXPECT_EQ(caja->toPlainText(), texto);

    // A name longer than its column is refused by the placement itself, before anything is sent.
    m_dialogs.clear();
    alAbrirModal([](QWidget* m) {
        teclear(hijo(*m, "TxtNombreReporte"), QString(256, QLatin1Char('x')));
        click(*m, "BtnAceptar");
        EXPECT_TRUE(m->isVisible());
        click(*m, "BtnCancelar");
    });
    m_dialogs.answer(MsgResult::Ok).answer(MsgResult::Ok);
    click(w, "BtnGuardar");
    EXPECT_EQ(m_dialogs.texts(),
              (QStringList{QStringLiteral("El nombre del reporte tiene 256 caracteres; el máximo es 255, es necesario "
                                          "cambiar el nombre y reintentar nuevamente"),
                           QStringLiteral("No se guardo el reporte en el sistema")}));
    EXPECT_EQ(caja->toPlainText(), texto);

    ASSERT_TRUE(PgCluster::instance().psql(QStringLiteral("DROP TRIGGER sin_rechazados ON reportes.reporte;")));
    ubicar(QStringLiteral("Análisis"), QStringLiteral("Análisis de O'Brien"));
    m_dialogs.answer(MsgResult::Ok);
    click(w, "BtnGuardar");
    EXPECT_EQ(m_dialogs.texts().last(), QStringLiteral("Reporte guardado con éxito"));
    // Typed accents are dropped from the name; the first section of the module was chosen.
    EXPECT_EQ(definicion(QStringLiteral("Analisis de O'Brien")),
              QStringLiteral("5|1|<?xml version=\"1.0\"?><Reporte>\r\n<Titulo>O'Brien \\ x</Titulo>\r\n</Reporte>"));
    EXPECT_EQ(botones(w), QStringLiteral("NMEI--S"));
    EXPECT_TRUE(hijo(w, "LstReporte")->isEnabled());
    EXPECT_EQ(hijo<QTreeWidget>(w, "LstReporte")->topLevelItemCount(), 33);
}

TEST_F(Reportes, DeletingTheLastDefinitionLeavesAnEmptyList) {
    ASSERT_TRUE(PgCluster::instance().psql(
        QStringLiteral("DELETE FROM reportes.reporte WHERE nombre <> 'Listado de Series';")));
    frmGrabaReporte w;
    w.show();
    const QString id = hijo<QTreeWidget>(w, "LstReporte")->topLevelItem(0)->text(0);
    m_dialogs.answer(MsgResult::No).answer(MsgResult::Yes).answer(MsgResult::Ok);
    click(w, "BtnEliminar");
    EXPECT_EQ(hijo<QTreeWidget>(w, "LstReporte")->topLevelItemCount(), 1);
    click(w, "BtnEliminar");
    ASSERT_EQ(m_dialogs.shown().size(), 3u);
    EXPECT_EQ(m_dialogs.shown()[0].text,
              QStringLiteral("¿ Desea eliminar del sistema el reporte \"Listado de Series\" ?"));
    EXPECT_EQ(m_dialogs.shown()[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(m_dialogs.shown()[2].text,
              QStringLiteral("El reporte ") + id +
                  QStringLiteral(" llamado \"Listado de Series\" fue eliminado del sistema"));
    EXPECT_EQ(hijo<QTreeWidget>(w, "LstReporte")->topLevelItemCount(), 0);
    EXPECT_TRUE(hijo<QPlainTextEdit>(w, "txtReporte")->toPlainText().isEmpty());
    EXPECT_EQ(botones(w), QStringLiteral("N--I--S"));
    EXPECT_EQ(PgCluster::instance().scalar(QStringLiteral("SELECT count(*) FROM reportes.reporte")),
              QStringLiteral("0"));
}

TEST_F(Reportes, PlacementChecksInOrder) {
    const QString titulo = QStringLiteral("Módulo de Administración");
    const QString numerico = QStringLiteral(
        "El nombre del reporte no debe ser numérico, es necesario cambiar el nombre y reintentar nuevamente");
    auto usado = [](const char* modulo, const char* seccion) {
        return QStringLiteral("Ya existe un reporte con ése nombre para el módulo de \"") + QString::fromUtf8(modulo) +
               QStringLiteral("\" sección \"") + QString::fromUtf8(seccion) +
               QStringLiteral("\"\r\nEs necesario que cambie el nombre y reintente nuevamente");
    };
    const QString seccion = QStringLiteral("Es necesario indicar una sección para el reporte");
    const QString nombre = QStringLiteral("Es necesario colocar el nombre del reporte");
    struct Caso {
        const char* modulo; // nullptr: the prompt stays chosen
        QString typed;
        QString mensaje; // empty: accepted
        QString titulo;
    };
    const Caso casos[] = {
        {nullptr, QStringLiteral("123"), numerico, titulo},
        {"Análisis", QStringLiteral("1,5"), numerico, titulo},
        {"Inventario", QStringLiteral("listado de AUTORES"),
         usado("Análisis", "Listado sobre catálogos de autoridades"), titulo},
        {"Adquisiciones", QStringLiteral("Ejemplares Perdidos"),
         usado("Inventario", "Estadísticas del mod. de inventario"), titulo},
        // Longer than the column: refused before the name is looked up.
        {"Servicios", QString(256, QLatin1Char('x')),
         QStringLiteral("El nombre del reporte tiene 256 caracteres; el máximo es 255, es necesario cambiar el "
                        "nombre y reintentar nuevamente"),
         titulo},
        {nullptr, QStringLiteral("Reporte nuevo"), seccion, kProgramTitle},
        {"Servicios", QString(), nombre, kProgramTitle},
        {"Servicios", QStringLiteral("   "), nombre, kProgramTitle},
        {"Servicios", QStringLiteral("Año Análisis Último"), QString(), QString()},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.typed.toStdString());
        UbicacionReporte u;
        frmModificaReporte w(u);
        w.show();
        auto* modulos = hijo<QComboBox>(w, "cmbModulo");
        EXPECT_EQ(modulos->currentText(), QStringLiteral("Selecciona un módulo..."));
        EXPECT_FALSE(hijo(w, "cmbCarpeta")->isEnabled());
        if (c.modulo != nullptr) {
            modulos->setCurrentIndex(modulos->findText(QString::fromUtf8(c.modulo)));
            EXPECT_TRUE(hijo(w, "cmbCarpeta")->isEnabled());
        }
        teclear(hijo(w, "TxtNombreReporte"), c.typed);
        m_dialogs.clear();
        if (!c.mensaje.isEmpty()) {
            m_dialogs.answer(MsgResult::Ok);
        }
        click(w, "BtnAceptar");
        if (c.mensaje.isEmpty()) {
            EXPECT_TRUE(m_dialogs.shown().empty());
            EXPECT_EQ(w.result(), QDialog::Accepted);
            EXPECT_EQ(u.IdModuloReporte, 6);
            EXPECT_EQ(u.IdSeccionReporte, 8);
            EXPECT_EQ(u.NombreReporte, QStringLiteral("Año Analisis Ultimo"));
        } else {
            ASSERT_EQ(m_dialogs.shown().size(), 1u);
            EXPECT_EQ(m_dialogs.shown()[0].text, c.mensaje);
            EXPECT_EQ(m_dialogs.shown()[0].title, c.titulo);
            EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Critical);
            EXPECT_TRUE(w.isVisible());
            EXPECT_FALSE(u.completa());
        }
    }
    // The modules offered, and what each way out leaves in the answer.
    UbicacionReporte u{5, 1, QStringLiteral("previo")};
    frmModificaReporte w(u);
    auto* modulos = hijo<QComboBox>(w, "cmbModulo");
    QStringList nombres;
    for (int i = 0; i < modulos->count(); ++i) {
        nombres << modulos->itemText(i);
    }
    EXPECT_EQ(nombres.join(QLatin1Char(',')),
              QStringLiteral("Selecciona un módulo...,Adquisiciones,Préstamo,Inventario,Análisis,Servicios"));
    EXPECT_FALSE(hijo(w, "cmdAbrir")->isEnabled());
    EXPECT_FALSE(hijo(w, "cmdModificar")->isEnabled());
    w.cmdSalir_Click();
    EXPECT_EQ(u.NombreReporte, QStringLiteral("previo"));
    w.BtnCancelar_Click();
    EXPECT_FALSE(u.completa());
    EXPECT_EQ(u.IdModuloReporte, 0);
}

TEST_F(Reportes, Screenshots) {
    const QString dir = QStringLiteral(V7_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    sesion().RutaTrabajo = QStringLiteral("\\\\servidor\\archivosv7\\");
    FrmRutaTrabajo ruta;
    ruta.show();
    EXPECT_TRUE(ruta.grab().save(dir + QStringLiteral("/ruta_trabajo.png")));
    frmGrabaReporte reportes;
    reportes.show();
    EXPECT_TRUE(reportes.grab().save(dir + QStringLiteral("/reportes.png")));
    UbicacionReporte u;
    frmModificaReporte ubicacion(u);
    ubicacion.show();
    auto* modulos = hijo<QComboBox>(ubicacion, "cmbModulo");
    modulos->setCurrentIndex(modulos->findText(QStringLiteral("Análisis")));
    hijo<QLineEdit>(ubicacion, "TxtNombreReporte")->setText(QStringLiteral("Listado de adquisiciones del mes"));
    EXPECT_TRUE(ubicacion.grab().save(dir + QStringLiteral("/modifica_reporte.png")));
    EXPECT_TRUE(m_dialogs.shown().empty());
}

} // namespace
