// The report definitions of the client modules: lists them with the selected one's XML text, and
// writes, imports, changes and deletes them. A new definition is placed through frmModificaReporte.
#pragma once

#include "console/reportes.h"
#include "core/errores.h"

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace v7 {

class MyButton;

class frmGrabaReporte : public QDialog {
    Q_OBJECT

public:
    explicit frmGrabaReporte(QWidget* parent = nullptr);
    ~frmGrabaReporte() override;

    void LstReporte_Click();
    void LstReporte_ColumnClick(int columna);
    void BtnNuevo_Click();
    void BtnModificar_Click();
    void BtnImportar_Click();
    void BtnGuardar_Click();
    void BtnCancelar_Click();
    void BtnEliminar_Click();
    void BtnSalir_Click();

    // Whether Guardar will insert a new definition (set by Nuevo and Importar).
    bool nuevo() const { return m_nuevo; }

private:
    // The columns of the list, hidden ones included.
    enum Columna { kNum = 0, kModulo, kSeccion, kReporte, kArchivo, kIdModulo, kIdSeccion };

    void construir();
    void Form_Load();
    // Runs the list query again and refills the list; keepId stays the current row when listed.
    void llenarLista(const QString& keepId = QString());
    void seleccionarPrimera();
    void editar(bool nuevo, bool conSalir);
    void terminarEdicion();
    void mostrarTexto(const QString& texto);
    QString textoEditado() const;

    bool m_nuevo = false;
    bool m_llenando = false;
    // The line break of the text being shown: the box works with bare line feeds, the stored text
    // keeps the break its source used.
    QString m_finLinea = err::kCrLf;

    QTreeWidget* LstReporte = nullptr;
    QPlainTextEdit* txtReporte = nullptr;
    MyButton* BtnNuevo = nullptr;
    MyButton* BtnModificar = nullptr;
    MyButton* BtnEliminar = nullptr;
    MyButton* BtnImportar = nullptr;
    MyButton* BtnGuardar = nullptr;
    MyButton* BtnCancelar = nullptr;
    MyButton* BtnSalir = nullptr;
};

} // namespace v7
