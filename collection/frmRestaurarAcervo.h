// The import window on a library's own server: loads the collection export dump made for this library,
// checks it against this server and merges it into the live collection.
#pragma once

#include "collection/corrida_importacion.h"

#include <QDateTime>
#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace v7 {

class MyButton;
class MyFrame;

class frmRestaurarAcervo : public QDialog {
    Q_OBJECT

public:
    explicit frmRestaurarAcervo(QWidget* parent = nullptr);
    ~frmRestaurarAcervo() override;

    // True when this server had no installed update when the file was loaded.
    bool blnPrimeraActAcervo = false;

    void cmdBrowse_Click();
    // Load, checks and, when they pass, the merge.
    void cmdCargar_Click();
    // The merge of the loaded file (the load runs it; its button stays disabled).
    void cmdActualizar_Click();
    // The counts of the merged collection; with quitaEstatusEspecial also the closing steps of an
    // import (installed stamp, the outcome boxes). tInicial is not used.
    void resultadoEstadisticoMontaje(bool quitaEstatusEspecial, const QDateTime& tInicial);
    void cmdRegresar_Click();

public slots:
    void reject() override;

private:
    void construir();
    void Form_Load();
    // A log entry on top of the log, after the local date and time.
    void registrar(const QString& entrada);
    // The run's log, folder label and boxes on this window.
    acervo::InterfazImportacion interfaz();
    // The closing box of a run, on the window given back.
    void mostrar(const acervo::ResultadoImportacion& r);

    acervo::EstadoImportacion m_estado;

    QLabel* ImgCabecera = nullptr;
    MyFrame* panelConfig = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* lblServerIP = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* txtRuta = nullptr;
    MyButton* cmdBrowse = nullptr;
    QLabel* lblRuta = nullptr;
    QLabel* lblAviso = nullptr;
    QPlainTextEdit* txtLog = nullptr;
    MyButton* cmdCargar = nullptr;
    MyButton* cmdActualizar = nullptr;
    MyButton* cmdRegresar = nullptr;
};

} // namespace v7
