#include "maintenance/FrmBase.h"

#include "core/FrmIniciarSesion.h"
#include "core/config.h"
#include "core/session.h"
#include "core/tema_ui.h"
#include "maintenance/respaldo_manual.h"
#include "platform/dialogs_ui.h"
#include "platform/espera_ui.h"
#include "platform/events.h"
#include "platform/widgets_ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTabBar>
#include <QTimer>

namespace v7 {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kFiltroRespaldo = QStringLiteral("Archivos de Respaldo (*.zip);;Todos los archivos (*)");

constexpr int px(int twips) {
    return twips / kTwipsPorPixel;
}

const QColor kColorResaltado(0, 0, 160);

// Disables the widgets for as long as it lives and gives each its own state back (controls that are
// disabled for good stay so).
class Bloqueo {
public:
    explicit Bloqueo(std::initializer_list<QWidget*> widgets) {
        for (QWidget* w : widgets) {
            m_estados.push_back({w, w->isEnabled()});
            w->setEnabled(false);
        }
    }
    ~Bloqueo() {
        for (const auto& [w, estado] : m_estados) {
            w->setEnabled(estado);
        }
    }
    Bloqueo(const Bloqueo&) = delete;
    Bloqueo& operator=(const Bloqueo&) = delete;

private:
    std::vector<std::pair<QWidget*, bool>> m_estados;
};

} // namespace

FrmBase::FrmBase(QWidget* parent, FrmIniciarSesion* login) : QDialog(parent), m_login(login) {
    setObjectName(QStringLiteral("FrmBase"));
    setWindowTitle(QStringLiteral("VELIRO7 - Herramientas Administrativas"));
    setModal(true);
    construir();
    Form_Load();
}

FrmBase::~FrmBase() = default;

void FrmBase::construir() {
    setFixedSize(px(10200), px(6900));

    ImgCabecera = new QLabel(this);
    ImgCabecera->setObjectName(QStringLiteral("ImgCabecera"));
    ImgCabecera->setPixmap(imagenCabecera());
    ImgCabecera->setScaledContents(true);

    PanelCentral = new MyFrame(this);
    PanelCentral->setObjectName(QStringLiteral("PanelCentral"));
    PanelCentral->setGeometry(px(360), px(1000), px(9480), px(5000));

    auto boton = [](QWidget* parent, const char* name, const QString& caption, int left, int top, int width) {
        auto* b = new MyButton(caption, parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(px(left), px(top), px(width), px(420));
        // Enter in a path box moves the focus on; it must never press a button.
        b->setAutoDefault(false);
        return b;
    };
    auto etiqueta = [](QWidget* parent, const char* name, const QString& text, int left, int top, int width,
                       int height = 300) {
        auto* l = new QLabel(text, parent);
        if (name != nullptr) {
            l->setObjectName(QString::fromLatin1(name));
        }
        l->setGeometry(px(left), px(top), px(width), px(height));
        l->setWordWrap(true);
        return l;
    };
    auto marco = [this](const char* frameName, const char* panelName, MyFrame*& panel) {
        auto* f = new QWidget(PanelCentral);
        f->setObjectName(QString::fromLatin1(frameName));
        f->setGeometry(px(120), px(560), px(9240), px(4320));
        panel = new MyFrame(f);
        panel->setObjectName(QString::fromLatin1(panelName));
        panel->setGeometry(0, 0, px(9240), px(4320));
        return f;
    };

    TabAdmin = new QTabBar(PanelCentral);
    TabAdmin->setObjectName(QStringLiteral("TabAdmin"));
    TabAdmin->setGeometry(px(120), px(120), px(9240), px(420));
    TabAdmin->setUsesScrollButtons(false);
    TabAdmin->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 4px 9px; }"));
    TabAdmin->setExpanding(false);
    for (const char* caption :
         {"Compactar Base de Datos", "Respaldar Base de Datos", "Restaurar Base de Datos", "Actualizaciones"}) {
        TabAdmin->addTab(QString::fromUtf8(caption));
    }

    // 1. Compaction (its work is not in this version: the button stays disabled).
    FrameMantenimiento = marco("FrameMantenimiento", "PanelMant", PanelMant);
    etiqueta(
        PanelMant, "EtDescripcionMant",
        QStringLiteral("Esta opcion le permite eliminar los registros lógicos que quedaron almacenados en la base de "
                       "datos, ejecutela periodicamente para obtener un mejor rendimiento del servidor."),
        240, 600, 8700, 900);
    BtnCompactar = boton(PanelMant, "BtnCompactar", QStringLiteral("&Compactar Base"), 240, 1700, 2200);
    BtnCompactar->setEnabled(false);
    EtCompacta = etiqueta(PanelMant, "EtCompacta", QStringLiteral("Mensaje con el proceso de compactación..."), 240,
                          2400, 8700, 900);

    // 2. Backup.
    FrameRespaldador = marco("FrameRespaldador", "PanelRespaldo", PanelRespaldo);
    etiqueta(PanelRespaldo, "EtRutaArchivo", QStringLiteral("Ruta del Archivo:"), 240, 700, 3000);
    txtRuta = new QLineEdit(PanelRespaldo);
    txtRuta->setObjectName(QStringLiteral("txtRuta"));
    txtRuta->setGeometry(px(240), px(1050), px(8700), px(330));
    BtnExaminar = boton(PanelRespaldo, "BtnExaminar", QStringLiteral("Ex&aminar..."), 5040, 1600, 1800);
    BtnRespaldar = boton(PanelRespaldo, "BtnRespaldar", QStringLiteral("R&espaldar"), 7140, 1600, 1800);
    connect(BtnExaminar, &QPushButton::clicked, this, [this] { BtnExaminar_Click(); });
    connect(BtnRespaldar, &QPushButton::clicked, this, [this] { BtnRespaldar_Click(); });

    // 3. Restore (its work is not in this version: the button stays disabled).
    FrameMontar = marco("FrameMontar", "PanelMontar", PanelMontar);
    etiqueta(PanelMontar, "EtRutaRespaldo", QStringLiteral("Ruta del Archivo:"), 240, 700, 3000);
    TxtRutaRespaldo = new QLineEdit(PanelMontar);
    TxtRutaRespaldo->setObjectName(QStringLiteral("TxtRutaRespaldo"));
    TxtRutaRespaldo->setGeometry(px(240), px(1050), px(8700), px(330));
    BtnExaminarRespaldo = boton(PanelMontar, "BtnExaminarRespaldo", QStringLiteral("&Examinar..."), 5040, 1600, 1800);
    BtnMontar = boton(PanelMontar, "BtnMontar", QStringLiteral("&Restaurar"), 7140, 1600, 1800);
    BtnMontar->setEnabled(false);
    EtStatusRestaura =
        etiqueta(PanelMontar, "EtStatusRestaura", QStringLiteral("Estado de la restauración..."), 240, 2300, 8700, 900);
    connect(BtnExaminarRespaldo, &QPushButton::clicked, this, [this] { BtnExaminarRespaldo_Click(); });

    // 4. Update options.
    FrameActualizacion = marco("FrameActualizacion", "PanelActualizacion", PanelActualizacion);
    ChkActOficial = new QCheckBox(QStringLiteral("Descargar actualizaciones oficiales"), PanelActualizacion);
    ChkActOficial->setObjectName(QStringLiteral("ChkActOficial"));
    ChkActOficial->setGeometry(px(240), px(800), px(6000), px(330));
    chkActBeta = new QCheckBox(QStringLiteral("Descargar actualizaciones beta"), PanelActualizacion);
    chkActBeta->setObjectName(QStringLiteral("chkActBeta"));
    chkActBeta->setGeometry(px(240), px(1250), px(6000), px(330));
    BtnGuardar = boton(PanelActualizacion, "BtnGuardar", QStringLiteral("Guardar"), 7140, 1900, 1800);
    connect(BtnGuardar, &QPushButton::clicked, this, [this] { BtnGuardar_Click(); });

    BtnSalir = boton(this, "BtnSalir", QStringLiteral("&Salir"), 8040, 6240, 1800);
    connect(BtnSalir, &QPushButton::clicked, this, [this] { BtnSalir_Click(); });

    ProgBarr = new QProgressBar(this);
    ProgBarr->setObjectName(QStringLiteral("ProgBarr"));
    ProgBarr->setGeometry(px(360), px(6300), px(7400), px(300));
    ProgBarr->setTextVisible(false);
    ProgBarr->hide();

    TmrProgreso = new QTimer(this);
    TmrProgreso->setObjectName(QStringLiteral("TmrProgreso"));
    TmrProgreso->setInterval(1000);
    connect(TmrProgreso, &QTimer::timeout, this, [this] { TmrProgreso_Timer(); });

    connect(TabAdmin, &QTabBar::currentChanged, this, [this] { TabAdmin_Click(); });
    // The window sees Ctrl+F12 before its controls do; the filter also sees Enter in the path boxes.
    installEventFilter(this);
    for (QWidget* w : findChildren<QWidget*>()) {
        w->installEventFilter(this);
    }
}

void FrmBase::Form_Load() {
    // 1.
    FrameMantenimiento->raise();
    // 2.
    AplicarEstiloPanel(PanelCentral);
    AplicarEstiloPanelEncabezado(PanelMant, QStringLiteral("Mantenimiento"), false, false);
    AplicarEstiloPanelEncabezado(PanelMontar, QStringLiteral("Restaurar"), false, false);
    AplicarEstiloPanelEncabezado(PanelRespaldo, QStringLiteral("Respaldo"), false, false);
    AplicarEstiloPanelEncabezado(PanelActualizacion, QStringLiteral("Actualizaciones"), false, false);
    AplicarEstiloBotones(this);
    // 3.
    ajustarImagenCabecera(ImgCabecera, this);
    aplicarColorFondo(this);
    events::pump();
    // 4-5.
    const bool catalogos = m_login == nullptr || m_login->tieneCatalogos();
    if (!catalogos || !sesion().BaseDatosValida) {
        TabAdmin->setCurrentIndex(2);
        TabAdmin_Click();
        TabAdmin->setEnabled(false);
        events::pump();
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
        events::pump();
    }
    if (indice >= 0) {
        ponerResaltada(indice, true);
    }
    events::pump();
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
    const QString elegido = examinar();
    if (!elegido.isEmpty()) {
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
    if (!GuardarConfiguracion(valorOficial, QStringLiteral("AUTO_UPDATE"), &error) ||
        !GuardarConfiguracion(valorBeta, QStringLiteral("BETA_UPDATE"), &error)) {
        // Not stored: the reminder below would read as a success.
        dialogs().message(this, MsgIcon::Critical, error);
        return;
    }
    dialogs().message(this, MsgIcon::Information,
                      QStringLiteral("La configuración se guardo correctamente, sin embargo es necesario") + kCrLf +
                          QStringLiteral("que exista dentro de la ruta de instalación de VELIRO7 la aplicación") +
                          kCrLf + QStringLiteral("\"v7updater.exe\" para que el proceso de actualización automática") +
                          kCrLf + QStringLiteral("funcione correctamente"));
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
    // 1.
    m_rutaDestino.clear();
    if (txtRuta->text().isEmpty()) {
        dialogs().message(this, MsgIcon::Critical, QStringLiteral("Proporcione la ruta del archivo"));
        txtRuta->setFocus();
        return;
    }
    // 3. The window stays locked until every path below has ended.
    m_ocupado = true;
    {
        const Bloqueo bloqueo{TabAdmin, BtnRespaldar, BtnMontar, BtnSalir};
        CursorEspera cursor;
        cursor.poner(true);
        m_rutaDestino = txtRuta->text();
        auto avance = [this](PasoRespaldo paso) {
            if (paso == PasoRespaldo::Volcado) {
                ProgBarr->setMinimum(0);
                ProgBarr->setMaximum(1000);
                ProgBarr->setValue(0);
                ProgBarr->show();
                TmrProgreso->start();
            }
        };
        const MensajeRespaldo m = respaldoManual(m_rutaDestino, avance);
        if (ProgBarr->isVisible()) {
            ProgBarr->setValue(ProgBarr->maximum());
            ProgBarr->hide();
        }
        TmrProgreso->stop();
        cursor.poner(false);
        dialogs().message(this, m.icono, m.texto);
    }
    m_ocupado = false;
}

void FrmBase::reject() {
    // Escape while an operation runs must not close the window under it.
    if (m_ocupado) {
        return;
    }
    Form_Unload();
    QDialog::reject();
}

void FrmBase::closeEvent(QCloseEvent* event) {
    if (m_ocupado) {
        event->ignore();
        return;
    }
    Form_Unload();
    QDialog::closeEvent(event);
}

bool FrmBase::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease) {
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->key() == Qt::Key_F12 && k->modifiers() == Qt::ControlModifier && !k->isAutoRepeat()) {
            if (m_mostrarReset && !m_ocupado) {
                m_mostrarReset(this);
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
