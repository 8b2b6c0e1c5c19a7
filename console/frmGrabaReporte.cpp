#include "console/frmGrabaReporte.h"

#include "console/frmModificaReporte.h"
#include "core/errores.h"
#include "core/listas_ui.h"
#include "core/tema_ui.h"
#include "platform/construir_ui.h"
#include "platform/dialogs_ui.h"
#include "platform/guardia_ui.h"
#include "platform/paths.h"
#include "platform/widgets_ui.h"

#include <QHeaderView>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTreeWidget>

namespace v7 {

namespace {

using err::kCrLf;

} // namespace

frmGrabaReporte::frmGrabaReporte(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmGrabaReporte"));
    setWindowTitle(QStringLiteral("Administración de reportes"));
    construir();
    Form_Load();
}

frmGrabaReporte::~frmGrabaReporte() = default;

void frmGrabaReporte::construir() {
    using namespace ui;
    setFixedSize(px(11400), px(7800));

    LstReporte = control<QTreeWidget>(this, QStringLiteral("LstReporte"), twips(240, 240, 10920, 3400));
    LstReporte->setRootIsDecorated(false);
    LstReporte->setUniformRowHeights(true);
    LstReporte->setAllColumnsShowFocus(true);
    LstReporte->header()->setSectionsClickable(true);
    LstReporte->header()->setStretchLastSection(false);

    txtReporte = control<QPlainTextEdit>(this, QStringLiteral("txtReporte"), twips(240, 3800, 10920, 3000));
    txtReporte->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtReporte->setEnabled(false);

    const int arriba = 7020;
    BtnNuevo = boton(this, QStringLiteral("BtnNuevo"), QStringLiteral("Nuevo"), 240, arriba, 1440);
    BtnModificar = boton(this, QStringLiteral("BtnModificar"), QStringLiteral("Modificar"), 1820, arriba, 1440);
    BtnEliminar = boton(this, QStringLiteral("BtnEliminar"), QStringLiteral("Eliminar"), 3400, arriba, 1440);
    BtnImportar = boton(this, QStringLiteral("BtnImportar"), QStringLiteral("Importar"), 4980, arriba, 1440);
    BtnGuardar = boton(this, QStringLiteral("BtnGuardar"), QStringLiteral("Guardar"), 6560, arriba, 1440);
    BtnCancelar = boton(this, QStringLiteral("BtnCancelar"), QStringLiteral("Cancelar"), 8140, arriba, 1440);
    BtnSalir = boton(this, QStringLiteral("BtnSalir"), QStringLiteral("Salir"), 9720, arriba, 1440);
    BtnGuardar->setEnabled(false);
    BtnCancelar->setEnabled(false);

    connect(LstReporte, &QTreeWidget::currentItemChanged, this, [this] {
        if (!m_llenando) {
            LstReporte_Click();
        }
    });
    connect(LstReporte->header(), &QHeaderView::sectionClicked, this,
            [this](int columna) { LstReporte_ColumnClick(columna); });
    connect(BtnNuevo, &QPushButton::clicked, this, [this] { BtnNuevo_Click(); });
    connect(BtnModificar, &QPushButton::clicked, this, [this] { BtnModificar_Click(); });
    connect(BtnEliminar, &QPushButton::clicked, this, [this] { BtnEliminar_Click(); });
    connect(BtnImportar, &QPushButton::clicked, this, [this] { BtnImportar_Click(); });
    connect(BtnGuardar, &QPushButton::clicked, this, [this] { BtnGuardar_Click(); });
    connect(BtnCancelar, &QPushButton::clicked, this, [this] { BtnCancelar_Click(); });
    connect(BtnSalir, &QPushButton::clicked, this, [this] { BtnSalir_Click(); });
}

void frmGrabaReporte::Form_Load() {
    AplicarEstiloBotones(this);
    aplicarColorFondo(this);
    m_nuevo = false;
    LstReporte->clear();
    LstReporte->setColumnCount(7);
    LstReporte->setHeaderLabels({QStringLiteral("Núm."), QStringLiteral("Módulo"), QStringLiteral("Sección"),
                                 QStringLiteral("Reporte"), QStringLiteral("Archivo"), QStringLiteral("IdRep"),
                                 QStringLiteral("IdSec")});
    const int anchos[] = {1000, 1600, 4150, 3500};
    for (int c = 0; c < 4; ++c) {
        LstReporte->setColumnWidth(c, ui::px(anchos[c]));
    }
    for (int c = kArchivo; c <= kIdSeccion; ++c) {
        LstReporte->setColumnHidden(c, true);
    }
    llenarLista();
    LstReporte_Click();
}

void frmGrabaReporte::llenarLista(const QString& keepId) {
    m_llenando = true;
    LstReporte->clear();
    QString err;
    RecordsetPtr rs;
    {
        GuardiaVentana guardia(this);
        rs = conPlazos(kPlazosInteractivos, [&] { return ConsultarReportes(err); });
    }
    if (!rs) {
        m_llenando = false;
        dialogs().message(this, MsgIcon::Critical,
                          err::textoParaUsuario(QStringLiteral("No se pudo leer la lista de reportes."), err));
        return;
    }
    LlenarListView(this, rs, LstReporte, 0, 0, nullptr, nullptr, false, QString());
    QTreeWidgetItem* actual = nullptr;
    for (int i = 0; i < LstReporte->topLevelItemCount() && !keepId.isEmpty(); ++i) {
        if (LstReporte->topLevelItem(i)->text(kNum) == keepId) {
            actual = LstReporte->topLevelItem(i);
        }
    }
    if (actual == nullptr && LstReporte->topLevelItemCount() > 0) {
        actual = LstReporte->topLevelItem(0);
    }
    LstReporte->setCurrentItem(actual);
    m_llenando = false;
}

void frmGrabaReporte::seleccionarPrimera() {
    if (LstReporte->currentItem() == nullptr && LstReporte->topLevelItemCount() > 0) {
        LstReporte->setCurrentItem(LstReporte->topLevelItem(0));
    }
}

void frmGrabaReporte::mostrarTexto(const QString& texto) {
    m_finLinea = texto.contains(QLatin1Char('\n')) && !texto.contains(kCrLf) ? QStringLiteral("\n") : kCrLf;
    txtReporte->setPlainText(texto);
}

QString frmGrabaReporte::textoEditado() const {
    QString t = txtReporte->toPlainText();
    if (m_finLinea != QLatin1String("\n")) {
        t.replace(QLatin1Char('\n'), m_finLinea);
    }
    return t;
}

void frmGrabaReporte::LstReporte_Click() {
    QTreeWidgetItem* actual = LstReporte->currentItem();
    if (LstReporte->topLevelItemCount() == 0 || actual == nullptr) {
        mostrarTexto(QString());
        BtnModificar->setEnabled(false);
        BtnEliminar->setEnabled(false);
    } else {
        mostrarTexto(actual->text(kArchivo));
        BtnModificar->setEnabled(true);
        BtnEliminar->setEnabled(true);
    }
    BtnNuevo->setEnabled(true);
    BtnImportar->setEnabled(true);
}

void frmGrabaReporte::LstReporte_ColumnClick(int columna) {
    OrdenarListView(LstReporte, columna);
}

void frmGrabaReporte::editar(bool nuevo, bool conSalir) {
    for (MyButton* b : {BtnNuevo, BtnModificar, BtnEliminar, BtnImportar}) {
        b->setEnabled(false);
    }
    if (conSalir) {
        BtnSalir->setEnabled(false);
    }
    BtnGuardar->setEnabled(true);
    BtnCancelar->setEnabled(true);
    // The list stays put while a text is being edited: choosing another row would replace the text
    // in the box, and what was typed would be lost.
    LstReporte->setEnabled(false);
    m_nuevo = nuevo;
}

void frmGrabaReporte::terminarEdicion() {
    m_nuevo = false;
    txtReporte->setEnabled(false);
    BtnCancelar->setEnabled(false);
    BtnGuardar->setEnabled(false);
    BtnSalir->setEnabled(true);
    LstReporte->setEnabled(true);
}

void frmGrabaReporte::BtnNuevo_Click() {
    editar(true, true);
    txtReporte->setEnabled(true);
    mostrarTexto(QString());
    txtReporte->setFocus();
}

void frmGrabaReporte::BtnModificar_Click() {
    editar(false, true);
    txtReporte->setEnabled(true);
    txtReporte->setFocus();
}

void frmGrabaReporte::BtnImportar_Click() {
    editar(true, false);
    const QString archivo =
        dialogs().openFile(this, QStringLiteral("Seleccione un archivo"),
                           paths::programFolder() + QStringLiteral("ArchivosV7/plantillas/reportes/reporteador/"),
                           QStringLiteral("Archivos XML (*.xml)"));
    if (archivo.isEmpty()) {
        return;
    }
    ArchivoReporte leido;
    {
        GuardiaVentana guardia(this, GuardiaVentana::Opciones{false, nullptr});
        leido = events::esperar([&] { return leerArchivoReporte(archivo); });
    }
    if (!leido.ok()) {
        dialogs().message(this, MsgIcon::Critical,
                          QStringLiteral("No se puede importar el archivo.") + kCrLf + leido.motivo);
        return;
    }
    mostrarTexto(leido.texto);
}

void frmGrabaReporte::BtnGuardar_Click() {
    UbicacionReporte ubicacion;
    const QString texto = prepararTextoReporte(textoEditado());
    // Refused before anything is asked or sent; the text stays in the box.
    if (const QString motivo = motivoTextoReporte(texto); !motivo.isEmpty()) {
        dialogs().message(this, MsgIcon::Information, QStringLiteral("Error al guardar el reporte") + kCrLf + motivo);
        return;
    }
    QTreeWidgetItem* actual = LstReporte->currentItem();
    bool ok = false;
    QString err;
    QString keepId;
    if (m_nuevo) {
        frmModificaReporte placement(ubicacion, this);
        placement.exec();
        if (ubicacion.completa()) {
            GuardiaVentana guardia(this);
            ok = conPlazos(kPlazosInteractivos, [&] { return InsertarReporte(ubicacion, texto, err); });
        }
    } else if (actual != nullptr) {
        ubicacion.IdSeccionReporte = actual->text(kIdSeccion).toLongLong();
        ubicacion.IdModuloReporte = actual->text(kIdModulo).toLongLong();
        ubicacion.NombreReporte = actual->text(kReporte);
        keepId = actual->text(kNum);
        if (ubicacion.completa()) {
            GuardiaVentana guardia(this);
            ok = conPlazos(kPlazosInteractivos, [&] { return ActualizarReporte(keepId, texto, err); });
        }
    }
    if (!ubicacion.completa()) {
        // The text stays in the box: the administrator may place it again or cancel.
        dialogs().message(this, MsgIcon::Information, QStringLiteral("No se guardo el reporte en el sistema"));
        return;
    }
    if (!ok) {
        dialogs().message(this, MsgIcon::Information,
                          err::textoParaUsuario(QStringLiteral("Error al guardar el reporte"), err));
        return;
    }
    llenarLista(keepId);
    dialogs().message(this, MsgIcon::Information, QStringLiteral("Reporte guardado con éxito"));
    terminarEdicion();
    LstReporte_Click();
    seleccionarPrimera();
    LstReporte->setFocus();
}

void frmGrabaReporte::BtnCancelar_Click() {
    for (MyButton* b : {BtnNuevo, BtnModificar, BtnEliminar, BtnImportar}) {
        b->setEnabled(true);
    }
    terminarEdicion();
    LstReporte_Click();
    seleccionarPrimera();
    LstReporte->setFocus();
}

void frmGrabaReporte::BtnEliminar_Click() {
    QTreeWidgetItem* actual = LstReporte->currentItem();
    if (actual == nullptr) {
        return;
    }
    const QString id = actual->text(kNum);
    const QString nombre = actual->text(kReporte);
    if (dialogs().message(this, MsgIcon::Question,
                          QStringLiteral("¿ Desea eliminar del sistema el reporte \"") + nombre +
                              QStringLiteral("\" ?"),
                          MsgButtons::YesNo) != MsgResult::Yes) {
        return;
    }
    QString err;
    bool eliminado = false;
    {
        GuardiaVentana guardia(this);
        eliminado = conPlazos(kPlazosInteractivos, [&] { return EliminarReporte(id, err); });
    }
    if (!eliminado) {
        dialogs().message(
            this, MsgIcon::Critical,
            err::textoParaUsuario(QStringLiteral("No se eliminó el reporte debido a la siguiente situación: "), err));
        return;
    }
    dialogs().message(this, MsgIcon::Information,
                      QStringLiteral("El reporte ") + id + QStringLiteral(" llamado \"") + nombre +
                          QStringLiteral("\" fue eliminado del sistema"));
    llenarLista();
    LstReporte_Click();
    seleccionarPrimera();
    LstReporte->setFocus();
}

void frmGrabaReporte::BtnSalir_Click() {
    accept();
}

} // namespace v7
