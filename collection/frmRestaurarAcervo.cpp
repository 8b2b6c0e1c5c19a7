#include "collection/frmRestaurarAcervo.h"

#include "collection/importacion.h"
#include "core/config.h"
#include "core/errores.h"
#include "core/servidor.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/tema_ui.h"
#include "platform/construir_ui.h"
#include "platform/db.h"
#include "platform/dialogs_ui.h"
#include "platform/events.h"
#include "platform/widgets_ui.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>

namespace v7 {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kCaption = QStringLiteral("Importar / actualizar Acervo para Biblioteca");
const QString kTituloActualizacion = QStringLiteral("Actualización del acervo");

// A failure that ends the load with its error report.
struct FallaProcedimiento {
    qint64 numero = 0;
    QString descripcion;
};

// The value of a query, or the load's error report with the SQL layer's text.
template <typename T> T exigir(std::optional<T> valor, const QString& error) {
    if (!valor) {
        throw FallaProcedimiento{db::kProviderErrorNumber, error};
    }
    return *std::move(valor);
}

void sinHerramientas(QWidget* parent) {
    dialogs().message(parent, MsgIcon::Critical,
                      QStringLiteral("No se encontraron las utilerías de PostgreSQL que corresponden a la versión "
                                     "del servidor (") +
                          sesion().VersionServidor + QStringLiteral(")."),
                      MsgButtons::Ok, QStringLiteral("Error"));
}

} // namespace

frmRestaurarAcervo::frmRestaurarAcervo(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmRestaurarAcervo"));
    setWindowTitle(kCaption);
    setModal(true);
    construir();
    Form_Load();
}

frmRestaurarAcervo::~frmRestaurarAcervo() = default;

void frmRestaurarAcervo::construir() {
    using namespace ui;
    setFixedSize(px(9600), px(9000));

    ImgCabecera = control<QLabel>(this, QStringLiteral("ImgCabecera"), QRect());
    ImgCabecera->setPixmap(imagenCabecera());
    ImgCabecera->setScaledContents(true);

    panelConfig = panel(this, QStringLiteral("panelConfig"), twips(360, 1000, 8880, 7120));
    Label7 = etiqueta(panelConfig, QStringLiteral("Label7"), QStringLiteral("Servidor de VELIRO7:"), 240, 560, 2100);
    lblServerIP = etiqueta(panelConfig, QStringLiteral("lblServerIP"), QString(), 2400, 560, 6000);
    Label4 = etiqueta(panelConfig, QStringLiteral("Label4"), QStringLiteral("Ubicación de archivo de actualización:"),
                      240, 960, 6000);
    txtRuta = caja(panelConfig, QStringLiteral("txtRuta"), 240, 1260, 7740);
    cmdBrowse = boton(panelConfig, QStringLiteral("cmdBrowse"), QStringLiteral("..."), 8040, 1240, 600, 360);
    lblRuta = etiqueta(panelConfig, QStringLiteral("lblRuta"), QString(), 240, 1680, 8400);
    lblAviso = etiqueta(panelConfig, QStringLiteral("lblAviso"), QString(), 240, 2040, 8400, 1700, true);
    lblAviso->setTextFormat(Qt::PlainText);
    lblAviso->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    txtLog = control<QPlainTextEdit>(panelConfig, QStringLiteral("txtLog"), twips(240, 3840, 8400, 3040));
    txtLog->setReadOnly(true);

    cmdCargar = boton(this, QStringLiteral("cmdCargar"), QStringLiteral("&Importar acervo"), 3480, 8340, 1900);
    cmdCargar->setEnabled(false);
    cmdActualizar = boton(this, QStringLiteral("cmdActualizar"), QStringLiteral("Actualizar acervo"), 5460, 8340, 1900);
    cmdActualizar->setEnabled(false);
    cmdRegresar = boton(this, QStringLiteral("cmdRegresar"), QStringLiteral("&Regresar"), 7440, 8340, 1800);

    connect(cmdBrowse, &QPushButton::clicked, this, [this] { cmdBrowse_Click(); });
    connect(cmdCargar, &QPushButton::clicked, this, [this] { cmdCargar_Click(); });
    connect(cmdActualizar, &QPushButton::clicked, this, [this] { cmdActualizar_Click(); });
    connect(cmdRegresar, &QPushButton::clicked, this, [this] { cmdRegresar_Click(); });
}

void frmRestaurarAcervo::Form_Load() {
    SessionState& s = sesion();
    setWindowTitle(kCaption + QStringLiteral(" - ") + s.VersionHerramienta);
    AplicarEstiloPanelEncabezado(panelConfig, QStringLiteral("   Importación/actualización del Acervo de Bibliotecas"),
                                 false, false);
    AplicarEstiloBotones(this);
    s.ConexionSecundaria = s.ConexionPrincipal;
    lblServerIP->setText(s.ServidorSesion);
    lblAviso->setText(
        QStringLiteral("Antes de iniciar este proceso, es importante que revise que tanto el catálogo de escuelas "
                       "como el catálogo de bibliotecas tengan asignados los mismos números que los catálogos "
                       "correspondientes en el departamento de Procesos Técnicos.") +
        QStringLiteral("\n\n") +
        QStringLiteral("Si hay diferencias entre sus catálogos y los del departamento de Procesos Técnicos, haga los "
                       "ajustes correspondientes, utilizando la herramienta 'Estandarización de Catálogos' de "
                       "VELIRO7."));
    ajustarImagenCabecera(ImgCabecera, this);
    aplicarColorFondo(this);
    events::pump();
}

void frmRestaurarAcervo::registrar(const QString& entrada) {
    const QString ahora = QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    const QString previo = txtLog->toPlainText();
    txtLog->setPlainText(previo.isEmpty() ? ahora + entrada : ahora + entrada + QLatin1Char('\n') + previo);
}

void frmRestaurarAcervo::bloquear() {
    if (!m_guardia) {
        m_guardia.emplace(this);
    }
}

void frmRestaurarAcervo::desbloquear() {
    m_guardia.reset();
}

QString frmRestaurarAcervo::carpetaArchivo() const {
    const QString ruta = txtRuta->text().trimmed();
    return ruta.left(ruta.lastIndexOf(QLatin1Char('/')) + 1);
}

void frmRestaurarAcervo::cmdBrowse_Click() {
    const QString archivo =
        dialogs().openFile(this, QStringLiteral("Seleccionar archivo con exportación de datos"), txtRuta->text(),
                           QStringLiteral("Archivos backup (*.backup);;Todos los archivos (*)"));
    if (archivo.isEmpty()) {
        cmdCargar->setEnabled(false);
        dialogs().message(this, MsgIcon::None, QStringLiteral("No se escogió un nombre de archivo válido"));
        return;
    }
    txtRuta->setText(archivo);
    cmdCargar->setEnabled(true);
}

void frmRestaurarAcervo::cmdCargar_Click() {
    int linea = 10;
    try {
        registrar(QStringLiteral(" - Comenzando a restaurar archivo de respaldo '.backup'"));
        cmdCargar->setEnabled(false);
        bloquear();

        linea = 20;
        int filas = 0;
        QString error;
        ExecuteSQLaction(acervo::sentenciaBorrarTablas(), filas, error);

        linea = 30;
        const QString bin = ObtenerRutaBinPostgres();
        if (bin.isEmpty()) {
            desbloquear();
            sinHerramientas(this);
            return;
        }

        linea = 40;
        lblRuta->setText(carpetaArchivo());
        const acervo::ResultadoPsql carga =
            acervo::ejecutarPsql(bin, txtRuta->text().trimmed(), sesion().RutaTemporal + QStringLiteral("salida0.txt"));
        if (!carga.ok()) {
            // Whatever psql left in the staging tables is not the file: nothing is checked or merged.
            cmdActualizar->setEnabled(false);
            desbloquear();
            dialogs().message(this, MsgIcon::Critical,
                              QStringLiteral("Error al cargar archivo de exportación 'backup'") + kCrLf + kCrLf +
                                  carga.detalle(),
                              MsgButtons::Ok, QStringLiteral("Error"));
            return;
        }

        linea = 50;
        registrar(QStringLiteral(" - Archivo '.backup' cargado en la BD exitósamente"));

        linea = 60;
        const qint64 ajenos = exigir(acervo::ejemplaresDeOtraBiblioteca(error), error);
        if (ajenos > 0) {
            desbloquear();
            dialogs().message(this, MsgIcon::Information,
                              QStringLiteral("Está intentando agregar ") + QString::number(ajenos) +
                                  QStringLiteral(" ejemplares a su base de datos,") + kCrLf +
                                  QStringLiteral("que no corresponden a su biblioteca."),
                              MsgButtons::Ok, kTituloActualizacion);
            return;
        }

        linea = 70;
        const QString instalada = exigir(acervo::versionInstalada(error), error);
        linea = 80;
        m_versionCargada = exigir(acervo::versionCargada(error), error);

        if (instalada.isEmpty()) {
            // The stamp is recorded once the merge has committed, never before: a failed first merge
            // must leave the same file installable.
            linea = 90;
            blnPrimeraActAcervo = true;
            actualizar();
        } else {
            linea = 100;
            blnPrimeraActAcervo = false;
            if (m_versionCargada > instalada) {
                actualizar();
            } else {
                const auto mensaje = acervo::mensajeNoReciente(instalada, m_versionCargada);
                if (!mensaje) {
                    throw FallaProcedimiento{err::kTiposNoCoinciden, err::descripcion(err::kTiposNoCoinciden)};
                }
                desbloquear();
                dialogs().message(this, MsgIcon::Information, *mensaje, MsgButtons::Ok, kTituloActualizacion);
            }
        }
        desbloquear();
    } catch (const FallaProcedimiento& f) {
        desbloquear();
        dialogs().message(this, MsgIcon::Critical,
                          f.descripcion + kCrLf + QStringLiteral("En la línea ") + QString::number(linea) +
                              QStringLiteral(" del procedimiento cmdCargar_Click"),
                          MsgButtons::Ok, QStringLiteral("Error ") + QString::number(f.numero));
    }
}

void frmRestaurarAcervo::cmdActualizar_Click() {
    try {
        bloquear();
        actualizar();
        desbloquear();
    } catch (const FallaProcedimiento& f) {
        desbloquear();
        dialogs().message(this, MsgIcon::Critical,
                          f.descripcion + kCrLf + QStringLiteral("En el procedimiento cmdActualizar_Click"),
                          MsgButtons::Ok, QStringLiteral("Error ") + QString::number(f.numero));
    }
}

void frmRestaurarAcervo::actualizar() {
    QString error;
    int filas = 0;

    // The script first: without one, no question is asked and nothing is changed.
    const acervo::PlantillaAcervo plantilla = acervo::leerPlantillaAcervo();
    if (!plantilla.ok()) {
        desbloquear();
        dialogs().message(this, MsgIcon::Critical, plantilla.error, MsgButtons::Ok, QStringLiteral("Error"));
        return;
    }
    // The run copy lives in the work folder: the shared template is read, never rewritten.
    const QString copia = sesion().RutaTemporal + QStringLiteral("restaura_acervo.sra");
    if (!acervo::escribirCopiaEjecucion(copia, plantilla.texto).isEmpty()) {
        desbloquear();
        dialogs().message(this, MsgIcon::None,
                          QStringLiteral("La ruta ") + copia +
                              QStringLiteral(" parece incorrecta, verifique que exista"));
        return;
    }

    const QString faltantes = exigir(acervo::coleccionesFaltantes(error), error);
    if (!faltantes.isEmpty()) {
        desbloquear();
        if (dialogs().message(this, MsgIcon::Question, acervo::mensajeColecciones(faltantes), MsgButtons::YesNo,
                              QStringLiteral("Desea continuar con el proceso?")) != MsgResult::Yes) {
            if (blnPrimeraActAcervo) {
                // Below every stamp: the same file can be loaded again.
                QString dos = QStringLiteral("2");
                GuardarConfiguracion(dos, QStringLiteral("ACT_ACERVO"));
            }
            return;
        }
        bloquear();
    }

    const QVector<acervo::NoProcesado> noProcesados = exigir(acervo::noProcesadosIncluidos(error), error);
    if (!noProcesados.isEmpty()) {
        desbloquear();
        const MsgResult r = dialogs().message(this, MsgIcon::Information, acervo::mensajeNoProcesados(noProcesados),
                                              MsgButtons::YesNo, QStringLiteral("Ejemplares no procesados"));
        bloquear();
        if (r == MsgResult::Yes) {
            for (const acervo::NoProcesado& item : noProcesados) {
                ExecuteSQLaction(acervo::sentenciaQuitarNoProcesado(item), filas, error);
            }
        }
    }

    if (const QString e = acervo::asegurarColumnasEnlace(); !e.isEmpty()) {
        desbloquear();
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("No se agregaron a la tabla de etiquetas MARC las columnas de enlace con "
                                         "autoridades:") +
                              kCrLf + e,
                          MsgButtons::Ok, QStringLiteral("Error"));
        return;
    }

    registrar(QStringLiteral(" - Comenzando rutina de actualización del acervo."));
    const QString bin = ObtenerRutaBinPostgres();
    if (bin.isEmpty()) {
        desbloquear();
        sinHerramientas(this);
        return;
    }
    lblRuta->setText(carpetaArchivo());
    const acervo::ResultadoPsql fusion =
        acervo::ejecutarPsql(bin, copia, sesion().RutaTemporal + QStringLiteral("salida1.txt"));

    // The script drops the staging tables inside its transaction: while they are there, nothing was
    // merged, whatever psql's status says.
    QString errorRevision;
    const std::optional<bool> quedan = acervo::hayTablasExportacion(errorRevision);
    if (!quedan || *quedan) {
        QString detalle = fusion.detalle();
        if (detalle.isEmpty()) {
            detalle =
                quedan ? QStringLiteral("El script de actualización terminó sin aplicar los cambios.") : errorRevision;
        }
        desbloquear();
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("Error al actualizar registros del acervo de biblioteca") + kCrLf + kCrLf +
                              detalle,
                          MsgButtons::Ok, QStringLiteral("Error"));
        return;
    }
    if (!fusion.ok()) {
        // Merged and committed; one of the adjustments that follow the transaction failed.
        desbloquear();
        dialogs().message(this, MsgIcon::Warning,
                          QStringLiteral("El acervo se actualizó, pero los ajustes posteriores a la actualización "
                                         "reportaron errores:") +
                              kCrLf + kCrLf + fusion.detalle(),
                          MsgButtons::Ok, kTituloActualizacion);
        bloquear();
    }

    registrar(QStringLiteral(" - Realizando acciones de limpieza. Ya puede usar el sistema."));
    ExecuteSQLaction(acervo::kVacuum, filas, error);
    registrar(QStringLiteral(" - Actualizando estadísticas"));
    resultadoEstadisticoMontaje(true, QDateTime::currentDateTime());
}

void frmRestaurarAcervo::resultadoEstadisticoMontaje(bool quitaEstatusEspecial, const QDateTime& tInicial) {
    Q_UNUSED(tInicial);
    QString error;
    const std::optional<acervo::EstadisticasAcervo> cifras = acervo::estadisticasAcervo(error);
    if (!cifras) {
        desbloquear();
        dialogs().message(this, MsgIcon::Warning, error, MsgButtons::Ok,
                          QStringLiteral("[resultadoEstadisticoMontaje]"));
    }
    if (!quitaEstatusEspecial) {
        return;
    }
    int filas = 0;
    ExecuteSQLaction(QStringLiteral("UPDATE analisis.fichas SET estatus='CAP' WHERE estatus='MON'; "), filas, error);
    // Recorded before any box: the merge has committed, so this file is installed whatever follows.
    QString version = m_versionCargada;
    QString errorVersion;
    const bool registrada = GuardarConfiguracion(version, QStringLiteral("ACT_ACERVO"), &errorVersion);
    desbloquear();
    if (cifras) {
        dialogs().message(this, MsgIcon::Information, acervo::mensajeEstadisticas(*cifras), MsgButtons::Ok,
                          QStringLiteral("Resultado de Actualizar el acervo"));
    }
    if (!registrada) {
        dialogs().message(this, MsgIcon::Warning,
                          QStringLiteral("No se registró la versión del acervo instalada (ACT_ACERVO):") + kCrLf +
                              errorVersion,
                          MsgButtons::Ok, kTituloActualizacion);
    }
    dialogs().message(this, MsgIcon::Information,
                      QStringLiteral("El proceso de importación del acervo de la biblioteca") + kCrLf +
                          QStringLiteral("ha terminado satisfactoriamente.") + kCrLf + kCrLf +
                          QStringLiteral("IMPORTANTE: No es necesario INDIZAR."),
                      MsgButtons::Ok, QStringLiteral("Importación exitosa"));
    txtLog->setPlainText(QStringLiteral("El Acervo de la Biblioteca se ha actualizado correctamente.\n") +
                         txtLog->toPlainText());
}

void frmRestaurarAcervo::cmdRegresar_Click() {
    close();
}

void frmRestaurarAcervo::reject() {
    if (GuardiaVentana::bloqueada(this)) {
        return;
    }
    QDialog::reject();
}

} // namespace v7
