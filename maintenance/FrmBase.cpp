#include "maintenance/FrmBase.h"

#include "core/FrmIniciarSesion.h"
#include "core/config.h"
#include "core/errores.h"
#include "core/fallos_ui.h"
#include "core/session.h"
#include "core/tema_ui.h"
#include "maintenance/FrmConfigRegional.h"
#include "maintenance/FrmResetBD.h"
#include "maintenance/compactacion.h"
#include "maintenance/respaldo_manual.h"
#include "maintenance/restauracion.h"
#include "platform/construir_ui.h"
#include "platform/dialogs_ui.h"
#include "platform/events.h"
#include "platform/guardia_ui.h"
#include "platform/widgets_ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QTabBar>
#include <QTimer>

namespace v7 {

namespace {

const QString kFiltroRespaldo = QStringLiteral("Archivos de Respaldo (*.zip);;Todos los archivos (*)");

const QColor kColorResaltado(0, 0, 160);

// A control that shows a running operation's progress: the window guard disables it with the rest, but it
// is drawn as when enabled, so it stays readable.
void legibleDeshabilitado(QWidget* w) {
    QPalette p = w->palette();
    for (const QPalette::ColorRole rol :
         {QPalette::WindowText, QPalette::Text, QPalette::Base, QPalette::Window, QPalette::Highlight,
          QPalette::HighlightedText, QPalette::Button, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, rol, p.color(QPalette::Active, rol));
    }
    w->setPalette(p);
}

} // namespace

FrmBase::FrmBase(QWidget* parent, FrmIniciarSesion* login) : QDialog(parent), m_login(login) {
    // Whoever opens the window, Ctrl+F12 leads to the reset.
    m_mostrarReset = [](QWidget* padre) {
        FrmResetBD reset(padre);
        reset.exec();
    };
    setObjectName(QStringLiteral("FrmBase"));
    setWindowTitle(QStringLiteral("VELIRO7 - Herramientas Administrativas"));
    setModal(true);
    construir();
    Form_Load();
}

FrmBase::~FrmBase() = default;

void FrmBase::construir() {
    using namespace ui;
    setFixedSize(px(10200), px(6900));

    ImgCabecera = crearImagenCabecera(this);

    PanelCentral = panel(this, QStringLiteral("PanelCentral"), twips(360, 1000, 9480, 5000));

    // Each tab's frame holds one panel that fills it.
    auto marco = [this](const QString& frameName, const QString& panelName, MyFrame*& p) {
        auto* f = control<QWidget>(PanelCentral, frameName, twips(120, 560, 9240, 4320));
        p = panel(f, panelName, twips(0, 0, 9240, 4320));
        return f;
    };

    TabAdmin = control<QTabBar>(PanelCentral, QStringLiteral("TabAdmin"), twips(120, 120, 9240, 420));
    TabAdmin->setUsesScrollButtons(false);
    TabAdmin->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 4px 9px; }"));
    TabAdmin->setExpanding(false);
    for (const char* caption :
         {"Compactar Base de Datos", "Respaldar Base de Datos", "Restaurar Base de Datos", "Actualizaciones"}) {
        TabAdmin->addTab(QString::fromUtf8(caption));
    }

    // Compaction.
    FrameMantenimiento = marco(QStringLiteral("FrameMantenimiento"), QStringLiteral("PanelMant"), PanelMant);
    etiqueta(PanelMant, QStringLiteral("EtDescripcionMant"),
             QStringLiteral("Esta opcion le permite eliminar los registros lógicos que quedaron almacenados en la "
                            "base de datos, ejecutela periodicamente para obtener un mejor rendimiento del servidor."),
             240, 600, 8700, 900, true);
    BtnCompactar = boton(PanelMant, QStringLiteral("BtnCompactar"), QStringLiteral("&Compactar Base"), 240, 1700, 2200);
    EtCompacta = etiqueta(PanelMant, QStringLiteral("EtCompacta"),
                          QStringLiteral("Mensaje con el proceso de compactación..."), 240, 2400, 8700, 900, true);
    EtCompacta->hide(); // shown while a compaction runs
    connect(BtnCompactar, &QPushButton::clicked, this, [this] { BtnCompactar_Click(); });

    // Backup.
    FrameRespaldador = marco(QStringLiteral("FrameRespaldador"), QStringLiteral("PanelRespaldo"), PanelRespaldo);
    const FilaRuta respaldo = filaRuta(PanelRespaldo, QStringLiteral("EtRutaArchivo"),
                                       QStringLiteral("Ruta del Archivo:"), QStringLiteral("txtRuta"),
                                       QStringLiteral("BtnExaminar"), QStringLiteral("Ex&aminar..."), 240, 700, 8700);
    txtRuta = respaldo.caja;
    BtnExaminar = respaldo.examinar;
    BtnRespaldar = boton(PanelRespaldo, QStringLiteral("BtnRespaldar"), QStringLiteral("R&espaldar"), 7140, 1600, 1800);
    EtStatusRespaldo =
        etiqueta(PanelRespaldo, QStringLiteral("EtStatusRespaldo"), QString(), 240, 2300, 8700, 900, true);
    EtStatusRespaldo->hide(); // shown while a backup runs
    connect(BtnExaminar, &QPushButton::clicked, this, [this] { BtnExaminar_Click(); });
    connect(BtnRespaldar, &QPushButton::clicked, this, [this] { BtnRespaldar_Click(); });

    // Restore.
    FrameMontar = marco(QStringLiteral("FrameMontar"), QStringLiteral("PanelMontar"), PanelMontar);
    const FilaRuta montar = filaRuta(PanelMontar, QStringLiteral("EtRutaRespaldo"), QStringLiteral("Ruta del Archivo:"),
                                     QStringLiteral("TxtRutaRespaldo"), QStringLiteral("BtnExaminarRespaldo"),
                                     QStringLiteral("&Examinar..."), 240, 700, 8700);
    TxtRutaRespaldo = montar.caja;
    BtnExaminarRespaldo = montar.examinar;
    BtnMontar = boton(PanelMontar, QStringLiteral("BtnMontar"), QStringLiteral("&Restaurar"), 7140, 1600, 1800);
    EtStatusRestaura = etiqueta(PanelMontar, QStringLiteral("EtStatusRestaura"),
                                QStringLiteral("Estado de la restauración..."), 240, 2300, 8700, 900, true);
    EtStatusRestaura->hide(); // shown while a restore runs
    connect(BtnExaminarRespaldo, &QPushButton::clicked, this, [this] { BtnExaminarRespaldo_Click(); });
    connect(BtnMontar, &QPushButton::clicked, this, [this] { BtnMontar_Click(); });

    // Update options.
    FrameActualizacion =
        marco(QStringLiteral("FrameActualizacion"), QStringLiteral("PanelActualizacion"), PanelActualizacion);
    ChkActOficial = casilla(PanelActualizacion, QStringLiteral("ChkActOficial"),
                            QStringLiteral("Descargar actualizaciones oficiales"), twips(240, 800, 6000, 330));
    chkActBeta = casilla(PanelActualizacion, QStringLiteral("chkActBeta"),
                         QStringLiteral("Descargar actualizaciones beta"), twips(240, 1250, 6000, 330));
    BtnGuardar = boton(PanelActualizacion, QStringLiteral("BtnGuardar"), QStringLiteral("Guardar"), 7140, 1900, 1800);
    connect(BtnGuardar, &QPushButton::clicked, this, [this] { BtnGuardar_Click(); });

    BtnSalir = boton(this, QStringLiteral("BtnSalir"), QStringLiteral("&Salir"), 8040, 6240, 1800);
    connect(BtnSalir, &QPushButton::clicked, this, [this] { BtnSalir_Click(); });

    ProgBarr = control<QProgressBar>(this, QStringLiteral("ProgBarr"), twips(360, 6300, 7400, 300));
    ProgBarr->setTextVisible(false);
    ProgBarr->hide();

    TmrProgreso = new QTimer(this);
    TmrProgreso->setObjectName(QStringLiteral("TmrProgreso"));
    TmrProgreso->setInterval(1000);
    connect(TmrProgreso, &QTimer::timeout, this, [this] { TmrProgreso_Timer(); });

    // The status texts stay readable while the window is locked around the operation they report on.
    for (QLabel* estado : {EtCompacta, EtStatusRestaura}) {
        QPalette p = estado->palette();
        p.setColor(QPalette::Disabled, QPalette::WindowText, p.color(QPalette::Active, QPalette::WindowText));
        estado->setPalette(p);
    }

    connect(TabAdmin, &QTabBar::currentChanged, this, [this] { TabAdmin_Click(); });
    // The window sees Ctrl+F12 before its controls do; the filter also sees Enter in the path boxes.
    installEventFilter(this);
    for (QWidget* w : findChildren<QWidget*>()) {
        w->installEventFilter(this);
    }
}

void FrmBase::Form_Load() {
    FrameMantenimiento->raise();
    // The panels' and buttons' style.
    AplicarEstiloPanel(PanelCentral);
    AplicarEstiloPanelEncabezado(PanelMant, QStringLiteral("Mantenimiento"), false, false);
    AplicarEstiloPanelEncabezado(PanelMontar, QStringLiteral("Restaurar"), false, false);
    AplicarEstiloPanelEncabezado(PanelRespaldo, QStringLiteral("Respaldo"), false, false);
    AplicarEstiloPanelEncabezado(PanelActualizacion, QStringLiteral("Actualizaciones"), false, false);
    AplicarEstiloBotones(this);
    ajustarImagenCabecera(ImgCabecera, this);
    aplicarColorFondo(this);
    // Without catalogues or a valid database only the last tab is open.
    const bool catalogos = m_login == nullptr || m_login->tieneCatalogos();
    if (!catalogos || !sesion().BaseDatosValida) {
        TabAdmin->setCurrentIndex(2);
        TabAdmin_Click();
        TabAdmin->setEnabled(false);
        return;
    }
    TabAdmin_Click();
    // A configuration that cannot be read leaves both boxes unchecked.
    (void)CargarConfiguracion();
    ChkActOficial->setChecked(configuracion().AutoUpdate == QLatin1String("1"));
    chkActBeta->setChecked(configuracion().BetaUpdate == QLatin1String("1"));
}

void FrmBase::Form_Unload() {
    if (TmrProgreso->isActive()) {
        TmrProgreso->stop();
    }
}

void FrmBase::setArchivoRestaurar(const QString& ruta) {
    TxtRutaRespaldo->setText(ruta);
    TabAdmin->setCurrentIndex(2);
}

bool FrmBase::tabResaltada(int indice) const {
    return TabAdmin->tabData(indice).toBool();
}

void FrmBase::ponerResaltada(int indice, bool on) {
    TabAdmin->setTabData(indice, on);
    TabAdmin->setTabTextColor(indice, on ? kColorResaltado : palette().color(QPalette::WindowText));
}

void FrmBase::TabAdmin_Click() {
    const int indice = TabAdmin->currentIndex();
    QWidget* marcos[] = {FrameMantenimiento, FrameRespaldador, FrameMontar, FrameActualizacion};
    for (int i = 0; i < 4; ++i) {
        marcos[i]->setVisible(i == indice);
    }
    if (indice >= 0 && indice < 4) {
        marcos[indice]->raise();
    }
    for (int i = 0; i < TabAdmin->count(); ++i) {
        ponerResaltada(i, false);
    }
    if (indice >= 0) {
        ponerResaltada(indice, true);
    }
}

QString FrmBase::examinar() {
    const QString elegido = dialogs().saveFile(this, QString(), m_nombreCd, kFiltroRespaldo);
    if (!elegido.isEmpty()) {
        m_nombreCd = elegido;
    }
    return elegido;
}

void FrmBase::BtnExaminar_Click() {
    // A cancelled dialog leaves the box as it was.
    const QString elegido = examinar();
    if (!elegido.isEmpty()) {
        txtRuta->setText(elegido);
    }
}

void FrmBase::BtnExaminarRespaldo_Click() {
    // The archive to restore is only read: choosing it never asks whether to overwrite it.
    const QString elegido = dialogs().saveFile(this, QString(), m_nombreCd, kFiltroRespaldo, false);
    if (!elegido.isEmpty()) {
        m_nombreCd = elegido;
        TxtRutaRespaldo->setText(elegido);
    }
}

void FrmBase::BtnGuardar_Click() {
    const bool oficial = ChkActOficial->isChecked();
    const bool beta = chkActBeta->isChecked();
    if (!oficial && beta) {
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("Es necesario habilitar la descarga de las actualizaciones oficiales para "
                                         "instalar las actualizaciones BETA"));
        return;
    }
    QString valorOficial = oficial ? QStringLiteral("1") : QStringLiteral("0");
    QString valorBeta = beta ? QStringLiteral("1") : QStringLiteral("0");
    QString error;
    const bool oficialGuardado = GuardarConfiguracion(valorOficial, QStringLiteral("AUTO_UPDATE"), &error);
    if (!oficialGuardado || !GuardarConfiguracion(valorBeta, QStringLiteral("BETA_UPDATE"), &error)) {
        // Not stored: the reminder below would read as a success. The box says what failed and why.
        error = QStringLiteral("No se logró grabar la variable de configuración ") +
                (oficialGuardado ? QStringLiteral("BETA_UPDATE") : QStringLiteral("AUTO_UPDATE")) +
                (error.isEmpty() ? QString() : err::kCrLf + error);
        dialogs().message(this, MsgIcon::Critical, error);
        return;
    }
    dialogs().message(
        this, MsgIcon::Information,
        QStringLiteral("La configuración se guardo correctamente, sin embargo es necesario") + err::kCrLf +
            QStringLiteral("que exista dentro de la ruta de instalación de VELIRO7 la aplicación") + err::kCrLf +
            QStringLiteral("\"v7updater.exe\" para que el proceso de actualización automática") + err::kCrLf +
            QStringLiteral("funcione correctamente"));
}

void FrmBase::BtnSalir_Click() {
    if (!m_rutaDestino.isEmpty()) {
        m_rutaDestino.clear();
    }
    close();
}

void FrmBase::TmrProgreso_Timer() {
    if (ProgBarr->value() == ProgBarr->maximum()) {
        ProgBarr->setMaximum(ProgBarr->maximum() + 200);
    }
    ProgBarr->setValue(ProgBarr->value() + 1);
    events::pump();
}

void FrmBase::BtnRespaldar_Click() {
    m_rutaDestino.clear();
    if (txtRuta->text().isEmpty()) {
        dialogs().message(this, MsgIcon::Critical, QStringLiteral("Proporcione la ruta del archivo"));
        txtRuta->setFocus();
        return;
    }
    // The window stays locked until every path below has ended.
    GuardiaVentana guardia(this);
    m_rutaDestino = txtRuta->text();
    // The bar and the status text follow the work as the backup reports it (from its own threads).
    legibleDeshabilitado(ProgBarr);
    legibleDeshabilitado(EtStatusRespaldo);
    ProgBarr->setRange(0, kMilesimasRespaldo);
    ProgBarr->setValue(0);
    ProgBarr->show();
    EtStatusRespaldo->setText(textoPaso(PasoRespaldo::Carpeta));
    EtStatusRespaldo->show();
    const QPointer<FrmBase> ventana(this);
    auto progreso = [ventana](int milesimas, const QString& texto) {
        QMetaObject::invokeMethod(
            ventana.data(),
            [ventana, milesimas, texto] {
                if (ventana && !ventana->EtStatusRespaldo->isHidden()) { // not after the end
                    ventana->ProgBarr->setValue(milesimas);
                    ventana->EtStatusRespaldo->setText(texto);
                }
            },
            Qt::QueuedConnection);
    };
    MensajeRespaldo m;
    try {
        m = respaldoManual(m_rutaDestino, progreso);
    } catch (const std::exception& e) {
        m.mensaje = fallo(err::ocurrio(err::kOcurrioErrorNoMixto, 0, {QString::fromLocal8Bit(e.what())}));
    }
    ProgBarr->setValue(ProgBarr->maximum());
    ProgBarr->hide();
    EtStatusRespaldo->hide();
    guardia.liberar();
    // An empty roles file has always been told in a box without an icon.
    if (!m.ok && rolesVacios(m.resultado)) {
        dialogs().message(this, MsgIcon::None, m.mensaje.texto);
    } else {
        mostrarFallo(this, m.mensaje);
    }
}

void FrmBase::BtnMontar_Click() {
    const MsgResult seguir = dialogs().message(
        this, MsgIcon::Warning,
        QStringLiteral("El proceso que se realizará a continuación es crítico, toda la información que actualmente "
                       "tiene la base de VELIRO7 será reemplazada en su totalidad por el contenido del respaldo") +
            err::kCrLf + QString(20, QLatin1Char(' ')) + QStringLiteral(" ¿ Deseas continuar ?"),
        MsgButtons::YesNo, QStringLiteral("ATENCION: Proceso crítico"), MsgResult::No);
    if (seguir != MsgResult::Yes) {
        return;
    }
    if (TxtRutaRespaldo->text().isEmpty()) {
        dialogs().message(this, MsgIcon::Critical, QStringLiteral("Proporcione la ruta del archivo"));
        TxtRutaRespaldo->setFocus();
        return;
    }
    // Locked until every path below has ended.
    GuardiaVentana guardia(this);
    ProgBarr->setRange(0, 10);
    ProgBarr->setValue(0);
    ProgBarr->show();
    EtStatusRestaura->clear();
    EtStatusRestaura->show();
    InterfazRestauracion interfaz;
    interfaz.avance = [this](int valor, const QString& estado) {
        if (valor >= 0) {
            ProgBarr->setValue(valor);
        }
        if (!estado.isEmpty()) {
            EtStatusRestaura->setText(estado);
        }
    };
    interfaz.aviso = [this](const Fallo& f) { mostrarFallo(this, f); };
    interfaz.terminarSesiones = [this](const QString& pregunta) {
        // Ending other people's sessions loses their unsaved work: Enter answers No.
        return dialogs().message(this, MsgIcon::Warning, pregunta, MsgButtons::YesNo,
                                 QStringLiteral("ATENCION: Sesiones conectadas"), MsgResult::No) == MsgResult::Yes;
    };
    interfaz.elegirZona = [this] {
        FrmConfigRegional zona(*this);
        zona.exec();
        return m_zonaHoraria;
    };
    ResultadoRestauracion r;
    try {
        r = restaurarRespaldo(TxtRutaRespaldo->text(), interfaz);
    } catch (const std::exception& e) {
        r.mensaje = fallo(errorGeneralRestauracion(0, QString::fromLocal8Bit(e.what()), ProgBarr->value()));
    }
    if (r.integridad && m_login != nullptr) {
        m_login->setTieneCatalogos(*r.integridad);
    }
    // Clean-up: the tab strip is given back also to a window that opened offering only the restore.
    ProgBarr->hide();
    EtStatusRestaura->hide();
    guardia.liberar();
    TabAdmin->setEnabled(true);
    mostrarFallo(this, r.mensaje);
}

void FrmBase::BtnCompactar_Click() {
    GuardiaVentana guardia(this);
    EtCompacta->show();
    ProgBarr->setRange(0, kCompactaMaximo);
    ProgBarr->setValue(0);
    ProgBarr->show();
    const Resultado<QString> r = compactarBase([this](int valor, const QString& texto) {
        ProgBarr->setValue(valor);
        if (!texto.isEmpty()) {
            EtCompacta->setText(texto);
        }
    });
    EtCompacta->hide();
    ProgBarr->hide();
    guardia.liberar();
    mostrarFallo(this, r.ok() ? fallo(r.valor(), Gravedad::Informacion) : r.fallo());
}

void FrmBase::reject() {
    // Escape while an operation runs must not close the window under it.
    if (GuardiaVentana::bloqueada(this)) {
        return;
    }
    Form_Unload();
    QDialog::reject();
}

void FrmBase::closeEvent(QCloseEvent* event) {
    Form_Unload();
    QDialog::closeEvent(event);
}

void FrmBase::mostrarReset() {
    const QPointer<QWidget> foco = focusWidget();
    m_mostrarReset(this);
    // The reset's window is gone: the keyboard comes back here, where it was.
    activateWindow();
    if (foco && foco->isEnabled() && foco->isVisible()) {
        foco->setFocus(Qt::ActiveWindowFocusReason);
    } else {
        BtnSalir->setFocus(Qt::ActiveWindowFocusReason);
    }
}

bool FrmBase::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease) {
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->key() == Qt::Key_F12 && k->modifiers() == Qt::ControlModifier && !k->isAutoRepeat()) {
            if (m_mostrarReset && !GuardiaVentana::bloqueada(this)) {
                mostrarReset();
            }
            return true;
        }
    } else if (event->type() == QEvent::KeyPress && (watched == txtRuta || watched == TxtRutaRespaldo)) {
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            // One Tab: the focus moves to the next control; the key still reaches the box.
            focusNextChild();
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace v7
