#include "maintenance/FrmResetBD.h"

#include "core/errores.h"
#include "core/session.h"
#include "core/tema_ui.h"
#include "maintenance/reset_bd.h"
#include "platform/construir_ui.h"
#include "platform/dialogs_ui.h"
#include "platform/guardia_ui.h"
#include "platform/widgets_ui.h"

#include <QLabel>
#include <QLineEdit>
#include <QStyle>

namespace v7 {

FrmResetBD::FrmResetBD(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FrmResetBD"));
    setWindowTitle(QStringLiteral("Módulo de Administración"));
    setModal(true);
    construir();
    Form_Load();
}

FrmResetBD::~FrmResetBD() = default;

void FrmResetBD::construir() {
    using namespace ui;
    setFixedSize(px(7200), px(5700));

    ImgCabecera = crearImagenCabecera(this);

    PanelPpal = panel(this, QStringLiteral("PanelPpal"), twips(360, 1000, 6480, 3700));
    Image1 = control<QLabel>(PanelPpal, QStringLiteral("Image1"), twips(240, 700, 720, 720));
    Image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(px(720), px(720)));
    Label1 = etiqueta(PanelPpal, QStringLiteral("Label1"),
                      QStringLiteral("El proceso que está a punto de realizar es crítico, ya que se eliminará por "
                                     "completo la información existente en la base de datos y se reestablecerán los "
                                     "valores originales de instalación."),
                      1140, 600, 5100, 1200, true);
    Label2 = etiqueta(PanelPpal, QStringLiteral("Label2"),
                      QStringLiteral("Debido a que se trata de una funcionalidad sensible, es necesario que "
                                     "proporcione su contraseña para proceder."),
                      1140, 1850, 5100, 800, true);
    Label4 = etiqueta(PanelPpal, QStringLiteral("Label4"), QStringLiteral("Contraseña:"), 1140, 2900, 1200);
    TxtClave = caja(PanelPpal, QStringLiteral("TxtClave"), 2400, 2860, 2700);
    TxtClave->setEchoMode(QLineEdit::Password);

    BtnAceptar = boton(this, QStringLiteral("BtnAceptar"), QStringLiteral("&Aceptar"), 3240, 4920, 1650);
    BtnCancelar = boton(this, QStringLiteral("BtnCancelar"), QStringLiteral("&Cancelar"), 5190, 4920, 1650);
    connect(BtnAceptar, &QPushButton::clicked, this, [this] { BtnAceptar_Click(); });
    connect(BtnCancelar, &QPushButton::clicked, this, [this] { BtnCancelar_Click(); });
}

void FrmResetBD::Form_Load() {
    AplicarEstiloPanelEncabezado(PanelPpal, QStringLiteral("P R E C A U C I O N"), true, false);
    // The large caption is the header's alone: the panel's texts keep the window's font (every attribute
    // set, or the panel's would be inherited).
    QFont normal = font();
    normal.setBold(false);
    normal.setPointSize(font().pointSize());
    normal.setFamily(font().family());
    for (QWidget* w : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label2), static_cast<QWidget*>(Label4),
                       static_cast<QWidget*>(TxtClave)}) {
        w->setFont(normal);
    }
    AplicarEstiloBotones(this);
    ajustarImagenCabecera(ImgCabecera, this);
    aplicarColorFondo(this);
}

void FrmResetBD::BtnAceptar_Click() {
    const QString pregunta =
        QString(30, QLatin1Char(' ')) + QStringLiteral(" P R E C A U C I O N ") + err::kCrLf + err::kCrLf +
        QStringLiteral("El proceso que está a punto de realizar es irreversible, ya que se reestablecerán los valores "
                       "originales de instalación ") +
        err::kCrLf + err::kCrLf + QStringLiteral("¿ Desea reestablecer la base de datos a su estado original ?");
    // The password is checked before the question and again after it.
    auto claveCorrecta = [this] {
        if (TxtClave->text() == sesion().ClaveBD) {
            return true;
        }
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("No se logró restaurar la base de datos debido a que la clave es incorrecta"));
        TxtClave->clear();
        TxtClave->setFocus();
        return false;
    };
    if (!claveCorrecta()) {
        return;
    }
    // It cannot be undone: Enter answers No.
    if (dialogs().message(this, MsgIcon::Warning, pregunta, MsgButtons::YesNo,
                          QStringLiteral("PRECAUCION: Reestablecer base de datos"), MsgResult::No) != MsgResult::Yes ||
        !claveCorrecta()) {
        return;
    }
    // The statements run off the window's thread, which keeps answering while they wait.
    GuardiaVentana guardia(this);
    ResultadoReset r;
    try {
        r = ResetearBaseDatos(sesion().UsuarioBD);
    } catch (const std::exception& e) {
        r = ResultadoReset{};
        r.error = QStringLiteral("Ocurrió un error inesperado: ") + QString::fromLocal8Bit(e.what());
    }
    guardia.liberar();
    if (!r.vaciada) {
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("No se logró restaurar la base de datos debido a la siguiente razón: ") +
                              err::kCrLf + r.error);
        return;
    }
    if (!r.completo()) {
        // The tables are empty, but something the administrator must see was left undone.
        TxtClave->clear();
        TxtClave->setFocus();
        dialogs().message(this, MsgIcon::Warning,
                          QStringLiteral("La base de datos ha sido restaurada parcialmente, los siguientes pasos no "
                                         "se completaron:") +
                              err::kCrLf + err::kCrLf + r.fallas.join(err::kCrLf),
                          MsgButtons::Ok, QStringLiteral("Base restaurada parcialmente"));
        return;
    }
    dialogs().message(this, MsgIcon::Information,
                      QStringLiteral("La base de datos ha sido restaurado a su estado original"), MsgButtons::Ok,
                      QStringLiteral("Base restaurada"));
    accept();
}

void FrmResetBD::BtnCancelar_Click() {
    close();
}

void FrmResetBD::reject() {
    if (GuardiaVentana::bloqueada(this)) {
        return;
    }
    QDialog::reject();
}

} // namespace v7
