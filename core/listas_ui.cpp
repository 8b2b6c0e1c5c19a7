#include "core/listas_ui.h"

#include "core/listas.h"
#include "platform/dialogs_ui.h"

#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QTreeWidget>

#include <cmath>

namespace v7 {

namespace {

constexpr int kFilasPorRepintado = 1500;

QString monedaOTexto(const std::optional<QString>& value) {
    if (!value) {
        return QStringLiteral("00.00");
    }
    bool ok = false;
    const double d = value->trimmed().toDouble(&ok);
    return ok ? QLocale().toCurrencyString(d) : value->trimmed();
}

QString etiquetaColumna(const QTreeWidgetItem* item, int c) {
    return item->data(c, kRolEtiqueta).toString();
}

void intercambiarTextoYEtiqueta(QTreeWidget* lista, int c) {
    for (int i = 0; i < lista->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = lista->topLevelItem(i);
        const QString text = item->text(c);
        item->setText(c, etiquetaColumna(item, c));
        item->setData(c, kRolEtiqueta, text);
    }
}

} // namespace

void LlenarListView(QWidget* ventana, RecordsetPtr& rs, QTreeWidget* lista, int columnaTooltip, int columnaMoneda,
                    QProgressBar* barra, QLabel* etiqueta, bool pausarRedibujo, const QString& tipoLlave) {
    if (!rs) {
        return;
    }
    QWidget* win = ventana != nullptr ? ventana : lista->window();
    // Switching the view's sorting off also makes its header unclickable: the window's column clicks
    // must keep working after every fill.
    const bool clicable = lista->header()->sectionsClickable();
    lista->setSortingEnabled(false);
    lista->header()->setSectionsClickable(clicable);
    const int total = rs->recordCount();
    if (barra != nullptr) {
        barra->setValue(0);
        barra->setRange(0, total);
    }
    if (pausarRedibujo) {
        win->setUpdatesEnabled(false);
    }
    const bool llaveNumericaPrimera = tipoLlave == kLlaveNumerica;
    int n = 1;
    long long porcentaje = 0;
    for (; !rs->eof(); rs->moveNext()) {
        auto* item = new QTreeWidgetItem(lista);
        const auto first = rs->value(0);
        item->setText(0, first.value_or(QString()).trimmed());
        if (llaveNumericaPrimera && first) {
            item->setData(0, kRolEtiqueta, llaveNumerica(*first));
        }
        for (int k = 1; k < rs->fieldCount(); ++k) {
            const auto v = rs->value(k);
            item->setText(k, k == columnaMoneda ? monedaOTexto(v) : v.value_or(QString()).trimmed());
            if (k == columnaTooltip) {
                item->setToolTip(0, v.value_or(QString()));
            }
            const QString key = llaveCampo(rs->column(k), v);
            if (!key.isEmpty()) {
                item->setData(k, kRolEtiqueta, key);
            }
        }
        if (pausarRedibujo) {
            if (n % kFilasPorRepintado == 0) {
                win->setUpdatesEnabled(true);
                if (etiqueta != nullptr) {
                    etiqueta->setText(QStringLiteral("Procesando solicitud... ") + QString::number(porcentaje) +
                                      QStringLiteral("%   "));
                }
            } else if (n % kFilasPorRepintado == 2) {
                win->setUpdatesEnabled(false);
            }
        }
        ++n;
        if (total > 0) {
            porcentaje = static_cast<long long>(std::nearbyint(double(n) * 100.0 / total)); // halves to even
        }
        if (barra != nullptr) {
            barra->setValue(barra->value() + 1);
        }
    }
    if (pausarRedibujo) {
        win->setUpdatesEnabled(true);
    }
    rs->close();
    rs.reset();
    lista->viewport()->update();
}

namespace {
const char* const kPropiedadColumnaOrden = "v7ColumnaOrden";
} // namespace

void OrdenarListView(QTreeWidget* lista, int columna) {
    if (lista == nullptr || columna < 0) {
        return;
    }
    lista->setUpdatesEnabled(false);
    const int c = columna;
    const bool swap = lista->topLevelItemCount() > 0 && !etiquetaColumna(lista->topLevelItem(0), c).isEmpty();
    if (swap) {
        intercambiarTextoYEtiqueta(lista, c);
    }
    QTreeWidgetItem* header = lista->headerItem();
    int direction = header->data(c, kRolEtiqueta).toInt();
    // The list remembers its own sort column: a clickable header has already moved its indicator to the
    // clicked column by the time the click is reported, so the indicator cannot tell.
    // Until a first sort, the first column counts as the sort column, as a list's sort key starts there.
    const QVariant actual = lista->property(kPropiedadColumnaOrden);
    if ((actual.isValid() ? actual.toInt() : 0) == c) {
        direction = ~direction;
        header->setData(c, kRolEtiqueta, direction);
    }
    lista->setProperty(kPropiedadColumnaOrden, c);
    // A one-off sort rather than the view's live sorting, which would reorder the items again as
    // soon as their texts are swapped back.
    lista->header()->setSortIndicatorShown(true);
    lista->sortItems(c, std::abs(direction) == 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
    if (swap) {
        intercambiarTextoYEtiqueta(lista, c);
    }
    lista->setUpdatesEnabled(true);
    lista->viewport()->update();
}

void AjustarColumnas(QTreeWidget* lista) {
    if (lista == nullptr) {
        return;
    }
    QHeaderView* h = lista->header();
    h->setStretchLastSection(false);
    QVector<int> anchos;
    for (int c = 0; c < lista->columnCount(); ++c) {
        anchos << lista->columnWidth(c);
    }
    // The header's own hint covers its text, margins and the sort arrow; the view's covers the items.
    auto* vista = static_cast<QAbstractItemView*>(lista);
    for (int c = 0; c < lista->columnCount(); ++c) {
        if (!lista->isColumnHidden(c)) {
            lista->setColumnWidth(c, qMax(anchos[c], qMax(h->sectionSizeHint(c), vista->sizeHintForColumn(c))));
        }
    }
}

QString SeleccionarCarpeta(QWidget* owner, const QString& titulo) {
    return dialogs().pickFolder(owner, titulo, QString());
}

} // namespace v7
