// The libraries catalogue editor: lists, sorts, searches, adds, changes and deletes the rows of
// catalogos.bibliotecas, with one edit row per column of the table as the server describes it.
#pragma once

#include "catalogues/catalogo.h"
#include "platform/db.h"
#include "platform/events.h"

#include <QDialog>
#include <QHash>
#include <QString>

#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QScrollBar;
class QTabBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace v7 {

class MyButton;
class MyFrame;

class FrmCatalogos : public QDialog {
    Q_OBJECT

public:
    explicit FrmCatalogos(QWidget* parent = nullptr);
    ~FrmCatalogos() override;

    // How many times the opening step has run to its end (tests wait for the first, which follows the
    // window's showing).
    int aperturas() const { return m_aperturas; }

    // Which kind of edit the save finishes: true for a modify, false for a new record. It belongs to
    // the program, not to one opening of the window.
    static inline bool ModoModificar = false;

    // Opening and fields.
    void TabStrip1_Click();
    void CrearCampos(const QVector<ColumnaCatalogo>& columnas);
    void MostrarRegistro(db::Recordset* rs);
    void SeleccionarPrimerElemento(QTreeWidget* lista);
    void VScroll1_Change();

    // Record list.
    void InicializaList();
    void ActualizarList();
    void LstBibliotecas_Click();
    void LstBibliotecas_ColumnClick(int columna);

    // Editing.
    void DesactivarAcciones();
    void ActivarAcciones();
    void DesactivarBtnBibliotecas();
    void ActivarBtnBibliotecas();
    bool ValidarCamposRequeridos();
    void BtnBiblioNuevo_Click();
    void BtnBiblioModificar_Click();
    void BtnBiblioGrabar_Click();
    void BtnBiblioCancelar_Click();
    void BtnBiblioBorrar_Click();
    void BtnBiblioReporte_Click();
    void BtnCerrar_Click();
    void BtnExaminar_Click(int fila);

    // Search panel.
    void BtnBiblioBuscar_Click();
    void BtnBuscarSgte_Click();
    void BtnCancelarSgte_Click();
    // The 1-based position of the next item from the selected one whose cell holds (or is) cadena, 0
    // for none; the selection is cleared either way.
    int BuscarElementoList(QTreeWidget* Lv, const QString& Cadena, int nCol, bool bFraseCompleta);

public slots:
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // One edit row: the column's label, its text box, its date picker and its picture chooser.
    struct FilaCampo {
        QLabel* EtCampo = nullptr;
        QLineEdit* TxtCampo = nullptr;
        QDateEdit* DTPicker1 = nullptr;
        MyButton* BtnExaminar = nullptr;
        bool numerico = false; // the row's type flags
        bool soloEnteros = false;
        int longitud = 0; // what the box takes when typed into (0: no limit of its own)
        // The box's limit for typing, and never less than what it shows: a value is never shown cut.
        void limitar(int mostrado = 0);
        bool esFecha() const;
    };

    void construir();
    void construirBusqueda();
    void Form_Load();
    void Form_Resize();
    // The closing step; false when the window must stay open.
    bool Form_Unload();
    void destruirCampos();
    QLineEdit* nuevaCaja(int fila);
    void mostrarFila(db::Recordset* rs);
    QTreeWidgetItem* itemSeleccionado() const;
    void seleccionar(QTreeWidgetItem* item);
    void habilitarListaYPestana();
    void mostrarError(qint64 numero, const QString& descripcion);
    // A statement the server refused: what was not done, then the server's reason.
    void errorServidor(const QString& queNoSeHizo, const QString& errorText);
    // The record key of a list item, from the row it was filled from.
    static QString claveDe(const QTreeWidgetItem* item);
    void arrastrarBusqueda(QEvent* event);

    QLabel* ImgCabecera = nullptr;
    QTabBar* TabStrip1 = nullptr;
    MyFrame* PanelCentral = nullptr;
    QTreeWidget* LstBibliotecas = nullptr;
    QFrame* Picture1 = nullptr;
    QScrollBar* VScroll1 = nullptr;
    MyFrame* PanelSec = nullptr;
    QFrame* Line1 = nullptr;
    QLabel* EtCamposReq = nullptr;
    QLabel* EtEspere = nullptr;
    QProgressBar* ProgBar = nullptr;
    MyButton* BtnBiblioNuevo = nullptr;
    MyButton* BtnBiblioModificar = nullptr;
    MyButton* BtnBiblioBorrar = nullptr;
    MyButton* BtnBiblioBuscar = nullptr;
    MyButton* BtnBiblioReporte = nullptr;
    MyButton* BtnBiblioGrabar = nullptr;
    MyButton* BtnBiblioCancelar = nullptr;
    MyButton* BtnCerrar = nullptr;

    QFrame* PicBusquedas = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label13 = nullptr;
    QLineEdit* TxtExpresion = nullptr;
    QLabel* Label14 = nullptr;
    QComboBox* CmbCampos = nullptr;
    QCheckBox* ChkExacta = nullptr;
    MyButton* BtnBuscarSgte = nullptr;
    MyButton* BtnCancelarSgte = nullptr;

    std::vector<FilaCampo> m_filas;
    // The libraries (RsCatalogo) and the table's columns (RsColumnas), read at the opening.
    std::unique_ptr<db::Recordset> RsCatalogo;
    QVector<ColumnaCatalogo> RsColumnas;
    bool m_abierto = false; // the result sets are open
    int m_aperturas = 0;
    // From the showing until the opening step has read the table: the window is busy.
    std::unique_ptr<events::OperacionLarga> m_apertura;
    QString m_archivoFoto; // the picture dialog's last choice
    // The texts the edit rows showed when a modify began, by column name.
    QHash<QString, QString> m_originales;
    QPoint m_inicioArrastre;
};

} // namespace v7
