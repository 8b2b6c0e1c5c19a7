#include "accounts/FrmUsuarios.h"

#include "accounts/cuentas.h"
#include "accounts/grupos.h"
#include "core/controles_ui.h"
#include "core/errores.h"
#include "core/fallos_ui.h"
#include "core/listas_ui.h"
#include "core/session.h"
#include "core/sql.h"
#include "core/tema_ui.h"
#include "platform/construir_ui.h"
#include "platform/dialogs_ui.h"
#include "platform/espera_ui.h"
#include "platform/events.h"
#include "platform/guardia_ui.h"
#include "platform/widgets_ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QStyle>
#include <QTreeWidget>

namespace v7 {

using err::kCrLf;

namespace {

const QString kIndefinida = QStringLiteral("Indefinida");

constexpr int kColumnaVigencia = 1;
constexpr int kColumnaId = 2;

// Marks the library entry of an account whose library the catalogue lacks.
constexpr int kRolBibliotecaAjena = Qt::UserRole + 1;

} // namespace

FrmUsuarios::FrmUsuarios(std::function<void(QWidget*)> mostrarCatalogos, QWidget* parent)
    : QDialog(parent), m_mostrarCatalogos(std::move(mostrarCatalogos)) {
    setObjectName(QStringLiteral("FrmUsuarios"));
    setWindowTitle(QStringLiteral("Administración de Usuarios"));
    setModal(true);
    construir();
    Form_Load();
}

FrmUsuarios::~FrmUsuarios() = default;

void FrmUsuarios::construir() {
    using namespace ui;
    setFixedSize(px(10200), px(8500));

    ImgCabecera = crearImagenCabecera(this);

    PanelCentral = panel(this, QStringLiteral("PanelCentral"), twips(360, 700, 9480, 7500));

    // Actions: the three modes, each an option with its caption beside it.
    PanelSec1 = panel(PanelCentral, QStringLiteral("PanelSec1"), twips(120, 120, 3000, 1800));
    auto opcion = [this](const QString& optName, const QString& etName, const QString& caption, int top,
                         QRadioButton*& opt, QLabel*& et) {
        opt = control<QRadioButton>(PanelSec1, optName, twips(240, top, 300, 300));
        opt->setAccessibleName(caption);
        et = etiqueta(PanelSec1, etName, caption, 580, top, 2200);
        et->installEventFilter(this);
    };
    opcion(QStringLiteral("OptCrearUsuario"), QStringLiteral("EtCrearUsuario"), QStringLiteral("Crear Usuario"), 520,
           OptCrearUsuario, EtCrearUsuario);
    opcion(QStringLiteral("OptModificarUsuario"), QStringLiteral("EtModificarUsuario"),
           QStringLiteral("Modificar Usuario"), 920, OptModificarUsuario, EtModificarUsuario);
    opcion(QStringLiteral("OptEliminarUsuario"), QStringLiteral("EtEliminarUsuario"),
           QStringLiteral("Eliminar Usuario"), 1320, OptEliminarUsuario, EtEliminarUsuario);
    connect(OptCrearUsuario, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            OptCrearUsuario_Click();
        }
    });
    connect(OptModificarUsuario, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            OptModificarUsuario_Click();
        }
    });
    connect(OptEliminarUsuario, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            OptEliminarUsuario_Click();
        }
    });

    // The accounts.
    etiqueta(PanelCentral, QStringLiteral("EtUsuarios"), QStringLiteral("Usuarios:"), 120, 2040, 900);
    EtNoUsuarios = etiqueta(PanelCentral, QStringLiteral("EtNoUsuarios"), QStringLiteral("0"), 1020, 2040, 900);
    ListUsuarios = control<QTreeWidget>(PanelCentral, QStringLiteral("ListUsuarios"), twips(120, 2360, 3000, 4260));
    ListUsuarios->setRootIsDecorated(false);
    ListUsuarios->setUniformRowHeights(true);
    ListUsuarios->setAllColumnsShowFocus(true);
    ListUsuarios->setSelectionMode(QAbstractItemView::SingleSelection);
    ListUsuarios->setColumnCount(3);
    ListUsuarios->header()->setSectionsClickable(true);
    ListUsuarios->header()->setStretchLastSection(false);
    ListUsuarios->installEventFilter(this);
    connect(ListUsuarios, &QTreeWidget::itemClicked, this, [this] { ListUsuarios_Click(); });
    connect(ListUsuarios->header(), &QHeaderView::sectionClicked, this,
            [this](int columna) { OrdenarListView(ListUsuarios, columna); });

    // Picture buttons: their name and tip say what the picture shows.
    auto navegacion = [this](const QString& name, const QString& nombre, QStyle::StandardPixmap icono, int left) {
        MyButton* b = boton(PanelCentral, name, QString(), left, 6720, 720);
        b->setIcon(style()->standardIcon(icono));
        b->setAccessibleName(nombre);
        b->setToolTip(nombre);
        return b;
    };
    BtnPrimero = navegacion(QStringLiteral("BtnPrimero"), QStringLiteral("Primero"), QStyle::SP_MediaSkipBackward, 120);
    BtnAnterior =
        navegacion(QStringLiteral("BtnAnterior"), QStringLiteral("Anterior"), QStyle::SP_MediaSeekBackward, 880);
    BtnSiguiente =
        navegacion(QStringLiteral("BtnSiguiente"), QStringLiteral("Siguiente"), QStyle::SP_MediaSeekForward, 1640);
    BtnFinal = navegacion(QStringLiteral("BtnFinal"), QStringLiteral("Último"), QStyle::SP_MediaSkipForward, 2400);
    connect(BtnPrimero, &QPushButton::clicked, this, [this] { BtnPrimero_Click(); });
    connect(BtnAnterior, &QPushButton::clicked, this, [this] { BtnAnterior_Click(); });
    connect(BtnSiguiente, &QPushButton::clicked, this, [this] { BtnSiguiente_Click(); });
    connect(BtnFinal, &QPushButton::clicked, this, [this] { BtnFinal_Click(); });

    // The account's general data.
    PanelSec2 = panel(PanelCentral, QStringLiteral("PanelSec2"), twips(3240, 120, 6120, 3560));
    // The captions are wide enough for their whole text, colon included.
    constexpr int kEtiqueta = 240, kCampo = 2280, kAncho = 3600;
    auto fila = [this](const QString& name, const QString& caption, int top) {
        etiqueta(PanelSec2, name, caption, kEtiqueta, top + 30, kCampo - kEtiqueta - 40);
    };
    fila(QStringLiteral("EtLogin"), QStringLiteral("Nombre de Usuario:"), 500);
    TxtLogin = caja(PanelSec2, QStringLiteral("TxtLogin"), kCampo, 500, kAncho);
    fila(QStringLiteral("EtContrasena"), QStringLiteral("Contraseña:"), 900);
    TxtContrasena = caja(PanelSec2, QStringLiteral("TxtContraseña"), kCampo, 900, kAncho);
    fila(QStringLiteral("EtConfirmar"), QStringLiteral("Confirmar:"), 1300);
    TxtConfirmar = caja(PanelSec2, QStringLiteral("TxtConfirmar"), kCampo, 1300, kAncho);
    fila(QStringLiteral("EtNombre"), QStringLiteral("Nombre Completo:"), 1700);
    TxtNombre = caja(PanelSec2, QStringLiteral("TxtNombre"), kCampo, 1700, kAncho);
    fila(QStringLiteral("EtGrupo"), QStringLiteral("Grupo:"), 2100);
    CmbGrupo = control<QComboBox>(PanelSec2, QStringLiteral("CmbGrupo"), twips(kCampo, 2100, kAncho, 330));
    fila(QStringLiteral("EtBiblioteca"), QStringLiteral("Biblioteca:"), 2500);
    CmbBibliotecas =
        control<QComboBox>(PanelSec2, QStringLiteral("CmbBibliotecas"), twips(kCampo, 2500, kAncho - 480, 330));
    BtnBibliotecas =
        boton(PanelSec2, QStringLiteral("BtnBibliotecas"), QString(), kCampo + kAncho - 420, 2480, 420, 370);
    BtnBibliotecas->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    BtnBibliotecas->setAccessibleName(QStringLiteral("Bibliotecas"));
    BtnBibliotecas->setToolTip(QStringLiteral("Bibliotecas"));
    fila(QStringLiteral("EtVigencia"), QStringLiteral("Vigencia:"), 2900);
    DtpVigencia = control<QDateEdit>(PanelSec2, QStringLiteral("DtpVigencia"), twips(kCampo, 2900, 1900, 330));
    DtpVigencia->setCalendarPopup(true);
    // A fixed form, whatever the system's locale.
    DtpVigencia->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    ChkIndefinido =
        control<QCheckBox>(PanelSec2, QStringLiteral("ChkIndefinido"), twips(kCampo + 2020, 2930, 300, 300));
    ChkIndefinido->setAccessibleName(QStringLiteral("Indefinido"));
    EtIndefinido =
        etiqueta(PanelSec2, QStringLiteral("EtIndefinido"), QStringLiteral("Indefinido"), kCampo + 2340, 2930, 1400);
    enlazarEtiqueta(EtIndefinido, ChkIndefinido);
    connect(ChkIndefinido, &QCheckBox::toggled, this, [this] { ChkIndefinido_Click(); });

    TxtLogin->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[A-Za-z0-9_]*")), TxtLogin));
    TxtContrasena->setEchoMode(QLineEdit::Password);
    TxtConfirmar->setEchoMode(QLineEdit::Password);
    for (QLineEdit* t : {TxtLogin, TxtContrasena, TxtConfirmar, TxtNombre}) {
        t->installEventFilter(this);
    }
    connect(CmbGrupo, &QComboBox::activated, this, [this] { CmbGrupo_Click(true); });
    connect(BtnBibliotecas, &QPushButton::clicked, this, [this] { BtnBibliotecas_Click(); });

    // The modules, two columns of three.
    PanelSec3 = panel(PanelCentral, QStringLiteral("PanelSec3"), twips(3240, 3800, 6120, 1800));
    auto modulo = [this](const QString& chkName, const QString& etName, const QString& caption, int left, int top,
                         QCheckBox*& chk, QLabel*& et) {
        chk = control<QCheckBox>(PanelSec3, chkName, twips(left, top, 300, 300));
        chk->setAccessibleName(caption);
        // The second column reaches the panel's edge.
        et = etiqueta(PanelSec3, etName, caption, left + 320, top, left < 2000 ? 2250 : 6100 - left - 320);
        enlazarEtiqueta(et, chk);
    };
    modulo(QStringLiteral("ChkAdqui"), QStringLiteral("EtAdqui"), QStringLiteral("Adquisiciones (Compras)"), 240, 520,
           ChkAdqui, EtAdqui);
    modulo(QStringLiteral("ChkPrestamo"), QStringLiteral("EtPrestamo"), QStringLiteral("Préstamo (Circulación)"), 240,
           920, ChkPrestamo, EtPrestamo);
    modulo(QStringLiteral("ChkConsulta"), QStringLiteral("EtConsulta"), QStringLiteral("Consultas"), 240, 1320,
           ChkConsulta, EtConsulta);
    modulo(QStringLiteral("ChkInventario"), QStringLiteral("EtInventario"), QStringLiteral("Inventario"), 2850, 520,
           ChkInventario, EtInventario);
    modulo(QStringLiteral("ChkAnalisis"), QStringLiteral("EtAnalisis"),
           QStringLiteral("Análisis (Procesamiento de inf.)"), 2850, 920, ChkAnalisis, EtAnalisis);
    modulo(QStringLiteral("ChkServicios"), QStringLiteral("EtServicios"), QStringLiteral("Servicios Bibliotecarios"),
           2850, 1320, ChkServicios, EtServicios);

    BtnUsuariosAceptar =
        boton(PanelCentral, QStringLiteral("BtnUsuariosAceptar"), QStringLiteral("&Aceptar"), 3240, 5880, 1800);
    BtnCancelar = boton(PanelCentral, QStringLiteral("BtnCancelar"), QStringLiteral("&Cancelar"), 5400, 5880, 1800);
    BtnSalir = boton(PanelCentral, QStringLiteral("BtnSalir"), QStringLiteral("&Salir"), 7560, 5880, 1800);
    connect(BtnUsuariosAceptar, &QPushButton::clicked, this, [this] { BtnUsuariosAceptar_Click(); });
    connect(BtnCancelar, &QPushButton::clicked, this, [this] { BtnCancelar_Click(); });
    connect(BtnSalir, &QPushButton::clicked, this, [this] { BtnSalir_Click(); });

    // Enter in the login and password boxes moves along this order.
    setTabOrder(TxtLogin, TxtContrasena);
    setTabOrder(TxtContrasena, TxtConfirmar);
    setTabOrder(TxtConfirmar, TxtNombre);
    setTabOrder(TxtNombre, CmbGrupo);
    setTabOrder(CmbGrupo, CmbBibliotecas);
    setTabOrder(CmbBibliotecas, BtnBibliotecas);
    setTabOrder(BtnBibliotecas, DtpVigencia);
    setTabOrder(DtpVigencia, ChkIndefinido);
    setTabOrder(ChkIndefinido, ChkAdqui);
    setTabOrder(ChkAdqui, ChkPrestamo);
    setTabOrder(ChkPrestamo, ChkConsulta);
    setTabOrder(ChkConsulta, ChkInventario);
    setTabOrder(ChkInventario, ChkAnalisis);
    setTabOrder(ChkAnalisis, ChkServicios);
    setTabOrder(ChkServicios, BtnUsuariosAceptar);
    setTabOrder(BtnUsuariosAceptar, BtnCancelar);
    setTabOrder(BtnCancelar, BtnSalir);
}

void FrmUsuarios::Form_Load() {
    AplicarEstiloPanel(PanelCentral);
    AplicarEstiloPanelEncabezado(PanelSec1, QStringLiteral("Acciones"), false, false);
    AplicarEstiloPanelEncabezado(PanelSec2, QStringLiteral("Datos generales del usuario"), false, false);
    AplicarEstiloPanelEncabezado(PanelSec3, QStringLiteral("Módulos"), false, false);
    AplicarEstiloBotones(this);
    ajustarImagenCabecera(ImgCabecera, this);
    aplicarColorFondo(this);
    ListUsuarios->setHeaderLabels({QStringLiteral("Usuarios"), QStringLiteral("Vigencia"), QStringLiteral("id")});
    ListUsuarios->setColumnWidth(0, ui::px(1390));
    ListUsuarios->setColumnWidth(kColumnaVigencia, ui::px(1300));
    ListUsuarios->setColumnHidden(kColumnaId, true);
    // The window opens in the view state.
    DeshabilitarControlesUsuario();
}

void FrmUsuarios::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Every showing (not a restore from the task bar) comes up once the window is on screen, so the
    // bootstrap's boxes have a window to stand on. Qt's activation event also follows every message
    // box, so it is not used.
    if (!event->spontaneous()) {
        // Busy from now on, so nothing takes the window for ready before it has come up.
        if (!m_apertura) {
            m_apertura = std::make_unique<events::OperacionLarga>();
        }
        QMetaObject::invokeMethod(
            this,
            [this] {
                Form_Activate();
                m_apertura.reset();
            },
            Qt::QueuedConnection);
    }
}

void FrmUsuarios::error(const QString& texto) {
    dialogs().message(this, MsgIcon::Critical, texto);
}

// ---------------------------------------------------------------- coming up

void FrmUsuarios::Form_Activate() {
    if (m_activando || !isVisible()) {
        return;
    }
    m_activando = true;
    m_detener = false;
    const bool enEdicion = OptCrearUsuario->isChecked() || OptModificarUsuario->isChecked();
    // The picker's default: this day of the month, in December. Not over what a form being edited
    // holds (coming back from the libraries editor).
    if (!enEdicion) {
        const QDate hoy = QDate::currentDate();
        DtpVigencia->setDate(QDate(hoy.year(), 12, hoy.day()));
    }
    QWidget* modos[] = {OptCrearUsuario,    EtCrearUsuario,     OptModificarUsuario,
                        EtModificarUsuario, OptEliminarUsuario, EtEliminarUsuario};
    for (QWidget* w : modos) {
        w->setEnabled(false);
    }
    ListUsuarios->setEnabled(false);
    // On a thread of its own, so the window repaints and answers meanwhile (a close is refused while
    // groups are being set up); its boxes follow in their order once it is done.
    QStringList avisos;
    conPlazos(kPlazosInteractivos, [&] {
        InicializarGrupos({[&avisos](const QString& m) { avisos << m; }, [this] { m_permisosEnProceso = true; },
                           [this] { return m_detener.load(); }});
    });
    if (!m_detener) {
        for (const QString& aviso : avisos) {
            error(aviso);
        }
    }
    if (!m_detener) {
        rsUsuarios.reset();
        m_tipoCuentas = sesion().TipoUsuario;
        m_veCuentas = claseVeCuentas(m_tipoCuentas);
        LlenarListaUsuarios();
        LlenarGrupos(QStringLiteral("Combo"));
        LlenarBibliotecas();
        if (ListUsuarios->topLevelItemCount() > 0) {
            ListUsuarios_Click();
        }
    }
    for (QWidget* w : modos) {
        w->setEnabled(true);
    }
    ListUsuarios->setEnabled(true);
    m_permisosEnProceso = false;
    m_activando = false;
    ++m_activaciones;
    if (m_cerrarPendiente) {
        m_cerrarPendiente = false;
        Form_Unload();
        QDialog::reject();
    }
}

void FrmUsuarios::LlenarListaUsuarios() {
    CursorEspera cursor;
    cursor.poner(true);
    const QString idPrevio =
        ListUsuarios->currentItem() != nullptr ? ListUsuarios->currentItem()->text(kColumnaId) : QString();
    ListUsuarios->clear();
    rsUsuarios.reset();
    if (m_veCuentas) {
        auto cuentas = conPlazos(kPlazosInteractivos, [&] { return leerCuentas(m_tipoCuentas); });
        if (!cuentas.ok()) {
            error(
                err::textoParaUsuario(QStringLiteral("No se logró consultar las cuentas de usuario."), cuentas.error));
        }
        rsUsuarios = std::move(cuentas.rs);
    }
    QTreeWidgetItem* elegido = nullptr;
    for (int n = 1; rsUsuarios && !rsUsuarios->eof(); rsUsuarios->moveNext(), ++n) {
        auto* item = new QTreeWidgetItem(ListUsuarios);
        item->setText(0, rsUsuarios->text(QStringLiteral("usename")));
        item->setText(kColumnaVigencia, textoVigencia(rsUsuarios->value(QStringLiteral("valuntil"))));
        item->setText(kColumnaId, rsUsuarios->text(QStringLiteral("idanalista")));
        if (elegido == nullptr && !idPrevio.isEmpty() && item->text(kColumnaId) == idPrevio) {
            elegido = item;
        }
    }
    if (rsUsuarios) {
        rsUsuarios->moveFirst();
    }
    // A sorted list sorts itself again by its key and order.
    if (ListUsuarios->header()->isSortIndicatorShown()) {
        ListUsuarios->sortItems(ListUsuarios->header()->sortIndicatorSection(),
                                ListUsuarios->header()->sortIndicatorOrder());
    }
    if (elegido == nullptr && ListUsuarios->topLevelItemCount() > 0) {
        elegido = ListUsuarios->topLevelItem(0);
    }
    if (elegido != nullptr) {
        ListUsuarios->setCurrentItem(elegido);
    }
    EtNoUsuarios->setText(QString::number(ListUsuarios->topLevelItemCount()));
}

void FrmUsuarios::LlenarGrupos(const QString& tipo) {
    CursorEspera cursor;
    cursor.poner(true);
    auto grupos = conPlazos(kPlazosInteractivos, [] { return leerGrupos(); });
    rsGrupos = std::move(grupos.rs);
    if (!rsGrupos) {
        error(err::textoParaUsuario(QStringLiteral("No se logró consultar los grupos de usuarios."), grupos.error));
    }
    if (tipo != QLatin1String("Combo")) {
        return;
    }
    // A refill keeps the group chosen in a form being edited.
    const QVariant previo = CmbGrupo->currentData();
    CmbGrupo->clear();
    const bool superusuario = sesion().TipoUsuario.toLower() == QLatin1String("superusuario");
    for (; rsGrupos && !rsGrupos->eof(); rsGrupos->moveNext()) {
        const QString g = rsGrupos->text(0);
        if (g == QLatin1String("v7_super") && superusuario) {
            CmbGrupo->addItem(QStringLiteral("Superusuario"), 1);
        } else if (g == QLatin1String("v7_admin")) {
            CmbGrupo->addItem(QStringLiteral("Administrador"), 2);
        } else if (g == QLatin1String("v7_usuario1")) {
            CmbGrupo->addItem(QStringLiteral("Usuario-Nivel1"), 3);
        } else if (g == QLatin1String("v7_usuario2")) {
            CmbGrupo->addItem(QStringLiteral("Usuario-Nivel2"), 4);
        }
    }
    if (CmbGrupo->count() > 0) {
        const int i = previo.isValid() ? CmbGrupo->findData(previo) : -1;
        if (i >= 0) {
            CmbGrupo->setCurrentIndex(i);
        } else {
            CmbGrupo->setCurrentIndex(0);
            CmbGrupo_Click(false);
        }
    }
}

void FrmUsuarios::LlenarBibliotecas() {
    auto bibliotecas = conPlazos(kPlazosInteractivos, [] { return leerBibliotecas(); });
    rsBibliotecas = std::move(bibliotecas.rs);
    if (!rsBibliotecas) {
        error(err::textoParaUsuario(QStringLiteral("No se logró consultar las bibliotecas."), bibliotecas.error));
    }
    const QVariant previo = CmbBibliotecas->currentData();
    CmbBibliotecas->clear();
    if (!rsBibliotecas || rsBibliotecas->eof()) {
        CmbBibliotecas->addItem(QStringLiteral("No existen registros..."), qint64(0));
    } else {
        for (; !rsBibliotecas->eof(); rsBibliotecas->moveNext()) {
            CmbBibliotecas->addItem(rsBibliotecas->text(QStringLiteral("nombre")),
                                    rsBibliotecas->text(QStringLiteral("idbiblioteca")).toLongLong());
        }
        // The column's default: an account of no library.
        CmbBibliotecas->addItem(QStringLiteral("[Sin definir]"), qint64(0));
    }
    // A form being edited keeps its library, also one the catalogue no longer lists.
    if (previo.isValid()) {
        elegirBiblioteca(previo.toLongLong());
    } else {
        CmbBibliotecas->setCurrentIndex(0);
    }
}

void FrmUsuarios::quitarBibliotecaAjena() {
    for (int i = CmbBibliotecas->count() - 1; i >= 0; --i) {
        if (CmbBibliotecas->itemData(i, kRolBibliotecaAjena).toBool()) {
            CmbBibliotecas->removeItem(i);
        }
    }
}

void FrmUsuarios::elegirBiblioteca(const std::optional<qint64>& id) {
    quitarBibliotecaAjena();
    if (!id) {
        CmbBibliotecas->setCurrentIndex(CmbBibliotecas->count() - 1);
        return;
    }
    int i = CmbBibliotecas->findData(*id);
    if (i < 0) {
        // Never another library in its place: a change of the account would write that one.
        CmbBibliotecas->addItem(QStringLiteral("Biblioteca %1 (no está en el catálogo)").arg(*id), *id);
        i = CmbBibliotecas->count() - 1;
        CmbBibliotecas->setItemData(i, true, kRolBibliotecaAjena);
    }
    CmbBibliotecas->setCurrentIndex(i);
}

// ---------------------------------------------------------------- the record and the modes

void FrmUsuarios::ListUsuarios_Click() {
    if (OptCrearUsuario->isChecked() || OptModificarUsuario->isChecked()) {
        return;
    }
    mostrarRegistro();
}

void FrmUsuarios::mostrarRegistro() {
    if (ListUsuarios->topLevelItemCount() == 0 || !rsUsuarios) {
        return;
    }
    QTreeWidgetItem* item = ListUsuarios->currentItem();
    if (item == nullptr) {
        item = ListUsuarios->topLevelItem(0);
        ListUsuarios->setCurrentItem(item);
    }
    rsUsuarios->setFilter(QStringLiteral("idanalista"), item->text(kColumnaId));
    if (rsUsuarios->eof()) {
        // The list and the accounts disagree: show nothing rather than another account's data.
        rsUsuarios->clearFilter();
        for (QLineEdit* t : {TxtLogin, TxtContrasena, TxtConfirmar, TxtNombre}) {
            t->clear();
        }
        ponerModulos(ModulosAnalista{});
        return;
    }
    TxtLogin->setText(rsUsuarios->text(QStringLiteral("usename")));
    TxtContrasena->setText(rsUsuarios->text(QStringLiteral("passwd")));
    TxtConfirmar->setText(rsUsuarios->text(QStringLiteral("passwd")));
    TxtNombre->setText(rsUsuarios->text(QStringLiteral("nombre")));
    ponerModulos(LeerModulos(rsUsuarios->text(QStringLiteral("clave"))));
    const auto valuntil = rsUsuarios->value(QStringLiteral("valuntil"));
    if (const auto fecha = fechaVigencia(valuntil)) {
        DtpVigencia->setDate(fecha->date());
    }
    if (CmbGrupo->count() == 0 && !m_activando) {
        GuardiaVentana guardia(this);
        LlenarGrupos(QStringLiteral("Combo"));
    }
    const QString grupo = rsUsuarios->text(QStringLiteral("groname"));
    int g = -1;
    for (int i = 0; i < CmbGrupo->count(); ++i) {
        if (NombreGrupo(CmbGrupo->itemData(i).toInt()) == grupo) {
            g = i;
            break;
        }
    }
    CmbGrupo->setCurrentIndex(g);
    // A library the catalogue lacks is shown as such (and kept by a change); none, the last entry.
    const auto biblioteca = rsUsuarios->value(QStringLiteral("idbiblioteca"));
    bool numero = false;
    const qint64 id = biblioteca ? biblioteca->toLongLong(&numero) : 0;
    elegirBiblioteca(numero ? std::optional<qint64>(id) : std::nullopt);
    // The account's own validity, so that a change that does not touch it keeps it.
    ChkIndefinido->setChecked(vigenciaIndefinida(valuntil));
    rsUsuarios->clearFilter();
}

void FrmUsuarios::ponerModulos(const ModulosAnalista& m) {
    QCheckBox* cajas[] = {ChkAdqui, ChkPrestamo, ChkConsulta, ChkInventario, ChkAnalisis, ChkServicios};
    for (int i = 0; i < kModulosAnalista; ++i) {
        cajas[i]->setChecked(m[i]);
    }
}

ModulosAnalista FrmUsuarios::modulos() const {
    return {ChkAdqui->isChecked(),      ChkPrestamo->isChecked(), ChkConsulta->isChecked(),
            ChkInventario->isChecked(), ChkAnalisis->isChecked(), ChkServicios->isChecked()};
}

void FrmUsuarios::OptCrearUsuario_Click() {
    HabilitarControlesUsuario();
    // A new account is not given a library the catalogue lacks.
    if (CmbBibliotecas->currentData(kRolBibliotecaAjena).toBool()) {
        quitarBibliotecaAjena();
        CmbBibliotecas->setCurrentIndex(CmbBibliotecas->count() - 1);
    }
    for (QLineEdit* t : {TxtNombre, TxtLogin, TxtContrasena, TxtConfirmar}) {
        t->clear();
    }
    if (CmbGrupo->count() > 0) {
        CmbGrupo->setCurrentIndex(0);
        CmbGrupo_Click(false);
    }
    ponerModulos(ModulosAnalista{});
    BtnUsuariosAceptar->setEnabled(true);
    TxtNombre->setFocus();
}

void FrmUsuarios::OptModificarUsuario_Click() {
    // The selected account, not what a create form was holding.
    mostrarRegistro();
    QTreeWidgetItem* item = ListUsuarios->currentItem();
    UsuarioAnterior = TxtLogin->text();
    ClaveAnterior = TxtContrasena->text();
    GrupoAnterior = CmbGrupo->currentData().toInt();
    m_idAnterior = item != nullptr ? item->text(kColumnaId) : QString();
    BtnUsuariosAceptar->setEnabled(true);
    HabilitarControlesUsuario();
    if (item != nullptr && item->text(kColumnaVigencia).toUpper() == kIndefinida.toUpper()) {
        ChkIndefinido->setChecked(true);
    }
    ChkIndefinido_Click();
}

void FrmUsuarios::OptEliminarUsuario_Click() {
    DeshabilitarControlesUsuario();
    ListUsuarios_Click();
    BtnUsuariosAceptar->setEnabled(true);
    BtnCancelar->setEnabled(true);
}

void FrmUsuarios::CmbGrupo_Click(bool eleccionUsuario) {
    const int posicion = CmbGrupo->currentIndex();
    if (OptCrearUsuario->isChecked()) {
        ModulosAnalista m;
        m.fill(posicion == 0);
        ponerModulos(m);
    }
    // The second group means no expiry, in any mode, when the administrator chooses it; the window's own
    // selections (showing an account) leave the account's expiry as it is.
    if (eleccionUsuario && posicion == 1) {
        ChkIndefinido->setChecked(true);
    }
}

void FrmUsuarios::ChkIndefinido_Click() {
    DtpVigencia->setEnabled(ChkIndefinido->isEnabled() && !ChkIndefinido->isChecked());
}

void FrmUsuarios::ponerControlesUsuario(bool habilitados) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             TxtLogin,      TxtContrasena, TxtConfirmar,   CmbGrupo,       DtpVigencia,        ChkIndefinido,
             EtIndefinido,  TxtNombre,     CmbBibliotecas, BtnBibliotecas, BtnUsuariosAceptar, BtnCancelar,
             ChkAdqui,      EtAdqui,       ChkPrestamo,    EtPrestamo,     ChkConsulta,        EtConsulta,
             ChkInventario, EtInventario,  ChkAnalisis,    EtAnalisis,     ChkServicios,       EtServicios}) {
        w->setEnabled(habilitados);
    }
}

void FrmUsuarios::HabilitarControlesUsuario() {
    ponerControlesUsuario(true);
    ChkIndefinido_Click();
}

void FrmUsuarios::DeshabilitarControlesUsuario() {
    ponerControlesUsuario(false);
}

void FrmUsuarios::limpiarOpcion(QRadioButton* opcion) {
    // Exclusive options cannot be cleared one by one.
    opcion->setAutoExclusive(false);
    opcion->setChecked(false);
    opcion->setAutoExclusive(true);
}

// ---------------------------------------------------------------- list and buttons

void FrmUsuarios::seleccionarFila(int indice) {
    const int n = ListUsuarios->topLevelItemCount();
    if (n == 0 || m_activando) {
        return;
    }
    ListUsuarios->setCurrentItem(ListUsuarios->topLevelItem(qBound(0, indice, n - 1)));
    ListUsuarios->setFocus();
    ListUsuarios_Click();
}

void FrmUsuarios::BtnPrimero_Click() {
    seleccionarFila(0);
}

void FrmUsuarios::BtnAnterior_Click() {
    seleccionarFila(ListUsuarios->indexOfTopLevelItem(ListUsuarios->currentItem()) - 1);
}

void FrmUsuarios::BtnSiguiente_Click() {
    const int actual = ListUsuarios->indexOfTopLevelItem(ListUsuarios->currentItem());
    seleccionarFila(actual < 0 ? 0 : actual + 1);
}

void FrmUsuarios::BtnFinal_Click() {
    seleccionarFila(ListUsuarios->topLevelItemCount() - 1);
}

void FrmUsuarios::BtnCancelar_Click() {
    for (QRadioButton* o : {OptCrearUsuario, OptModificarUsuario, OptEliminarUsuario}) {
        if (o->isChecked()) {
            limpiarOpcion(o);
            DeshabilitarControlesUsuario();
        }
    }
    if (ChkIndefinido->isChecked()) {
        ChkIndefinido->setChecked(false);
    }
    if (ListUsuarios->topLevelItemCount() > 0) {
        ListUsuarios_Click();
    }
}

void FrmUsuarios::BtnSalir_Click() {
    close();
}

void FrmUsuarios::BtnBibliotecas_Click() {
    if (m_activando || !m_mostrarCatalogos || GuardiaVentana::bloqueada(this)) {
        return;
    }
    m_mostrarCatalogos(this);
    // A library added there is offered at once.
    Form_Activate();
}

void FrmUsuarios::reject() {
    if (GuardiaVentana::bloqueada(this)) {
        return;
    }
    if (m_permisosEnProceso) {
        dialogs().message(this, MsgIcon::Warning,
                          QStringLiteral("Espere un momento por favor, en estos momentos se estan") + kCrLf +
                              QStringLiteral("inicializando los permisos de acceso al servidor de base") + kCrLf +
                              QStringLiteral("de datos."));
        return;
    }
    // A run that is only granting sequences stops at its next statement; the window closes once it has.
    if (m_activando) {
        m_detener = true;
        m_cerrarPendiente = true;
        return;
    }
    Form_Unload();
    QDialog::reject();
}

void FrmUsuarios::Form_Unload() {
    for (auto* rs : {&rsUsuarios, &rsGrupos, &rsBibliotecas}) {
        if (*rs) {
            (*rs)->clearFilter();
            (*rs)->close();
            rs->reset();
        }
    }
}

bool FrmUsuarios::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type t = event->type();
    if (t == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w == nullptr || !w->isEnabled()) {
            return QDialog::eventFilter(watched, event);
        }
        // A mode's caption enters it, then selects its option.
        const std::pair<QLabel*, QRadioButton*> modos[] = {{EtCrearUsuario, OptCrearUsuario},
                                                           {EtModificarUsuario, OptModificarUsuario},
                                                           {EtEliminarUsuario, OptEliminarUsuario}};
        for (const auto& [et, opt] : modos) {
            if (watched == et) {
                if (opt == OptCrearUsuario) {
                    OptCrearUsuario_Click();
                } else if (opt == OptModificarUsuario) {
                    OptModificarUsuario_Click();
                } else {
                    OptEliminarUsuario_Click();
                }
                opt->setChecked(true);
                return true;
            }
        }
    } else if (t == QEvent::FocusIn) {
        if (auto* box = qobject_cast<QLineEdit*>(watched); box != nullptr && box->isEnabled()) {
            SeleccionarTexto(box);
        }
    } else if (t == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(event);
        const bool clave = watched == TxtContrasena || watched == TxtConfirmar;
        if ((watched == TxtLogin || clave) && (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter)) {
            focusNextChild();
            return true;
        }
        if (clave && (k->text() == QLatin1String("{") || k->text() == QLatin1String("}"))) {
            QApplication::beep();
            dialogs().message(this, MsgIcon::Critical, QStringLiteral("Caracter no válido, favor de ingresar otro"));
            return true;
        }
    } else if (t == QEvent::KeyRelease && watched == ListUsuarios) {
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->key() == Qt::Key_Up || k->key() == Qt::Key_Down) {
            if (QTreeWidgetItem* item = ListUsuarios->currentItem()) {
                ListUsuarios->setCurrentItem(item);
            }
            ListUsuarios_Click();
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------- accept

bool FrmUsuarios::validarFormulario() {
    const bool crear = OptCrearUsuario->isChecked();
    const bool modificar = OptModificarUsuario->isChecked();
    // A name typed now, however it got into the box (a paste passes no key filter); a login made by other
    // tools keeps its name when a change leaves it alone.
    if (crear || (modificar && TxtLogin->text() != UsuarioAnterior)) {
        const QString motivo = motivoLoginRechazado(TxtLogin->text());
        if (!motivo.isEmpty()) {
            error(motivo);
            if (TxtLogin->isEnabled()) {
                SeleccionarTexto(TxtLogin);
            }
            return false;
        }
    }
    if (TxtContrasena->text().isEmpty()) {
        error(QStringLiteral("Es necesario proporcionar una contraseña"));
        TxtContrasena->setCursorPosition(0);
        if (TxtContrasena->isEnabled()) {
            TxtContrasena->setFocus();
        }
        return false;
    }
    if (TxtContrasena->text() != TxtConfirmar->text()) {
        error(QStringLiteral("Por favor, verifique que las contraseñas sean iguales"));
        TxtConfirmar->selectAll();
        if (TxtConfirmar->isEnabled()) {
            TxtConfirmar->setFocus();
        }
        return false;
    }
    // A password typed now (not the mask an account shows) must fit the staff row's stored form.
    if (crear || (modificar && TxtContrasena->text() != ClaveAnterior)) {
        const QString motivo = motivoContrasenaRechazada(TxtContrasena->text());
        if (!motivo.isEmpty()) {
            error(motivo);
            if (TxtContrasena->isEnabled()) {
                SeleccionarTexto(TxtContrasena);
            }
            return false;
        }
    }
    if (CmbGrupo->currentIndex() < 0) {
        error(QStringLiteral("Por favor, seleccione un grupo de la lista"));
        if (CmbGrupo->isEnabled()) {
            CmbGrupo->setFocus();
        }
        return false;
    }
    if ((crear || modificar) && modulos() == ModulosAnalista{}) {
        error(QStringLiteral("Seleccione almenos un módulo para continuar"));
        ChkAdqui->setFocus();
        return false;
    }
    return true;
}

void FrmUsuarios::BtnUsuariosAceptar_Click() {
    // Not while the window is coming up (the lists are being refilled) or an action runs.
    if (m_activando || GuardiaVentana::bloqueada(this)) {
        return;
    }
    const bool modo =
        OptCrearUsuario->isChecked() || OptModificarUsuario->isChecked() || OptEliminarUsuario->isChecked();
    if (!modo || !validarFormulario()) {
        return;
    }
    if (OptCrearUsuario->isChecked()) {
        aceptarCrear();
    } else if (OptModificarUsuario->isChecked()) {
        aceptarModificar();
    } else {
        aceptarEliminar();
    }
}

namespace {

DatosCuenta leerFormulario(const QLineEdit* login, const QLineEdit* contrasena, const QLineEdit* nombre,
                           const QComboBox* grupo, const QComboBox* biblioteca, const QCheckBox* indefinido,
                           const QDateEdit* vigencia, const ModulosAnalista& modulos) {
    DatosCuenta d;
    d.login = login->text();
    d.contrasena = contrasena->text();
    d.nombre = nombre->text();
    d.grupo = grupo->currentData().toInt();
    d.modulos = modulos;
    d.indefinida = indefinido->isChecked();
    d.vigencia = vigencia->date();
    d.idBiblioteca = biblioteca->currentData().toLongLong();
    return d;
}

} // namespace

// Each action runs off the window's thread within the interactive limits, with the window locked; a limit
// that runs out ends the action with its message and nothing of it done (its transaction rolls back). The
// list is read again before the window is given back.

void FrmUsuarios::aceptarCrear() {
    const DatosCuenta d = leerFormulario(TxtLogin, TxtContrasena, TxtNombre, CmbGrupo, CmbBibliotecas, ChkIndefinido,
                                         DtpVigencia, modulos());
    const QString caption = CmbGrupo->currentText();
    ResultadoCuenta r;
    {
        GuardiaVentana guardia(this);
        r = conPlazos(kPlazosInteractivos, [&] { return CrearCuenta(d, caption); });
        if (r.ok()) {
            LlenarListaUsuarios();
        }
    }
    dialogs().message(this, iconoDe(r.gravedad), r.mensaje);
    switch (r.paso) {
    case PasoCuenta::LoginEnUso:
        SeleccionarTexto(TxtLogin);
        return;
    case PasoCuenta::ErrorGeneral:
        return;
    default:
        break;
    }
    limpiarOpcion(OptCrearUsuario);
    finAceptar();
}

void FrmUsuarios::aceptarModificar() {
    const DatosCuenta d = leerFormulario(TxtLogin, TxtContrasena, TxtNombre, CmbGrupo, CmbBibliotecas, ChkIndefinido,
                                         DtpVigencia, modulos());
    const CuentaAnterior antes{UsuarioAnterior, m_idAnterior, GrupoAnterior, TxtContrasena->text() != ClaveAnterior};
    ResultadoCuenta r;
    bool sigue = false;
    {
        GuardiaVentana guardia(this);
        r = conPlazos(kPlazosInteractivos, [&] { return ModificarCuenta(d, antes); });
        sigue = r.paso != PasoCuenta::RenombreSinContrasena && r.paso != PasoCuenta::RenombreRehusado &&
                r.paso != PasoCuenta::RenombreFallo && r.paso != PasoCuenta::ErrorGeneral;
        // The list first, so the box below stands over the account as it is now.
        if (sigue) {
            LlenarListaUsuarios();
        }
    }
    dialogs().message(this, iconoDe(r.gravedad), r.mensaje);
    switch (r.paso) {
    case PasoCuenta::RenombreSinContrasena:
        SeleccionarTexto(TxtContrasena);
        return;
    case PasoCuenta::RenombreRehusado:
        limpiarOpcion(OptModificarUsuario);
        DeshabilitarControlesUsuario();
        return;
    default:
        break;
    }
    if (!sigue) {
        return;
    }
    UsuarioAnterior.clear();
    ClaveAnterior.clear();
    GrupoAnterior = 0;
    m_idAnterior.clear();
    limpiarOpcion(OptModificarUsuario);
    finAceptar();
}

void FrmUsuarios::aceptarEliminar() {
    const QString pregunta =
        QStringLiteral("Esta a punto de eliminar completamente a este usuario de la base de datos.") + kCrLf +
        QString(35, QLatin1Char(' ')) + QStringLiteral("¿ Desea continuar ?");
    // Enter answers No: a removed account cannot be brought back.
    if (dialogs().message(this, MsgIcon::Question, pregunta, MsgButtons::YesNo, QString(), MsgResult::No) ==
        MsgResult::Yes) {
        QTreeWidgetItem* item = ListUsuarios->currentItem();
        const QString login = item != nullptr ? item->text(0) : TxtLogin->text();
        const QString usuarioSesion = sesion().UsuarioBD;
        ResultadoCuenta r;
        {
            GuardiaVentana guardia(this);
            r = conPlazos(kPlazosInteractivos, [&] { return EliminarCuenta(login, usuarioSesion); });
            if (r.ok()) {
                LlenarListaUsuarios();
            }
        }
        dialogs().message(this, iconoDe(r.gravedad), r.mensaje);
    }
    limpiarOpcion(OptEliminarUsuario);
    finAceptar();
}

void FrmUsuarios::finAceptar() {
    if (ChkIndefinido->isChecked()) {
        ChkIndefinido->setChecked(false);
    }
    DeshabilitarControlesUsuario();
    if (ListUsuarios->topLevelItemCount() > 0) {
        ListUsuarios_Click();
    }
}

} // namespace v7
