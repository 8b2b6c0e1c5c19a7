#include "console/FrmPermisosAcceso.h"

#include "console/FrmInicio.h"
#include "core/controles_ui.h"
#include "core/errores.h"
#include "core/listas_ui.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/tema_ui.h"
#include "platform/construir_ui.h"
#include "platform/dialogs_ui.h"
#include "platform/events.h"
#include "platform/guardia_ui.h"
#include "platform/service.h"
#include "platform/widgets_ui.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

namespace v7 {

namespace {

// Where a row keeps the method it was read with (the sort keys use Qt::UserRole).
constexpr int kRolMetodo = Qt::UserRole + 1;

enum Columna { kDireccion = 0, kMascara = 1, kAcceso = 2, kComentario = 3 };

} // namespace

FrmPermisosAcceso::FrmPermisosAcceso(FrmInicio* consola, QWidget* parent) : QDialog(parent), m_consola(consola) {
    setObjectName(QStringLiteral("FrmPermisosAcceso"));
    setWindowTitle(QStringLiteral("Permisos de Acceso al Servidor"));
    setModal(true);
    construir();
    Form_Load();
}

FrmPermisosAcceso::~FrmPermisosAcceso() = default;

void FrmPermisosAcceso::construir() {
    using namespace ui;
    setFixedSize(px(11000), px(6900));

    ImgCabecera = crearImagenCabecera(this);

    PanelCentral = panel(this, QStringLiteral("PanelCentral"), twips(360, 1000, 10280, 5000));
    PanelSec1 = panel(PanelCentral, QStringLiteral("PanelSec1"), twips(120, 120, 10040, 4760));

    etiqueta(PanelSec1, QStringLiteral("Label1"), QStringLiteral("Permisos de Acceso a la Base de Datos"), 240, 480,
             6000);
    ListIP = control<QTreeWidget>(PanelSec1, QStringLiteral("ListIP"), twips(240, 800, 6840, 2560));
    ListIP->setRootIsDecorated(false);
    ListIP->setUniformRowHeights(true);
    ListIP->setAllColumnsShowFocus(true);
    ListIP->header()->setSectionsClickable(true);
    ListIP->header()->setSortIndicatorShown(false);

    etiqueta(PanelSec1, QStringLiteral("Label2"), QStringLiteral("Direcciones Agregadas ="), 240, 3480, 2500);
    EtPermisosDirecciones =
        etiqueta(PanelSec1, QStringLiteral("EtPermisosDirecciones"), QStringLiteral("0"), 2760, 3480, 1000);

    etiqueta(PanelSec1, QStringLiteral("Label3"), QStringLiteral("IP del Host a conectar:"), 240, 3900, 2300);
    TxtPermisosIP = caja(PanelSec1, QStringLiteral("TxtPermisosIP"), 240, 4200, 2200);
    etiqueta(PanelSec1, QStringLiteral("Label4"), QStringLiteral("Máscara de Subred:"), 2600, 3900, 2300);
    TxtPermisosMascara = caja(PanelSec1, QStringLiteral("TxtPermisosMascara"), 2600, 4200, 2200);
    etiqueta(PanelSec1, QStringLiteral("Label5"), QStringLiteral("Comentario:"), 4960, 3900, 2300);
    TxtComentario = caja(PanelSec1, QStringLiteral("TxtComentario"), 4960, 4200, 4840);
    // Only digits and dots ever stand in the address and mask boxes, pasted text included.
    for (QLineEdit* box : {TxtPermisosIP, TxtPermisosMascara}) {
        box->setMaxLength(15);
        box->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9.]{0,15}")), box));
    }

    BtnPermisosPermitir =
        boton(PanelSec1, QStringLiteral("BtnPermisosPermitir"), QStringLiteral("&Permitir Acceso"), 7260, 800, 2540);
    BtnPermisoDenegar =
        boton(PanelSec1, QStringLiteral("BtnPermisoDenegar"), QStringLiteral("&Denegar Acceso"), 7260, 1340, 2540);
    BtnPermisosEliminar = boton(PanelSec1, QStringLiteral("BtnPermisosEliminar"),
                                QStringLiteral("Eliminar IP de la lista"), 7260, 1880, 2540);
    BtnPermisosGuardar = boton(PanelSec1, QStringLiteral("BtnPermisosGuardar"), QStringLiteral("Guardar Configuración"),
                               7260, 2940, 2540);
    BtnSalirForma = boton(this, QStringLiteral("BtnSalirForma"), QStringLiteral("&Salir"), 8840, 6240, 1800);

    TmrDescargar = new QTimer(this);
    TmrDescargar->setObjectName(QStringLiteral("TmrDescargar"));
    TmrDescargar->setInterval(250);

    connect(BtnPermisosPermitir, &QPushButton::clicked, this, [this] { BtnPermisosPermitir_Click(); });
    connect(BtnPermisoDenegar, &QPushButton::clicked, this, [this] { BtnPermisoDenegar_Click(); });
    connect(BtnPermisosEliminar, &QPushButton::clicked, this, [this] { BtnPermisosEliminar_Click(); });
    connect(BtnPermisosGuardar, &QPushButton::clicked, this, [this] { BtnPermisosGuardar_Click(); });
    connect(BtnSalirForma, &QPushButton::clicked, this, [this] { BtnSalirForma_Click(); });
    connect(ListIP, &QTreeWidget::itemClicked, this, [this] { ListIP_Click(); });
    connect(ListIP->header(), &QHeaderView::sectionClicked, this, [this](int c) { ListIP_ColumnClick(c); });
    connect(TmrDescargar, &QTimer::timeout, this, [this] { TmrDescargar_Timer(); });
    for (QLineEdit* box : {TxtPermisosIP, TxtPermisosMascara, TxtComentario}) {
        box->installEventFilter(this);
    }
}

void FrmPermisosAcceso::Form_Load() {
    AplicarEstiloPanel(PanelCentral);
    AplicarEstiloPanelEncabezado(PanelSec1, QStringLiteral("Permisos de acceso al servidor"), false, false);
    AplicarEstiloBotones(this);
    ajustarImagenCabecera(ImgCabecera, this);
    aplicarColorFondo(this);
    prepararColumnas();
}

void FrmPermisosAcceso::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_lecturaPedida) {
        return;
    }
    // The file is read once the window is up: asking the server where its file is may take a while, and
    // the window is locked (and painted) meanwhile.
    m_lecturaPedida = true;
    m_guardiaLectura = std::make_unique<GuardiaVentana>(this);
    QTimer::singleShot(0, this, [this] { LeerArchivoConfiguracion(); });
}

void FrmPermisosAcceso::prepararColumnas() {
    ListIP->setColumnCount(4);
    ListIP->setHeaderLabels({QStringLiteral("Dirección IP"), QStringLiteral("Máscara"), QStringLiteral("Acceso"),
                             QStringLiteral("Comentario")});
    const int anchos[] = {1450, 1500, 750, 3050};
    for (int c = 0; c < 4; ++c) {
        ListIP->setColumnWidth(c, ui::px(anchos[c]));
        const Qt::Alignment a = c == kMascara || c == kAcceso ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter;
        ListIP->headerItem()->setTextAlignment(c, a);
    }
}

void FrmPermisosAcceso::LeerArchivoConfiguracion() {
    if (!m_guardiaLectura) {
        m_guardiaLectura = std::make_unique<GuardiaVentana>(this);
    }
    struct Carga {
        QString ruta;
        LecturaReglas lectura;
    };
    const Carga carga = conPlazos(kPlazosInteractivos, [] {
        Carga c;
        c.ruta = rutaArchivoReglas();
        c.lectura = leerArchivoReglas(c.ruta);
        return c;
    });
    m_guardiaLectura.reset();
    m_cargado = true;
    m_ruta = carga.ruta;
    const LecturaReglas& lectura = carga.lectura;
    if (lectura.numero == err::kRutaNoEncontrada) {
        dialogs().message(this, MsgIcon::Critical, textoSinArchivoReglas(m_ruta), MsgButtons::Ok,
                          QStringLiteral("Permisos de conexión"));
        TmrDescargar->start();
        return;
    }
    if (lectura.numero != 0) {
        dialogs().message(this, MsgIcon::Critical, textoLecturaFallida(lectura));
        TmrDescargar->start();
        return;
    }
    m_archivo = lectura.archivo;
    for (const ReglaIp& r : m_archivo.reglas) {
        ponerFila(new QTreeWidgetItem(ListIP), r);
    }
    // The highlighted row is the one "Eliminar" removes.
    if (ListIP->topLevelItemCount() > 0) {
        ListIP->setCurrentItem(ListIP->topLevelItem(0));
    }
    mostrarConteo();
}

void FrmPermisosAcceso::ponerFila(QTreeWidgetItem* item, const ReglaIp& regla) {
    item->setText(kDireccion, regla.direccion);
    item->setText(kMascara, regla.mascara);
    item->setText(kAcceso, regla.acceso);
    item->setText(kComentario, regla.comentario);
    item->setData(kDireccion, kRolMetodo, regla.metodo);
    item->setTextAlignment(kMascara, Qt::AlignCenter);
    item->setTextAlignment(kAcceso, Qt::AlignCenter);
}

QVector<ReglaIp> FrmPermisosAcceso::filas() const {
    QVector<ReglaIp> v;
    for (int i = 0; i < ListIP->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ListIP->topLevelItem(i);
        v << ReglaIp{item->text(kDireccion), item->text(kMascara), item->text(kAcceso), item->text(kComentario),
                     item->data(kDireccion, kRolMetodo).toString()};
    }
    return v;
}

void FrmPermisosAcceso::mostrarConteo() {
    EtPermisosDirecciones->setText(QString::number(ListIP->topLevelItemCount()));
}

void FrmPermisosAcceso::permitirODenegar(bool permitir) {
    const QString direccion = TxtPermisosIP->text();
    const QString mascara = TxtPermisosMascara->text();
    const ErrorEntrada error = validarEntrada(direccion, mascara);
    if (error != ErrorEntrada::Ninguno) {
        dialogs().message(this, MsgIcon::Critical, textoErrorEntrada(error));
        const bool enDireccion = error == ErrorEntrada::DireccionVacia || error == ErrorEntrada::DireccionNoValida;
        (enDireccion ? TxtPermisosIP : TxtPermisosMascara)->setFocus();
        return;
    }
    QTreeWidgetItem* item = nullptr;
    for (int i = 0; i < ListIP->topLevelItemCount() && item == nullptr; ++i) {
        if (ListIP->topLevelItem(i)->text(kDireccion).compare(direccion, Qt::CaseInsensitive) == 0) {
            item = ListIP->topLevelItem(i);
        }
    }
    ReglaIp regla;
    if (item == nullptr) {
        item = new QTreeWidgetItem(ListIP);
        regla.direccion = direccion;
    } else {
        regla.direccion = item->text(kDireccion);
        regla.metodo = item->data(kDireccion, kRolMetodo).toString();
    }
    regla.mascara = mascara;
    regla.acceso = permitir ? kAccesoSi : kAccesoNo;
    regla.comentario = limpiarComentario(TxtComentario->text());
    ponerFila(item, regla);
    mostrarConteo();
    if (permitir) {
        TxtPermisosIP->clear();
        TxtPermisosMascara->clear();
        TxtComentario->clear();
    }
}

void FrmPermisosAcceso::BtnPermisosPermitir_Click() {
    permitirODenegar(true);
}

void FrmPermisosAcceso::BtnPermisoDenegar_Click() {
    permitirODenegar(false);
}

void FrmPermisosAcceso::BtnPermisosEliminar_Click() {
    if (ListIP->topLevelItemCount() == 0) {
        dialogs().message(this, MsgIcon::Critical, QStringLiteral("No hay elementos para elminar"));
        return;
    }
    delete ListIP->currentItem();
    mostrarConteo();
}

void FrmPermisosAcceso::BtnPermisosGuardar_Click() {
    if (ListIP->topLevelItemCount() == 0) {
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("No se guardaron los cambios porque no hay direcciones IP en la lista"));
        return;
    }
    GuardiaVentana guardia(this);
    // The rows written anew must each be the line that decides for their address.
    QVector<int> nuevas;
    const QByteArray contenido = escribirReglas(m_archivo, filas(), !sesion().EsWindows32Bits, &nuevas);
    const QString ruta = m_ruta;
    const GuardadoReglas guardado = conPlazos(
        kPlazosInteractivos, [&ruta, &contenido, &nuevas] { return guardarArchivoReglas(ruta, contenido, nuevas); });
    if (!guardado.guardado()) {
        guardia.liberar();
        dialogs().message(this, MsgIcon::Critical, textoGuardado(guardado, m_ruta));
        return;
    }
    m_archivo = leerReglas(contenido);
    // Only a reload the server reported makes the new rules the ones in force: the console's, which runs
    // pg_ctl; without a pg_ctl to run (a cluster laid out by the distribution) the session asks the server.
    QString motivo = QStringLiteral("No hay una consola que recargue el servidor.");
    bool aplicado = false;
    const bool porPgCtl = service::reloadRunsPgCtl(sesion().RutaPostgres);
    if (porPgCtl) {
        aplicado = m_consola != nullptr && m_consola->Reiniciar_Server(&motivo);
    } else {
        const service::Result r = service::reload(sesion().RutaPostgres, QString(), recargarConfiguracionPorSesion);
        aplicado = r.ok();
        motivo = r.message;
    }
    if (aplicado) {
        // The server takes the signal asynchronously; the window stays locked and painted meanwhile.
        events::esperar([] { QThread::msleep(1500); });
    }
    guardia.liberar();
    if (aplicado) {
        dialogs().message(this, MsgIcon::Information, textoReglasAplicadas(porPgCtl));
    } else {
        dialogs().message(this, MsgIcon::Critical, textoReglasNoAplicadas(motivo));
    }
}

void FrmPermisosAcceso::BtnSalirForma_Click() {
    close();
}

void FrmPermisosAcceso::ListIP_Click() {
    const QTreeWidgetItem* item = ListIP->currentItem();
    if (item == nullptr) {
        return;
    }
    TxtPermisosIP->setText(item->text(kDireccion));
    TxtPermisosMascara->setText(item->text(kMascara));
    TxtComentario->setText(item->text(kComentario));
}

void FrmPermisosAcceso::ListIP_ColumnClick(int columna) {
    OrdenarListView(ListIP, columna);
}

void FrmPermisosAcceso::TmrDescargar_Timer() {
    TmrDescargar->stop();
    done(QDialog::Rejected);
}

void FrmPermisosAcceso::reject() {
    if (GuardiaVentana::bloqueada(this)) {
        return;
    }
    QDialog::reject();
}

bool FrmPermisosAcceso::eventFilter(QObject* watched, QEvent* event) {
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (box == nullptr) {
        return QDialog::eventFilter(watched, event);
    }
    if (event->type() == QEvent::FocusIn) {
        // After the click that gave the focus has placed the cursor.
        QTimer::singleShot(0, box, [box] {
            if (box->hasFocus()) {
                SeleccionarTexto(box);
            }
        });
    } else if (event->type() == QEvent::KeyPress && box != TxtComentario) {
        auto* k = static_cast<QKeyEvent*>(event);
        const QString t = k->text();
        if (!k->matches(QKeySequence::Paste) && !t.isEmpty() && t.front().isPrint()) {
            const QChar c = t.front();
            const bool valido = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.');
            return !valido; // any other character is swallowed
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace v7
