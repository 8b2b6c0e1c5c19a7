// The shared work-files folder window: stores the folder's network path, and lets a superuser move
// the installation to database-held report templates for good.
#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace v7 {

class MyButton;
class MyFrame;

class FrmRutaTrabajo : public QDialog {
    Q_OBJECT

public:
    // parent: the console, whose work-files label shows a newly stored folder.
    explicit FrmRutaTrabajo(QWidget* parent = nullptr);
    ~FrmRutaTrabajo() override;

    // How the help document is opened; true when an opener took it. By default the desktop's.
    void setAbrirDocumento(std::function<bool(const QUrl&)> abrir) { m_abrirDocumento = std::move(abrir); }
    // The help document about switching the shared folder off.
    static QString documentoAyuda();

    void BtnExaminar_Click();
    void BtnGrabar_Click();
    void BtnCerrar_Click();
    void ImgAyuda_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void construir();
    void Form_Load();
    void guardarRuta();
    void deshabilitarCarpeta();
    void seleccionarRuta();

    std::function<bool(const QUrl&)> m_abrirDocumento;

    QLabel* ImgCabecera = nullptr;
    MyFrame* PanelCentral = nullptr;
    QLabel* EtSeleccione = nullptr;
    QLineEdit* TxtRutaTrabajo = nullptr;
    MyButton* BtnExaminar = nullptr;
    QCheckBox* ChkEliminaCarpeta = nullptr;
    QLabel* EtCarpeta = nullptr;
    QLabel* ImgAyuda = nullptr;
    MyButton* BtnGrabar = nullptr;
    MyButton* BtnCerrar = nullptr;
};

} // namespace v7
