// The door to the collection transfer: what the export and the import of a library's collection are
// for, and the two buttons that open them.
#pragma once

#include <QDialog>

#include <functional>

class QLabel;

namespace v7 {

class MyButton;
class MyFrame;

class frmActualizarAcervo : public QDialog {
    Q_OBJECT

public:
    // Shows the export window modally over its parent.
    using AbrirVentana = std::function<void(QWidget* parent)>;

    explicit frmActualizarAcervo(AbrirVentana mostrarExportacion, QWidget* parent = nullptr);
    ~frmActualizarAcervo() override;

    void cmdExportar_Click();
    void cmdImportar_Click();
    void cmdRegresar_Click();

private:
    void construir();
    void Form_Load();

    AbrirVentana m_mostrarExportacion;

    QLabel* ImgCabecera = nullptr;
    MyFrame* panelMain = nullptr;
    QLabel* lblActualizar = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* lblExportar = nullptr;
    QLabel* lblExportarDesc = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* lblImportar = nullptr;
    QLabel* lblImportarDesc = nullptr;
    MyButton* cmdExportar = nullptr;
    MyButton* cmdImportar = nullptr;
    MyButton* cmdRegresar = nullptr;
};

} // namespace v7
