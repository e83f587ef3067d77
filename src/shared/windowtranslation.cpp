#include "shared/windowtranslation.h"

#include "shared/translation.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTreeWidget>
#include <QWidget>

namespace {

bool HasLetter(const QString& text) {
    for (const QChar c : text)
        if (c.isLetter())
            return true;
    return false;
}

class Translator {
public:
    QStringList ids;

    // Looks a text up from its English source, which is kept on the object under `key`.
    template <typename Getter, typename Setter>
    void Apply(QObject* owner, const char* key, Getter get, Setter set) {
        const QByteArray property = QByteArray("_vyrSource_") + key;
        QVariant stored = owner->property(property.constData());
        const QString source = stored.isValid() ? stored.toString() : get();
        if (!stored.isValid())
            owner->setProperty(property.constData(), source);
        if (source.isEmpty() || !HasLetter(source))
            return;
        ids << source;
        set(Translate(source));
    }

    void Action(QAction* action) {
        if (action->isSeparator())
            return;
        Apply(
            action, "text", [&] { return action->text(); },
            [&](const QString& t) { action->setText(t); });
        if (action->menu())
            Widget(action->menu());
    }

    void Widget(QWidget* widget) {
        if (widget->property("vyrNoTranslate").toBool())
            return;
        if (widget->isWindow())
            Apply(
                widget, "windowTitle", [&] { return widget->windowTitle(); },
                [&](const QString& t) { widget->setWindowTitle(t); });
        Apply(
            widget, "toolTip", [&] { return widget->toolTip(); },
            [&](const QString& t) { widget->setToolTip(t); });

        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            Apply(
                button, "text", [&] { return button->text(); },
                [&](const QString& t) { button->setText(t); });
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            Apply(
                label, "text", [&] { return label->text(); },
                [&](const QString& t) { label->setText(t); });
        } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            Apply(
                group, "title", [&] { return group->title(); },
                [&](const QString& t) { group->setTitle(t); });
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            Apply(
                edit, "placeholder", [&] { return edit->placeholderText(); },
                [&](const QString& t) { edit->setPlaceholderText(t); });
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            for (int i = 0; i < combo->count(); ++i) {
                const QByteArray key = "item" + QByteArray::number(i);
                Apply(
                    combo, key.constData(), [&] { return combo->itemText(i); },
                    [&](const QString& t) { combo->setItemText(i, t); });
            }
        } else if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
            for (int i = 0; i < tabs->count(); ++i) {
                const QByteArray key = "tab" + QByteArray::number(i);
                Apply(
                    tabs, key.constData(), [&] { return tabs->tabText(i); },
                    [&](const QString& t) { tabs->setTabText(i, t); });
            }
        }
        if (auto* tree = qobject_cast<QTreeWidget*>(widget)) {
            QTreeWidgetItem* header = tree->headerItem();
            for (int i = 0; i < header->columnCount(); ++i) {
                const QByteArray key = "column" + QByteArray::number(i);
                Apply(
                    tree, key.constData(), [&] { return header->text(i); },
                    [&](const QString& t) { header->setText(i, t); });
            }
        } else if (auto* view = qobject_cast<QAbstractItemView*>(widget)) {
            if (auto* model = qobject_cast<QStandardItemModel*>(view->model())) {
                for (int i = 0; i < model->columnCount(); ++i) {
                    const QByteArray key = "column" + QByteArray::number(i);
                    Apply(
                        view, key.constData(),
                        [&] { return model->headerData(i, Qt::Horizontal).toString(); },
                        [&](const QString& t) { model->setHeaderData(i, Qt::Horizontal, t); });
                }
            }
        }

        for (QAction* action : widget->actions())
            Action(action);
        for (QObject* child : widget->children())
            if (auto* childWidget = qobject_cast<QWidget*>(child))
                Widget(childWidget);
    }
};

} // namespace

QStringList TranslateWindow(QWidget* window) {
    Translator translator;
    translator.Widget(window);
    translator.ids.removeDuplicates();
    return translator.ids;
}
