// Asks where a new report definition belongs (module and section) and its unique name; the answer
// goes into the caller's UbicacionReporte.
#pragma once

#include "console/reportes.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;

namespace v7 {

class MyButton;

class frmModificaReporte : public QDialog {
    Q_OBJECT

public:
    // ubicacion: set by "Aceptar", cleared by "Cancelar", left as it was by "Regresar" and the close
    // box (the caller clears it first).
    explicit frmModificaReporte(UbicacionReporte& ubicacion, QWidget* parent = nullptr);
    ~frmModificaReporte() override;

    void cmdModuloOk_Click();
    void cmdCarpetaOk_Click();
    void BtnAceptar_Click();
    void BtnCancelar_Click();
    void cmdSalir_Click();

private:
    void construir();
    void Form_Load();
    void cmbModulo_Click();
    void cmbCarpeta_Click();
    void TxtNombreReporte_Change(const QString& text);

    UbicacionReporte& m_ubicacion;
    bool m_listo = false; // the module list is filled: choosing a module loads its sections

    QComboBox* cmbModulo = nullptr;
    QComboBox* cmbCarpeta = nullptr;
    QLineEdit* TxtNombreReporte = nullptr;
    MyButton* BtnAceptar = nullptr;
    MyButton* BtnCancelar = nullptr;
    MyButton* cmdSalir = nullptr;
    MyButton* cmdModuloOk = nullptr;
    MyButton* cmdCarpetaOk = nullptr;
    MyButton* cmdAbrir = nullptr;
    MyButton* cmdModificar = nullptr;
};

} // namespace v7
