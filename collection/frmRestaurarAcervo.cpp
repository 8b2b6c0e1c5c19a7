#include "collection/frmRestaurarAcervo.h"

#include "core/errores.h"
#include "core/fallos_ui.h"
#include "core/session.h"
#include "core/tema_ui.h"
#include "platform/construir_ui.h"
#include "platform/dialogs_ui.h"
#include "platform/guardia_ui.h"
#include "platform/widgets_ui.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>

namespace v7 {

namespace {

using err::kCrLf;
const QString kCaption = QStringLiteral("Importar / actualizar Acervo para Biblioteca");

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
    // "..." says nothing to a screen reader.
    cmdBrowse->setAccessibleName(QStringLiteral("Examinar"));
    cmdBrowse->setToolTip(QStringLiteral("Elegir el archivo de exportación (.backup o .zip)"));
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
    // A path typed in the box is as good as one chosen in the dialog.
    connect(txtRuta, &QLineEdit::textEdited, this,
            [this](const QString& texto) { cmdCargar->setEnabled(!texto.trimmed().isEmpty()); });
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
}

void frmRestaurarAcervo::registrar(const QString& entrada) {
    const QString ahora = QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    const QString previo = txtLog->toPlainText();
    txtLog->setPlainText(previo.isEmpty() ? ahora + entrada : ahora + entrada + QLatin1Char('\n') + previo);
}

acervo::InterfazImportacion frmRestaurarAcervo::interfaz() {
    acervo::InterfazImportacion ui;
    ui.registro = [this](const QString& entrada) { registrar(entrada); };
    ui.registroSinFecha = [this](const QString& linea) {
        txtLog->setPlainText(linea + QLatin1Char('\n') + txtLog->toPlainText());
    };
    ui.carpeta = [this](const QString& carpeta) { lblRuta->setText(carpeta); };
    ui.aviso = [this](Gravedad gravedad, const QString& texto, const QString& titulo) {
        mostrarFallo(this, fallo(texto, gravedad), titulo);
    };
    ui.pregunta = [this](std::optional<Gravedad> gravedad, const QString& texto, const QString& titulo,
                         std::optional<MsgResult> porDefecto) {
        return dialogs().message(this, gravedad ? iconoDe(*gravedad) : MsgIcon::Question, texto, MsgButtons::YesNo,
                                 titulo, porDefecto);
    };
    return ui;
}

void frmRestaurarAcervo::mostrar(const acervo::ResultadoImportacion& r) {
    if (!r.mensaje.texto.isEmpty()) {
        mostrarFallo(this, r.mensaje, r.titulo);
    }
}

void frmRestaurarAcervo::cmdBrowse_Click() {
    const QString archivo = dialogs().openFile(
        this, QStringLiteral("Seleccionar archivo con exportación de datos"), txtRuta->text(),
        QStringLiteral("Archivos de exportación (*.backup *.zip);;Archivos backup (*.backup);;Todos los archivos (*)"));
    if (archivo.isEmpty()) {
        cmdCargar->setEnabled(false);
        dialogs().message(this, MsgIcon::None, QStringLiteral("No se escogió un nombre de archivo válido"));
        return;
    }
    txtRuta->setText(archivo);
    cmdCargar->setEnabled(true);
}

void frmRestaurarAcervo::cmdCargar_Click() {
    cmdCargar->setEnabled(false);
    acervo::ResultadoImportacion r;
    {
        GuardiaVentana guardia(this);
        m_estado = {};
        r = acervo::importarAcervo(txtRuta->text(), m_estado, interfaz());
        blnPrimeraActAcervo = m_estado.primeraActualizacion;
    }
    if (!r.fusionado()) {
        cmdActualizar->setEnabled(false);
    }
    mostrar(r);
}

void frmRestaurarAcervo::cmdActualizar_Click() {
    acervo::ResultadoImportacion r;
    {
        GuardiaVentana guardia(this);
        m_estado.primeraActualizacion = blnPrimeraActAcervo;
        r = acervo::fusionarAcervo(m_estado, interfaz());
    }
    if (r.informe) {
        r.mensaje.texto += kCrLf + QStringLiteral("En el procedimiento cmdActualizar_Click");
    }
    mostrar(r);
}

void frmRestaurarAcervo::resultadoEstadisticoMontaje(bool quitaEstatusEspecial, const QDateTime& tInicial) {
    Q_UNUSED(tInicial);
    acervo::resultadoEstadistico(quitaEstatusEspecial, m_estado, interfaz());
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
