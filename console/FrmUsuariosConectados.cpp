#include "console/FrmUsuariosConectados.h"

#include "console/monitoreo.h"
#include "core/errores.h"
#include "core/listas_ui.h"
#include "core/sql.h"
#include "core/tema_ui.h"
#include "platform/construir_ui.h"
#include "platform/dialogs_ui.h"
#include "platform/events.h"
#include "platform/guardia_ui.h"
#include "platform/widgets_ui.h"

#include <QDate>
#include <QHeaderView>
#include <QLabel>
#include <QTabBar>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

namespace v7 {

namespace {

const QColor kColorResaltado(0, 0, 160);

// One line of the log: its text is made from the bytes read only when the list asks for it (the rows on
// screen), so hundreds of thousands of lines go into the list at once.
class LineaBitacora : public QTreeWidgetItem {
public:
    LineaBitacora(std::shared_ptr<const Bitacora> bitacora, int indice)
        : m_bitacora(std::move(bitacora)), m_indice(indice) {}

    QVariant data(int column, int role) const override {
        if (column == 0 && role == Qt::DisplayRole) {
            return m_bitacora->linea(m_indice);
        }
        return QTreeWidgetItem::data(column, role);
    }

private:
    std::shared_ptr<const Bitacora> m_bitacora;
    int m_indice;
};

QTreeWidget* lista(QWidget* parent, const QString& name, const QRect& rect) {
    auto* l = ui::control<QTreeWidget>(parent, name, rect);
    l->setRootIsDecorated(false);
    l->setUniformRowHeights(true);
    l->header()->setSectionsClickable(true);
    return l;
}

} // namespace

FrmUsuariosConectados::FrmUsuariosConectados(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FrmUsuariosConectados"));
    setWindowTitle(QStringLiteral("VELIRO7 -  Usuarios conectados"));
    setModal(true);
    construir();
    Form_Load();
}

FrmUsuariosConectados::~FrmUsuariosConectados() = default;

void FrmUsuariosConectados::construir() {
    using namespace ui;
    setFixedSize(px(10200), px(7300));

    ImgCabecera = crearImagenCabecera(this);

    PanelCentral = panel(this, QStringLiteral("PanelCentral"), twips(360, 1000, 9480, 5400));
    TabUsuarios = control<QTabBar>(PanelCentral, QStringLiteral("TabUsuarios"), twips(120, 120, 9240, 420));
    TabUsuarios->setUsesScrollButtons(false);
    TabUsuarios->setExpanding(false);
    TabUsuarios->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 4px 9px; }"));
    TabUsuarios->addTab(QStringLiteral("Usuarios Conectados"));
    TabUsuarios->addTab(QStringLiteral("Bitácora de eventos"));

    FrmUsuarios = control<QWidget>(PanelCentral, QStringLiteral("FrmUsuarios"), twips(120, 560, 9240, 4720));
    PanelSec1 = panel(FrmUsuarios, QStringLiteral("PanelSec1"), twips(0, 0, 9240, 4720));
    ListUsuarios = lista(PanelSec1, QStringLiteral("ListUsuarios"), twips(240, 480, 8760, 3600));
    EtConectados = etiqueta(PanelSec1, QStringLiteral("EtConectados"),
                            QStringLiteral("Actualmente hay 0 usuarios conectados"), 240, 4200, 8000);

    FrmBitacora = control<QWidget>(PanelCentral, QStringLiteral("FrmBitacora"), twips(120, 560, 9240, 4720));
    PanelSec2 = panel(FrmBitacora, QStringLiteral("PanelSec2"), twips(0, 0, 9240, 4720));
    ListLog = lista(PanelSec2, QStringLiteral("ListLog"), twips(240, 480, 8760, 4080));
    ListLog->setHeaderLabels({QStringLiteral("Evento")});
    FrmBitacora->hide();

    BtnSalir = boton(this, QStringLiteral("BtnSalir"), QStringLiteral("Salir"), 8040, 6600, 1800);

    connect(TabUsuarios, &QTabBar::currentChanged, this, [this] { TabUsuarios_Click(); });
    connect(ListUsuarios->header(), &QHeaderView::sectionClicked, this, [this](int c) { ListUsuarios_ColumnClick(c); });
    connect(BtnSalir, &QPushButton::clicked, this, [this] { BtnSalir_Click(); });
}

void FrmUsuariosConectados::Form_Load() {
    AplicarEstiloPanel(PanelCentral);
    AplicarEstiloPanelEncabezado(PanelSec1, QStringLiteral("Usuarios Conectados"), false, false);
    AplicarEstiloPanelEncabezado(PanelSec2, QStringLiteral("Bitácora de Eventos"), false, false);
    AplicarEstiloBotones(this);
    ajustarImagenCabecera(ImgCabecera, this);
    aplicarColorFondo(this);
    // The whole row shows the focus.
    ListUsuarios->setAllColumnsShowFocus(true);
    ListUsuarios->setColumnCount(5);
    ListUsuarios->setHeaderLabels({QStringLiteral("Base"), QStringLiteral("Usuario"), QStringLiteral("Hora de Inicio"),
                                   QStringLiteral("Host"), QStringLiteral("Puerto")});
    // The designed widths; the last column does not stretch over the rest of the list.
    ListUsuarios->header()->setStretchLastSection(false);
    const int anchos[] = {1000, 1400, 1200, 1600, 1000};
    for (int c = 0; c < 5; ++c) {
        ListUsuarios->setColumnWidth(c, ui::px(anchos[c]));
        ListUsuarios->headerItem()->setTextAlignment(c, c == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
    }
    // A failed query is shown and the window closes; the program goes on.
    QVector<SesionConectada> sesiones;
    QString error;
    bool leidas = false;
    {
        GuardiaVentana guardia(this);
        leidas = conPlazos(kPlazosInteractivos, [&] { return sesionesConectadas(&sesiones, &error); });
    }
    if (!leidas) {
        dialogs().message(
            this, MsgIcon::Critical,
            err::textoParaUsuario(QStringLiteral("No se pudo leer la lista de usuarios conectados."), error));
        QTimer::singleShot(0, this, [this] { done(QDialog::Rejected); });
        return;
    }
    for (const SesionConectada& s : sesiones) {
        auto* item = new QTreeWidgetItem(ListUsuarios);
        const QString textos[] = {s.base, s.usuario, s.inicio, s.host, s.puerto};
        for (int c = 0; c < 5; ++c) {
            item->setText(c, textos[c]);
            if (c > 0) {
                item->setTextAlignment(c, Qt::AlignCenter);
            }
        }
    }
    // Each column as wide as its header and its texts: the start time is not cut, the port takes no more
    // than it needs.
    AjustarColumnas(ListUsuarios);
    if (!sesiones.isEmpty()) {
        EtConectados->setText(QStringLiteral("Actualmente hay ") + QString::number(ListUsuarios->topLevelItemCount()) +
                              QStringLiteral(" usuario(s) conectado(s)"));
    }
    m_cargado = true;
}

bool FrmUsuariosConectados::tabResaltada(int indice) const {
    return TabUsuarios->tabData(indice).toBool();
}

void FrmUsuariosConectados::ponerResaltada(int indice, bool on) {
    TabUsuarios->setTabData(indice, on);
    TabUsuarios->setTabTextColor(indice, on ? kColorResaltado : palette().color(QPalette::WindowText));
}

void FrmUsuariosConectados::TabUsuarios_Click() {
    // The tabs stay still until the switch is done.
    TabUsuarios->setEnabled(false);
    if (TabUsuarios->currentIndex() == 0) {
        ponerResaltada(0, true);
        ponerResaltada(1, false);
        FrmBitacora->hide();
        FrmUsuarios->show();
        FrmUsuarios->raise();
    } else {
        ponerResaltada(0, false);
        ponerResaltada(1, true);
        FrmUsuarios->hide();
        FrmBitacora->show();
        FrmBitacora->raise();
        // Read off the windows' thread (the folder as the server tells, the day's last file, the list's
        // rows), then put into the list at once.
        const QDate hoy = QDate::currentDate();
        QList<QTreeWidgetItem*> filas;
        std::shared_ptr<const Bitacora> leida;
        {
            GuardiaVentana guardia(this);
            leida = conPlazos(kPlazosInteractivos, [&] {
                auto b = std::make_shared<const Bitacora>(bitacoraDelDia(hoy));
                filas.reserve(b->lineas() + 1);
                if (!b->aviso.isEmpty()) {
                    filas.append(new QTreeWidgetItem(QStringList{b->aviso}));
                }
                for (int i = 0; i < b->lineas(); ++i) {
                    filas.append(new LineaBitacora(b, i));
                }
                return b;
            });
        }
        const Bitacora& bitacora = *leida;
        switch (bitacora.estado) {
        case Bitacora::Estado::SinArchivo:
            dialogs().message(this, MsgIcon::Critical,
                              QStringLiteral("No se encontró el archivo con la bitácora correspondiente a la fecha ") +
                                  hoy.toString(QStringLiteral("yyyy-MM-dd")));
            break;
        case Bitacora::Estado::Rechazada:
            // Something planted at the log's name is worth telling; it is not read.
            dialogs().message(this, MsgIcon::Warning,
                              QStringLiteral("No se muestra la bitácora del día.") + err::kCrLf + bitacora.motivo);
            break;
        case Bitacora::Estado::NoLeida:
            // A file that cannot be read ends the switch without a message.
            break;
        case Bitacora::Estado::Leida:
            // The list is refilled on every visit, in one step.
            ListLog->setUpdatesEnabled(false);
            ListLog->clear();
            ListLog->addTopLevelItems(filas);
            filas.clear();
            ListLog->setUpdatesEnabled(true);
            break;
        }
        qDeleteAll(filas);
    }
    TabUsuarios->setEnabled(true);
}

void FrmUsuariosConectados::ListUsuarios_ColumnClick(int columna) {
    OrdenarListView(ListUsuarios, columna);
}

void FrmUsuariosConectados::BtnSalir_Click() {
    close();
}

} // namespace v7
