#include "collection/frmActualizarAcervo.h"

#include "collection/frmRestaurarAcervo.h"
#include "core/tema_ui.h"
#include "platform/construir_ui.h"
#include "platform/widgets_ui.h"

#include <QLabel>
#include <QStyle>

namespace v7 {

namespace {

const QString kTitulo = QStringLiteral("Actualización del acervo de las bibliotecas descentralizadas");

} // namespace

frmActualizarAcervo::frmActualizarAcervo(AbrirVentana mostrarExportacion, QWidget* parent)
    : QDialog(parent), m_mostrarExportacion(std::move(mostrarExportacion)) {
    setObjectName(QStringLiteral("frmActualizarAcervo"));
    setWindowTitle(QStringLiteral("VELIRO7 - Actualizar acervo de Bibliotecas"));
    setModal(true);
    construir();
    Form_Load();
}

frmActualizarAcervo::~frmActualizarAcervo() = default;

void frmActualizarAcervo::construir() {
    using namespace ui;
    setFixedSize(px(9600), px(8400));

    ImgCabecera = control<QLabel>(this, QStringLiteral("ImgCabecera"), QRect());
    ImgCabecera->setPixmap(imagenCabecera());
    ImgCabecera->setScaledContents(true);

    panelMain = panel(this, QStringLiteral("panelMain"), twips(360, 1000, 8880, 6560));
    // The designer's captions are placeholders: Form_Load writes every text.
    auto texto = [this](const QString& name, int left, int top, int width, int height) {
        QLabel* l = etiqueta(panelMain, name, name, left, top, width, height, true);
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return l;
    };
    lblActualizar = texto(QStringLiteral("lblActualizar"), 240, 560, 8400, 1500);

    Image1 = control<QLabel>(panelMain, QStringLiteral("Image1"), twips(240, 2240, 480, 480));
    Image1->setPixmap(style()->standardIcon(QStyle::SP_ArrowUp).pixmap(px(480), px(480)));
    lblExportar = texto(QStringLiteral("lblExportar"), 840, 2300, 7800, 300);
    lblExportarDesc = texto(QStringLiteral("lblExportarDesc"), 840, 2660, 5400, 1500);
    cmdExportar = boton(panelMain, QStringLiteral("cmdExportar"), QStringLiteral("&Exportar acervo"), 6480, 2900, 2160);

    Image2 = control<QLabel>(panelMain, QStringLiteral("Image2"), twips(240, 4400, 480, 480));
    Image2->setPixmap(style()->standardIcon(QStyle::SP_ArrowDown).pixmap(px(480), px(480)));
    lblImportar = texto(QStringLiteral("lblImportar"), 840, 4460, 7800, 300);
    lblImportarDesc = texto(QStringLiteral("lblImportarDesc"), 840, 4820, 5400, 1500);
    cmdImportar = boton(panelMain, QStringLiteral("cmdImportar"), QStringLiteral("&Importar acervo"), 6480, 5060, 2160);

    cmdRegresar = boton(this, QStringLiteral("cmdRegresar"), QStringLiteral("&Regresar"), 7440, 7740, 1800);

    connect(cmdExportar, &QPushButton::clicked, this, [this] { cmdExportar_Click(); });
    connect(cmdImportar, &QPushButton::clicked, this, [this] { cmdImportar_Click(); });
    connect(cmdRegresar, &QPushButton::clicked, this, [this] { cmdRegresar_Click(); });
}

void frmActualizarAcervo::Form_Load() {
    lblActualizar->setText(QStringLiteral("Este mecanismo de actualización del 'acervo de las bibliotecas' es "
                                          "necesario para mantener sincronizada la información de los nuevos "
                                          "títulos y existencias que se incorporan en la base de datos central.") +
                           QLatin1Char('\n') +
                           QStringLiteral("     Un escenario de trabajo de este tipo aplica para aquellos sistemas "
                                          "bibliotecarios donde se tienen centralizados los procesos de catalogación "
                                          "y cuentan con varias bibliotecas distribuidas en diferentes ubicaciones "
                                          "geográficas."));
    lblExportar->setText(QStringLiteral("Exportación para actualizar el Acervo de la Biblioteca"));
    lblExportarDesc->setText(
        QStringLiteral("     Esta opción se debe utilizar por el responsable del departamento de catalogación cuando "
                       "se desea actualizar la información del acervo de cada una de las bibliotecas que conforman "
                       "la red. Se debe generar un archivo de exportación para cada biblioteca. "));
    lblImportar->setText(QStringLiteral("Importación para actualizar el Acervo de la Biblioteca"));
    lblImportarDesc->setText(
        QStringLiteral("     Se debe utilizar esta opción de 'importar el acervo' exclusivamente desde el servidor de "
                       "cada biblioteca, una vez que se haya recibido un archivo de exportación de parte del "
                       "departamento central de procesamiento."));

    AplicarEstiloPanelEncabezado(panelMain, QLatin1Char(' ') + kTitulo, true, false);
    // The large caption is the header's alone: the panel's texts keep the window's font, and the two
    // headings are bold.
    QFont normal = font();
    normal.setBold(false);
    normal.setPointSize(font().pointSize());
    normal.setFamily(font().family());
    for (QLabel* l : {lblActualizar, lblExportarDesc, lblImportarDesc}) {
        l->setFont(normal);
    }
    QFont negrita = normal;
    negrita.setBold(true);
    lblExportar->setFont(negrita);
    lblImportar->setFont(negrita);
    AplicarEstiloBotones(this);
    ajustarImagenCabecera(ImgCabecera, this);
    aplicarColorFondo(this);
}

void frmActualizarAcervo::cmdExportar_Click() {
    if (m_mostrarExportacion) {
        m_mostrarExportacion(this);
    }
}

void frmActualizarAcervo::cmdImportar_Click() {
    // Loaded afresh on every opening.
    frmRestaurarAcervo importar(this);
    importar.exec();
}

void frmActualizarAcervo::cmdRegresar_Click() {
    close();
}

} // namespace v7
