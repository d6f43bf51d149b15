#include "panel_template.h"

#include "main_window_tr.h"
#include "ui_dev_conf_row.h"
#include "ui_laser_panel.h"

#include <QObject>
#include <QString>
#include <QWidget>

// Must live outside any namespace: Q_INIT_RESOURCE declares a global function.
static void register_images_resource()
{
    Q_INIT_RESOURCE(images);
}

void init_ui_resources()
{
    static const bool registered = (register_images_resource(), true);
    (void)registered;
}

QString channel_suffix(int channel)
{
    return channel <= 1 ? QString() : QStringLiteral("_%1").arg(channel);
}

namespace {

// Qt's own helper objects (the line edit inside a spin box, ...) keep their names.
void rename_for_channel(QWidget* container, const QString& base_name, int channel)
{
    const QString suffix = channel_suffix(channel);
    container->setObjectName(base_name + suffix);
    if (suffix.isEmpty())
        return;
    const auto descendants = container->findChildren<QObject*>();
    for (QObject* object : descendants) {
        const QString name = object->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_")))
            continue;
        object->setObjectName(name + suffix);
    }
}

} // namespace

void build_laser_panel(QWidget* container, int channel)
{
    init_ui_resources();
    Ui::laser_panel form;
    form.setupUi(container);
    rename_for_channel(container, QStringLiteral("laser_widget"), channel);
}

void build_dev_conf_row(QWidget* container, int channel)
{
    init_ui_resources();
    Ui::dev_conf_row form;
    form.setupUi(container);
    form.ind_label->setText(main_window_tr("channel %1").arg(channel));
    rename_for_channel(container, QStringLiteral("dev_conf_widget"), channel);
}
