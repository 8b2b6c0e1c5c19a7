// Who is connected to the server (one row per client address) and what the server logged today,
// on two tabs. The window only reads.
#pragma once

#include <QDialog>

class QLabel;
class QTabBar;
class QTreeWidget;
class QWidget;

namespace v7 {

class MyButton;
class MyFrame;

class FrmUsuariosConectados : public QDialog {
    Q_OBJECT

public:
    explicit FrmUsuariosConectados(QWidget* parent = nullptr);
    ~FrmUsuariosConectados() override;

    // Whether the sessions were read; when not, the window has shown why and closes itself.
    bool cargado() const { return m_cargado; }
    bool tabResaltada(int indice) const;

    void TabUsuarios_Click();
    void ListUsuarios_ColumnClick(int columna);
    void BtnSalir_Click();

private:
    void construir();
    void Form_Load();
    void ponerResaltada(int indice, bool on);

    bool m_cargado = false;

    QLabel* ImgCabecera = nullptr;
    MyFrame* PanelCentral = nullptr;
    QTabBar* TabUsuarios = nullptr;
    QWidget* FrmUsuarios = nullptr;
    QWidget* FrmBitacora = nullptr;
    MyFrame* PanelSec1 = nullptr;
    MyFrame* PanelSec2 = nullptr;
    QTreeWidget* ListUsuarios = nullptr;
    QLabel* EtConectados = nullptr;
    QTreeWidget* ListLog = nullptr;
    MyButton* BtnSalir = nullptr;
};

} // namespace v7
