#include "console/frmModificaReporte.h"

#include "core/errores.h"
#include "core/tema_ui.h"
#include "platform/construir_ui.h"
#include "platform/dialogs_ui.h"
#include "platform/guardia_ui.h"
#include "platform/widgets_ui.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace v7 {

namespace {

using err::kCrLf;
const QString kTitulo = QStringLiteral("Módulo de Administración");

} // namespace

frmModificaReporte::frmModificaReporte(UbicacionReporte& ubicacion, QWidget* parent)
    : QDialog(parent), m_ubicacion(ubicacion) {
    setObjectName(QStringLiteral("frmModificaReporte"));
    setWindowTitle(QStringLiteral("Modificar Reporte"));
    construir();
    Form_Load();
}

frmModificaReporte::~frmModificaReporte() = default;

void frmModificaReporte::construir() {
    using namespace ui;
    setFixedSize(px(6600), px(3500));

    etiqueta(this, QStringLiteral("EtModulo"), QStringLiteral("Módulo"), 240, 270, 900);
    cmbModulo = control<QComboBox>(this, QStringLiteral("cmbModulo"), twips(1200, 200, 4000, 360));
    cmdModuloOk = boton(this, QStringLiteral("cmdModuloOk"), QStringLiteral("Ok"), 5360, 180, 900, 400);
    etiqueta(this, QStringLiteral("EtCarpeta"), QStringLiteral("Sección"), 240, 770, 900);
    cmbCarpeta = control<QComboBox>(this, QStringLiteral("cmbCarpeta"), twips(1200, 700, 4000, 360));
    cmdCarpetaOk = boton(this, QStringLiteral("cmdCarpetaOk"), QStringLiteral("Ok"), 5360, 680, 900, 400);
    etiqueta(this, QStringLiteral("EtNombre"), QStringLiteral("Reporte"), 240, 1270, 900);
    TxtNombreReporte = caja(this, QStringLiteral("TxtNombreReporte"), 1200, 1200, 5060, 360);

    cmdAbrir = boton(this, QStringLiteral("cmdAbrir"), QStringLiteral("Abrir"), 1200, 1850, 1400);
    cmdModificar = boton(this, QStringLiteral("cmdModificar"), QStringLiteral("Modificar"), 2760, 1850, 1400);
    BtnAceptar = boton(this, QStringLiteral("BtnAceptar"), QStringLiteral("Aceptar"), 1200, 2700, 1600);
    BtnCancelar = boton(this, QStringLiteral("BtnCancelar"), QStringLiteral("Cancelar"), 2930, 2700, 1600);
    cmdSalir = boton(this, QStringLiteral("cmdSalir"), QStringLiteral("Regresar"), 4660, 2700, 1600);

    connect(cmbModulo, &QComboBox::currentIndexChanged, this, [this] { cmbModulo_Click(); });
    connect(cmbCarpeta, &QComboBox::currentIndexChanged, this, [this] { cmbCarpeta_Click(); });
    connect(cmdModuloOk, &QPushButton::clicked, this, [this] { cmdModuloOk_Click(); });
    connect(cmdCarpetaOk, &QPushButton::clicked, this, [this] { cmdCarpetaOk_Click(); });
    connect(TxtNombreReporte, &QLineEdit::textEdited, this, [this](const QString& t) { TxtNombreReporte_Change(t); });
    connect(BtnAceptar, &QPushButton::clicked, this, [this] { BtnAceptar_Click(); });
    connect(BtnCancelar, &QPushButton::clicked, this, [this] { BtnCancelar_Click(); });
    connect(cmdSalir, &QPushButton::clicked, this, [this] { cmdSalir_Click(); });
}

void frmModificaReporte::Form_Load() {
    AplicarEstiloBotones(this);
    aplicarColorFondo(this);
    for (QWidget* w : {static_cast<QWidget*>(cmbCarpeta), static_cast<QWidget*>(cmdCarpetaOk),
                       static_cast<QWidget*>(cmdAbrir), static_cast<QWidget*>(cmdModificar)}) {
        w->setEnabled(false);
    }
    cmbModulo->clear();
    QString err;
    RecordsetPtr rs;
    {
        GuardiaVentana guardia(this);
        rs = conPlazos(kPlazosInteractivos, [&] { return ConsultarModulosReporte(err); });
    }
    if (!rs) {
        dialogs().message(this, MsgIcon::Critical,
                          err::textoParaUsuario(QStringLiteral("No se pudo leer la lista de módulos."), err));
    } else {
        if (!rs->eof()) {
            cmbModulo->addItem(QStringLiteral("Selecciona un módulo..."), qint64(0));
            for (; !rs->eof(); rs->moveNext()) {
                cmbModulo->addItem(rs->text(1), rs->text(0).toLongLong());
            }
        }
        rs->close();
    }
    if (cmbModulo->count() > 0) {
        cmbModulo->setCurrentIndex(0);
    }
    m_listo = true;
}

void frmModificaReporte::cmbModulo_Click() {
    if (m_listo) {
        cmdModuloOk_Click();
    }
}

void frmModificaReporte::cmdModuloOk_Click() {
    cmbCarpeta->clear();
    const qint64 idModulo = cmbModulo->currentIndex() >= 0 ? cmbModulo->currentData().toLongLong() : 0;
    QString err;
    RecordsetPtr rs;
    {
        GuardiaVentana guardia(this);
        rs = conPlazos(kPlazosInteractivos, [&] { return ConsultarSecciones(idModulo, err); });
    }
    if (rs) {
        for (; !rs->eof(); rs->moveNext()) {
            cmbCarpeta->addItem(rs->text(1), rs->text(0).toLongLong());
        }
        rs->close();
    } else {
        dialogs().message(this, MsgIcon::Critical,
                          err::textoParaUsuario(QStringLiteral("No se pudo leer la lista de secciones."), err));
    }
    // The module's first section stands selected; no sections leave nothing selected.
    cmbCarpeta->setCurrentIndex(cmbCarpeta->count() > 0 ? 0 : -1);
    cmbCarpeta->setEnabled(true);
    cmdCarpetaOk->setEnabled(true);
}

void frmModificaReporte::cmbCarpeta_Click() {
    cmdCarpetaOk_Click();
}

void frmModificaReporte::cmdCarpetaOk_Click() {}

void frmModificaReporte::TxtNombreReporte_Change(const QString& text) {
    // Names go to the client modules without accented vowels, however they were typed.
    const QString plano = quitarAcentos(text);
    if (plano != text) {
        const int cursor = TxtNombreReporte->cursorPosition();
        TxtNombreReporte->setText(plano);
        TxtNombreReporte->setCursorPosition(cursor);
    }
}

void frmModificaReporte::BtnAceptar_Click() {
    const QString nombre = TxtNombreReporte->text();
    if (esNombreNumerico(nombre)) {
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("El nombre del reporte no debe ser numérico, es necesario cambiar el nombre y "
                                         "reintentar nuevamente"),
                          MsgButtons::Ok, kTitulo);
        return;
    }
    // Checked before anything is sent: the server would refuse it with the whole statement.
    if (const QString motivo = motivoNombreReporte(nombre); !motivo.isEmpty()) {
        dialogs().message(this, MsgIcon::Critical, motivo, MsgButtons::Ok, kTitulo);
        TxtNombreReporte->setFocus();
        return;
    }
    BusquedaNombre busqueda;
    {
        GuardiaVentana guardia(this);
        busqueda = conPlazos(kPlazosInteractivos, [&] { return BuscarNombreReporte(nombre); });
    }
    if (!busqueda.ok) {
        dialogs().message(this, MsgIcon::Critical,
                          err::textoParaUsuario(QStringLiteral("Ocurrió el siguiente error al tratar de recuperar los "
                                                               "nombres de los reportes almacenados en la base de "
                                                               "datos"),
                                                busqueda.errorText),
                          MsgButtons::Ok, kTitulo);
        return;
    }
    if (busqueda.usado) {
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("Ya existe un reporte con ése nombre para el módulo de \"") +
                              busqueda.usado->modulo + QStringLiteral("\" sección \"") + busqueda.usado->seccion +
                              QStringLiteral("\"") + kCrLf +
                              QStringLiteral("Es necesario que cambie el nombre y reintente nuevamente"),
                          MsgButtons::Ok, kTitulo);
        return;
    }
    if (cmbCarpeta->currentIndex() < 0) {
        dialogs().message(this, MsgIcon::Critical, QStringLiteral("Es necesario indicar una sección para el reporte"));
        cmbCarpeta->setFocus();
        return;
    }
    // A name of blanks only would list as an empty row.
    if (nombre.trimmed().isEmpty()) {
        dialogs().message(this, MsgIcon::Critical, QStringLiteral("Es necesario colocar el nombre del reporte"));
        TxtNombreReporte->setFocus();
        return;
    }
    m_ubicacion.IdModuloReporte = cmbModulo->currentData().toLongLong();
    m_ubicacion.IdSeccionReporte = cmbCarpeta->currentData().toLongLong();
    m_ubicacion.NombreReporte = nombre;
    accept();
}

void frmModificaReporte::BtnCancelar_Click() {
    m_ubicacion = UbicacionReporte{};
    reject();
}

void frmModificaReporte::cmdSalir_Click() {
    reject();
}

} // namespace v7
