// Which client addresses may connect: the plain IPv4 rules of the server's authentication file as a
// list to allow, deny or remove addresses, saved safely and applied through the console's reload.
#pragma once

#include "console/reglas_acceso.h"

#include <QDialog>
#include <QString>
#include <QVector>

#include <memory>

class QLabel;
class QLineEdit;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace v7 {

class FrmInicio;
class GuardiaVentana;
class MyButton;
class MyFrame;

class FrmPermisosAcceso : public QDialog {
    Q_OBJECT

public:
    // consola reloads the server after a save.
    explicit FrmPermisosAcceso(FrmInicio* consola, QWidget* parent = nullptr);
    ~FrmPermisosAcceso() override;

    // The rules file this window works on.
    QString archivo() const { return m_ruta; }
    // Whether the file has been read (or its reading failed); it is read once the window is shown.
    bool cargado() const { return m_cargado; }
    // The rows as the list shows them, in display order.
    QVector<ReglaIp> filas() const;

    void BtnPermisosPermitir_Click();
    void BtnPermisoDenegar_Click();
    void BtnPermisosEliminar_Click();
    void BtnPermisosGuardar_Click();
    void BtnSalirForma_Click();
    void ListIP_Click();
    void ListIP_ColumnClick(int columna);
    void TmrDescargar_Timer();

    QTimer* timerDescargar() const { return TmrDescargar; }

public slots:
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void construir();
    void Form_Load();
    void prepararColumnas();
    void LeerArchivoConfiguracion();
    void permitirODenegar(bool permitir);
    void ponerFila(QTreeWidgetItem* item, const ReglaIp& regla);
    void mostrarConteo();

    FrmInicio* m_consola = nullptr;
    QString m_ruta;
    ArchivoReglas m_archivo;
    bool m_lecturaPedida = false;
    bool m_cargado = false;
    std::unique_ptr<GuardiaVentana> m_guardiaLectura;

    QLabel* ImgCabecera = nullptr;
    MyFrame* PanelCentral = nullptr;
    MyFrame* PanelSec1 = nullptr;
    QTreeWidget* ListIP = nullptr;
    QLabel* EtPermisosDirecciones = nullptr;
    QLineEdit* TxtPermisosIP = nullptr;
    QLineEdit* TxtPermisosMascara = nullptr;
    QLineEdit* TxtComentario = nullptr;
    MyButton* BtnPermisosPermitir = nullptr;
    MyButton* BtnPermisoDenegar = nullptr;
    MyButton* BtnPermisosEliminar = nullptr;
    MyButton* BtnPermisosGuardar = nullptr;
    MyButton* BtnSalirForma = nullptr;
    QTimer* TmrDescargar = nullptr;
};

} // namespace v7
