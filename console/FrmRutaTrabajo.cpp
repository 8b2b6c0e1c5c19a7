#include "console/FrmRutaTrabajo.h"

#include "console/ruta_trabajo.h"
#include "core/controles_ui.h"
#include "core/errores.h"
#include "core/login.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/tema_ui.h"
#include "platform/construir_ui.h"
#include "platform/dialogs_ui.h"
#include "platform/guardia_ui.h"
#include "platform/paths.h"
#include "platform/widgets_ui.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>

namespace v7 {

namespace {

using err::kCrLf;
const QString kTitulo = QStringLiteral("VELIRO7");
const QString kSugerencia =
    QStringLiteral("Utilice ésta opción para deshabilitar la carpeta compartida, será necesario cerrar el módulo de "
                   "Administración y reinstalar los clientes de VELIRO7");

} // namespace

FrmRutaTrabajo::FrmRutaTrabajo(QWidget* parent)
    : QDialog(parent), m_abrirDocumento([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
    setObjectName(QStringLiteral("FrmRutaTrabajo"));
    setWindowTitle(QStringLiteral("Archivos de trabajo"));
    construir();
    Form_Load();
}

FrmRutaTrabajo::~FrmRutaTrabajo() = default;

QString FrmRutaTrabajo::documentoAyuda() {
    return paths::programFolder() + QStringLiteral("ayuda/DeshabilitarCarpetaCompartida.html");
}

void FrmRutaTrabajo::construir() {
    using namespace ui;
    setFixedSize(px(7200), px(4500));

    ImgCabecera = crearImagenCabecera(this);

    PanelCentral = panel(this, QStringLiteral("PanelCentral"), twips(360, 1000, 6480, 2600));
    EtSeleccione =
        etiqueta(PanelCentral, QStringLiteral("EtSeleccione"),
                 QStringLiteral("Seleccione la ubicación del archivo \"archivoscompartidos.rt\""), 240, 240, 6000);
    TxtRutaTrabajo = caja(PanelCentral, QStringLiteral("TxtRutaTrabajo"), 240, 600, 6000);
    BtnExaminar = boton(PanelCentral, QStringLiteral("BtnExaminar"), QStringLiteral("&Examinar..."), 4440, 1050, 1800);
    ChkEliminaCarpeta =
        casilla(PanelCentral, QStringLiteral("ChkEliminaCarpeta"), QString(), twips(240, 1800, 300, 300));
    EtCarpeta = etiqueta(PanelCentral, QStringLiteral("EtCarpeta"), QStringLiteral("Deshabilitar carpeta compartida"),
                         560, 1830, 3600);
    // Its caption is the label beside it: a screen reader names it by that text.
    nombreAccesible(ChkEliminaCarpeta, EtCarpeta->text(), kSugerencia);
    EtCarpeta->setToolTip(kSugerencia);
    EtCarpeta->setBuddy(ChkEliminaCarpeta);
    ImgAyuda = control<QLabel>(PanelCentral, QStringLiteral("ImgAyuda"), twips(4200, 1740, 420, 420));
    ImgAyuda->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(ImgAyuda->size()));
    ImgAyuda->setCursor(Qt::PointingHandCursor);
    nombreAccesible(ImgAyuda, QStringLiteral("Ayuda para deshabilitar la carpeta compartida"), kSugerencia);
    ImgAyuda->installEventFilter(this);

    BtnGrabar = boton(this, QStringLiteral("BtnGrabar"), QStringLiteral("Guardar"), 3240, 3800, 1700);
    BtnCerrar = boton(this, QStringLiteral("BtnCerrar"), QStringLiteral("&Cerrar"), 5140, 3800, 1700);

    connect(BtnExaminar, &QPushButton::clicked, this, [this] { BtnExaminar_Click(); });
    connect(BtnGrabar, &QPushButton::clicked, this, [this] { BtnGrabar_Click(); });
    connect(BtnCerrar, &QPushButton::clicked, this, [this] { BtnCerrar_Click(); });
}

void FrmRutaTrabajo::Form_Load() {
    AplicarEstiloPanel(PanelCentral);
    AplicarEstiloBotones(this);
    ajustarImagenCabecera(ImgCabecera, this);
    aplicarColorFondo(this);
    const auto& s = sesion();
    TxtRutaTrabajo->setText(s.RutaTrabajo);
    const bool superusuario = s.TipoUsuario.toUpper() == QLatin1String("SUPERUSUARIO");
    ChkEliminaCarpeta->setVisible(superusuario);
    EtCarpeta->setVisible(superusuario);
    ImgAyuda->setVisible(superusuario);
}

bool FrmRutaTrabajo::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ImgAyuda && event->type() == QEvent::MouseButtonRelease) {
        ImgAyuda_Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void FrmRutaTrabajo::BtnExaminar_Click() {
    // A network share cannot be browsed here: the dialog starts in the program's folder and the
    // administrator may type a network path instead.
    const QString archivo = dialogs().openFile(this, QStringLiteral("Localizacion de la carpeta compartida..."),
                                               paths::programFolder(), QStringLiteral("Batch Files (*.rt)"));
    if (archivo.isEmpty()) {
        dialogs().message(this, MsgIcon::Warning,
                          QStringLiteral("Debes seleccionar el archivo \"archivoscompartidos.rt\""), MsgButtons::Ok,
                          kTitulo);
        return;
    }
    TxtRutaTrabajo->setText(archivo);
}

void FrmRutaTrabajo::BtnGrabar_Click() {
    if (ChkEliminaCarpeta->isChecked()) {
        deshabilitarCarpeta();
    } else {
        guardarRuta();
    }
}

void FrmRutaTrabajo::seleccionarRuta() {
    SeleccionarTexto(TxtRutaTrabajo);
}

void FrmRutaTrabajo::guardarRuta() {
    const QString texto = TxtRutaTrabajo->text();
    const QString servidor = sesion().ServidorConexion;
    switch (ValidarRutaTrabajo(texto, servidor)) {
    case RechazoRuta::SinArchivoMarca:
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("Seleccione la ubicación del archivo \"ArchivosCompartidos.rt\""),
                          MsgButtons::Ok, kTitulo);
        seleccionarRuta();
        return;
    case RechazoRuta::UnidadLocal:
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("La ruta de trabajo debe ser una dirección de red con el") + kCrLf +
                              QStringLiteral("siguiente formato:    ") + rutaCompartidaEstandar(servidor));
        seleccionarRuta();
        return;
    case RechazoRuta::Ninguno:
        break;
    }
    const QString carpeta = carpetaDeRuta(texto);
    bool guardada = false;
    QString error;
    {
        GuardiaVentana guardia(this);
        guardada = conPlazos(kPlazosInteractivos, [&] { return GuardarRutaTrabajo(carpeta, &error); });
    }
    if (!guardada) {
        const QString texto = QStringLiteral("Ocurrió un error al intentar guardar la ruta,") + kCrLf +
                              QStringLiteral("por favor, inténtalo nuevamente");
        // A statement that failed says why (busy data, a lost server); no row to update says nothing more.
        dialogs().message(this, MsgIcon::Critical, error.isEmpty() ? texto : err::textoParaUsuario(texto, error),
                          MsgButtons::Ok, kTitulo);
        seleccionarRuta();
        return;
    }
    dialogs().message(this, MsgIcon::Information, QStringLiteral("La ruta ha sido guardada correctamente"),
                      MsgButtons::Ok, kTitulo);
    sesion().RutaTrabajo = carpeta;
    if (parentWidget() != nullptr) {
        if (auto* etiqueta = parentWidget()->findChild<QLabel*>(QStringLiteral("EtRutaTrabajo"))) {
            etiqueta->setText(carpeta);
        }
    }
    accept();
}

void FrmRutaTrabajo::deshabilitarCarpeta() {
    GuardiaVentana guardia(this);
    const QString usuario = sesion().UsuarioBD;
    const ResultadoDeshabilitar r = conPlazos(kPlazosInteractivos, [&] {
        return DeshabilitarCarpetaCompartida(usuario, scriptReportes(), rutaPlantillaConstNo());
    });
    guardia.liberar();
    if (!r.ok) {
        dialogs().message(this, MsgIcon::Critical,
                          err::textoParaUsuario(QStringLiteral("No se logró deshabilitar la funcionalidad de la "
                                                               "carpeta \"Archivo de Trabajo\" debido a la siguiente "
                                                               "razón: "),
                                                r.errorText));
        return;
    }
    if (!r.avisoConstNo.isEmpty()) {
        dialogs().message(this, MsgIcon::Warning,
                          QStringLiteral("Se cargó la plantilla CONSTNO incluida en el programa en lugar de la de "
                                         "esta instalación:") +
                              kCrLf + r.avisoConstNo);
    }
    dialogs().message(
        this, MsgIcon::Information,
        QStringLiteral("Se ha deshabilitado correctamente la funcionalidad de la carpeta \"Archivos de Trabajo\", sin "
                       "embargo, el recurso compartido aún persiste, es necesario deshabilitarlo manualmente.") +
            kCrLf + kCrLf +
            QStringLiteral("Para terminar con el proceso, el Módulo de Administración se cerrara automáticamente, se "
                           "recomienda abrirlo nuevamente"));
    terminarPrograma(0);
    // Only reached where the program's end is intercepted.
    accept();
}

void FrmRutaTrabajo::BtnCerrar_Click() {
    reject();
}

void FrmRutaTrabajo::ImgAyuda_Click() {
    const QString documento = documentoAyuda();
    if (!QFileInfo(documento).isFile()) {
        dialogs().message(this, MsgIcon::Warning,
                          QStringLiteral("No se encontró el documento de ayuda:") + kCrLf + documento);
        return;
    }
    if (!m_abrirDocumento || !m_abrirDocumento(QUrl::fromLocalFile(documento))) {
        dialogs().message(this, MsgIcon::Warning,
                          QStringLiteral("No hay un programa para abrir el documento de ayuda:") + kCrLf + documento);
    }
}

} // namespace v7
