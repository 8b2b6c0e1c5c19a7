#include "maintenance/FrmConfigRegional.h"

#include "core/sql.h"
#include "core/tema_ui.h"
#include "maintenance/FrmBase.h"
#include "maintenance/zona_horaria.h"
#include "platform/construir_ui.h"
#include "platform/dialogs_ui.h"
#include "platform/widgets_ui.h"

#include <QComboBox>
#include <QLabel>

namespace v7 {

FrmConfigRegional::FrmConfigRegional(FrmBase& base) : QDialog(&base), m_base(base) {
    setObjectName(QStringLiteral("FrmConfigRegional"));
    setWindowTitle(QStringLiteral("Seleccione el uso/horario"));
    setModal(true);
    construir();
    Form_Load();
}

void FrmConfigRegional::construir() {
    using namespace ui;
    setFixedSize(px(6600), px(4200));
    ImgCabecera = crearImagenCabecera(this);
    PanelCentral = panel(this, QStringLiteral("PanelCentral"), twips(360, 1000, 5880, 2900));
    etiqueta(
        PanelCentral, QString(),
        QStringLiteral("Se ha detectado que su base de datos no tiene configurada la zona/horaria de su localidad, "
                       "por favor, seleccionela de la lista que aparece a continuación:"),
        240, 480, 5400, 900, true);
    CmbConfigRegional =
        control<QComboBox>(PanelCentral, QStringLiteral("CmbConfigRegional"), twips(240, 1500, 5400, 330));
    CmbConfigRegional->setMaxVisibleItems(20);
    BtnZona = boton(PanelCentral, QStringLiteral("BtnZona"), QStringLiteral("&Aceptar"), 3840, 2250, 1800);
    connect(BtnZona, &QPushButton::clicked, this, [this] { BtnZona_Click(); });
}

void FrmConfigRegional::Form_Load() {
    AplicarEstiloPanelEncabezado(PanelCentral, QStringLiteral("I M P O R T A N T E"), false, false);
    AplicarEstiloBotones(this);
    ajustarImagenCabecera(ImgCabecera, this);
    aplicarColorFondo(this);
    // Read off the windows' thread: a busy server must not freeze the restore's windows.
    bool ok = false;
    QString error;
    const QStringList zonas = conPlazos(kPlazosInteractivos, [&] { return zonasAmericanas(ok, error); });
    CmbConfigRegional->addItems(zonas);
    if (CmbConfigRegional->count() > 0) {
        CmbConfigRegional->setCurrentIndex(0);
    }
    // Nothing to confirm without a zone.
    BtnZona->setEnabled(CmbConfigRegional->count() > 0);
}

bool FrmConfigRegional::confirmar() {
    return dialogs().message(this, MsgIcon::Question,
                             QStringLiteral("La opción seleccionada es: ") + CmbConfigRegional->currentText() +
                                 QStringLiteral("\r\n¿ Desea continuar ?"),
                             MsgButtons::YesNo) == MsgResult::Yes;
}

void FrmConfigRegional::BtnZona_Click() {
    if (CmbConfigRegional->currentIndex() < 0) {
        return;
    }
    if (confirmar()) {
        m_base.setZonaHoraria(CmbConfigRegional->currentText());
        accept(); // a zone is held now: nothing more to ask
    }
}

bool FrmConfigRegional::Form_Unload() {
    if (!m_base.zonaHoraria().isEmpty() || CmbConfigRegional->currentIndex() < 0) {
        return true;
    }
    if (confirmar()) {
        m_base.setZonaHoraria(CmbConfigRegional->currentText());
        return true;
    }
    return false;
}

// The close box and Escape both end here (QDialog's close handling calls reject()).
void FrmConfigRegional::reject() {
    if (Form_Unload()) {
        QDialog::reject();
    }
}

} // namespace v7
