#include "catalogues/FrmCatalogos.h"

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
#include "platform/widgets_ui.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScrollBar>
#include <QTabBar>
#include <QTimer>
#include <QTreeWidget>

#include <limits>

namespace v7 {

using err::kCrLf;
using ui::px;

namespace {

const QString kTituloError = QStringLiteral("VELIRO7 - ERROR");

// Edit rows, in twips: the text box's height, the label's and the box's left edges.
constexpr int kAltoFila = 285;
constexpr int kIzqEtiqueta = 60;
constexpr int kAnchoEtiqueta = 1440;
constexpr int kIzqCaja = 1560;
constexpr int kAnchoFecha = 1800;
constexpr int kAnchoExaminar = 500;
constexpr int kAltoCampos = 2480; // the field area
constexpr int kColorRequerido = 8388608;

// The date a picker shows as empty: a NULL date.
const QDate kSinFecha(100, 1, 1);

// "No current item": the number the system's boxes give an action without a selected record.
constexpr int kSinSeleccion = 91;

// Where a list item keeps its record's key: the row's own value, whatever the cell shows. (Qt::UserRole is
// the list sort's own tag.)
constexpr int kRolClave = Qt::UserRole + 1;

constexpr int tw(int pixels) {
    return pixels * kTwipsPorPixel;
}

// Sorted by text, letter case aside (ties by case, so the order is stable).
class ItemBiblioteca : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const int c = treeWidget() != nullptr ? treeWidget()->sortColumn() : 0;
        const int r = text(c).compare(other.text(c), Qt::CaseInsensitive);
        return r != 0 ? r < 0 : text(c) < other.text(c);
    }
};

QString indice(const char* nombre, int i) {
    return QString::fromLatin1(nombre) + QLatin1Char('(') + QString::number(i) + QLatin1Char(')');
}

} // namespace

bool FrmCatalogos::FilaCampo::esFecha() const {
    return DTPicker1 != nullptr && !DTPicker1->isHidden();
}

void FrmCatalogos::FilaCampo::limitar(int mostrado) {
    TxtCampo->setMaxLength(qMax(longitud > 0 ? longitud : std::numeric_limits<int>::max(), mostrado));
}

FrmCatalogos::FrmCatalogos(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FrmCatalogos"));
    setWindowTitle(QStringLiteral("VELIRO7 - Catálogos generales"));
    setModal(true);
    construir();
    Form_Load();
}

FrmCatalogos::~FrmCatalogos() = default;

void FrmCatalogos::construir() {
    using namespace ui;
    setMinimumSize(px(11640), px(7515));
    resize(px(11640), px(7515));

    ImgCabecera = crearImagenCabecera(this);

    TabStrip1 = control<QTabBar>(this, QStringLiteral("TabStrip1"), QRect());
    TabStrip1->addTab(QStringLiteral("Bibliotecas"));
    TabStrip1->setExpanding(false);
    TabStrip1->setGeometry(px(360), px(600), px(10840), TabStrip1->sizeHint().height());
    connect(TabStrip1, &QTabBar::tabBarClicked, this, [this](int i) {
        if (i >= 0) {
            TabStrip1_Click();
        }
    });

    PanelCentral = panel(this, QStringLiteral("PanelCentral"),
                         QRect(px(360), TabStrip1->geometry().bottom() + 1, px(10840), px(5365)));

    LstBibliotecas = control<QTreeWidget>(PanelCentral, QStringLiteral("LstBibliotecas"), twips(120, 120, 8840, 2665));
    LstBibliotecas->setRootIsDecorated(false);
    LstBibliotecas->setUniformRowHeights(true);
    LstBibliotecas->setAllColumnsShowFocus(true);
    LstBibliotecas->setSelectionMode(QAbstractItemView::SingleSelection);
    LstBibliotecas->header()->setSectionsClickable(true);
    LstBibliotecas->header()->setStretchLastSection(false);
    LstBibliotecas->installEventFilter(this);
    connect(LstBibliotecas, &QTreeWidget::itemClicked, this, [this] { LstBibliotecas_Click(); });
    connect(LstBibliotecas->header(), &QHeaderView::sectionClicked, this,
            [this](int c) { LstBibliotecas_ColumnClick(c); });

    EtEspere = etiqueta(PanelCentral, QStringLiteral("EtEspere"), QStringLiteral("Espere un momento por favor..."), 0,
                        0, 3000);
    ProgBar = control<QProgressBar>(PanelCentral, QStringLiteral("ProgBar"), twips(0, 0, 3000, 240));
    ProgBar->setTextVisible(false);
    EtEspere->hide();
    ProgBar->hide();

    Picture1 = control<QFrame>(PanelCentral, QStringLiteral("Picture1"), twips(120, 2865, 8840, kAltoCampos));
    VScroll1 = control<QScrollBar>(Picture1, QStringLiteral("VScroll1"), twips(8540, 0, 255, kAltoCampos));
    VScroll1->setOrientation(Qt::Vertical);
    connect(VScroll1, &QScrollBar::valueChanged, this, [this] { VScroll1_Change(); });
    // Beside the widest boxes, clear of the scroll bar.
    EtCamposReq = etiqueta(Picture1, QStringLiteral("EtCamposReq"), QStringLiteral("* Campos Requeridos"), 6840, 0,
                           2000, kAltoFila);
    QFont pequena = EtCamposReq->font();
    pequena.setPointSize(qMax(6, pequena.pointSize() - 1));
    EtCamposReq->setFont(pequena);
    EtCamposReq->hide();

    PanelSec = panel(PanelCentral, QStringLiteral("PanelSec"), twips(9040, 120, 1680, 5165));
    auto accion = [this](const char* nombre, const QString& caption, int top) {
        return ui::boton(PanelSec, QString::fromLatin1(nombre), caption, 120, top, 1440);
    };
    BtnBiblioNuevo = accion("BtnBiblioNuevo", QStringLiteral("&Nuevo"), 600);
    BtnBiblioModificar = accion("BtnBiblioModificar", QStringLiteral("&Modificar"), 1100);
    BtnBiblioBorrar = accion("BtnBiblioBorrar", QStringLiteral("&Borrar"), 1600);
    BtnBiblioBuscar = accion("BtnBiblioBuscar", QStringLiteral("Bu&scar"), 2100);
    BtnBiblioReporte = accion("BtnBiblioReporte", QStringLiteral("R&eporte"), 2600);
    BtnBiblioGrabar = accion("BtnBiblioGrabar", QStringLiteral("G&uardar"), 3865);
    BtnBiblioCancelar = accion("BtnBiblioCancelar", QStringLiteral("C&ancelar"), 4565);
    Line1 = control<QFrame>(PanelSec, QStringLiteral("Line1"), twips(120, 3565, 1440, 30));
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Sunken);

    BtnCerrar = boton(this, QStringLiteral("BtnCerrar"), QStringLiteral("&Cerrar"), 9840, 6365, 1200);

    connect(BtnBiblioNuevo, &QPushButton::clicked, this, [this] { BtnBiblioNuevo_Click(); });
    connect(BtnBiblioModificar, &QPushButton::clicked, this, [this] { BtnBiblioModificar_Click(); });
    connect(BtnBiblioBorrar, &QPushButton::clicked, this, [this] { BtnBiblioBorrar_Click(); });
    connect(BtnBiblioBuscar, &QPushButton::clicked, this, [this] { BtnBiblioBuscar_Click(); });
    connect(BtnBiblioReporte, &QPushButton::clicked, this, [this] { BtnBiblioReporte_Click(); });
    connect(BtnBiblioGrabar, &QPushButton::clicked, this, [this] { BtnBiblioGrabar_Click(); });
    connect(BtnBiblioCancelar, &QPushButton::clicked, this, [this] { BtnBiblioCancelar_Click(); });
    connect(BtnCerrar, &QPushButton::clicked, this, [this] { BtnCerrar_Click(); });

    construirBusqueda();
}

void FrmCatalogos::construirBusqueda() {
    using namespace ui;
    PicBusquedas = control<QFrame>(this, QStringLiteral("PicBusquedas"), twips(0, 0, 5400, 2250));
    PicBusquedas->setFrameShape(QFrame::Box);
    PicBusquedas->setAutoFillBackground(true);
    QPalette pal = PicBusquedas->palette();
    pal.setColor(QPalette::Window, Qt::white);
    PicBusquedas->setPalette(pal);

    Label11 =
        etiqueta(PicBusquedas, QStringLiteral("Label11"), QStringLiteral("Búsqueda en el Catálogo"), 0, 0, 5400, 330);
    Label11->setAutoFillBackground(true);
    QPalette titulo = Label11->palette();
    titulo.setColor(QPalette::Window, colorDesdeBGR(9529932));
    titulo.setColor(QPalette::WindowText, Qt::white);
    Label11->setPalette(titulo);
    Label11->setIndent(px(120));
    Label11->setCursor(Qt::SizeAllCursor);
    Label11->installEventFilter(this);
    Label12 = etiqueta(PicBusquedas, QStringLiteral("Label12"), QStringLiteral("X"), 5100, 0, 300, 330);
    Label12->setAlignment(Qt::AlignCenter);
    Label12->setPalette(titulo);
    Label12->setCursor(Qt::PointingHandCursor);
    Label12->setAccessibleName(QStringLiteral("Cerrar la búsqueda"));
    Label12->setToolTip(QStringLiteral("Cerrar la búsqueda"));
    Label12->installEventFilter(this);
    Label13 = etiqueta(PicBusquedas, QStringLiteral("Label13"), QStringLiteral("Expresión:"), 120, 520, 1100);
    TxtExpresion = caja(PicBusquedas, QStringLiteral("TxtExpresion"), 1260, 480, 3960);
    TxtExpresion->installEventFilter(this);
    Label14 = etiqueta(PicBusquedas, QStringLiteral("Label14"), QStringLiteral("en campo:"), 120, 940, 1100);
    CmbCampos = control<QComboBox>(PicBusquedas, QStringLiteral("CmbCampos"), twips(1260, 900, 2400, 330));
    ChkExacta = casilla(PicBusquedas, QStringLiteral("ChkExacta"), QStringLiteral("&Palabra Completa"),
                        twips(1260, 1320, 2800, 300));
    BtnBuscarSgte = boton(PicBusquedas, QStringLiteral("BtnBuscarSgte"), QStringLiteral("&Buscar"), 2340, 1700, 1360);
    BtnCancelarSgte =
        boton(PicBusquedas, QStringLiteral("BtnCancelarSgte"), QStringLiteral("C&ancelar"), 3840, 1700, 1360);
    connect(BtnBuscarSgte, &QPushButton::clicked, this, [this] { BtnBuscarSgte_Click(); });
    connect(BtnCancelarSgte, &QPushButton::clicked, this, [this] { BtnCancelarSgte_Click(); });
    PicBusquedas->hide();
}

void FrmCatalogos::Form_Load() {
    AplicarEstiloPanel(PanelCentral);
    AplicarEstiloPanelEncabezado(PanelSec, QStringLiteral("Acciones"), false, false);
    AplicarEstiloBotones(this);
    ajustarImagenCabecera(ImgCabecera, this);
    aplicarColorFondo(this);
    VScroll1->setRange(0, 3);
    VScroll1->setPageStep(1);
    VScroll1->setSingleStep(1);
    Form_Resize();
    // The tab is chosen here; its opening step reads the table once the window is shown (no constructor
    // waits on the server). The pickers start at today's date when their rows are built, before the first
    // record is shown in them.
    TabStrip1->setCurrentIndex(0);
}

void FrmCatalogos::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    Form_Resize();
}

void FrmCatalogos::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Shown (the first time, or again after its closing step released the result sets): the opening step
    // reads the table once the window stands modal on screen. Busy from now on, so nothing takes the window
    // for ready before its list is there.
    if (!event->spontaneous() && !m_abierto && !m_apertura) {
        m_apertura = std::make_unique<events::OperacionLarga>();
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isVisible()) {
                    TabStrip1_Click();
                }
                m_apertura.reset();
            },
            Qt::QueuedConnection);
    }
}

void FrmCatalogos::Form_Resize() {
    if (PicBusquedas == nullptr) {
        return; // still being built
    }
    // The minimum size holds the window at 11640 x 7515 twips at least.
    const int ancho = tw(width());
    const int alto = tw(height());
    const int anchoTab = ancho - 800;
    const int altoTab = alto - 1850;
    TabStrip1->resize(px(anchoTab), TabStrip1->height());
    PanelCentral->resize(px(anchoTab), px(altoTab - 300));
    const int anchoPanel = tw(PanelCentral->width());
    const int altoPanel = tw(PanelCentral->height());
    ajustarImagenCabecera(ImgCabecera, this);
    PanelSec->move(px(anchoTab - 1800), PanelSec->y());
    LstBibliotecas->resize(px(anchoPanel - 2000), px(altoPanel - 2700));
    const int anchoLista = tw(LstBibliotecas->width());
    const int altoLista = tw(LstBibliotecas->height());
    Picture1->setGeometry(Picture1->x(), px(altoTab - 2800), px(anchoLista), Picture1->height());
    PanelSec->resize(PanelSec->width(), px(altoTab - 500));
    const int topGrabar = tw(PanelSec->height()) - 1300;
    BtnBiblioGrabar->move(BtnBiblioGrabar->x(), px(topGrabar));
    BtnBiblioCancelar->move(BtnBiblioCancelar->x(), px(topGrabar + 700));
    Line1->move(Line1->x(), px(topGrabar - 300));
    BtnCerrar->move(px(anchoPanel - 1000), px(altoPanel + 1000));
    EtEspere->move(px(anchoLista / 2 - tw(EtEspere->width()) / 2), px(altoLista / 2));
    ProgBar->move(EtEspere->x(), EtEspere->y() + px(240));
    VScroll1->move(px(tw(Picture1->width()) - 300), 0);
    PicBusquedas->move(px(anchoLista / 2 - tw(PicBusquedas->width()) / 2), px(altoPanel / 2));
}

// ---------------------------------------------------------------- opening and fields

void FrmCatalogos::TabStrip1_Click() {
    // The window is locked while the rows are built and the list fills.
    GuardiaVentana guardia(this);
    TabStrip1->setEnabled(false);
    if (!m_abierto) {
        db::DbError e;
        std::unique_ptr<db::Recordset> rs, columnas;
        conPlazos(kPlazosInteractivos, [&] { return LeerCatalogo(rs, columnas, e); });
        if (!columnas) {
            guardia.liberar();
            TabStrip1->setEnabled(true);
            errorServidor(QStringLiteral("No se logró leer el catálogo de bibliotecas."), e.description);
            return;
        }
        RsCatalogo = std::move(rs);
        RsColumnas = leerColumnas(*columnas);
        m_abierto = true;
    }
    CrearCampos(RsColumnas);
    DesactivarBtnBibliotecas();
    InicializaList();
    ActualizarList();
    // The first item is the selected one after a fill, and its record is shown.
    if (LstBibliotecas->topLevelItemCount() > 0) {
        seleccionar(LstBibliotecas->topLevelItem(0));
    }
    MostrarRegistro(RsCatalogo.get());
    guardia.liberar();
    if (LstBibliotecas->topLevelItemCount() > 0) {
        SeleccionarPrimerElemento(LstBibliotecas);
    }
    LstBibliotecas->viewport()->update();
    TabStrip1->setEnabled(true);
    ++m_aperturas;
}

void FrmCatalogos::destruirCampos() {
    for (FilaCampo& f : m_filas) {
        delete f.EtCampo;
        delete f.TxtCampo;
        delete f.DTPicker1;
        delete f.BtnExaminar;
    }
    m_filas.clear();
}

QLineEdit* FrmCatalogos::nuevaCaja(int fila) {
    auto* caja = ui::caja(Picture1, indice("TxtCampo", fila), QRect(px(kIzqCaja), 0, px(5260), px(kAltoFila)));
    caja->installEventFilter(this);
    caja->hide();
    return caja;
}

void FrmCatalogos::CrearCampos(const QVector<ColumnaCatalogo>& columnas) {
    using namespace ui;
    destruirCampos();
    const int n = int(columnas.size());
    m_filas.resize(size_t(n));
    QWidget* anterior = nullptr;
    for (int i = 1; i <= n; ++i) {
        FilaCampo& f = m_filas[size_t(i - 1)];
        f.EtCampo = etiqueta(Picture1, indice("EtCampo", i), QString(), kIzqEtiqueta, 0, kAnchoEtiqueta, kAltoFila);
        f.EtCampo->hide();
        f.TxtCampo = nuevaCaja(i);
        f.DTPicker1 = control<QDateEdit>(Picture1, indice("DTPicker1", i), twips(kIzqCaja, 0, kAnchoFecha, kAltoFila));
        f.DTPicker1->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
        f.DTPicker1->setCalendarPopup(true);
        f.DTPicker1->setMinimumDate(kSinFecha);
        f.DTPicker1->setSpecialValueText(QStringLiteral(" "));
        f.DTPicker1->setDate(QDate::currentDate());
        f.DTPicker1->hide();
        f.BtnExaminar =
            boton(Picture1, indice("BtnExaminar", i), QStringLiteral("...."), twips(0, 0, kAnchoExaminar, kAltoFila));
        f.BtnExaminar->hide();
        // Its caption is only dots: what it does, for a screen reader and as a tip.
        f.BtnExaminar->setAccessibleName(QStringLiteral("Examinar"));
        f.BtnExaminar->setToolTip(QStringLiteral("Elegir el archivo de la imagen"));
        connect(f.BtnExaminar, &QPushButton::clicked, this, [this, i] { BtnExaminar_Click(i); });
        // The tab order follows the column order.
        for (QWidget* w : {static_cast<QWidget*>(f.TxtCampo), static_cast<QWidget*>(f.DTPicker1),
                           static_cast<QWidget*>(f.BtnExaminar)}) {
            if (anterior != nullptr) {
                setTabOrder(anterior, w);
            }
            anterior = w;
        }
    }
    AplicarEstiloBotones(Picture1);
    if (n < 9) {
        VScroll1->hide();
    } else {
        const int filasVisibles = (kAltoCampos - kAltoFila + 5) / (kAltoFila + 5);
        VScroll1->setMaximum(maximoDesplazamiento(n, filasVisibles));
        VScroll1->show();
        VScroll1->raise();
    }
    int top = 0;
    for (int i = 1; i <= n; ++i) {
        const ColumnaCatalogo& c = columnas[i - 1];
        FilaCampo& f = m_filas[size_t(i - 1)];
        // a.
        QFont fuente = f.EtCampo->font();
        fuente.setBold(c.requerido);
        f.EtCampo->setFont(fuente);
        QPalette pal = f.EtCampo->palette();
        const QColor color = c.requerido ? colorDesdeBGR(kColorRequerido) : QColor(Qt::black);
        pal.setColor(QPalette::Active, QPalette::WindowText, color);
        pal.setColor(QPalette::Inactive, QPalette::WindowText, color);
        f.EtCampo->setPalette(pal);
        // b.
        const ReglaCampo regla = reglaCampo(c);
        f.numerico = regla.numerico;
        f.soloEnteros = regla.soloEnteros;
        f.longitud = regla.longitud;
        // c.
        f.TxtCampo->clear();
        f.limitar();
        f.TxtCampo->setEnabled(false);
        f.EtCampo->setEnabled(false);
        // d.-e.
        top = i * kAltoFila - 200;
        const int ancho = anchoCaja(regla.longitud);
        f.TxtCampo->setGeometry(px(kIzqCaja), px(top), px(ancho), px(kAltoFila));
        // f.
        f.EtCampo->setText(etiquetaCampo(c.nombre));
        f.EtCampo->move(f.EtCampo->x(), px(top));
        // g.
        if (campoFoto(c.nombre)) {
            f.BtnExaminar->move(px(kIzqCaja + ancho + 100), px(top));
            f.BtnExaminar->show();
        }
        // h.
        if (regla.fecha) {
            f.EtCampo->show();
            f.DTPicker1->move(px(kIzqCaja), px(top));
            f.DTPicker1->setEnabled(false);
            f.DTPicker1->show();
        } else if (!campoOculto(c.nombre)) {
            f.EtCampo->show();
            f.TxtCampo->show();
        }
    }
    EtCamposReq->move(EtCamposReq->x(), px(top + 50));
    EtCamposReq->show();
    EtCamposReq->setEnabled(false);
}

void FrmCatalogos::VScroll1_Change() {
    const int v = VScroll1->value() - VScroll1->minimum();
    for (size_t k = 0; k < m_filas.size(); ++k) {
        FilaCampo& f = m_filas[k];
        const int i = int(k) + 1;
        const int top = (kAltoFila + 5) * (i - v) - 5;
        for (QWidget* w : {static_cast<QWidget*>(f.TxtCampo), static_cast<QWidget*>(f.EtCampo),
                           static_cast<QWidget*>(f.DTPicker1), static_cast<QWidget*>(f.BtnExaminar)}) {
            w->move(w->x(), px(top));
        }
        EtCamposReq->move(EtCamposReq->x(), px(top - 50));
    }
}

void FrmCatalogos::mostrarFila(db::Recordset* rs) {
    if (rs == nullptr || rs->recordCount() == 0) {
        return;
    }
    QTreeWidgetItem* item = itemSeleccionado();
    if (item == nullptr) {
        return;
    }
    // The row's own key: the cell may show it otherwise.
    rs->setFilter(QStringLiteral("idbiblioteca"), claveDe(item));
    if (rs->eof()) {
        rs->clearFilter();
        dialogs().message(this, MsgIcon::Critical, QStringLiteral("No se encontró el registro seleccionado"));
        return;
    }
    const int campos = qMin(rs->fieldCount(), int(m_filas.size()));
    for (int k = 0; k < campos; ++k) {
        FilaCampo& f = m_filas[size_t(k)];
        const auto v = rs->value(k);
        if (f.esFecha()) {
            const QDate d = v ? QDate::fromString(v->left(10), Qt::ISODate) : QDate();
            f.DTPicker1->setDate(d.isValid() ? d : kSinFecha);
        } else {
            // A number longer than its box's typing limit (an eleven-character integer) is shown whole.
            const QString texto = v.value_or(QString()).trimmed();
            f.limitar(int(texto.size()));
            f.TxtCampo->setText(texto);
        }
    }
    rs->clearFilter();
}

void FrmCatalogos::MostrarRegistro(db::Recordset* rs) {
    mostrarFila(rs);
}

void FrmCatalogos::SeleccionarPrimerElemento(QTreeWidget* lista) {
    if (lista == nullptr || lista->topLevelItemCount() == 0) {
        return;
    }
    seleccionar(lista->topLevelItem(0));
    lista->setFocus();
}

// ---------------------------------------------------------------- record list

void FrmCatalogos::InicializaList() {
    // New headers: their sort directions start empty.
    auto* cabecera = new QTreeWidgetItem;
    const QStringList textos = {QStringLiteral("Nombre"), QStringLiteral("No. Bib."), QStringLiteral("Director"),
                                QStringLiteral("Teléfono"), QStringLiteral("Correo")};
    for (int c = 0; c < textos.size(); ++c) {
        cabecera->setText(c, textos[c]);
        cabecera->setTextAlignment(c, c == 1 ? Qt::Alignment(Qt::AlignCenter) : Qt::AlignLeft | Qt::AlignVCenter);
    }
    LstBibliotecas->setColumnCount(int(textos.size()));
    LstBibliotecas->setHeaderItem(cabecera);
    const int anchos[] = {2500, 800, 2300, 1000, 1500};
    for (int c = 0; c < 5; ++c) {
        LstBibliotecas->setColumnWidth(c, ui::px(anchos[c]));
    }
}

void FrmCatalogos::ActualizarList() {
    GuardiaVentana guardia(this);
    // The items stand in the query's order (name ascending): the list never sorts by itself (a header
    // click sorts it once), and the header stops showing the last sort.
    LstBibliotecas->header()->setSortIndicatorShown(false);
    LstBibliotecas->clear();
    DesactivarAcciones();
    EtEspere->show();
    ProgBar->show();
    ProgBar->setMinimum(0);
    ProgBar->setValue(0);
    LstBibliotecas->setEnabled(false);
    LstBibliotecas->hide();
    // The window keeps answering while the server reads.
    db::DbError e;
    auto rs = conPlazos(kPlazosInteractivos, [&] { return LeerFilasCatalogo(e); });
    if (rs) {
        RsCatalogo = std::move(rs);
        const int total = RsCatalogo->recordCount();
        if (total > 0) {
            ProgBar->setMaximum(total);
        }
        int n = 0;
        for (RsCatalogo->moveFirst(); !RsCatalogo->eof(); RsCatalogo->moveNext()) {
            auto* item = new ItemBiblioteca(LstBibliotecas);
            item->setText(0, RsCatalogo->text(QStringLiteral("nombre")).trimmed());
            const auto clave = RsCatalogo->value(QStringLiteral("idbiblioteca"));
            item->setText(1, celdaClave(clave));
            item->setData(1, kRolClave, clave ? QVariant(*clave) : QVariant());
            item->setText(2, RsCatalogo->text(QStringLiteral("director")).trimmed());
            item->setText(3, RsCatalogo->text(QStringLiteral("telefono")).trimmed());
            item->setText(4, RsCatalogo->text(QStringLiteral("correo")).trimmed());
            ProgBar->setValue(++n);
        }
        RsCatalogo->moveFirst();
    }
    // Also after a failure, the list and the actions come back: a window left without them could
    // only be closed.
    EtEspere->hide();
    ProgBar->hide();
    LstBibliotecas->setEnabled(true);
    LstBibliotecas->show();
    ActivarAcciones();
    guardia.liberar();
    if (e.isSet()) {
        dialogs().message(this, MsgIcon::Critical,
                          err::textoParaUsuario(err::ocurrio(err::kOcurrioErrorNum, e.number) +
                                                    QStringLiteral(" al leer la lista de bibliotecas."),
                                                e.description) +
                              kCrLf + QStringLiteral("[Rutina: ActualizarList]"));
    }
}

void FrmCatalogos::LstBibliotecas_Click() {
    mostrarFila(RsCatalogo.get());
}

void FrmCatalogos::LstBibliotecas_ColumnClick(int columna) {
    OrdenarListView(LstBibliotecas, columna);
}

QTreeWidgetItem* FrmCatalogos::itemSeleccionado() const {
    const auto sel = LstBibliotecas->selectedItems();
    return sel.isEmpty() ? nullptr : sel.first();
}

QString FrmCatalogos::claveDe(const QTreeWidgetItem* item) {
    return item != nullptr ? item->data(1, kRolClave).toString() : QString();
}

void FrmCatalogos::seleccionar(QTreeWidgetItem* item) {
    LstBibliotecas->setCurrentItem(item);
    if (item != nullptr) {
        item->setSelected(true);
    }
}

// ---------------------------------------------------------------- editing

void FrmCatalogos::DesactivarAcciones() {
    for (MyButton* b :
         {BtnBiblioNuevo, BtnBiblioModificar, BtnBiblioBorrar, BtnBiblioBuscar, BtnBiblioReporte, BtnCerrar}) {
        b->setEnabled(false);
    }
}

void FrmCatalogos::ActivarAcciones() {
    for (MyButton* b :
         {BtnBiblioNuevo, BtnBiblioModificar, BtnBiblioBorrar, BtnBiblioBuscar, BtnBiblioReporte, BtnCerrar}) {
        b->setEnabled(true);
    }
}

void FrmCatalogos::DesactivarBtnBibliotecas() {
    for (FilaCampo& f : m_filas) {
        f.TxtCampo->setEnabled(false);
        f.EtCampo->setEnabled(false);
        if (f.esFecha()) {
            f.DTPicker1->setEnabled(false);
        }
        // Nothing can be chosen for a record that cannot be edited.
        f.BtnExaminar->setEnabled(false);
    }
    BtnBiblioGrabar->setEnabled(false);
    BtnBiblioCancelar->setEnabled(false);
    EtCamposReq->setEnabled(false);
    for (MyButton* b : {BtnBiblioNuevo, BtnBiblioModificar, BtnBiblioBorrar, BtnBiblioBuscar, BtnBiblioReporte}) {
        b->setEnabled(true);
    }
}

void FrmCatalogos::ActivarBtnBibliotecas() {
    bool primeraFecha = true;
    const QDate hoy = QDate::currentDate();
    for (FilaCampo& f : m_filas) {
        f.TxtCampo->setEnabled(true);
        f.EtCampo->setEnabled(true);
        if (!ModoModificar && f.esFecha()) {
            // A year on from 29 February is 28 February.
            f.DTPicker1->setDate(primeraFecha ? hoy : hoy.addYears(1));
            primeraFecha = false;
        }
        if (f.esFecha()) {
            f.DTPicker1->setEnabled(true);
        }
        f.BtnExaminar->setEnabled(f.TxtCampo->isEnabled());
    }
    BtnBiblioGrabar->setEnabled(true);
    BtnBiblioCancelar->setEnabled(true);
    EtCamposReq->setEnabled(true);
    for (MyButton* b : {BtnBiblioNuevo, BtnBiblioModificar, BtnBiblioBorrar, BtnBiblioBuscar, BtnBiblioReporte}) {
        b->setEnabled(false);
    }
    TabStrip1->setEnabled(false);
}

bool FrmCatalogos::ValidarCamposRequeridos() {
    const int n = qMin(int(RsColumnas.size()), int(m_filas.size()));
    for (int k = 0; k < n; ++k) {
        const ColumnaCatalogo& c = RsColumnas[k];
        const FilaCampo& f = m_filas[size_t(k)];
        if (!c.requerido) {
            continue;
        }
        bool falla = false;
        if (c.tipo == QLatin1String("date")) {
            falla = f.DTPicker1->date() == kSinFecha || !f.DTPicker1->date().isValid();
        } else if (c.tipo == QLatin1String("smallint") || c.tipo == QLatin1String("integer") ||
                   c.tipo == QLatin1String("bigint") || c.tipo == QLatin1String("numeric")) {
            falla = !f.TxtCampo->isHidden() && !esNumerico(f.TxtCampo->text());
        } else if (c.tipo == QLatin1String("character varying")) {
            falla = f.TxtCampo->text().trimmed().isEmpty() && c.nombre != QLatin1String("analista");
        }
        if (falla) {
            dialogs().message(this, MsgIcon::Critical,
                              QStringLiteral("El campo \"") + f.EtCampo->text() +
                                  QStringLiteral("\" es obligatorio y no contiene un valor apropiado"));
            if (f.TxtCampo->isEnabled() && !f.TxtCampo->isHidden()) {
                SeleccionarTexto(f.TxtCampo);
            }
            return false;
        }
    }
    return true;
}

void FrmCatalogos::BtnBiblioNuevo_Click() {
    ModoModificar = false;
    for (FilaCampo& f : m_filas) {
        f.TxtCampo->clear();
        f.limitar();
    }
    LstBibliotecas->setEnabled(false);
    ActivarBtnBibliotecas();
    if (!m_filas.empty()) {
        m_filas.front().TxtCampo->setFocus();
    }
}

void FrmCatalogos::BtnBiblioModificar_Click() {
    ModoModificar = true;
    // What the record holds now: only what the user changes is written.
    m_originales.clear();
    for (size_t k = 0; k < m_filas.size() && k < size_t(RsColumnas.size()); ++k) {
        m_originales.insert(RsColumnas[int(k)].nombre, m_filas[k].TxtCampo->text().trimmed());
    }
    LstBibliotecas->setEnabled(false);
    TabStrip1->setEnabled(false);
    ActivarBtnBibliotecas();
}

void FrmCatalogos::habilitarListaYPestana() {
    if (!LstBibliotecas->isEnabled()) {
        LstBibliotecas->setEnabled(true);
    }
    if (!TabStrip1->isEnabled()) {
        TabStrip1->setEnabled(true);
    }
}

void FrmCatalogos::mostrarError(qint64 numero, const QString& descripcion) {
    dialogs().message(this, MsgIcon::Critical, err::ocurrio(err::kOcurrioErrorNo, numero, {descripcion}),
                      MsgButtons::Ok, kTituloError);
}

void FrmCatalogos::errorServidor(const QString& queNoSeHizo, const QString& errorText) {
    dialogs().message(this, MsgIcon::Critical, err::textoParaUsuario(queNoSeHizo, errorText), MsgButtons::Ok,
                      kTituloError);
}

void FrmCatalogos::BtnBiblioGrabar_Click() {
    if (!ValidarCamposRequeridos()) {
        return;
    }
    int posicion = 1;
    if (ModoModificar) {
        // The columns the user changed, by name; the record by its own key.
        QTreeWidgetItem* item = itemSeleccionado();
        if (item == nullptr) {
            mostrarError(kSinSeleccion, QStringLiteral("No hay ningún registro seleccionado"));
            habilitarListaYPestana();
            return;
        }
        QVector<CambioCampo> cambios;
        for (const QString& columna : kColumnasModificables) {
            for (size_t k = 0; k < m_filas.size() && k < size_t(RsColumnas.size()); ++k) {
                const QString texto = m_filas[k].TxtCampo->text().trimmed();
                if (RsColumnas[int(k)].nombre == columna && texto != m_originales.value(columna)) {
                    cambios.push_back({columna, texto});
                }
            }
        }
        const QString sql = sentenciaModificar(cambios, claveDe(item));
        int filas = 0;
        QString error;
        bool ok = true;
        if (!sql.isEmpty()) {
            GuardiaVentana guardia(this);
            ok = conPlazos(kPlazosInteractivos, [&] { return ExecuteSQLaction(sql, filas, error); });
        }
        // Only a row that was there to change is reported as changed.
        if (ok && (sql.isEmpty() || filas > 0)) {
            posicion = LstBibliotecas->indexOfTopLevelItem(item) + 1;
            dialogs().message(this, MsgIcon::Information,
                              QStringLiteral("El registro se ha modificado satisfactoriamente!!!"));
        } else if (ok) {
            dialogs().message(this, MsgIcon::Critical, QStringLiteral("No se modificó ningún registro"));
        } else {
            dialogs().message(this, MsgIcon::Critical,
                              err::textoParaUsuario(QStringLiteral("No se modificó ningún registro"), error));
        }
    } else {
        const QString clave = m_filas.empty() ? QString() : m_filas.front().TxtCampo->text();
        if (valorNumerico(clave) > kClaveMaxima) {
            dialogs().message(this, MsgIcon::Critical,
                              QStringLiteral("El id de biblioteca es demasiado grande, cambie el") + kCrLf +
                                  QStringLiteral("número e inténtelo nuevamente"));
            return;
        }
        QVector<ValorCampo> valores;
        for (const FilaCampo& f : m_filas) {
            ValorCampo v;
            v.esFecha = f.esFecha();
            if (v.esFecha) {
                v.fecha = f.DTPicker1->date() == kSinFecha ? QDate() : f.DTPicker1->date();
            } else {
                v.texto = f.TxtCampo->text();
            }
            valores.push_back(v);
        }
        db::DbError e;
        bool guardado = false;
        {
            GuardiaVentana guardia(this);
            guardado = conPlazos(kPlazosInteractivos, [&] { return InsertarRegistro(RsColumnas, valores, e); });
        }
        if (!guardado) {
            if (clasificarFalla(e) == FallaEscritura::ClaveDuplicada) {
                const QString columna = RsCatalogo && RsCatalogo->fieldCount() > 0 ? RsCatalogo->column(0).name
                                                                                   : RsColumnas.value(0).nombre;
                dialogs().message(this, MsgIcon::Critical,
                                  QStringLiteral("Al parecer el campo clave \"") + columna +
                                      QStringLiteral("\" está duplicado, por favor verifique lo anterior e "
                                                     "inténtelo nuevamente"),
                                  MsgButtons::Ok, QStringLiteral("Error al agregar un nuevo registro"));
                if (!m_filas.empty()) {
                    SeleccionarTexto(m_filas.front().TxtCampo);
                }
            } else {
                errorServidor(QStringLiteral("No se guardó el registro."), e.description);
            }
            habilitarListaYPestana();
            return;
        }
        dialogs().message(this, MsgIcon::Information,
                          QStringLiteral("El registro ha sido guardado satisfactoriamente!!!"));
    }
    DesactivarBtnBibliotecas();
    ActualizarList();
    habilitarListaYPestana();
    const int total = LstBibliotecas->topLevelItemCount();
    if (total > 0 && ModoModificar) {
        seleccionar(LstBibliotecas->topLevelItem(qBound(1, posicion, total) - 1));
        LstBibliotecas->setFocus();
        ModoModificar = false;
    }
    if (itemSeleccionado() == nullptr && total > 0) {
        seleccionar(LstBibliotecas->topLevelItem(0)); // the list's own choice after a refill
    }
    LstBibliotecas_Click();
}

void FrmCatalogos::BtnBiblioCancelar_Click() {
    if (!m_filas.empty() && !m_filas.front().TxtCampo->text().isEmpty()) {
        const QString pregunta = QStringLiteral("La información aún no es guardada") + kCrLf +
                                 QString(10, QLatin1Char(' ')) + QStringLiteral("¿ Desea cancelar ?");
        if (dialogs().message(this, MsgIcon::Question, pregunta, MsgButtons::YesNo) != MsgResult::Yes) {
            return;
        }
    }
    habilitarListaYPestana();
    DesactivarBtnBibliotecas();
    LstBibliotecas->setFocus();
    if (LstBibliotecas->topLevelItemCount() > 0) {
        seleccionar(LstBibliotecas->topLevelItem(0));
    }
    LstBibliotecas_Click();
}

void FrmCatalogos::BtnBiblioBorrar_Click() {
    QTreeWidgetItem* item = itemSeleccionado();
    if (item == nullptr) {
        mostrarError(kSinSeleccion, QStringLiteral("No hay ningún registro seleccionado"));
        return;
    }
    // The record the question names, by its own key.
    const QString pregunta = QStringLiteral("Esta a punto de eliminar la Biblioteca \"") + item->text(0) +
                             QStringLiteral("\"") + kCrLf + QString(20, QLatin1Char(' ')) +
                             QStringLiteral(" ¿ Desea continuar ?");
    const QString clave = claveDe(item);
    // Enter answers No: a delete cannot be taken back.
    if (dialogs().message(this, MsgIcon::Question, pregunta, MsgButtons::YesNo, QString(), MsgResult::No) !=
        MsgResult::Yes) {
        return;
    }
    qint64 filas = 0;
    db::DbError e;
    bool borrado = false;
    {
        GuardiaVentana guardia(this);
        borrado = conPlazos(kPlazosInteractivos, [&] { return BorrarRegistro(clave, filas, e); });
    }
    if (!borrado) {
        if (clasificarFalla(e) == FallaEscritura::Referenciado) {
            dialogs().message(this, MsgIcon::Critical,
                              QStringLiteral("Este registro no se puede eliminar debido a que tiene otros registros "
                                             "dependientes. Por favor, verifique ") +
                                  QStringLiteral(" que no tenga registros de escuela asociados"));
        } else {
            errorServidor(QStringLiteral("No se eliminó el registro."), e.description);
        }
        return;
    }
    if (filas < 1) {
        dialogs().message(this, MsgIcon::Critical, QStringLiteral("No se eliminó ningún registro"));
        return;
    }
    ActualizarList();
    if (LstBibliotecas->topLevelItemCount() > 0) {
        seleccionar(LstBibliotecas->topLevelItem(0));
        LstBibliotecas_Click();
    }
    dialogs().message(this, MsgIcon::Information, QStringLiteral("El registro fue eliminado correctamente"));
}

void FrmCatalogos::BtnBiblioReporte_Click() {}

void FrmCatalogos::BtnCerrar_Click() {
    if (!TabStrip1->isEnabled()) {
        TabStrip1->setEnabled(true);
    }
    if (!PicBusquedas->isHidden()) {
        BtnCancelarSgte_Click();
        return;
    }
    if (!LstBibliotecas->isEnabled()) {
        LstBibliotecas->setEnabled(true);
    }
    close();
}

void FrmCatalogos::BtnExaminar_Click(int fila) {
    if (fila < 1 || size_t(fila) > m_filas.size()) {
        return;
    }
    // A picture to name, not a file to write: choosing an existing one asks nothing.
    const QString elegido =
        dialogs().saveFile(this, QStringLiteral("Guardar como"), m_archivoFoto,
                           QStringLiteral("Archivos jpg (*.jpg);;Archivos bmp (*.bmp);;Archivos gif (*.gif)"), false);
    if (!elegido.isEmpty()) {
        m_archivoFoto = elegido;
    }
    m_filas[size_t(fila - 1)].TxtCampo->setText(m_archivoFoto);
}

// ---------------------------------------------------------------- closing

bool FrmCatalogos::Form_Unload() {
    // The close box first closes the search panel, as its own cancel does.
    if (!PicBusquedas->isHidden()) {
        BtnCancelarSgte_Click();
        return false;
    }
    RsCatalogo.reset();
    RsColumnas.clear();
    m_abierto = false;
    return true;
}

void FrmCatalogos::reject() {
    if (GuardiaVentana::bloqueada(this) || !Form_Unload()) {
        return;
    }
    QDialog::reject();
}

// ---------------------------------------------------------------- search panel

void FrmCatalogos::BtnBiblioBuscar_Click() {
    TxtExpresion->clear();
    PicBusquedas->show();
    PicBusquedas->raise();
    TxtExpresion->setFocus();
    CmbCampos->clear();
    QTreeWidgetItem* cabecera = LstBibliotecas->headerItem();
    for (int c = 0; c < LstBibliotecas->columnCount(); ++c) {
        CmbCampos->addItem(cabecera->text(c), c + 1);
    }
    CmbCampos->setCurrentIndex(0);
    TabStrip1->setEnabled(false);
    for (MyButton* b : {BtnBiblioNuevo, BtnBiblioModificar, BtnBiblioBorrar, BtnBiblioGrabar, BtnBiblioCancelar,
                        BtnBiblioBuscar, BtnBiblioReporte}) {
        b->setEnabled(false);
    }
}

void FrmCatalogos::BtnBuscarSgte_Click() {
    if (TxtExpresion->text().isEmpty()) {
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("Por favor, introduzca información en el campo \"Expresión\""));
        TxtExpresion->setFocus();
        return;
    }
    const int p = BuscarElementoList(LstBibliotecas, TxtExpresion->text(), CmbCampos->currentIndex(),
                                     ChkExacta->checkState() != Qt::Unchecked);
    if (p > 0) {
        seleccionar(LstBibliotecas->topLevelItem(p - 1));
        LstBibliotecas->setFocus();
        LstBibliotecas_Click();
    } else {
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("No se encontró el elemento de búsqueda, por favor intente nuevamente "
                                         "cambiando el parámetro de búsqueda"));
    }
}

int FrmCatalogos::BuscarElementoList(QTreeWidget* Lv, const QString& Cadena, int nCol, bool bFraseCompleta) {
    int resultado = 0;
    if (Lv != nullptr) {
        const auto sel = Lv->selectedItems();
        const int inicio = sel.isEmpty() ? 1 : Lv->indexOfTopLevelItem(sel.first()) + 2;
        // From the start position to the end, no wrap-around; a column the list lacks finds nothing.
        if (nCol >= 0 && nCol < Lv->columnCount()) {
            for (int i = inicio; i <= Lv->topLevelItemCount(); ++i) {
                QTreeWidgetItem* item = Lv->topLevelItem(i - 1);
                if (coincideCelda(item->text(nCol), Cadena, bFraseCompleta)) {
                    resultado = i;
                    Lv->scrollToItem(item);
                    break;
                }
            }
        }
        Lv->clearSelection();
        Lv->setCurrentItem(nullptr);
    }
    return resultado;
}

void FrmCatalogos::BtnCancelarSgte_Click() {
    for (MyButton* b : {BtnBiblioNuevo, BtnBiblioModificar, BtnBiblioBorrar, BtnBiblioBuscar, BtnBiblioReporte}) {
        b->setEnabled(true);
    }
    PicBusquedas->hide();
    if (!TabStrip1->isEnabled()) {
        TabStrip1->setEnabled(true);
    }
}

void FrmCatalogos::arrastrarBusqueda(QEvent* event) {
    auto* m = static_cast<QMouseEvent*>(event);
    const QPoint enVentana = mapFromGlobal(m->globalPosition().toPoint());
    if (event->type() == QEvent::MouseButtonPress) {
        m_inicioArrastre = enVentana - PicBusquedas->pos();
        return;
    }
    // Dragged by its title like a caption bar, inside the window.
    QPoint destino = enVentana - m_inicioArrastre;
    destino.setX(qBound(0, destino.x(), qMax(0, width() - PicBusquedas->width())));
    destino.setY(qBound(0, destino.y(), qMax(0, height() - PicBusquedas->height())));
    PicBusquedas->move(destino);
}

// ---------------------------------------------------------------- key and mouse rules

bool FrmCatalogos::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type t = event->type();
    if (watched == LstBibliotecas) {
        if (t == QEvent::KeyRelease) {
            const int k = static_cast<QKeyEvent*>(event)->key();
            if ((k == Qt::Key_Up || k == Qt::Key_Down) && LstBibliotecas->topLevelItemCount() > 0) {
                LstBibliotecas_Click();
            }
        }
        return false;
    }
    if (watched == Label11) {
        if (t == QEvent::MouseButtonPress || t == QEvent::MouseMove) {
            arrastrarBusqueda(event);
        }
        return false;
    }
    if (watched == Label12) {
        if (t == QEvent::MouseButtonRelease) {
            BtnCancelarSgte_Click();
            return true;
        }
        return false;
    }
    if (watched == TxtExpresion) {
        if (t == QEvent::MouseButtonRelease) {
            QTimer::singleShot(0, TxtExpresion, [this] { SeleccionarTexto(TxtExpresion); });
        } else if (t == QEvent::KeyPress) {
            const int k = static_cast<QKeyEvent*>(event)->key();
            if (k == Qt::Key_Return || k == Qt::Key_Enter) {
                BtnBuscarSgte_Click();
            }
        }
        return false;
    }
    for (FilaCampo& f : m_filas) {
        if (watched != f.TxtCampo) {
            continue;
        }
        QLineEdit* caja = f.TxtCampo;
        if (t == QEvent::FocusIn) {
            // After the click that gave the focus has placed the cursor.
            QTimer::singleShot(0, caja, [caja] {
                if (caja->isEnabled() && caja->hasFocus()) {
                    SeleccionarTexto(caja);
                }
            });
        } else if (t == QEvent::KeyPress) {
            // Typed characters only: shortcuts (a paste among them) pass unfiltered.
            const auto* k = static_cast<QKeyEvent*>(event);
            const QString texto = k->text();
            const bool atajo = k->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
            if (!atajo && texto.size() == 1 && texto.at(0).isPrint() &&
                !caracterPermitido(texto.at(0), f.numerico, f.soloEnteros)) {
                return true;
            }
        } else if (t == QEvent::FocusOut) {
            if (caja->text() != caja->text().trimmed()) {
                caja->setText(caja->text().trimmed());
            }
        }
        return false;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace v7
